// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/capture_writer.h"

#include <pcap/pcap.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>

#include "lib/rtp/capture_reader.h"

namespace g729rtp {

namespace {

constexpr int ethernet_header = 14;
constexpr int ipv4_header = 20;
constexpr int udp_header = 8;
constexpr int rtp_header = 12;
constexpr int frame_samples = 80;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v >> 16);
    put16(p + 2, v & 0xffff);
}

// Ones'-complement sum of 16-bit big-endian words, as IP and UDP checksums use.
uint32_t sum16(const uint8_t* p, std::size_t n, uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>((p[i] << 8) | p[i + 1]);
    if (n % 2 != 0) sum += static_cast<uint32_t>(p[n - 1] << 8);
    return sum;
}

uint16_t fold(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xffff);
}

Endpoint loopback(uint16_t port) {
    Endpoint e;
    e.address[0] = 127;
    e.address[3] = 1;
    e.port = port;
    return e;
}

}  // namespace

bool valid_ptime(int ptime_ms) { return ptime_ms >= 10 && ptime_ms <= 200 && ptime_ms % 10 == 0; }

WriterOptions default_writer_options() {
    WriterOptions o;
    std::random_device random;
    o.ssrc = random();
    o.first_sequence = static_cast<uint16_t>(random());
    o.first_timestamp = random();
    o.src = loopback(40000);
    o.dst = loopback(40002);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    o.start_seconds = us / 1000000;
    o.start_microseconds = us % 1000000;
    return o;
}

CaptureWriter::CaptureWriter(std::FILE* file, const WriterOptions& options) : options_(options) {
    if (!valid_ptime(options.ptime_ms)) {
        throw CaptureError("packet time " + std::to_string(options.ptime_ms) +
                           " ms: expected 10 to 200 ms in steps of 10 ms");
    }
    if (options.src.ipv6 || options.dst.ipv6) {
        throw CaptureError("captures are written over IPv4: give IPv4 addresses");
    }
    frames_per_packet_ = options.ptime_ms / 10;
    sequence_ = options.first_sequence;
    dead_ = pcap_open_dead(DLT_EN10MB, 65535);
    if (dead_ == nullptr) throw CaptureError("libpcap cannot start a capture file");
    // libpcap closes the stream it writes to: give it its own on a duplicate descriptor.
    const int fd = dup(fileno(file));
    std::FILE* own = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (own == nullptr) {
        if (fd >= 0) close(fd);
        pcap_close(dead_);
        throw CaptureError(std::string("cannot write the capture: ") + std::strerror(errno));
    }
    dumper_ = pcap_dump_fopen(dead_, own);
    if (dumper_ == nullptr) {
        const std::string why = pcap_geterr(dead_);
        std::fclose(own);
        pcap_close(dead_);
        throw CaptureError("cannot write the capture: " + why);
    }
}

CaptureWriter::~CaptureWriter() {
    if (dumper_ != nullptr) pcap_dump_close(dumper_);
    if (dead_ != nullptr) pcap_close(dead_);
}

void CaptureWriter::add_frame(const uint8_t* bytes, int length) {
    if (length == 0) {
        if (payload_length_ > 0) send();
        marker_ = true;
        ++frame_index_;
        return;
    }
    if (payload_length_ == 0) packet_first_frame_ = frame_index_;
    std::memcpy(payload_ + payload_length_, bytes, static_cast<std::size_t>(length));
    payload_length_ += length;
    ++payload_frames_;
    ++frame_index_;
    if (length != 10 || payload_frames_ == frames_per_packet_) send();
}

void CaptureWriter::send() {
    uint8_t packet[ethernet_header + ipv4_header + udp_header + rtp_header + sizeof payload_] = {};
    const int udp_length = udp_header + rtp_header + payload_length_;
    const int ip_length = ipv4_header + udp_length;

    uint8_t* eth = packet;  // zero MAC addresses, as on a loopback interface
    put16(eth + 12, 0x0800);

    uint8_t* ip = eth + ethernet_header;
    ip[0] = 0x45;
    ip[1] = 0xb8;  // DSCP EF: voice
    put16(ip + 2, static_cast<uint32_t>(ip_length));
    put16(ip + 4, ip_id_++);
    put16(ip + 6, 0x4000);  // don't fragment
    ip[8] = 64;
    ip[9] = 17;
    std::memcpy(ip + 12, options_.src.address.data(), 4);
    std::memcpy(ip + 16, options_.dst.address.data(), 4);
    put16(ip + 10, fold(sum16(ip, ipv4_header)));

    uint8_t* udp = ip + ipv4_header;
    put16(udp, options_.src.port);
    put16(udp + 2, options_.dst.port);
    put16(udp + 4, static_cast<uint32_t>(udp_length));

    uint8_t* rtp = udp + udp_header;
    rtp[0] = 0x80;
    rtp[1] = static_cast<uint8_t>((marker_ ? 0x80 : 0) | (options_.payload_type & 0x7f));
    put16(rtp + 2, sequence_++);
    const uint64_t first_sample = packet_first_frame_ * frame_samples;
    put32(rtp + 4, static_cast<uint32_t>(options_.first_timestamp + first_sample));
    put32(rtp + 8, options_.ssrc);
    std::memcpy(rtp + rtp_header, payload_, static_cast<std::size_t>(payload_length_));

    // UDP checksum over the pseudo-header and the datagram.
    uint32_t sum = sum16(ip + 12, 8);
    sum += 17 + static_cast<uint32_t>(udp_length);
    const uint16_t check = fold(sum16(udp, static_cast<std::size_t>(udp_length), sum));
    put16(udp + 6, check == 0 ? 0xffff : check);

    // Sent when its last frame has been captured.
    const uint64_t sent_us = static_cast<uint64_t>(options_.start_microseconds) +
                             (first_sample + static_cast<uint64_t>(payload_frames_) * frame_samples) *
                                 1000000 / 8000;
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(options_.start_seconds + static_cast<int64_t>(sent_us / 1000000));
    header.ts.tv_usec = static_cast<suseconds_t>(sent_us % 1000000);
    header.caplen = header.len = static_cast<bpf_u_int32>(ethernet_header + ip_length);
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, packet);
    if (std::ferror(pcap_dump_file(dumper_))) {
        throw CaptureError(std::string("write error: ") + std::strerror(errno));
    }

    ++packets_;
    marker_ = false;
    payload_length_ = 0;
    payload_frames_ = 0;
}

void CaptureWriter::finish() {
    if (payload_length_ > 0) send();
    if (pcap_dump_flush(dumper_) != 0 || std::ferror(pcap_dump_file(dumper_))) {
        throw CaptureError(std::string("write error: ") + std::strerror(errno));
    }
}

}  // namespace g729rtp
