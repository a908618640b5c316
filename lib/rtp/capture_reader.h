// SPDX-License-Identifier: BSD-2-Clause
// Reads packets from a capture file through libpcap (classic pcap and pcapng).
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

struct pcap;

namespace g729rtp {

// A capture that cannot be opened or read: one line naming the file and the problem.
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CapturedPacket {
    int64_t seconds = 0;
    int64_t microseconds = 0;
    std::span<const uint8_t> bytes;  // valid until the next call to next()
    uint32_t original_length = 0;    // on the wire: more than bytes.size() when cut at capture
};

// A packet's capture time in microseconds, clamped so that differences cannot overflow.
int64_t capture_time_us(const CapturedPacket& packet);

class CaptureReader {
public:
    // Throws CaptureError when libpcap cannot open the file or its link type is not one the
    // packet parser understands.
    explicit CaptureReader(const std::string& path);
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    int link_type() const { return link_type_; }
    // The capture's snapshot length: longer packets were cut to it when captured.
    int snapshot_length() const { return snapshot_length_; }

    // The next packet, or false at the end. A file damaged part way (typically a capture cut
    // short, or a pcapng block libpcap refuses) also ends the packets; truncation() then names
    // the problem in libpcap's words.
    bool next(CapturedPacket& out);
    const std::string& truncation() const { return truncation_; }

private:
    std::string path_;
    pcap* handle_ = nullptr;
    int link_type_ = 0;
    int snapshot_length_ = 0;
    uint64_t packets_ = 0;
    std::string truncation_;
};

}  // namespace g729rtp
