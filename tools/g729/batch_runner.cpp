#include "tools/g729/batch_runner.h"

#include <pthread.h>

namespace g729tool {

std::string failure_line(const BatchJob& job, const std::exception& e) {
    const std::string what = e.what();
    if (what.find(job.input) != std::string::npos || what.find(job.output) != std::string::npos) {
        return what;
    }
    return job.input + ": " + what;
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
