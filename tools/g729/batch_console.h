// SPDX-License-Identifier: BSD-2-Clause
// Standard error of a batch run, shared by its worker threads: whole message lines, and on a
// terminal a progress line rewritten in place (files done, hours of audio, speed) with a
// summary at the end. When standard error is not a terminal only the messages are written.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace g729tool {

class BatchConsole {
public:
    // verb: "encoded" or "decoded", for the summary.
    BatchConsole(std::size_t total_files, std::string verb, bool show_progress);

    // Writes "g729: LINE", first clearing the progress line.
    void message(const std::string& line);
    void warning(const std::string& line) { message("warning: " + line); }

    // Bookkeeping of the workers; thread-safe and cheap.
    void frames_coded(std::size_t frames) { frames_.fetch_add(frames, std::memory_order_relaxed); }
    void file_finished(bool ok);
    // A worker stopped before its files were done: says so, and the run fails.
    void worker_failed(const std::string& what);

    // Redraws the progress line (terminal only).
    void draw_progress();
    // Replaces the progress line by the summary (terminal only).
    void draw_summary();

    // Files not coded, and workers stopped.
    std::size_t failed() const { return failed_.load(); }

private:
    std::string progress_text(bool final);

    std::mutex mutex_;
    const std::size_t total_;
    const std::string verb_;
    const bool show_progress_;
    const std::chrono::steady_clock::time_point start_;
    std::atomic<uint64_t> frames_{0};
    std::atomic<std::size_t> done_{0};
    std::atomic<std::size_t> failed_{0};
    bool line_shown_ = false;  // a progress line is on the terminal
};

}  // namespace g729tool
