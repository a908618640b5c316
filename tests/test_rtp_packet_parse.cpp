// SPDX-License-Identifier: BSD-2-Clause
// Header parsing of captured packets: every link layer, IPv4/IPv6, fragments, and RTP's
// optional header parts.

#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <string>
#include <vector>

#include "tests/rtp_fixture.h"
#include "lib/rtp/packet_parse.h"

using namespace rtp_fixture;
using g729rtp::PacketKind;

namespace {

const Bytes datagram = udp(5004, 6006, {1, 2, 3, 4, 5});

struct LinkCase {
    const char* name;
    int link_type;
    Bytes packet;
    PacketKind kind;
    std::string src;  // expected endpoints when kind is udp
    std::string dst;
};

TEST(RtpPacketParse, LinkLayersIpVersionsAndFragments) {
    const Bytes v4 = ipv4(1, 2, datagram);
    const Bytes v6 = ipv6(1, 2, datagram);
    Bytes padded = ethernet(0x0800, v4);
    padded.resize(padded.size() + 9, 0xee);  // Ethernet trailer past the IP total length
    Bytes loop_null = {2, 0, 0, 0};          // AF_INET in little-endian host order
    Bytes tags;                              // a tag after a tag after a tag...
    for (int i = 0; i < 30; ++i) tags.insert(tags.end(), {0x81, 0x00});
    const std::vector<LinkCase> cases = {
        {"ethernet", DLT_EN10MB, ethernet(0x0800, v4), PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"ethernet trailer", DLT_EN10MB, padded, PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"vlan", DLT_EN10MB, ethernet(0x0800, v4, {0x8100}), PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"q-in-q", DLT_EN10MB, ethernet(0x86DD, v6, {0x88A8, 0x8100}), PacketKind::udp, "[fd00::1]:5004", "[fd00::2]:6006"},
        {"ipv6", DLT_EN10MB, ethernet(0x86DD, v6), PacketKind::udp, "[fd00::1]:5004", "[fd00::2]:6006"},
        {"ipv6 options", DLT_RAW, ipv6(1, 2, datagram, true), PacketKind::udp, "[fd00::1]:5004", "[fd00::2]:6006"},
        {"ipv6 atomic fragment", DLT_RAW, ipv6(1, 2, datagram, false, 0), PacketKind::udp, "[fd00::1]:5004", "[fd00::2]:6006"},
        {"sll", DLT_LINUX_SLL, sll(0x0800, v4), PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"sll2", 276, sll2(0x86DD, v6), PacketKind::udp, "[fd00::1]:5004", "[fd00::2]:6006"},
        {"raw v4", DLT_RAW, v4, PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"ipv4 link", 228, v4, PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"loopback", DLT_NULL, cat(loop_null, v4), PacketKind::udp, "10.0.0.1:5004", "10.0.0.2:6006"},
        {"v4 more fragments", DLT_RAW, ipv4(1, 2, datagram, 17, 0x2000), PacketKind::fragment, "", ""},
        {"v4 later fragment", DLT_RAW, ipv4(1, 2, datagram, 17, 0x0010), PacketKind::fragment, "", ""},
        {"v6 fragment", DLT_RAW, ipv6(1, 2, datagram, true, 0x0001), PacketKind::fragment, "", ""},
        {"tcp", DLT_RAW, ipv4(1, 2, datagram, 6), PacketKind::other, "", ""},
        {"arp", DLT_EN10MB, ethernet(0x0806, Bytes(28, 0)), PacketKind::other, "", ""},
        {"short ethernet", DLT_EN10MB, Bytes(13, 0), PacketKind::malformed, "", ""},
        {"ip cut short", DLT_RAW, Bytes(v4.begin(), v4.end() - 3), PacketKind::malformed, "", ""},
        {"udp length past end", DLT_RAW, ipv4(1, 2, Bytes{0, 1, 0, 2, 0, 99, 0, 0}), PacketKind::malformed, "", ""},
        {"v6 cut short", DLT_RAW, Bytes(v6.begin(), v6.begin() + 39), PacketKind::malformed, "", ""},
        {"endless vlan tags", DLT_EN10MB, ethernet(0x8100, tags), PacketKind::malformed, "", ""},
        {"unknown link", 147, v4, PacketKind::other, "", ""},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        g729rtp::UdpDatagram out;
        ASSERT_EQ(g729rtp::parse_packet(c.link_type, c.packet, out), c.kind);
        if (c.kind != PacketKind::udp) continue;
        EXPECT_EQ(out.src.to_string(), c.src);
        EXPECT_EQ(out.dst.to_string(), c.dst);
        EXPECT_EQ(Bytes(out.payload.begin(), out.payload.end()), (Bytes{1, 2, 3, 4, 5}));
    }
}

TEST(RtpPacketParse, RtpOptionalPartsAndRefusals) {
    const Bytes payload = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xaa, 0xbb};
    struct Case {
        const char* name;
        Rtp header;
    };
    const std::vector<Case> accepted = {
        {"plain", {.seq = 7, .ts = 160, .ssrc = 0xdeadbeef, .marker = true}},
        {"csrc", {.seq = 65535, .ts = 0xffffffff, .csrc = 15}},
        {"extension", {.seq = 1, .ts = 2, .ext_words = 3}},
        {"empty extension", {.ext_words = 0}},
        {"padding", {.padding = 4}},
        {"all three", {.pt = 96, .csrc = 2, .ext_words = 1, .padding = 1}},
    };
    for (const Case& c : accepted) {
        SCOPED_TRACE(c.name);
        g729rtp::RtpHeader out;
        const Bytes packet = rtp(c.header, payload);
        ASSERT_TRUE(g729rtp::parse_rtp(packet, out));
        EXPECT_EQ(out.sequence, c.header.seq);
        EXPECT_EQ(out.timestamp, c.header.ts);
        EXPECT_EQ(out.ssrc, c.header.ssrc);
        EXPECT_EQ(out.payload_type, c.header.pt);
        EXPECT_EQ(out.marker, c.header.marker);
        EXPECT_EQ(Bytes(out.payload.begin(), out.payload.end()), payload);
    }

    Bytes v1 = rtp({}, payload);
    v1[0] = 0x40;
    Bytes pad_too_long = rtp({.padding = 1}, {});
    pad_too_long.back() = 5;
    Bytes pad_zero = rtp({.padding = 1}, payload);
    pad_zero.back() = 0;
    Bytes csrc_missing = rtp({.csrc = 3}, {});
    csrc_missing.resize(20);
    Bytes ext_long = rtp({.ext_words = 0}, {});
    ext_long[15] = 9;  // claims 9 extension words, none follow
    const std::vector<std::pair<const char*, Bytes>> refused = {
        {"version 1", v1},
        {"short", Bytes(11, 0x80)},
        {"padding past header", pad_too_long},
        {"padding zero", pad_zero},
        {"csrc list cut", csrc_missing},
        {"extension cut", ext_long},
    };
    for (const auto& [name, bytes] : refused) {
        SCOPED_TRACE(name);
        g729rtp::RtpHeader out;
        EXPECT_FALSE(g729rtp::parse_rtp(bytes, out));
    }
}

TEST(RtpPacketParse, EndpointsParseAndPrintBack) {
    for (const char* text : {"127.0.0.1:40000", "10.1.2.3:0", "[::1]:5060", "[fd00::1:2]:65535"}) {
        g729rtp::Endpoint e;
        ASSERT_TRUE(g729rtp::parse_endpoint(text, e)) << text;
        EXPECT_EQ(e.to_string(), text);
    }
    for (const char* text : {"127.0.0.1", "127.0.0.1:", "1.2.3.4:65536", "1.2.3:80", "::1:80",
                             "[::1]80", "host:80", "1.2.3.4:-1", "1.2.3.4:8a"}) {
        g729rtp::Endpoint e;
        EXPECT_FALSE(g729rtp::parse_endpoint(text, e)) << text;
    }
}

}  // namespace
