// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/batch_runner.h"

#include <pthread.h>
#include <sys/resource.h>

#include <cstdint>

#include "tools/g729/command.h"

namespace g729tool {

std::string failure_line(const BatchJob& job, const std::exception& e) {
    const std::string what = e.what();
    if (what.find(job.input) != std::string::npos || what.find(job.output) != std::string::npos) {
        return what;
    }
    return job.input + ": " + what;
}

std::mutex& open_mutex() {
    static std::mutex m;
    return m;
}

bool open_files_allow(const std::string& input, std::size_t files, const std::string& what,
                      const std::string& advice) {
    constexpr uint64_t reserved = 16;  // standard streams, the input, libraries
    const uint64_t limit = raise_open_file_limit();
    if (limit == 0 || files + reserved <= limit) return true;
    report(input + ": " + std::to_string(files) + " G.729 streams need as many " + what +
           " open at once, more than the limit of " + std::to_string(limit) +
           " open files (ulimit -n): " + advice);
    return false;
}

uint64_t raise_open_file_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : limit.rlim_cur;
}

std::size_t open_channel_budget() {
    constexpr uint64_t reserved = 32;  // standard streams, libraries, the progress terminal
    constexpr uint64_t per_channel = 3;
    const uint64_t limit = raise_open_file_limit();
    if (limit == 0) return 1;
    if (limit == UINT64_MAX) return SIZE_MAX;
    return limit > reserved + per_channel ? (limit - reserved) / per_channel : 1;
}

void ensure_thread_stack(std::size_t bytes) {
    pthread_attr_t attr;
    if (pthread_getattr_default_np(&attr) != 0) return;
    std::size_t size = 0;
    if (pthread_attr_getstacksize(&attr, &size) == 0 && size < bytes &&
        pthread_attr_setstacksize(&attr, bytes) == 0) {
        pthread_setattr_default_np(&attr);
    }
    pthread_attr_destroy(&attr);
}

}  // namespace g729tool
