// SPDX-License-Identifier: BSD-2-Clause
// The capture commands of the g729 tool:
//   g729 decode --format pcap CAPTURE OUTPUT [--ssrc HEX] [--pt N]
//   g729 encode --format pcap INPUT OUTPUT.pcap [--ptime MS] [--dtx] [--ssrc HEX]
//               [--src ADDR:PORT] [--dst ADDR:PORT]
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lib/rtp/capture_decoder.h"

namespace g729tool {

struct PcapDecodeOptions {
    std::string input;
    std::string output;
    std::string ssrc;        // hex, empty: every stream
    int payload_type = 18;
};

struct PcapEncodeOptions {
    std::string input;
    std::string output;
    int ptime_ms = 20;
    bool dtx = false;
    std::string ssrc;        // hex, empty: random
    std::string src;         // ADDR:PORT, empty: the loopback default
    std::string dst;
};

// True for --format pcap, and without --format for capture names (*.pcap, *.pcapng).
bool uses_pcap_format(const std::string& format, const std::string& capture_path);

// Each returns the exit status; input/output failures escape as exceptions (exit_failure).
int run_pcap_decode(const PcapDecodeOptions& options);
int run_pcap_encode(const PcapEncodeOptions& options);

// OUTPUT with "-" and the SSRC's 8 hex digits inserted before the extension, and "-N" after
// them when number > 0.
std::string stream_output_name(const std::string& output, uint32_t ssrc, int number = 0);

// The output of each stream: OUTPUT itself for one stream, else OUTPUT-SSRC; streams that
// share an SSRC (other addresses or ports) are numbered in order, OUTPUT-SSRC-1, -2, ...
std::vector<std::string> stream_output_names(const std::string& output,
                                             std::span<const g729rtp::StreamInfo> streams);

}  // namespace g729tool
