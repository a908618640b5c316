// SPDX-License-Identifier: BSD-2-Clause
// The capture commands of the g729 tool:
//   g729 decode --format pcap CAPTURE OUTPUT [--ssrc HEX] [--pt N] [--stereo]
//               [--json FILE|-] [--network-delay-ms MS]
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
    bool stereo = false;     // the two directions of each call as one stereo output
    std::string json_path;   // the streams' figures as JSON to this file (- for stdout)
    double network_delay_ms = 0;  // one-way network delay for the quality estimate
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

// Why a capture has no stream to decode: its damage in libpcap's words, packets cut at
// capture time, and the payload types it does hold.
std::string no_stream_message(const std::string& input, const g729rtp::CaptureScan& scan, int payload_type);

// After a capture's streams are decoded: their summary lines, the capture's damage and what was
// skipped, on stderr; the streams' JSON when options.json_path is set; the exit status.
int finish_pcap_decode(const g729rtp::CaptureScan& scan, const g729rtp::ScanOptions& scan_options,
                       std::span<const g729rtp::StreamResult> results,
                       const PcapDecodeOptions& options = {});

// OUTPUT with "-" and the SSRC's 8 hex digits inserted before the extension, and "-N" after
// them when number > 0.
std::string stream_output_name(const std::string& output, uint32_t ssrc, int number = 0);

// The output of each stream: OUTPUT itself for one stream, else OUTPUT-SSRC; streams that
// share an SSRC (other addresses or ports) are numbered in order, OUTPUT-SSRC-1, -2, ...
std::vector<std::string> stream_output_names(const std::string& output,
                                             std::span<const g729rtp::StreamInfo> streams);

}  // namespace g729tool
