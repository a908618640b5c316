// SPDX-License-Identifier: BSD-2-Clause
// Header parsing of captured packets: link layer (Ethernet with or without 802.1Q/802.1ad
// tags, Linux cooked capture v1 and v2, raw IP, BSD loopback), IPv4 and IPv6, UDP, and RTP
// version 2 (CSRC list, header extension, padding). Everything works on spans into the
// packet bytes libpcap hands over; nothing is copied.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace g729rtp {

// An IPv4 or IPv6 address and a port.
struct Endpoint {
    bool ipv6 = false;
    std::array<uint8_t, 16> address{};  // IPv4 uses the first 4 bytes
    uint16_t port = 0;

    // "127.0.0.1:4000" or "[::1]:4000".
    std::string to_string() const;
    bool operator==(const Endpoint&) const = default;
};

// Parses "ADDR:PORT" (IPv4, or IPv6 in brackets); false when it is not one.
bool parse_endpoint(const std::string& text, Endpoint& out);

enum class PacketKind {
    udp,          // a complete UDP datagram: src, dst and payload are set
    fragment,     // one piece of a fragmented IP datagram (not reassembled)
    other,        // a well-formed packet that is not UDP over IP
    malformed,    // headers that contradict themselves or the captured length
};

struct UdpDatagram {
    Endpoint src;
    Endpoint dst;
    std::span<const uint8_t> payload;
};

// Parses one captured packet of the given link type (a DLT_ value from pcap_datalink).
PacketKind parse_packet(int link_type, std::span<const uint8_t> packet, UdpDatagram& out);

// True for the link types parse_packet understands.
bool link_type_supported(int link_type);

struct RtpHeader {
    bool marker = false;
    uint8_t payload_type = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::span<const uint8_t> payload;  // after CSRCs and extension, without padding
};

// Parses an RTP version-2 packet; false when the bytes cannot be one (wrong version, too
// short for the header, CSRC list or extension, or padding longer than the payload).
bool parse_rtp(std::span<const uint8_t> datagram, RtpHeader& out);

}  // namespace g729rtp
