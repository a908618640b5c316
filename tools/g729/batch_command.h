// SPDX-License-Identifier: BSD-2-Clause
// The batch form of the g729 tool's commands:
//   g729 encode [--format itu|raw] [--dtx] [--threads N] --output-dir DIR FILE...
//   g729 decode [--format itu|raw] [--threads N] --output-dir DIR FILE...
// Every input is coded to DIR/NAME.EXT (encode: .bit for itu, the default, .g729 for raw;
// decode: .wav), exactly as the single-file command codes it; the failure of one file is
// reported and the others go on.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "tools/g729/batch_console.h"
#include "tools/g729/batch_plan.h"
#include "tools/g729/batch_runner.h"
#include "tools/g729/command.h"

namespace g729tool {

struct BatchOptions {
    std::string format;  // "", "itu" or "raw"
    bool dtx = false;
    std::string output_dir;
    std::size_t threads = 0;  // 0: one per processor
    bool quiet = false;       // no progress line and no summary
    std::vector<std::string> inputs;
};

// Each returns the exit status: exit_ok when every file was coded, else exit_failure (or
// exit_usage before anything was coded).
int run_batch_encode(const BatchOptions& o);
int run_batch_decode(const BatchOptions& o);

// The steps both commands share: the output folder, the plan, the workers, the summary.
template <class Channel, class Settings>
int run_batch_files(const BatchOptions& o, const std::string& ext, const std::string& verb,
                    const Settings& settings) {
    prepare_output_dir(o.output_dir);
    const BatchPlan plan = plan_batch(o.inputs, o.output_dir, ext);
    BatchConsole console(o.inputs.size() - plan.repeated.size(), verb,
                         !o.quiet && ::isatty(STDERR_FILENO) == 1);
    for (const std::string& line : plan.repeated) console.warning(line);
    for (const std::string& line : plan.refused) {
        console.message(line);
        console.file_finished(false);
    }
    std::size_t threads = o.threads;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    run_batch<Channel>(plan.jobs, threads, settings, console);
    console.draw_summary();
    return console.failed() == 0 ? exit_ok : exit_failure;
}

}  // namespace g729tool
