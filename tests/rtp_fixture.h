// SPDX-License-Identifier: BSD-2-Clause
// Test fixtures for the RTP capture work: packets built layer by layer with crafted headers,
// written to capture files with libpcap's dump functions (and, for pcapng, which libpcap
// does not write, as SHB + IDB + EPB blocks by hand), and a sink that records every decoded
// frame.
#pragma once

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "lib/rtp/frame_sink.h"

namespace rtp_fixture {

using Bytes = std::vector<uint8_t>;

inline void be16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void be32(Bytes& b, uint32_t v) {
    be16(b, v >> 16);
    be16(b, v & 0xffff);
}
inline void le16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void le32(Bytes& b, uint32_t v) {
    le16(b, v & 0xffff);
    le16(b, v >> 16);
}
inline Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Rtp {
    uint16_t seq = 0;
    uint32_t ts = 0;
    uint32_t ssrc = 0x11223344;
    uint8_t pt = 18;
    bool marker = false;
    int csrc = 0;          // CSRC entries
    int ext_words = -1;    // header extension of this many 32-bit words (-1: none)
    int padding = 0;       // padding bytes (0: none)
};

inline Bytes rtp(const Rtp& h, const Bytes& payload) {
    Bytes b;
    b.push_back(static_cast<uint8_t>(0x80 | (h.padding ? 0x20 : 0) | (h.ext_words >= 0 ? 0x10 : 0) |
                                     (h.csrc & 0x0f)));
    b.push_back(static_cast<uint8_t>((h.marker ? 0x80 : 0) | (h.pt & 0x7f)));
    be16(b, h.seq);
    be32(b, h.ts);
    be32(b, h.ssrc);
    for (int i = 0; i < h.csrc; ++i) be32(b, 0xc0000000u + static_cast<uint32_t>(i));
    if (h.ext_words >= 0) {
        be16(b, 0xbede);
        be16(b, static_cast<uint32_t>(h.ext_words));
        for (int i = 0; i < h.ext_words; ++i) be32(b, 0xeeeeeeeeu);
    }
    b.insert(b.end(), payload.begin(), payload.end());
    for (int i = 1; i < h.padding; ++i) b.push_back(0);
    if (h.padding) b.push_back(static_cast<uint8_t>(h.padding));
    return b;
}

inline Bytes udp(uint16_t sport, uint16_t dport, const Bytes& payload) {
    Bytes b;
    be16(b, sport);
    be16(b, dport);
    be16(b, static_cast<uint32_t>(8 + payload.size()));
    be16(b, 0);  // no checksum
    return cat(b, payload);
}

// IPv4 with addresses 10.0.0.a -> 10.0.0.b; flags_offset sets fragmentation fields.
inline Bytes ipv4(uint8_t a, uint8_t b_, const Bytes& l4, uint8_t proto = 17,
                  uint16_t flags_offset = 0) {
    Bytes b = {0x45, 0};
    be16(b, static_cast<uint32_t>(20 + l4.size()));
    be16(b, 1);
    be16(b, flags_offset);
    b.push_back(64);
    b.push_back(proto);
    be16(b, 0);
    b.insert(b.end(), {10, 0, 0, a, 10, 0, 0, b_});
    return cat(b, l4);
}

// IPv6 fd00::a -> fd00::b, optionally behind a destination-options header or a fragment
// header (frag_offset_more: the fragment header's offset/flags word).
inline Bytes ipv6(uint8_t a, uint8_t b_, const Bytes& l4, bool dest_options = false,
                  int frag_offset_more = -1) {
    Bytes ext;
    uint8_t next = 17;
    if (frag_offset_more >= 0) {
        ext = {next, 0};
        be16(ext, static_cast<uint32_t>(frag_offset_more));
        be32(ext, 7);
        next = 44;
    }
    if (dest_options) {
        Bytes d = {next, 0, 1, 4, 0, 0, 0, 0};  // PadN option filling 8 bytes
        ext = cat(d, ext);
        next = 60;
    }
    Bytes b = {0x60, 0, 0, 0};
    be16(b, static_cast<uint32_t>(ext.size() + l4.size()));
    b.push_back(next);
    b.push_back(64);
    Bytes src(16, 0), dst(16, 0);
    src[0] = dst[0] = 0xfd;
    src[15] = a;
    dst[15] = b_;
    b = cat(cat(b, src), dst);
    return cat(cat(b, ext), l4);
}

inline Bytes ethernet(uint16_t type, const Bytes& payload, std::vector<uint16_t> vlans = {}) {
    Bytes b(12, 0x02);
    for (uint16_t tpid : vlans) {
        be16(b, tpid);
        be16(b, 100);
    }
    be16(b, type);
    return cat(b, payload);
}

inline Bytes sll(uint16_t type, const Bytes& payload) {
    Bytes b = {0, 0, 0, 1, 0, 6, 2, 2, 2, 2, 2, 2, 0, 0};
    be16(b, type);
    return cat(b, payload);
}

inline Bytes sll2(uint16_t type, const Bytes& payload) {
    Bytes b;
    be16(b, type);
    be16(b, 0);
    be32(b, 3);  // interface index
    be16(b, 1);  // ARPHRD_ETHER
    b.insert(b.end(), {0, 6, 2, 2, 2, 2, 2, 2, 0, 0});
    return cat(b, payload);
}

// A classic pcap file written by libpcap.
inline void write_pcap(const std::string& path, int link_type, const std::vector<Bytes>& packets) {
    pcap_t* dead = pcap_open_dead(link_type, 65535);
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    if (d == nullptr) throw std::runtime_error("pcap_dump_open failed");
    for (std::size_t i = 0; i < packets.size(); ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + static_cast<time_t>(i / 50);
        h.ts.tv_usec = static_cast<suseconds_t>((i % 50) * 20000);
        h.caplen = h.len = static_cast<bpf_u_int32>(packets[i].size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, packets[i].data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
}

// A classic pcap file with the given capture times (microseconds) and snapshot length:
// longer packets are cut to it, as a capture cuts them.
inline void write_pcap_timed(const std::string& path, int link_type, const std::vector<Bytes>& packets,
                             const std::vector<int64_t>& times_us, int snaplen = 65535) {
    pcap_t* dead = pcap_open_dead(link_type, snaplen);
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    if (d == nullptr) throw std::runtime_error("pcap_dump_open failed");
    for (std::size_t i = 0; i < packets.size(); ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(times_us[i] / 1000000);
        h.ts.tv_usec = static_cast<suseconds_t>(times_us[i] % 1000000);
        h.len = static_cast<bpf_u_int32>(packets[i].size());
        h.caplen = std::min<bpf_u_int32>(h.len, static_cast<bpf_u_int32>(snaplen));
        pcap_dump(reinterpret_cast<u_char*>(d), &h, packets[i].data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
}

// pcapng blocks: section header, interface description, enhanced packet.
inline Bytes pcapng_shb() {
    Bytes f;
    le32(f, 0x0A0D0D0A);
    le32(f, 28);
    le32(f, 0x1A2B3C4D);
    le16(f, 1);
    le16(f, 0);
    le32(f, 0xffffffff);  // section length unknown
    le32(f, 0xffffffff);
    le32(f, 28);
    return f;
}
inline Bytes pcapng_idb(int link_type) {
    Bytes f;
    le32(f, 1);
    le32(f, 20);
    le16(f, static_cast<uint32_t>(link_type));
    le16(f, 0);
    le32(f, 65535);
    le32(f, 20);
    return f;
}
inline Bytes pcapng_epb(uint32_t interface, const Bytes& p, uint64_t us) {
    Bytes f;
    const std::size_t padded = (p.size() + 3) / 4 * 4;
    const auto total = static_cast<uint32_t>(32 + padded);
    le32(f, 6);
    le32(f, total);
    le32(f, interface);
    le32(f, static_cast<uint32_t>(us >> 32));
    le32(f, static_cast<uint32_t>(us));
    le32(f, static_cast<uint32_t>(p.size()));
    le32(f, static_cast<uint32_t>(p.size()));
    f.insert(f.end(), p.begin(), p.end());
    f.resize(f.size() + padded - p.size(), 0);
    le32(f, total);
    return f;
}

// A minimal pcapng file: section header, one interface, one enhanced packet block each.
inline Bytes pcapng_bytes(int link_type, const std::vector<Bytes>& packets) {
    Bytes f = cat(pcapng_shb(), pcapng_idb(link_type));
    for (std::size_t i = 0; i < packets.size(); ++i) {
        f = cat(f, pcapng_epb(0, packets[i], 1700000000000000ull + i * 20000));
    }
    return f;
}

inline void write_bytes(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Records every decoded frame.
struct RecordingSink : g729rtp::FrameSink {
    std::vector<g729rtp::FrameKind> kinds;
    std::vector<int16_t> samples;
    void frame(g729rtp::FrameKind kind, std::span<const int16_t> s) override {
        kinds.push_back(kind);
        samples.insert(samples.end(), s.begin(), s.end());
    }
};

}  // namespace rtp_fixture
