// SPDX-License-Identifier: BSD-2-Clause
// g729 streams CAPTURE [--json] [--network-delay-ms MS]: lists every RTP stream of a packet
// capture, whatever its payload, with its network figures (loss, duplicates, reordering,
// sequence errors, jitter, time between packets) and, for G.729 streams, the call-quality
// estimate. Nothing is decoded.
#pragma once

#include <string>

namespace g729tool {

struct StreamsOptions {
    std::string input;             // a capture file, or - for standard input
    bool json = false;             // a JSON array on standard output instead of a table
    double network_delay_ms = 0;   // one-way network delay added for the quality estimate
};

// Returns the exit status; input/output failures escape as exceptions (exit_failure).
int run_streams(const StreamsOptions& options);

}  // namespace g729tool
