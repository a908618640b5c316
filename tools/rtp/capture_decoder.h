// Finds the G.729 RTP streams of a capture and decodes them, each to its own sink.
//
// Two passes over the file: the first lists the streams (so that the caller can name and
// open the outputs), the second decodes the chosen ones. Streams are told apart by SSRC.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/rtp/frame_sink.h"
#include "tools/rtp/packet_parse.h"
#include "tools/rtp/stream_timeline.h"

namespace g729rtp {

inline constexpr int g729_payload_type = 18;

struct StreamInfo {
    uint32_t ssrc = 0;
    Endpoint src;  // of the stream's first packet
    Endpoint dst;
    uint64_t packets = 0;
};

struct CaptureScan {
    std::vector<StreamInfo> streams;  // in order of first appearance
    uint64_t packets = 0;             // read from the file
    uint64_t udp = 0;                 // of them UDP datagrams
    uint64_t fragments = 0;           // IP fragments, skipped
    uint64_t malformed = 0;           // headers that contradict the captured length
    uint64_t ignored_streams = 0;     // beyond the stream limit
    std::string truncation;           // set when the file ended in damage
};

struct ScanOptions {
    int payload_type = g729_payload_type;
    // A stream needs this many packets of the payload type: a lone UDP datagram that happens
    // to look like RTP is not a call.
    uint64_t min_packets = 2;
    // Distinct SSRCs tracked: random traffic cannot make the scan grow without bound.
    std::size_t max_streams = 10000;
};

// Throws CaptureError when the file cannot be opened as a capture.
CaptureScan scan_capture(const std::string& path, const ScanOptions& options = {});

struct StreamResult {
    StreamInfo info;
    StreamStats stats;
};

// Decodes the streams whose SSRCs are listed, each to sink_for(ssrc) (called once per stream
// before any of its frames). Results come in the order of `streams`.
std::vector<StreamResult> decode_capture(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(uint32_t)>& sink_for,
                                         const ScanOptions& scan = {},
                                         const TimelineOptions& timeline = {});

// "0x1a2b3c4d" style: 8 lowercase hex digits.
std::string ssrc_hex(uint32_t ssrc);

// One line: SSRC, addresses, packets, frames by kind, duplicates, reordered, damaged,
// duration.
std::string summary_line(const StreamResult& result);

}  // namespace g729rtp
