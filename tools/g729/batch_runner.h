// SPDX-License-Identifier: BSD-2-Clause
// Runs the files of a batch on worker threads. Each worker keeps up to `capacity` files open
// as channels and codes one 10 ms frame of every one of them per step, in one call of the
// library's many-channel entry points; a file that ends is finished (its output put in place)
// and its slot refilled from the shared queue.
//
// A Channel type provides:
//   Channel(const BatchJob&, const Settings&, BatchConsole&)  opens the input and the output
//   bool prepare()          readies the next frame's input; false at the end of the input
//   static void code(std::span<Channel* const>)   codes the readied frame of every channel
//   bool store()            takes the coded frame; false when the file cannot go on
//   bool finish()           completes the file and says what happened; true on success
// Any of them may throw: the file's one-line message is written and the file counts as failed
// (its output is discarded, an existing one left as it was); the other files go on.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tools/g729/batch_console.h"
#include "tools/g729/batch_plan.h"

namespace g729tool {

// The most channels one worker codes per call: a multiple of the library's lane groups.
inline constexpr std::size_t max_batch_channels = 32;

// The shared queue of files not yet started.
class JobQueue {
public:
    explicit JobQueue(const std::vector<BatchJob>& jobs) : jobs_(jobs) {}
    const BatchJob* take() {
        const std::size_t i = next_.fetch_add(1);
        return i < jobs_.size() ? &jobs_[i] : nullptr;
    }

private:
    const std::vector<BatchJob>& jobs_;
    std::atomic<std::size_t> next_{0};
};

// The message of a failed file, naming it when the error does not.
std::string failure_line(const BatchJob& job, const std::exception& e);

// Held while a file is opened.
std::mutex& open_mutex();

// Raises the soft limit of open files to the hard one; returns the limit now in force
// (UINT64_MAX: none, 0: unknown).
uint64_t raise_open_file_limit();

// Whether `files` files can be open at once beside the standard streams, the input and the
// libraries (raising the soft limit first); when not, reports "INPUT: N G.729 streams need as
// many WHAT open at once, ... ADVICE" and returns false.
bool open_files_allow(const std::string& input, std::size_t files, const std::string& what,
                      const std::string& advice);

// How many channels may be open at once: raises the limit of open files to its maximum, and
// counts a few descriptors per channel (input, output, and those the audio libraries open).
std::size_t open_channel_budget();

// Makes threads started from now on get at least `bytes` of stack (the many-channel calls
// work on the stack).
void ensure_thread_stack(std::size_t bytes);

template <class Channel, class Settings>
void run_batch_worker(JobQueue& queue, std::size_t capacity, const Settings& settings,
                      BatchConsole& console) {
    struct Slot {
        const BatchJob* job;
        std::unique_ptr<Channel> channel;
    };
    std::vector<Slot> slots;
    std::vector<Channel*> ready;
    std::vector<std::size_t> ready_slot;
    const auto fail = [&](Slot& s, const std::exception& e) {
        console.message(failure_line(*s.job, e));
        s.channel.reset();
        console.file_finished(false);
    };
    const auto close = [&](Slot& s) {
        try {
            const bool ok = s.channel->finish();
            s.channel.reset();
            console.file_finished(ok);
        } catch (const std::exception& e) {
            fail(s, e);
        }
    };
    for (;;) {
        while (slots.size() < capacity) {
            const BatchJob* job = queue.take();
            if (job == nullptr) break;
            Slot s{job, nullptr};
            try {
                {
                    // libsndfile keeps the reason of a failed open in one global: one open at
                    // a time, so that each file's message gives its own reason.
                    const std::lock_guard lock(open_mutex());
                    s.channel = std::make_unique<Channel>(*job, settings, console);
                }
                slots.push_back(std::move(s));
            } catch (const std::exception& e) {
                fail(s, e);
            }
        }
        if (slots.empty()) return;

        ready.clear();
        ready_slot.clear();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            try {
                if (slots[i].channel->prepare()) {
                    ready.push_back(slots[i].channel.get());
                    ready_slot.push_back(i);
                    continue;
                }
            } catch (const std::exception& e) {
                fail(slots[i], e);
                continue;
            }
            close(slots[i]);
        }
        if (!ready.empty()) {
            Channel::code(ready);
            console.frames_coded(ready.size());
            for (const std::size_t i : ready_slot) {
                try {
                    if (slots[i].channel->store()) continue;
                } catch (const std::exception& e) {
                    fail(slots[i], e);
                    continue;
                }
                close(slots[i]);
            }
        }
        std::erase_if(slots, [](const Slot& s) { return s.channel == nullptr; });
    }
}

// Codes every job on `threads` workers while the calling thread draws the progress line a few
// times a second; returns once every file is finished.
template <class Channel, class Settings>
void run_batch(const std::vector<BatchJob>& jobs, std::size_t threads, const Settings& settings,
               BatchConsole& console) {
    if (jobs.empty()) return;
    threads = std::clamp<std::size_t>(threads, 1, jobs.size());
    // Spread the files over the workers from the start, then let each refill its own slots;
    // all the channels' files must be open at once.
    const std::size_t capacity = std::clamp<std::size_t>(
        std::min((jobs.size() + threads - 1) / threads, open_channel_budget() / threads), 1,
        max_batch_channels);
    ensure_thread_stack(1 << 20);
    JobQueue queue(jobs);
    std::mutex mutex;
    std::condition_variable all_done;
    std::size_t running = threads;
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threads; ++t) {
        try {
            workers.emplace_back([&] {
                try {
                    run_batch_worker<Channel>(queue, capacity, settings, console);
                } catch (const std::exception& e) {
                    // Out of memory: the worker's open files are discarded, and the run fails.
                    console.worker_failed(e.what());
                }
                const std::lock_guard lock(mutex);
                if (--running == 0) all_done.notify_all();
            });
        } catch (const std::exception&) {
            // Fewer workers than asked for: those running take the whole queue.
            if (workers.empty()) throw;
            const std::lock_guard lock(mutex);
            running -= threads - t;
            break;
        }
    }
    {
        std::unique_lock lock(mutex);
        while (!all_done.wait_for(lock, std::chrono::milliseconds(250),
                                  [&] { return running == 0; })) {
            lock.unlock();
            console.draw_progress();
            lock.lock();
        }
    }
    for (std::thread& w : workers) w.join();
}

}  // namespace g729tool
