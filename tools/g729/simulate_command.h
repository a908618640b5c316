// SPDX-License-Identifier: BSD-2-Clause
// g729 simulate IN OUT [--loss P] [--burst B] [--dtx] [--seed N] [--ptime MS]: the audio as a
// G.729A telephone call leaves it (coded, packets lost in bursts, concealed), in the input's
// file format, rate, channel count and length (see lib/eval/channel_simulation.h).
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace g729tool {

struct SimulateOptions {
    std::string input;
    std::string output;
    double loss = 0.0;
    double burst = 1.0;
    bool dtx = false;
    std::string seed;  // decimal; empty: a random one
    int ptime_ms = 20;
};

// Adds the command and its options to the tool's parser.
CLI::App* add_simulate_command(CLI::App& app, SimulateOptions& options);

// Returns the exit status; input/output failures escape as exceptions (exit_failure).
int run_simulate(const SimulateOptions& options);

}  // namespace g729tool
