// SPDX-License-Identifier: BSD-2-Clause
// Writes coded G.729 frames as RTP/UDP/IPv4 packets over Ethernet in a classic pcap file,
// through libpcap's dump functions: what a sender would put on the wire, packet by packet.
#pragma once

#include <cstdint>
#include <cstdio>

#include "lib/rtp/packet_parse.h"

struct pcap;
struct pcap_dumper;

namespace g729rtp {

struct WriterOptions {
    int ptime_ms = 20;             // 10..200 in steps of 10: frames per packet x 10 ms
    uint8_t payload_type = 18;
    uint32_t ssrc = 0;
    uint16_t first_sequence = 0;
    uint32_t first_timestamp = 0;
    Endpoint src;                  // IPv4 only
    Endpoint dst;
    int64_t start_seconds = 0;     // capture time of the stream's first sample
    int64_t start_microseconds = 0;
};

// Loopback addresses (127.0.0.1:40000 -> 127.0.0.1:40002), a random SSRC, first sequence
// number and first timestamp as a real sender picks them, and the current time.
WriterOptions default_writer_options();

// True when ptime_ms is one the writer takes.
bool valid_ptime(int ptime_ms);

class CaptureWriter {
public:
    // Writes through its own handle on file's descriptor, so the caller keeps file open (and
    // owns closing it). Throws CaptureError for options it cannot write (ptime, IPv6).
    CaptureWriter(std::FILE* file, const WriterOptions& options);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // One encoder output: 10 bytes (speech), 2 (SID: ends the packet) or 0 (not transmitted:
    // ends the packet, and the next packet carries the marker bit).
    void add_frame(const uint8_t* bytes, int length);
    // Sends the last partial packet and flushes. Throws CaptureError on a write failure.
    void finish();

    uint64_t packets() const { return packets_; }

private:
    void send();

    WriterOptions options_;
    pcap* dead_ = nullptr;
    pcap_dumper* dumper_ = nullptr;
    int frames_per_packet_ = 2;
    uint8_t payload_[20 * 10 + 2]{};   // up to 20 speech frames and a SID
    int payload_length_ = 0;
    int payload_frames_ = 0;
    uint64_t frame_index_ = 0;         // frames consumed so far
    uint64_t packet_first_frame_ = 0;  // frame index of the pending packet's first frame
    bool marker_ = true;
    uint16_t sequence_ = 0;
    uint16_t ip_id_ = 0;
    uint64_t packets_ = 0;
};

}  // namespace g729rtp
