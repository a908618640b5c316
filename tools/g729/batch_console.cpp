// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/batch_console.h"

#include <cstdio>
#include <utility>

namespace g729tool {

namespace {

constexpr double seconds_per_frame = 0.010;

// "\r" back to the line's start, "\033[K" clears the rest of it.
constexpr const char* rewrite = "\r\033[K";

}  // namespace

BatchConsole::BatchConsole(std::size_t total_files, std::string verb, bool show_progress)
    : total_(total_files),
      verb_(std::move(verb)),
      show_progress_(show_progress),
      start_(std::chrono::steady_clock::now()) {}

void BatchConsole::message(const std::string& line) {
    const std::lock_guard lock(mutex_);
    // One write per line, so that nothing else lands inside it.
    const std::string text = (line_shown_ ? rewrite : "") + std::string("g729: ") + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    line_shown_ = false;
}

void BatchConsole::file_finished(bool ok) {
    if (!ok) failed_.fetch_add(1);
    done_.fetch_add(1);
}

void BatchConsole::worker_failed(const std::string& what) {
    message("a worker stopped (" + what + "); the files it had open were not coded");
    failed_.fetch_add(1);
}

std::string BatchConsole::progress_text(bool final) {
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double audio = static_cast<double>(frames_.load()) * seconds_per_frame;
    const double speed = wall > 0 ? audio / wall : 0.0;
    const std::size_t failed = failed_.load();
    char text[200];
    if (final) {
        std::snprintf(
            text, sizeof text,
            "%s %zu of %zu files (%zu failed), %.2f h of audio in %.1f s, %.0fx real time",
            verb_.c_str(), done_.load() - failed, total_, failed, audio / 3600.0, wall, speed);
    } else {
        const std::string failures = failed != 0 ? " (" + std::to_string(failed) + " failed)" : "";
        std::snprintf(text, sizeof text, "%zu/%zu files%s, %.2f h of audio, %.0fx real time",
                      done_.load(), total_, failures.c_str(), audio / 3600.0, speed);
    }
    return text;
}

void BatchConsole::draw_progress() {
    if (!show_progress_) return;
    const std::string text = rewrite + std::string("g729: ") + progress_text(false);
    const std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stderr);
    line_shown_ = true;
}

void BatchConsole::draw_summary() {
    if (!show_progress_) return;
    const std::string text = rewrite + std::string("g729: ") + progress_text(true) + "\n";
    const std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stderr);
    line_shown_ = false;
}

}  // namespace g729tool
