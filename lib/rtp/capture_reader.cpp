// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/capture_reader.h"

#include <pcap/pcap.h>

#include <algorithm>

#include "lib/rtp/packet_parse.h"

namespace g729rtp {

CaptureReader::CaptureReader(const std::string& path) : path_(path) {
    char error[PCAP_ERRBUF_SIZE] = {};
    handle_ = pcap_open_offline(path.c_str(), error);
    if (handle_ == nullptr) {
        throw CaptureError(path + ": not a readable capture file (" + error + ")");
    }
    link_type_ = pcap_datalink(handle_);
    snapshot_length_ = pcap_snapshot(handle_);
    if (!link_type_supported(link_type_)) {
        const char* name = pcap_datalink_val_to_name(link_type_);
        const std::string type = name ? name : std::to_string(link_type_);
        pcap_close(handle_);
        handle_ = nullptr;
        throw CaptureError(path + ": link type " + type +
                           " is not supported (Ethernet, Linux cooked, raw IP or loopback)");
    }
}

int64_t capture_time_us(const CapturedPacket& packet) {
    // About 2,000 years either way: beyond any real clock, and a difference of two times
    // still fits in 64 bits when converted to 8 kHz samples.
    constexpr int64_t max_seconds = int64_t{1} << 36;
    return std::clamp<int64_t>(packet.seconds, -max_seconds, max_seconds) * 1000000 +
           std::clamp<int64_t>(packet.microseconds, 0, 999999);
}

CaptureReader::~CaptureReader() {
    if (handle_ != nullptr) pcap_close(handle_);
}

bool CaptureReader::next(CapturedPacket& out) {
    if (handle_ == nullptr) return false;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int rc = pcap_next_ex(handle_, &header, &data);
    if (rc == 1) {
        out.seconds = header->ts.tv_sec;
        out.microseconds = header->ts.tv_usec;
        out.bytes = std::span<const uint8_t>(data, header->caplen);
        out.original_length = header->len;
        ++packets_;
        return true;
    }
    if (rc == PCAP_ERROR) {
        truncation_ = path_ + ": capture damaged or cut short after " + std::to_string(packets_) +
                      " packets, read up to there (" + pcap_geterr(handle_) + ")";
    }
    pcap_close(handle_);
    handle_ = nullptr;
    return false;
}

}  // namespace g729rtp
