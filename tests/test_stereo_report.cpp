// SPDX-License-Identifier: BSD-2-Clause
// The g729 tool's two-way outputs run as a program: decode --stereo places each direction of
// a call at its capture time (checked sample for sample against the mono decode of each
// stream), names one file per call and says which stream has no partner; report writes one
// page with a player per direction and the lost frames marked where the packets were lost.

#include <gtest/gtest.h>
#include <pcap/dlt.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/audio_test_files.h"
#include "tests/rtp_fixture.h"

using namespace rtp_fixture;
namespace fs = std::filesystem;

namespace {

// A direction of a call: addresses 10.0.0.a:port_a -> 10.0.0.b:port_b, its SSRC, packets of
// ptime_ms from its first capture time start_us (packets listed in `drop` are not sent).
struct Direction {
    uint8_t a = 1, b = 2;
    uint16_t port_a = 4000, port_b = 5000;
    uint32_t ssrc = 0;
    int ptime_ms = 20;
    int packets = 20;
    int64_t start_us = 0;
    std::set<int> drop = {};
};

std::vector<Bytes> coded(int count) {
    g729_encoder_state enc;
    g729_encoder_init(&enc, 0);
    const std::vector<int16_t> pcm = test_audio::speechlike(static_cast<std::size_t>(80 * count));
    std::vector<Bytes> out;
    for (int f = 0; f < count; ++f) {
        uint8_t b[10];
        int32_t n = 0;
        g729_encode_frame(&enc, pcm.data() + 80 * f, b, &n);
        out.emplace_back(b, b + 10);
    }
    return out;
}

// The directions' packets in one capture, in the order given (not sorted by time).
void write_call(const std::string& path, const std::vector<Direction>& directions) {
    std::vector<Bytes> wire;
    std::vector<int64_t> times;
    for (const Direction& d : directions) {
        const int per = d.ptime_ms / 10;
        const std::vector<Bytes> frames = coded(d.packets * per);
        for (int p = 0; p < d.packets; ++p) {
            if (d.drop.count(p)) continue;
            Bytes payload;
            for (int f = 0; f < per; ++f) payload = cat(payload, frames[static_cast<std::size_t>(p * per + f)]);
            const Rtp h{.seq = static_cast<uint16_t>(100 + p), .ts = static_cast<uint32_t>(5000 + p * per * 80), .ssrc = d.ssrc};
            wire.push_back(ethernet(0x0800, ipv4(d.a, d.b, udp(d.port_a, d.port_b, rtp(h, payload)))));
            times.push_back(d.start_us + int64_t{p} * d.ptime_ms * 1000);
        }
    }
    write_pcap_timed(path, DLT_EN10MB, wire, times);
}

struct Wav {
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
    std::vector<int16_t> channel(int c) const {
        std::vector<int16_t> out;
        for (std::size_t i = static_cast<std::size_t>(c); i < samples.size(); i += static_cast<std::size_t>(channels)) {
            out.push_back(samples[i]);
        }
        return out;
    }
};

Wav read_wav(const fs::path& p) {
    SF_INFO info{};
    SNDFILE* f = sf_open(p.string().c_str(), SFM_READ, &info);
    Wav w;
    if (f == nullptr) return w;
    w.channels = info.channels;
    w.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_short(f, w.samples.data(), info.frames);
    sf_close(f);
    return w;
}

std::vector<int16_t> read_raw(const fs::path& p) {
    const std::vector<uint8_t> b = test_audio::bytes_of(p);
    std::vector<int16_t> s(b.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

using ToolResult = test_audio::RunResult;

class StereoReportTest : public test_audio::TempDirTest {
protected:
    ToolResult run(const std::string& args) const {
        return test_audio::run_captured(
            std::string(G729_CHILD_LAUNCHER) + "'" + G729_TOOL_PATH + "' " + args, dir_);
    }
    // The stream's mono decode, for comparison.
    std::vector<int16_t> mono(const std::string& capture, uint32_t ssrc) const {
        const ToolResult r = run("decode --format pcap --ssrc " + g729_hex(ssrc) + " " + q(capture) + " " + q("mono.raw"));
        EXPECT_EQ(r.status, 0) << r.err;
        return read_raw(file("mono.raw"));
    }
    static std::string g729_hex(uint32_t v) {
        char t[16];
        std::snprintf(t, sizeof t, "%08x", v);
        return t;
    }
};

// `channel` holds `zeros` silent samples, then exactly `audio`, then silence to the end.
void expect_placed(const std::vector<int16_t>& channel, std::size_t zeros, const std::vector<int16_t>& audio) {
    ASSERT_GE(channel.size(), zeros + audio.size());
    EXPECT_TRUE(std::all_of(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(zeros), [](int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), channel.begin() + static_cast<std::ptrdiff_t>(zeros)));
    EXPECT_TRUE(std::all_of(channel.begin() + static_cast<std::ptrdiff_t>(zeros + audio.size()), channel.end(),
                            [](int16_t s) { return s == 0; }));
    // The first sound of the channel lies where the stream's first sound lies, moved by the offset.
    const auto first = std::find_if(audio.begin(), audio.end(), [](int16_t s) { return s != 0; });
    const auto got = std::find_if(channel.begin(), channel.end(), [](int16_t s) { return s != 0; });
    ASSERT_NE(first, audio.end());
    EXPECT_EQ(got - channel.begin(), static_cast<std::ptrdiff_t>(zeros) + (first - audio.begin()));
}

TEST_F(StereoReportTest, EachDirectionStartsAtItsCaptureTime) {
    struct Case {
        const char* what;
        int64_t a_start_us, b_start_us;  // a is written to the capture first
        int b_ptime_ms;
        std::size_t want_offset;         // samples before the later stream
        bool a_left;
    };
    const int64_t t0 = 1700000000000000;
    const Case cases[] = {
        {"b 1.5 s later", t0, t0 + 1500000, 20, 12000, true},
        {"b 0.25 s later, 10 ms packets", t0, t0 + 250000, 10, 2000, true},
        {"same start", t0, t0, 20, 0, true},
        {"b earlier though written after a", t0 + 700000, t0, 30, 5600, false},
        {"sub-sample start rounds to the nearest sample", t0, t0 + 1000063, 20, 8001, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const Direction a{.ssrc = 0xa0a0a0a0, .packets = 30, .start_us = k.a_start_us};
        const Direction b{.a = 2, .b = 1, .port_a = 5000, .port_b = 4000, .ssrc = 0x0b0b0b0b,
                          .ptime_ms = k.b_ptime_ms, .packets = 12, .start_us = k.b_start_us, .drop = {4}};
        write_call(file("call.pcap").string(), {a, b});
        const ToolResult r = run("decode --stereo " + q("call.pcap") + " " + q("both.wav"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("no stream the other way"), std::string::npos) << r.err;
        const Wav w = read_wav(file("both.wav"));
        ASSERT_EQ(w.channels, 2);
        const std::vector<int16_t> ma = mono("call.pcap", a.ssrc), mb = mono("call.pcap", b.ssrc);
        ASSERT_EQ(ma.size(), 30u * 160);
        ASSERT_EQ(mb.size(), 12u * static_cast<std::size_t>(k.b_ptime_ms) * 8);  // the dropped packet is concealed
        const std::vector<int16_t>& left = k.a_left ? ma : mb;
        const std::vector<int16_t>& right = k.a_left ? mb : ma;
        EXPECT_EQ(w.samples.size() / 2, std::max(left.size(), k.want_offset + right.size()));
        expect_placed(w.channel(0), 0, left);
        expect_placed(w.channel(1), k.want_offset, right);
    }
}

TEST_F(StereoReportTest, OneFilePerCallAndALoneStreamOnTheLeft) {
    const int64_t t0 = 1700000000000000;
    const Direction a1{.ssrc = 0x11, .start_us = t0};
    const Direction c{.a = 5, .b = 6, .ssrc = 0x33, .packets = 10, .start_us = t0 + 300000};
    const Direction a2{.a = 3, .b = 4, .ssrc = 0x22, .start_us = t0 + 100000};
    const Direction b1{.a = 2, .b = 1, .port_a = 5000, .port_b = 4000, .ssrc = 0x44, .start_us = t0 + 200000};
    const Direction b2{.a = 4, .b = 3, .port_a = 5000, .port_b = 4000, .ssrc = 0x55, .start_us = t0 + 400000};
    write_call(file("calls.pcap").string(), {a1, c, a2, b1, b2});
    const ToolResult r = run("decode --stereo " + q("calls.pcap") + " " + q("out.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 calls, one stereo file each"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stream 00000033 10.0.0.5:4000 -> 10.0.0.6:5000: no stream the other way; written on "
                         "the left, the right channel silent\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(file("out.wav")));
    for (const uint32_t ssrc : {0x11u, 0x22u, 0x33u}) {
        const Wav w = read_wav(file("out-" + g729_hex(ssrc) + ".wav"));
        EXPECT_EQ(w.channels, 2) << ssrc;
    }
    EXPECT_FALSE(fs::exists(file("out-" + g729_hex(0x44) + ".wav")));
    const Wav lone = read_wav(file("out-00000033.wav"));
    expect_placed(lone.channel(0), 0, mono("calls.pcap", 0x33));
    const std::vector<int16_t> right = lone.channel(1);
    EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](int16_t s) { return s == 0; }));
    const Wav call2 = read_wav(file("out-00000022.wav"));
    expect_placed(call2.channel(1), 2400, mono("calls.pcap", 0x55));  // 300 ms after its partner

    // Raw PCM (any other name): interleaved, without a header. --ssrc leaves the partner out.
    const ToolResult one = run("decode --stereo --ssrc 22 " + q("calls.pcap") + " " + q("one.raw"));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_NE(one.err.find("stream 00000022 10.0.0.3:4000 -> 10.0.0.4:5000: no stream the other way"),
              std::string::npos) << one.err;
    const Wav raw{2, read_raw(file("one.raw"))};
    ASSERT_EQ(raw.samples.size(), 20u * 160 * 2);
    expect_placed(raw.channel(0), 0, mono("calls.pcap", 0x22));
    EXPECT_EQ(raw.channel(1), std::vector<int16_t>(20 * 160, 0));
}

TEST_F(StereoReportTest, RefusalsAreOneLine) {
    const int64_t t0 = 1700000000000000;
    write_call(file("calls.pcap").string(), {Direction{.ssrc = 1, .start_us = t0},
                                             Direction{.a = 3, .b = 4, .ssrc = 2, .start_us = t0}});
    test_audio::put(file("keep.html"), {'k'});
    const struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"decode --stereo " + q("calls.pcap") + " -", 2, "2 calls cannot share standard output"},
        {"decode --format raw --stereo " + q("calls.pcap") + " " + q("x.raw"), 2, "--stereo needs --format pcap"},
        {"report " + q("calls.pcap") + " " + q("r.wav"), 2, "the report is an HTML page; name it .html"},
        {"report " + q("calls.pcap") + " " + q("keep.html") + " --pt 96", 1, "no G.729 RTP stream (payload type 96)"},
        {"report - " + q("keep.html"), 2, "give a file, not -"},
        {"report " + q("missing.pcap") + " " + q("keep.html"), 1, "missing.pcap"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.args);
        const ToolResult r = run(k.args);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(file("r.wav")));
    EXPECT_EQ(test_audio::bytes_of(file("keep.html")), std::vector<uint8_t>{'k'});
}

TEST_F(StereoReportTest, ReportHasAPlayerPerDirectionAndTheLossesWhereTheyHappened) {
    const int64_t t0 = 1700000000000000;
    const Direction a{.ssrc = 0xa, .packets = 50, .start_us = t0, .drop = {10, 11, 30}};
    const Direction b{.a = 2, .b = 1, .port_a = 5000, .port_b = 4000, .ssrc = 0xb, .packets = 40,
                      .start_us = t0 + 500000, .drop = {7}};
    write_call(file("call.pcap").string(), {a, b});
    const ToolResult r = run("report " + q("call.pcap") + " " + q("r.html"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("report of 1 call (2 streams) written to"), std::string::npos) << r.err;
    const std::vector<uint8_t> bytes = test_audio::bytes_of(file("r.html"));
    const std::string html(bytes.begin(), bytes.end());
    EXPECT_EQ(html.find("http"), std::string::npos);
    // Players: each direction's length, and the mix to the later end (0.5 s + 0.8 s).
    for (const char* player : {"data-ssrc=\"0000000a\" data-duration=\"1.000\"",
                               "data-ssrc=\"0000000b\" data-duration=\"0.800\"",
                               "data-kind=\"mix\" data-duration=\"1.300\""}) {
        EXPECT_NE(html.find(player), std::string::npos) << player;
    }
    // Lost marks: packets 10-11 of a (0.20 s, 40 ms), 30 (0.60 s); packet 7 of b, 0.5 s later.
    std::vector<std::string> marks;
    const std::string mark = "<rect class=\"lost\" data-t=\"";
    for (std::size_t at = html.find(mark); at != std::string::npos; at = html.find(mark, at + 1)) {
        const std::size_t t = at + mark.size();
        const std::size_t t_end = html.find('"', t);
        const std::string dur_key = "\" data-dur=\"";
        ASSERT_EQ(html.compare(t_end, dur_key.size(), dur_key), 0);
        const std::size_t d = t_end + dur_key.size();
        marks.push_back(html.substr(t, t_end - t) + "/" + html.substr(d, html.find('"', d) - d));
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"0.200/0.040", "0.600/0.020", "0.640/0.020"}));
    EXPECT_NE(html.find("<th>Lost</th><td>3 (6.00 %)</td><td>1 (2.50 %)</td>"), std::string::npos);
}

}  // namespace
