// SPDX-License-Identifier: BSD-2-Clause
// The g729 tool's capture commands run as a program: round trips against the raw and ITU
// paths, several streams, and every refusal as one line.

#include <gtest/gtest.h>
#include <pcap/dlt.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/audio_test_files.h"
#include "tests/rtp_fixture.h"
#include "lib/rtp/capture_reader.h"
#include "lib/rtp/packet_parse.h"

using namespace rtp_fixture;
namespace fs = std::filesystem;

namespace {

Bytes bytes_of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Raw 16-bit little-endian PCM of a voice-like signal with pauses: talk spurts of 0.6 s.
Bytes raw_signal(std::size_t samples) {
    Bytes b;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        const bool talking = (i / 4800) % 2 == 0;
        const double v = (talking ? 3000 * std::sin(2 * std::numbers::pi * (200 + 150 * std::sin(3 * t)) * t) +
                                        1500 * std::sin(2 * std::numbers::pi * 1100 * t)
                                  : 0) +
                         static_cast<double>(i * 7919 % 7) - 3;
        le16(b, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    return b;
}

struct ToolRun {
    int status = -1;
    std::string err;
};

class RtpToolTest : public test_audio::TempDirTest {
protected:

    // shell: commands run before the tool in the same shell (e.g. a ulimit).
    ToolRun run(const std::string& args, const std::string& shell = "") const {
        const std::string cmd = shell + std::string(G729_CHILD_LAUNCHER) + "'" + G729_TOOL_PATH + "' " + args +
                                " 2>" + q("err.txt");
        const int rc = std::system(cmd.c_str());
        ToolRun r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        const Bytes e = bytes_of(file("err.txt"));
        r.err.assign(e.begin(), e.end());
        return r;
    }

};

int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST_F(RtpToolTest, CaptureRoundTripEqualsTheRawPath) {
    write_bytes(file("in.raw").string(), raw_signal(8000 * 3 + 50));
    ASSERT_EQ(run("encode --format raw " + q("in.raw") + " " + q("c.g729")).status, 0);
    ASSERT_EQ(run("decode --format raw " + q("c.g729") + " " + q("want.raw")).status, 0);
    const Bytes want = bytes_of(file("want.raw"));
    ASSERT_EQ(want.size(), 300u * 160u);
    for (int ptime : {10, 30, 200}) {
        SCOPED_TRACE(ptime);
        const std::string p = std::to_string(ptime);
        const ToolRun enc = run("encode --format pcap --ptime " + p + " --ssrc 0xC0FFEE " + q("in.raw") +
                            " " + q("c.pcap"));
        ASSERT_EQ(enc.status, 0) << enc.err;
        EXPECT_NE(enc.err.find("SSRC 00c0ffee"), std::string::npos) << enc.err;
        const ToolRun dec = run("decode --format pcap " + q("c.pcap") + " " + q("got.raw"));
        ASSERT_EQ(dec.status, 0) << dec.err;
        EXPECT_EQ(bytes_of(file("got.raw")), want);
        EXPECT_EQ(lines(dec.err), 1) << dec.err;
        const std::string packets = std::to_string((300 + ptime / 10 - 1) / (ptime / 10));
        EXPECT_NE(dec.err.find("stream 00c0ffee 127.0.0.1:40000 -> 127.0.0.1:40002: " + packets +
                               " packets; 300 speech, 0 SID, 0 lost (concealed), 0 comfort-noise "
                               "pause frames; 0 duplicates, 0 reordered, 0 damaged; 3.00 s"),
                  std::string::npos)
            << dec.err;
    }
}

TEST_F(RtpToolTest, DtxCaptureRoundTripEqualsTheItuPath) {
    write_bytes(file("in.raw").string(), raw_signal(8000 * 4));
    ASSERT_EQ(run("encode --dtx --format itu " + q("in.raw") + " " + q("c.bit")).status, 0);
    ASSERT_EQ(run("decode " + q("c.bit") + " " + q("want.raw")).status, 0);
    const ToolRun enc = run("encode --dtx " + q("in.raw") + " " + q("c.pcap"));  // pcap by name
    ASSERT_EQ(enc.status, 0) << enc.err;
    const ToolRun dec = run("decode " + q("c.pcap") + " " + q("got.raw"));
    ASSERT_EQ(dec.status, 0) << dec.err;

    // The capture ends with its last packet: frames the encoder left untransmitted at the
    // very end have no packet. Everything up to there is identical.
    Bytes want = bytes_of(file("want.raw"));
    const Bytes got = bytes_of(file("got.raw"));
    g729rtp::CaptureReader reader(file("c.pcap").string());
    g729rtp::CapturedPacket c;
    uint32_t first_ts = 0, last_end = 0;
    int packets = 0, sids = 0;
    while (reader.next(c)) {
        g729rtp::UdpDatagram udp;
        g729rtp::RtpHeader rtp;
        ASSERT_EQ(g729rtp::parse_packet(reader.link_type(), c.bytes, udp), g729rtp::PacketKind::udp);
        ASSERT_TRUE(g729rtp::parse_rtp(udp.payload, rtp));
        if (packets++ == 0) first_ts = rtp.timestamp;
        sids += rtp.payload.size() % 10 == 2;
        last_end = rtp.timestamp + static_cast<uint32_t>((rtp.payload.size() + 8) / 10 * 80);
    }
    ASSERT_GT(sids, 0);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(last_end - first_ts) * 2);
    ASSERT_LE(got.size(), want.size());
    want.resize(got.size());
    EXPECT_EQ(got, want);
    EXPECT_EQ(dec.err.find(" 0 comfort-noise"), std::string::npos) << dec.err;
}

// The test signal's G.729 frames.
std::vector<Bytes> coded_frames(int count) {
    g729_encoder_state enc;
    g729_encoder_init(&enc, 0);
    const Bytes pcm = raw_signal(static_cast<std::size_t>(80 * count));
    std::vector<Bytes> out;
    for (int f = 0; f < count; ++f) {
        int16_t block[80];
        for (int i = 0; i < 80; ++i) {
            const std::size_t at = static_cast<std::size_t>(f * 80 + i) * 2;
            block[i] = static_cast<int16_t>(pcm[at] | (pcm[at + 1] << 8));
        }
        uint8_t b[10];
        int32_t n = 0;
        g729_encode_frame(&enc, block, b, &n);
        out.emplace_back(b, b + 10);
    }
    return out;
}

TEST_F(RtpToolTest, SeveralStreamsEachGetAFileOrOneIsChosen) {
    // Both directions of a call (payload type 96 here): 10 ms packets one way over IPv4,
    // 20 ms packets back over IPv6 with one lost.
    std::vector<Bytes> wire;
    const std::vector<Bytes> frames = coded_frames(40);
    for (int f = 0; f < 40; ++f) {
        const Bytes& frame = frames[static_cast<std::size_t>(f)];
        wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(4000, 5000, rtp({.seq = static_cast<uint16_t>(f), .ts = static_cast<uint32_t>(f * 80), .ssrc = 0xaaaa0001, .pt = 96}, frame)))));
        if (f % 2 == 0 && f != 10) {
            wire.push_back(ethernet(0x86DD, ipv6(2, 1, udp(5000, 4000, rtp({.seq = static_cast<uint16_t>(f / 2), .ts = static_cast<uint32_t>(f * 80), .ssrc = 0x0000bb02, .pt = 96}, cat(frame, frame))))));
        }
    }
    write_pcap(file("call.pcap").string(), DLT_EN10MB, wire);

    ToolRun r = run("decode --pt 96 " + q("call.pcap") + " " + q("out.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.err), 3) << r.err;
    EXPECT_NE(r.err.find("2 G.729 streams, one file each"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stream 0000bb02 [fd00::2]:5000 -> [fd00::1]:4000: 19 packets; 38 speech, "
                         "0 SID, 2 lost (concealed)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(file("out.wav")));
    const Bytes a = bytes_of(file("out-aaaa0001.wav"));
    const Bytes b = bytes_of(file("out-0000bb02.wav"));
    EXPECT_EQ(a.size(), 44u + 40 * 160);
    EXPECT_EQ(b.size(), 44u + 40 * 160);  // 20 packets of 20 ms, one of them lost

    // A name without extension in a folder with a dot: the SSRC goes at the end of the name.
    fs::create_directories(file("a.dir"));
    r = run("decode --pt 96 " + q("call.pcap") + " " + q("a.dir/out"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytes_of(file("a.dir/out-0000bb02")).size(), 40u * 160);
    EXPECT_EQ(bytes_of(file("a.dir/out-aaaa0001")).size(), 40u * 160);

    r = run("decode --pt 96 --ssrc BB02 " + q("call.pcap") + " " + q("one.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.err), 1) << r.err;
    EXPECT_EQ(bytes_of(file("one.wav")), b);

    // Payload type 18 is the default: none here.
    r = run("decode " + q("call.pcap") + " " + q("none.wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("no G.729 RTP stream (payload type 18) among its 59 packets (59 UDP)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(file("none.wav")));

    r = run("decode --pt 96 --ssrc 1234 " + q("call.pcap") + " " + q("none.wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no G.729 stream with SSRC 00001234 (streams: aaaa0001, 0000bb02)"), std::string::npos) << r.err;
}

TEST_F(RtpToolTest, WriterOptionsReachThePackets) {
    write_bytes(file("in.raw").string(), raw_signal(800));
    const ToolRun r = run("encode --format pcap --ssrc deadbeef --src 192.0.2.1:4000 --dst 198.51.100.7:5004 --ptime 40 " +
                      q("in.raw") + " " + q("o.pcap"));
    ASSERT_EQ(r.status, 0) << r.err;
    g729rtp::CaptureReader reader(file("o.pcap").string());
    g729rtp::CapturedPacket c;
    int packets = 0;
    while (reader.next(c)) {
        g729rtp::UdpDatagram udp;
        g729rtp::RtpHeader rtp;
        ASSERT_EQ(g729rtp::parse_packet(reader.link_type(), c.bytes, udp), g729rtp::PacketKind::udp);
        ASSERT_TRUE(g729rtp::parse_rtp(udp.payload, rtp));
        EXPECT_EQ(udp.src.to_string(), "192.0.2.1:4000");
        EXPECT_EQ(udp.dst.to_string(), "198.51.100.7:5004");
        EXPECT_EQ(rtp.ssrc, 0xdeadbeefu);
        EXPECT_EQ(rtp.payload.size(), packets < 2 ? 40u : 20u);
        ++packets;
    }
    EXPECT_EQ(packets, 3);
}

// Reads the numbers of "<n> <word>" out of a line.
uint64_t count_before(const std::string& text, const std::string& word) {
    const std::size_t at = text.find(" " + word);
    if (at == std::string::npos) return ~0ull;
    const std::size_t start = text.rfind(' ', at - 1) + 1;
    return std::stoull(text.substr(start, at - start));
}

TEST_F(RtpToolTest, ImpairedCaptureCountsMatchTheDamageDone) {
    write_bytes(file("in.raw").string(), raw_signal(8000 * 6));
    ASSERT_EQ(run("encode " + q("in.raw") + " " + q("clean.pcap")).status, 0);
    const std::string impair = std::string(G729_CHILD_LAUNCHER) + "'" + G729_IMPAIR_PATH + "' " + q("clean.pcap") + " " +
                               q("bad.pcap") + " --drop 8 --reorder 6 --duplicate 4 --distance 5 --seed 11 2>" +
                               q("impair.txt");
    ASSERT_EQ(std::system(impair.c_str()), 0);
    const Bytes said = bytes_of(file("impair.txt"));
    const std::string line(said.begin(), said.end());
    const uint64_t read = count_before(line, "packets read"), dropped = count_before(line, "dropped"),
                   delayed = count_before(line, "delayed"), doubled = count_before(line, "duplicated"),
                   written = count_before(line, "written");
    ASSERT_EQ(read, 300u) << line;
    ASSERT_GT(dropped, 0u);
    ASSERT_GT(delayed, 0u);
    ASSERT_GT(doubled, 0u);
    const ToolRun r = run("decode " + q("bad.pcap") + " " + q("bad.raw"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_before(r.err, "packets;"), written) << r.err;
    EXPECT_EQ(count_before(r.err, "speech,"), 2 * (read - dropped)) << r.err;
    EXPECT_EQ(count_before(r.err, "duplicates,"), doubled) << r.err;
    EXPECT_EQ(count_before(r.err, "reordered,"), delayed) << r.err;
    // Every dropped packet inside the stream is two concealed frames; the length follows.
    const uint64_t lost = count_before(r.err, "lost");
    EXPECT_LE(lost, 2 * dropped);
    EXPECT_EQ(bytes_of(file("bad.raw")).size(), (2 * (read - dropped) + lost) * 160);
}

TEST_F(RtpToolTest, RefusalsAreOneLineAndLeaveFilesAlone) {
    write_bytes(file("in.raw").string(), raw_signal(1600));
    write_bytes(file("junk.pcap").string(), Bytes(64, 0x55));
    ASSERT_EQ(run("encode " + q("in.raw") + " " + q("ok.pcap")).status, 0);
    const Bytes ok = bytes_of(file("ok.pcap"));
    fs::create_hard_link(file("ok.pcap"), file("link.pcap"));
    fs::copy_file(file("ok.pcap"), file("call.cap"));  // a capture under a name that says nothing
    struct Case {
        std::string args;
        int status;
        std::string fragment;
    };
    const std::vector<Case> cases = {
        {"encode --format pcap --ptime 25 " + q("in.raw") + " " + q("x.pcap"), 2, "--ptime 25"},
        {"encode --format pcap --ptime 0 " + q("in.raw") + " " + q("x.pcap"), 2, "--ptime 0"},
        {"encode --format pcap --ssrc 123456789 " + q("in.raw") + " " + q("x.pcap"), 2, "--ssrc"},
        {"encode --format pcap --src 1.2.3.4 " + q("in.raw") + " " + q("x.pcap"), 2, "--src"},
        {"encode --format pcap --dst [::1]:5004 " + q("in.raw") + " " + q("x.pcap"), 2, "IPv4"},
        {"encode --ssrc 1 " + q("in.raw") + " " + q("x.bit"), 2, "--ssrc needs --format pcap"},
        {"encode --format pcap " + q("in.raw") + " " + q("x.wav"), 2, "name it .pcap"},
        {"decode " + q("ok.pcap") + " " + q("x.flac"), 2, "x.flac"},
        {"decode --format pcap - " + q("x.raw") + " <" + q("ok.pcap"), 2, "not -"},
        {"decode --pt 96 " + q("ok.pcap") + " " + q("x.raw"), 1, "payload type 96"},
        {"decode --format pcap --pt 300 " + q("ok.pcap") + " " + q("x.raw"), 2, "--pt 300"},
        {"decode --format pcap --ssrc xyz " + q("ok.pcap") + " " + q("x.raw"), 2, "--ssrc xyz"},
        {"decode " + q("junk.pcap") + " " + q("x.raw"), 1, "not a readable capture file"},
        {"decode " + q("missing.pcap") + " " + q("x.raw"), 1, "missing.pcap"},
        {"decode " + q("ok.pcap") + " " + q("link.pcap"), 1, "same file"},
        {"encode --format pcap " + q("ok.pcap") + " " + q("link.pcap"), 1, "same file"},
        {"encode " + q("call.cap") + " " + q("x.bit"), 1, "is a packet capture (pcap), not audio"},
        {"decode " + q("call.cap") + " " + q("x.raw"), 1, "decode it with 'g729 decode --format pcap'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
        for (const char* name : {"x.pcap", "x.raw", "x.wav", "x.flac", "x.bit"}) EXPECT_FALSE(fs::exists(file(name)));
    }
    EXPECT_EQ(bytes_of(file("ok.pcap")), ok);
    // No temporary files are left behind.
    for (const auto& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }
}


// A sender: SSRC, payload type and 10.0.0.a:sport -> 10.0.0.b:dport.
struct Sender {
    uint32_t ssrc = 0xa1;
    uint8_t pt = 18;
    uint8_t a = 1, b = 2;
    uint16_t sport = 4000, dport = 5000;
};

// `packets` packets of two frames, 20 ms apart on both clocks unless ts_step says otherwise.
struct Sent {
    std::vector<Bytes> wire;
    std::vector<int64_t> times;
};
Sent send(const Sender& s, int packets, int64_t ts_step = 160, int64_t start_us = 0) {
    static const std::vector<Bytes> frames = coded_frames(200);
    Sent out;
    for (int p = 0; p < packets; ++p) {
        const Bytes payload = cat(frames[static_cast<std::size_t>(2 * p) % 200], frames[static_cast<std::size_t>(2 * p + 1) % 200]);
        const Rtp h{.seq = static_cast<uint16_t>(p), .ts = static_cast<uint32_t>(1000 + p * ts_step), .ssrc = s.ssrc, .pt = s.pt};
        out.wire.push_back(ethernet(0x0800, ipv4(s.a, s.b, udp(s.sport, s.dport, rtp(h, payload)))));
        out.times.push_back(1700000000000000 + start_us + p * 20000);
    }
    return out;
}
Sent operator+(Sent x, const Sent& y) {
    x.wire.insert(x.wire.end(), y.wire.begin(), y.wire.end());
    x.times.insert(x.times.end(), y.times.begin(), y.times.end());
    return x;
}
// Two senders' packets interleaved.
Sent interleave(const Sent& x, const Sent& y) {
    Sent out;
    for (std::size_t i = 0; i < std::max(x.wire.size(), y.wire.size()); ++i) {
        for (const Sent* s : {&x, &y}) {
            if (i < s->wire.size()) {
                out.wire.push_back(s->wire[i]);
                out.times.push_back(s->times[i]);
            }
        }
    }
    return out;
}

TEST_F(RtpToolTest, HostileCapturesAreBoundedKeptApartAndExplained) {
    const auto write = [&](const std::string& name, const Sent& s, int snaplen = 65535) {
        write_pcap_timed(file(name).string(), DLT_EN10MB, s.wire, s.times, snaplen);
    };
    // Amplification: 40 packets, each 599.98 s on in RTP time, 20 ms apart when captured.
    write("jumps.pcap", send({}, 40, 4799840));
    // 10,000 one-packet lookalikes, then a call.
    Sent junk;
    for (uint32_t i = 0; i < 10000; ++i) {
        const Sent one = send({.ssrc = 0x50000 + i, .a = 9}, 1);
        junk.wire.push_back(one.wire[0]);
        junk.times.push_back(one.times[0]);
    }
    write("junk.pcap", junk + send({.ssrc = 0xca11}, 100));
    // Two endpoint pairs, both SSRC 0.
    write("zero.pcap", interleave(send({.ssrc = 0}, 100), send({.ssrc = 0, .a = 3, .b = 4}, 100)));
    // RTP timestamps that never advance.
    write("stuck.pcap", send({}, 100, 0));
    write("two.pcap", interleave(send({.ssrc = 0xa1}, 50), send({.ssrc = 0xa2, .a = 3}, 50)));
    ASSERT_EQ(::mkfifo(file("fifo.raw").c_str(), 0600), 0);
    write("snap.pcap", send({}, 100), 50);
    write("pt97.pcap", send({.pt = 97}, 100));
    Sent three_hundred;
    for (uint32_t i = 0; i < 300; ++i) three_hundred = three_hundred + send({.ssrc = 0x60000 + i}, 2);
    write("300.pcap", three_hundred);
    // pcapng: a second interface of another link type; a damaged interface block.
    const Bytes p0 = send({}, 1).wire[0];
    write_bytes(file("links.pcapng").string(),
                cat(cat(cat(pcapng_shb(), pcapng_idb(DLT_EN10MB)), pcapng_idb(DLT_RAW)), pcapng_epb(1, p0, 1)));
    Bytes bad_idb = pcapng_idb(DLT_EN10MB);
    bad_idb[4] = 12;  // block length shorter than the block's own fields
    write_bytes(file("idb.pcapng").string(), cat(cat(cat(pcapng_shb(), pcapng_idb(DLT_EN10MB)), bad_idb), pcapng_epb(0, p0, 1)));
    // A classic capture whose first packet record claims 16 MB.
    write("first.pcap", send({}, 3));
    Bytes first = bytes_of(file("first.pcap"));
    first[24 + 8] = first[24 + 9] = first[24 + 10] = 0xff;
    write_bytes(file("first.pcap").string(), first);

    struct Case {
        std::string args;
        std::string shell;  // before the tool, e.g. a limit of open files
        int status;
        std::vector<std::string> said;
        std::vector<std::pair<std::string, std::size_t>> files;  // name, size (0: must not exist)
    };
    const std::string gone = "among its 0 packets";
    const std::vector<Case> cases = {
        {"decode " + q("jumps.pcap") + " " + q("jumps.raw"), "", 0,
         {"39 timestamp jumps longer than the capture clock shows (not filled)"}, {{"jumps.raw", (80 + 80) * 160}}},
        {"decode " + q("junk.pcap") + " " + q("call.raw"), "", 0,
         {"ignored 10000 lookalike streams", "stream 0000ca11 10.0.0.1:4000 -> 10.0.0.2:5000: 100 packets"},
         {{"call.raw", 200 * 160}}},
        {"decode --ssrc ca11 " + q("junk.pcap") + " " + q("one.raw"), "", 0, {"stream 0000ca11"}, {{"one.raw", 200 * 160}}},
        {"decode " + q("zero.pcap") + " " + q("zero.raw"), "", 0,
         {"2 G.729 streams, one file each", "10.0.0.3:4000 -> 10.0.0.4:5000: 100 packets"},
         {{"zero-00000000-1.raw", 200 * 160}, {"zero-00000000-2.raw", 200 * 160}, {"zero.raw", 0}}},
        {"decode " + q("stuck.pcap") + " " + q("stuck.raw"), "", 0,
         {"RTP timestamps of 99 of its packets do not advance", "decoded one after another in sequence order"},
         {{"stuck.raw", 200 * 160}}},
        {"decode " + q("two.pcap") + " " + q("fifo.raw"), "", 2, {"2 G.729 streams cannot share", "not a regular file"},
         {{"fifo-000000a1.raw", 0}, {"fifo-000000a2.raw", 0}}},
        {"decode " + q("links.pcapng") + " " + q("x.raw"), "", 1, {"no G.729 RTP stream (payload type 18) before that", "different from"}, {{"x.raw", 0}}},
        {"decode " + q("idb.pcapng") + " " + q("x.raw"), "", 1, {"no G.729 RTP stream (payload type 18) before that"}, {{"x.raw", 0}}},
        {"decode " + q("first.pcap") + " " + q("x.raw"), "", 1, {"no G.729 RTP stream (payload type 18) before that", "cut short after 0 packets"}, {{"x.raw", 0}}},
        {"decode " + q("snap.pcap") + " " + q("x.raw"), "", 1,
         {"100 packets were cut at capture time to the snapshot length of 50 bytes"}, {{"x.raw", 0}}},
        {"decode " + q("pt97.pcap") + " " + q("x.raw"), "", 1, {"RTP payload types seen: 97 (100 packets)", "give --pt"}, {{"x.raw", 0}}},
        {"decode " + q("300.pcap") + " " + q("many.raw"), "ulimit -n 100; ", 1,
         {"300 G.729 streams need as many files open at once, more than the limit of 100 open files"},
         {{"many-00060000.raw", 0}}},
        {"decode " + q("300.pcap") + " " + q("many.raw"), "ulimit -S -n 100; ", 0, {"300 G.729 streams, one file each"},
         {{"many-00060000.raw", 4 * 160}, {"many-0006012b.raw", 4 * 160}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun r = run(c.args, c.shell);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& s : c.said) EXPECT_NE(r.err.find(s), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(gone), std::string::npos) << r.err;
        for (const auto& [name, size] : c.files) {
            if (size == 0) {
                EXPECT_FALSE(fs::exists(file(name))) << name;
            } else {
                EXPECT_EQ(fs::exists(file(name)) ? fs::file_size(file(name)) : 0, size) << name;
            }
        }
    }
}

}  // namespace
