// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/packet_parse.h"

#include <arpa/inet.h>
#include <pcap/dlt.h>

#include <algorithm>
#include <cstring>

namespace g729rtp {

namespace {

constexpr uint16_t ethertype_ipv4 = 0x0800;
constexpr uint16_t ethertype_ipv6 = 0x86DD;
constexpr uint16_t ethertype_vlan = 0x8100;
constexpr uint16_t ethertype_qinq = 0x88A8;
constexpr uint16_t ethertype_qinq_old = 0x9100;
constexpr uint8_t ip_protocol_udp = 17;
constexpr int max_vlan_tags = 8;

// Link types not named in every libpcap's headers.
constexpr int link_linux_sll2 = 276;
constexpr int link_ipv4 = 228;
constexpr int link_ipv6 = 229;
constexpr int link_raw_openbsd = 14;   // DLT_RAW on OpenBSD captures
constexpr int link_raw_linktype = 101; // LINKTYPE_RAW as stored in files
constexpr int link_loop = 108;         // OpenBSD loopback: family in network order

uint16_t be16(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

uint32_t be32(std::span<const uint8_t> b, std::size_t at) {
    return (static_cast<uint32_t>(be16(b, at)) << 16) | be16(b, at + 2);
}

PacketKind parse_udp(std::span<const uint8_t> seg, UdpDatagram& out) {
    if (seg.size() < 8) return PacketKind::malformed;
    const uint16_t length = be16(seg, 4);
    if (length < 8 || length > seg.size()) return PacketKind::malformed;
    out.src.port = be16(seg, 0);
    out.dst.port = be16(seg, 2);
    out.payload = seg.subspan(8, length - 8u);
    return PacketKind::udp;
}

PacketKind parse_ipv4(std::span<const uint8_t> ip, UdpDatagram& out) {
    if (ip.size() < 20 || (ip[0] >> 4) != 4) return PacketKind::malformed;
    const std::size_t header = (ip[0] & 0x0f) * 4u;
    const std::size_t total = be16(ip, 2);
    if (header < 20 || total < header || total > ip.size()) return PacketKind::malformed;
    const uint16_t flags_offset = be16(ip, 6);
    if ((flags_offset & 0x2000) != 0 || (flags_offset & 0x1fff) != 0) return PacketKind::fragment;
    if (ip[9] != ip_protocol_udp) return PacketKind::other;
    out.src = {};
    out.dst = {};
    std::copy_n(ip.begin() + 12, 4, out.src.address.begin());
    std::copy_n(ip.begin() + 16, 4, out.dst.address.begin());
    // Bytes past the total length are link-layer padding.
    return parse_udp(ip.subspan(header, total - header), out);
}

PacketKind parse_ipv6(std::span<const uint8_t> ip, UdpDatagram& out) {
    if (ip.size() < 40 || (ip[0] >> 4) != 6) return PacketKind::malformed;
    const std::size_t payload_length = be16(ip, 4);
    if (40 + payload_length > ip.size()) return PacketKind::malformed;
    out.src = {};
    out.dst = {};
    out.src.ipv6 = out.dst.ipv6 = true;
    std::copy_n(ip.begin() + 8, 16, out.src.address.begin());
    std::copy_n(ip.begin() + 24, 16, out.dst.address.begin());

    std::span<const uint8_t> rest = ip.subspan(40, payload_length);
    uint8_t next = ip[6];
    // Walk the extension headers up to the transport header.
    for (;;) {
        switch (next) {
        case ip_protocol_udp:
            return parse_udp(rest, out);
        case 0:    // hop-by-hop options
        case 43:   // routing
        case 60: { // destination options
            if (rest.size() < 8) return PacketKind::malformed;
            const std::size_t length = (rest[1] + 1u) * 8u;
            if (length > rest.size()) return PacketKind::malformed;
            next = rest[0];
            rest = rest.subspan(length);
            break;
        }
        case 44: {  // fragment header: only an atomic fragment (offset 0, no more) is whole
            if (rest.size() < 8) return PacketKind::malformed;
            if ((be16(rest, 2) & 0xfff9) != 0) return PacketKind::fragment;
            next = rest[0];
            rest = rest.subspan(8);
            break;
        }
        default:
            return PacketKind::other;
        }
    }
}

PacketKind parse_ip_by_version(std::span<const uint8_t> ip, UdpDatagram& out) {
    if (ip.empty()) return PacketKind::malformed;
    switch (ip[0] >> 4) {
    case 4: return parse_ipv4(ip, out);
    case 6: return parse_ipv6(ip, out);
    default: return PacketKind::other;
    }
}

PacketKind parse_ethertype(uint16_t type, std::span<const uint8_t> rest, UdpDatagram& out) {
    switch (type) {
    case ethertype_ipv4: return parse_ipv4(rest, out);
    case ethertype_ipv6: return parse_ipv6(rest, out);
    default: return PacketKind::other;
    }
}

PacketKind parse_ethernet(std::span<const uint8_t> frame, UdpDatagram& out) {
    if (frame.size() < 14) return PacketKind::malformed;
    std::size_t at = 12;
    uint16_t type = be16(frame, at);
    for (int tags = 0; type == ethertype_vlan || type == ethertype_qinq ||
                       type == ethertype_qinq_old; ++tags) {
        if (tags == max_vlan_tags || frame.size() < at + 6) return PacketKind::malformed;
        at += 4;
        type = be16(frame, at);
    }
    return parse_ethertype(type, frame.subspan(at + 2), out);
}

// BSD loopback: a 4-byte address family in the capturing host's order (DLT_NULL) or in
// network order (DLT_LOOP). The IP version nibble decides, which covers both.
PacketKind parse_loopback(std::span<const uint8_t> frame, UdpDatagram& out) {
    if (frame.size() < 4) return PacketKind::malformed;
    return parse_ip_by_version(frame.subspan(4), out);
}

}  // namespace

std::string Endpoint::to_string() const {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(ipv6 ? AF_INET6 : AF_INET, address.data(), text, sizeof text);
    std::string out;
    if (ipv6) out += '[';
    out += text;
    if (ipv6) out += ']';
    out += ':';
    out += std::to_string(port);
    return out;
}

bool parse_endpoint(const std::string& text, Endpoint& out) {
    std::string host;
    std::string port;
    Endpoint e;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        e.ipv6 = true;
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const unsigned long p = std::stoul(port);
    if (p > 65535) return false;
    if (inet_pton(e.ipv6 ? AF_INET6 : AF_INET, host.c_str(), e.address.data()) != 1) {
        return false;
    }
    e.port = static_cast<uint16_t>(p);
    out = e;
    return true;
}

bool link_type_supported(int link_type) {
    switch (link_type) {
    case DLT_EN10MB:
    case DLT_LINUX_SLL:
    case link_linux_sll2:
    case DLT_RAW:
    case link_raw_openbsd:
    case link_raw_linktype:
    case link_ipv4:
    case link_ipv6:
    case DLT_NULL:
    case link_loop:
        return true;
    default:
        return false;
    }
}

PacketKind parse_packet(int link_type, std::span<const uint8_t> packet, UdpDatagram& out) {
    switch (link_type) {
    case DLT_EN10MB:
        return parse_ethernet(packet, out);
    case DLT_LINUX_SLL:  // 16-byte header, protocol in its last two bytes
        if (packet.size() < 16) return PacketKind::malformed;
        return parse_ethertype(be16(packet, 14), packet.subspan(16), out);
    case link_linux_sll2:  // 20-byte header, protocol first
        if (packet.size() < 20) return PacketKind::malformed;
        return parse_ethertype(be16(packet, 0), packet.subspan(20), out);
    case DLT_RAW:
    case link_raw_openbsd:
    case link_raw_linktype:
        return parse_ip_by_version(packet, out);
    case link_ipv4:
        return parse_ipv4(packet, out);
    case link_ipv6:
        return parse_ipv6(packet, out);
    case DLT_NULL:
    case link_loop:
        return parse_loopback(packet, out);
    default:
        return PacketKind::other;
    }
}

bool parse_rtp(std::span<const uint8_t> d, RtpHeader& out) {
    if (d.size() < 12 || (d[0] >> 6) != 2) return false;
    const bool padding = (d[0] & 0x20) != 0;
    const bool extension = (d[0] & 0x10) != 0;
    const std::size_t csrc_count = d[0] & 0x0f;
    std::size_t header = 12 + 4 * csrc_count;
    if (d.size() < header) return false;
    if (extension) {
        if (d.size() < header + 4) return false;
        header += 4 + 4u * be16(d, header + 2);
        if (d.size() < header) return false;
    }
    std::size_t end = d.size();
    if (padding) {
        const std::size_t pad = d[d.size() - 1];
        if (pad == 0 || pad > end - header) return false;
        end -= pad;
    }
    out.marker = (d[1] & 0x80) != 0;
    out.payload_type = d[1] & 0x7f;
    out.sequence = be16(d, 2);
    out.timestamp = be32(d, 4);
    out.ssrc = be32(d, 8);
    out.payload = d.subspan(header, end - header);
    return true;
}

}  // namespace g729rtp
