// SPDX-License-Identifier: BSD-2-Clause
// g729 streams and decode --json run as a program, on captures the tool writes and the
// impair tool damages (jitter included), and on crafted captures of several payload types.

#include <gtest/gtest.h>
#include <pcap/dlt.h>
#include <sys/wait.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/audio_test_files.h"
#include "tests/rtp_fixture.h"
#include "lib/rtp/capture_reader.h"

using namespace rtp_fixture;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string text_of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Raw 16-bit PCM: talk spurts of 0.6 s (two tones gliding) and silences, so DTX has pauses.
Bytes talk(std::size_t samples) {
    Bytes b;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        const bool talking = (i / 4800) % 2 == 0;
        const double v = talking ? 3000 * std::sin(2 * std::numbers::pi * (200 + 150 * std::sin(3 * t)) * t) +
                                       1500 * std::sin(2 * std::numbers::pi * 1100 * t)
                                 : static_cast<double>(i * 7919 % 7) - 3;
        le16(b, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    return b;
}

// The number before " word" in a line.
uint64_t count_before(const std::string& text, const std::string& word) {
    const std::size_t at = text.find(" " + word);
    if (at == std::string::npos) return ~0ull;
    const std::size_t start = text.rfind(' ', at - 1) + 1;
    return std::stoull(text.substr(start, at - start));
}

const std::set<std::string> stream_keys = {
    "ssrc", "src", "dst", "payload_type", "codec", "packets", "expected", "lost", "lost_percent",
    "duplicates", "reordered", "sequence_errors", "jitter_ms", "delta_ms", "start", "duration_s",
    "r_factor", "mos"};

std::set<std::string> keys_of(const json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.insert(key);
    return keys;
}

// G.107's MOS of R: the JSON's two figures must agree (to their rounding).
double mos_of(double r) { return 1 + 0.035 * r + r * (r - 60) * (100 - r) * 7e-6; }

using ToolResult = test_audio::RunResult;

class StreamsCliTest : public test_audio::TempDirTest {
protected:
    ToolResult run_program(const std::string& program, const std::string& args) const {
        return test_audio::run_captured(
            std::string(G729_CHILD_LAUNCHER) + "'" + program + "' " + args, dir_);
    }
    ToolResult g729(const std::string& args) const { return run_program(G729_TOOL_PATH, args); }
    ToolResult impair(const std::string& args) const { return run_program(G729_IMPAIR_PATH, args); }

    // A talk capture of `seconds`, 20 ms packets.
    void encode(const std::string& name, int seconds, const std::string& options) {
        write_bytes(file("talk.raw").string(), talk(static_cast<std::size_t>(8000 * seconds)));
        const ToolResult r = g729("encode --format pcap " + options + " " + q("talk.raw") + " " + q(name));
        ASSERT_EQ(r.status, 0) << r.err;
    }
};

int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST_F(StreamsCliTest, CleanCaptureRatesAsTheCodecAlone) {
    encode("clean.pcap", 4, "--ssrc 0xABCD0123");
    const ToolResult r = g729("streams --json " + q("clean.pcap"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const json all = json::parse(r.out);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 1u);
    const json& s = all[0];
    EXPECT_EQ(keys_of(s), stream_keys);
    EXPECT_EQ(s["ssrc"], "abcd0123");
    EXPECT_EQ(s["src"], "127.0.0.1:40000");
    EXPECT_EQ(s["dst"], "127.0.0.1:40002");
    EXPECT_EQ(s["payload_type"], 18);
    EXPECT_EQ(s["codec"], "G.729");
    EXPECT_EQ(s["packets"], 200);
    EXPECT_EQ(s["expected"], 200);
    EXPECT_EQ(s["lost"], 0);
    EXPECT_EQ(s["lost_percent"], 0.0);
    EXPECT_EQ(s["duplicates"], 0);
    EXPECT_EQ(s["reordered"], 0);
    EXPECT_EQ(s["sequence_errors"], 0);
    EXPECT_EQ(s["jitter_ms"]["mean"], 0.0);
    EXPECT_EQ(s["jitter_ms"]["max"], 0.0);
    EXPECT_EQ(s["delta_ms"]["min"], 20.0);
    EXPECT_EQ(s["delta_ms"]["mean"], 20.0);
    EXPECT_EQ(s["delta_ms"]["max"], 20.0);
    EXPECT_EQ(s["duration_s"], 3.98);
    // ISO 8601 UTC to the millisecond: digits everywhere but at the separators.
    const std::string start = s["start"].get<std::string>();
    const std::string shape = "dddd-dd-ddTdd:dd:dd.dddZ";
    ASSERT_EQ(start.size(), shape.size()) << start;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_TRUE(shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(start[i])) != 0
                                    : start[i] == shape[i])
            << start;
    }
    // No loss, 20 + 15 + 20 ms of delay: the worked figure of G.729A.
    EXPECT_EQ(s["r_factor"], 82.2);
    EXPECT_EQ(s["mos"], 4.1);

    // A long network delay costs quality; the delay counts in full.
    const ToolResult far = g729("streams --json --network-delay-ms 300 " + q("clean.pcap"));
    ASSERT_EQ(far.status, 0) << far.err;
    const json slow = json::parse(far.out)[0];
    // Ta = 20 + 15 + 20 + 300 = 355 ms: X = log2(3.55) = 1.82782, X^6 = 37.2906;
    // Idd = 25 x (38.2906^(1/6) - 3 x (1 + 37.2906/729)^(1/6) + 2) = 25 x (1.83590 - 3.02505 + 2)
    //     = 20.271; R = 82.2 - 20.271 = 61.93.
    EXPECT_NEAR(slow["r_factor"].get<double>(), 61.93, 0.006);
    EXPECT_LT(slow["mos"].get<double>(), 3.7);

    // The table: a header and one row, with the MOS.
    const ToolResult table = g729("streams " + q("clean.pcap"));
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(lines(table.out), 2) << table.out;
    EXPECT_NE(table.out.find("abcd0123  127.0.0.1:40000  127.0.0.1:40002  18  G.729"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find(" 4.10 "), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("--pt"), std::string::npos) << table.out;
}

TEST_F(StreamsCliTest, ImpairedCaptureFiguresMatchTheDamageDone) {
    encode("clean.pcap", 8, "--dtx --ssrc 5eec0de5");
    const ToolResult damage = impair(q("clean.pcap") + " " + q("bad.pcap") + " --drop 5 --jitter 30 --seed 3");
    ASSERT_EQ(damage.status, 0) << damage.err;
    const uint64_t read = count_before(damage.err, "packets read"), dropped = count_before(damage.err, "dropped"),
                   written = count_before(damage.err, "written"),
                   behind = count_before(damage.err, "packets now behind");
    ASSERT_GT(dropped, 0u) << damage.err;
    ASSERT_GT(behind, 0u) << damage.err;
    ASSERT_EQ(written, read - dropped) << damage.err;

    const ToolResult r = g729("streams --json " + q("bad.pcap"));
    ASSERT_EQ(r.status, 0) << r.err;
    const json all = json::parse(r.out);
    ASSERT_EQ(all.size(), 1u);
    const json& s = all[0];
    EXPECT_EQ(keys_of(s), stream_keys);
    EXPECT_EQ(s["ssrc"], "5eec0de5");
    EXPECT_EQ(s["packets"].get<uint64_t>(), written);
    // Drops at either end shorten what the numbers show as expected.
    const auto expected = s["expected"].get<uint64_t>(), lost = s["lost"].get<uint64_t>();
    EXPECT_LE(expected, read);
    EXPECT_GE(expected + 2, read);
    EXPECT_EQ(lost, expected - written);
    EXPECT_NEAR(s["lost_percent"].get<double>(), 100.0 * static_cast<double>(lost) / static_cast<double>(expected), 5e-4);
    EXPECT_EQ(s["duplicates"], 0);
    // Every packet the jitter put behind a later one arrived after a higher sequence number.
    EXPECT_EQ(s["reordered"].get<uint64_t>(), behind);
    EXPECT_EQ(s["sequence_errors"], 0);
    // Delays uniform over 30 ms: |D| averages 10 ms, and the jitter follows it.
    const double jitter = s["jitter_ms"]["mean"].get<double>();
    EXPECT_GT(jitter, 6.0);
    EXPECT_LT(jitter, 14.0);
    EXPECT_GE(s["jitter_ms"]["max"].get<double>(), jitter);
    EXPECT_GE(s["delta_ms"]["min"].get<double>(), 0.0);
    EXPECT_GT(s["delta_ms"]["max"].get<double>(), s["delta_ms"]["mean"].get<double>());
    const double r_factor = s["r_factor"].get<double>(), mos = s["mos"].get<double>();
    EXPECT_LT(r_factor, 82.2);
    EXPECT_NEAR(mos, mos_of(r_factor), 0.0051);

    // decode --json: the same figures, and the frames by kind as the summary line gives them.
    const ToolResult d = g729("decode " + q("bad.pcap") + " " + q("bad.wav") + " --json " + q("bad.json"));
    ASSERT_EQ(d.status, 0) << d.err;
    const json decoded = json::parse(text_of(file("bad.json")));
    ASSERT_EQ(decoded.size(), 1u);
    json frames = decoded[0]["frames"];
    json figures = decoded[0];
    figures.erase("frames");
    EXPECT_EQ(figures, s);
    EXPECT_EQ(keys_of(frames), (std::set<std::string>{"speech", "sid", "lost", "pause"}));
    EXPECT_EQ(frames["speech"].get<uint64_t>(), count_before(d.err, "speech,")) << d.err;
    EXPECT_EQ(frames["sid"].get<uint64_t>(), count_before(d.err, "SID,")) << d.err;
    EXPECT_EQ(frames["lost"].get<uint64_t>(), count_before(d.err, "lost (concealed)")) << d.err;
    EXPECT_EQ(frames["pause"].get<uint64_t>(), count_before(d.err, "comfort-noise")) << d.err;
    EXPECT_GT(frames["sid"].get<uint64_t>(), 0u);
    // The summary line carries the loss, the jitter and the MOS too, still one line.
    EXPECT_EQ(lines(d.err), 1) << d.err;
    char network[96];
    std::snprintf(network, sizeof network, "network: %.2f%% lost, jitter %.1f ms", s["lost_percent"].get<double>(), jitter);
    EXPECT_NE(d.err.find(network), std::string::npos) << d.err << "\n" << network;
    std::snprintf(network, sizeof network, "MOS %.2f\n", mos);
    EXPECT_NE(d.err.find(network), std::string::npos) << d.err;

    // To standard output, with the delay given.
    const ToolResult piped = g729("decode " + q("bad.pcap") + " " + q("bad2.wav") + " --json - --network-delay-ms 150");
    ASSERT_EQ(piped.status, 0) << piped.err;
    const json delayed = json::parse(piped.out);
    EXPECT_LT(delayed[0]["mos"].get<double>(), mos);
    EXPECT_EQ(delayed[0]["frames"], frames);
}

TEST_F(StreamsCliTest, EveryPayloadTypeIsListedAndDynamicG729GetsItsPt) {
    // Interleaved: G.729 under payload type 96 (two frames a packet), G.711 under 98 (160
    // bytes every 160 units: lengths of N x 10 too, but not the timestamps of 16 frames),
    // an odd-sized dynamic payload, RTCP between the same hosts, and one lone datagram that
    // looks like RTP.
    std::vector<Bytes> wire;
    const Bytes frame(10, 0x5a), pcmu(160, 0xff), odd(33, 0x11);
    for (int i = 0; i < 60; ++i) {
        const auto seq = static_cast<uint16_t>(1000 + i);
        const auto ts = static_cast<uint32_t>(i * 160);
        wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(4000, 5000, rtp({.seq = seq, .ts = ts, .ssrc = 0xaaaa0001, .pt = 96}, cat(frame, frame))))));
        wire.push_back(ethernet(0x0800, ipv4(3, 4, udp(6000, 7000, rtp({.seq = seq, .ts = ts, .ssrc = 0xbbbb0002, .pt = 98}, pcmu)))));
        wire.push_back(ethernet(0x0800, ipv4(5, 6, udp(8000, 9000, rtp({.seq = seq, .ts = ts * 6, .ssrc = 0xcccc0003, .pt = 97}, odd)))));
        if (i % 10 == 0) {
            Bytes sr = {0x80, 200, 0, 6};
            be32(sr, 0xaaaa0001);
            sr.resize(28, 0);
            wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(4001, 5001, sr))));
        }
    }
    wire.push_back(ethernet(0x0800, ipv4(9, 9, udp(1234, 4321, rtp({.seq = 5, .ts = 5, .ssrc = 0xdddd0004, .pt = 96}, frame)))));
    write_pcap(file("mixed.pcap").string(), DLT_EN10MB, wire);

    const ToolResult r = g729("streams --json " + q("mixed.pcap"));
    ASSERT_EQ(r.status, 0) << r.err;
    const json all = json::parse(r.out);
    ASSERT_EQ(all.size(), 3u) << r.out;
    struct Want { std::string ssrc; int pt; bool g729; };
    const std::vector<Want> want = {{"aaaa0001", 96, true}, {"bbbb0002", 98, false}, {"cccc0003", 97, false}};
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].ssrc);
        const json& s = all[i];
        EXPECT_EQ(keys_of(s), stream_keys);
        EXPECT_EQ(s["ssrc"], want[i].ssrc);
        EXPECT_EQ(s["payload_type"], want[i].pt);
        EXPECT_EQ(s["packets"], 60);
        EXPECT_EQ(s["expected"], 60);
        EXPECT_EQ(s["codec"].is_null(), !want[i].g729);
        EXPECT_EQ(s["mos"].is_null(), !want[i].g729);
        EXPECT_EQ(s["r_factor"].is_null(), !want[i].g729);
    }
    EXPECT_EQ(all[0]["codec"], "G.729");
    // The fixture's clock: 1700000000 s, packets 20 ms apart.
    EXPECT_EQ(all[0]["start"], "2023-11-14T22:13:20.000Z");
    EXPECT_EQ(all[1]["start"], "2023-11-14T22:13:20.020Z");
    EXPECT_EQ(all[0]["src"], "10.0.0.1:4000");
    EXPECT_EQ(all[0]["dst"], "10.0.0.2:5000");

    const ToolResult table = g729("streams " + q("mixed.pcap"));
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(lines(table.out), 5) << table.out;  // header, three rows, one hint
    const std::string hint = "stream aaaa0001 looks like G.729 at payload type 96: decode it with g729 decode --pt 96 --ssrc aaaa0001";
    EXPECT_NE(table.out.find(hint), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("--pt 98"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("--pt 97"), std::string::npos) << table.out;
    // The hint works: 60 packets of two frames.
    const ToolResult d = g729("decode --pt 96 --ssrc aaaa0001 " + q("mixed.pcap") + " " + q("a.raw"));
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(fs::file_size(file("a.raw")), 60u * 2 * 160);
}

TEST_F(StreamsCliTest, JitterKeepsCaptureTimesInOrderAndTheOtherDamageAsItWas) {
    encode("clean.pcap", 3, "--ptime 10");
    ASSERT_EQ(impair(q("clean.pcap") + " " + q("plain.pcap") + " --drop 7 --reorder 5 --duplicate 3 --seed 4").status, 0);
    ASSERT_EQ(impair(q("clean.pcap") + " " + q("zero.pcap") + " --drop 7 --reorder 5 --duplicate 3 --seed 4 --jitter 0").status, 0);
    EXPECT_EQ(text_of(file("zero.pcap")), text_of(file("plain.pcap")));

    const ToolResult r = impair(q("clean.pcap") + " " + q("j.pcap") + " --jitter 45 --seed 9");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("capture times up to 45 ms later at random"), std::string::npos) << r.err;
    std::vector<int64_t> before, after;
    for (const auto& [name, times] : {std::pair{"clean.pcap", &before}, std::pair{"j.pcap", &after}}) {
        g729rtp::CaptureReader reader(file(name).string());
        g729rtp::CapturedPacket p;
        while (reader.next(p)) times->push_back(g729rtp::capture_time_us(p));
    }
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::is_sorted(after.begin(), after.end()));
    // Each packet is at most 45 ms late: the k-th time written lies within the k-th time
    // read and 45 ms after it (both sorted lists).
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_GE(after[i], before[i]) << i;
        EXPECT_LE(after[i], before[i] + 45000) << i;
    }
    EXPECT_NE(after, before);
}

TEST_F(StreamsCliTest, RefusalsAreOneLine) {
    encode("c.pcap", 1, "");
    write_bytes(file("junk.pcap").string(), Bytes(100, 7));
    write_pcap(file("udp.pcap").string(), DLT_EN10MB, {ethernet(0x0800, ipv4(1, 2, udp(1, 2, Bytes(20, 0))))});
    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"streams " + q("missing.pcap"), 1, "missing.pcap: not a readable capture file"},
        {"streams " + q("junk.pcap"), 1, "junk.pcap: not a readable capture file"},
        {"streams --network-delay-ms -5 " + q("c.pcap"), 2, "--network-delay-ms"},
        {"streams", 2, "CAPTURE is required"},
        {"decode " + q("c.pcap") + " - --json -", 2, "give the JSON a file name"},
        {"decode " + q("c.pcap") + " " + q("o.wav") + " --json " + q("o.wav"), 2, "give the JSON another name"},
        {"decode " + q("c.pcap") + " " + q("o.wav") + " --json " + q("c.pcap"), 1, "is the same file as"},
        {"decode --format raw " + q("c.pcap") + " " + q("o.wav") + " --json " + q("o.json"), 2, "--json needs --format pcap"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolResult r = g729(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(file("o.wav")));
        EXPECT_FALSE(fs::exists(file("o.json")));
    }
    // Both directions in one file, and their figures beside it.
    const ToolResult stereo = g729("decode " + q("c.pcap") + " " + q("o.wav") + " --stereo --json " + q("o.json"));
    EXPECT_EQ(stereo.status, 0) << stereo.err;
    EXPECT_TRUE(fs::exists(file("o.wav")));
    EXPECT_EQ(json::parse(text_of(file("o.json"))).size(), 1u);
    // A capture without RTP: an empty list, not an error.
    ToolResult r = g729("streams --json " + q("udp.pcap"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::array());
    r = g729("streams " + q("udp.pcap"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no RTP stream among the 1 packets (1 UDP)"), std::string::npos) << r.out;
}

}  // namespace
