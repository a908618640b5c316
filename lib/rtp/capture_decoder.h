// SPDX-License-Identifier: BSD-2-Clause
// Finds the G.729 RTP streams of a capture and decodes them, each to its own sink.
//
// Two passes over the file: the first lists the streams (so that the caller can name and
// open the outputs), the second decodes the chosen ones. Streams are told apart by SSRC and
// by the source and destination address and port.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lib/eval/e_model.h"
#include "lib/rtp/frame_sink.h"
#include "lib/rtp/packet_parse.h"
#include "lib/rtp/rtp_statistics.h"
#include "lib/rtp/stream_timeline.h"

namespace g729rtp {

inline constexpr int g729_payload_type = 18;

// A stream: its SSRC and the addresses and ports its packets go between.
struct StreamInfo {
    uint32_t ssrc = 0;
    Endpoint src;
    Endpoint dst;
    uint64_t packets = 0;
};

struct CaptureScan {
    std::vector<StreamInfo> streams;  // in order of first appearance
    uint64_t packets = 0;             // read from the file
    uint64_t udp = 0;                 // of them UDP datagrams
    uint64_t fragments = 0;           // IP fragments, skipped
    uint64_t malformed = 0;           // headers that contradict the captured length
    uint64_t cut = 0;                 // packets cut short at capture time (snapshot length)
    int snapshot_length = 0;          // the capture's
    // RTP-looking datagrams per payload type (what the capture holds when no stream is found).
    std::vector<uint64_t> payload_types = std::vector<uint64_t>(128, 0);
    // Lookalikes ignored: streams of one packet, or whose payloads were never G.729 lengths.
    uint64_t ignored_streams = 0;
    // Packets of further streams while the table was full of real streams: not decoded.
    uint64_t untracked_packets = 0;
    std::string truncation;           // set when the file ended in damage
};

struct ScanOptions {
    int payload_type = g729_payload_type;
    // A stream needs this many packets of the payload type: a lone UDP datagram that happens
    // to look like RTP is not a call.
    uint64_t min_packets = 2;
    // Streams tracked at once: random traffic cannot make the scan grow without bound. When
    // the table is full, a lookalike (one packet so far, or no G.729 payload length yet)
    // makes room for a new stream.
    std::size_t max_streams = 65536;
    // Only this SSRC's streams, when set.
    std::optional<uint32_t> ssrc;
};

// True for a payload of N x 10 bytes of speech frames, with or without a 2-byte SID frame.
bool g729_payload_length(std::size_t bytes);

// Throws CaptureError when the file cannot be opened as a capture.
CaptureScan scan_capture(const std::string& path, const ScanOptions& options = {});

// Every RTP stream of a capture, whatever its payload, with its network figures.
struct RtpStream {
    StreamInfo info;          // packets: all of the stream's, every payload type
    int payload_type = 0;     // the most common one
    // Payload type 18, or a dynamic one (96 to 127) whose packets all have G.729 lengths
    // and timestamps that advance by at least 80 per frame (at 8000 Hz) and by exactly that
    // between some packets: what decode --pt takes.
    bool looks_g729 = false;
    NetworkStats network;
};

struct RtpStreamList {
    std::vector<RtpStream> streams;   // in order of first appearance
    // The file's counts, as in a scan; its stream list stays empty. ignored_streams: RTP
    // lookalikes, streams of one packet or whose sequence numbers do not follow each other.
    CaptureScan counts;
};

// Lists the RTP streams of a capture without decoding anything: a stream is an SSRC between
// two addresses and ports whose packets mostly (at least half of them) come within a few
// numbers after the previous packet's sequence number; min_packets, max_streams and ssrc of
// the options apply, payload_type does not. Throws CaptureError when the file cannot be opened
// as a capture.
RtpStreamList list_rtp_streams(const std::string& path, const ScanOptions& options = {});

struct StreamResult {
    StreamInfo info;
    StreamStats stats;
    NetworkStats network;  // every packet of the stream, any payload type, in arrival order
};

// Decodes the streams listed, the i-th to sink_for(i) (called once per stream before any
// of its frames). Results come in the order of `streams`.
std::vector<StreamResult> decode_streams(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(std::size_t)>& sink_for,
                                         const ScanOptions& scan = {},
                                         const TimelineOptions& timeline = {});

// The same, with the sink chosen by SSRC: for streams whose SSRCs differ.
std::vector<StreamResult> decode_capture(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(uint32_t)>& sink_for,
                                         const ScanOptions& scan = {},
                                         const TimelineOptions& timeline = {});

// The call-quality estimate (E-model) of a G.729 stream from its network figures: its loss
// and burstiness, and a mouth-to-ear delay from its packetization, its mean jitter and the
// network's one-way delay.
g729eval::EModelResult g729_quality(const NetworkStats& network, double network_delay_ms);

// "0x1a2b3c4d" style: 8 lowercase hex digits.
std::string ssrc_hex(uint32_t ssrc);

// One line: SSRC, addresses, packets, frames by kind, duplicates, reordered, damaged,
// duration; then the network figures: loss, jitter, and the MOS estimate for a one-way
// network delay of network_delay_ms.
std::string summary_line(const StreamResult& result, double network_delay_ms = 0);

}  // namespace g729rtp
