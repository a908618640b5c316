// SPDX-License-Identifier: BSD-2-Clause
// Stream timelines from crafted captures: every case lists the packets as they arrive and the
// frames the stream should decode to; the decoded samples must equal the codec fed exactly
// that frame sequence, frame by frame.

#include <gtest/gtest.h>
#include <pcap/dlt.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/audio_test_files.h"
#include "tests/rtp_fixture.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/capture_reader.h"
#include "lib/rtp/stream_timeline.h"

using namespace rtp_fixture;
using g729rtp::FrameKind;
namespace fs = std::filesystem;

namespace {

struct Coded {
    std::vector<Bytes> speech;
    Bytes sid;
};

// Speech frames of a tone mix, and a SID frame from a DTX encoder's pause.
const Coded& coded() {
    static const Coded c = [] {
        Coded out;
        g729_encoder_state enc;
        g729_encoder_init(&enc, 1);
        for (int f = 0; f < 400 && (out.speech.size() < 200 || out.sid.empty()); ++f) {
            int16_t pcm[80];
            for (int i = 0; i < 80; ++i) {
                const double t = (f * 80 + i) / 8000.0;
                const double loud = f < 250 ? 1.0 : 0.0;  // then near-silence: the encoder pauses
                pcm[i] = static_cast<int16_t>(std::lround(
                    loud * (3000 * std::sin(2 * std::numbers::pi * 440 * t) +
                            2000 * std::sin(2 * std::numbers::pi * 1300 * t)) +
                    ((f * 80 + i) * 7919 % 13) - 6));
            }
            uint8_t b[10];
            int32_t n = 0;
            g729_encode_frame(&enc, pcm, b, &n);
            if (n == 10) out.speech.emplace_back(b, b + 10);
            if (n == 2 && out.sid.empty()) out.sid.assign(b, b + 2);
        }
        return out;
    }();
    return c;
}

struct Frame {
    FrameKind kind;
    Bytes bytes;  // speech or SID unit
};

// The codec API fed the frame list directly.
std::vector<int16_t> decode_directly(const std::vector<Frame>& frames) {
    auto dec = std::make_unique<g729_decoder_state>();
    g729_decoder_init(dec.get());
    std::vector<int16_t> out;
    for (const Frame& f : frames) {
        int16_t pcm[80];
        switch (f.kind) {
        case FrameKind::speech:
        case FrameKind::sid:
            EXPECT_EQ(g729_decode_frame(dec.get(), pcm, f.bytes.data(), static_cast<int>(f.bytes.size())), 0);
            break;
        case FrameKind::lost: g729_decode_lost_frame(dec.get(), pcm); break;
        case FrameKind::pause: g729_decode_untransmitted_frame(dec.get(), pcm); break;
        }
        out.insert(out.end(), pcm, pcm + 80);
    }
    return out;
}

struct Packet {
    Rtp header;
    Bytes payload;
};

// A sender's stream: `packets` packets of `per` speech frames from sequence seq0, timestamp ts0.
std::vector<Packet> stream(int packets, int per = 2, uint16_t seq0 = 1000, uint32_t ts0 = 5000,
                           uint32_t ssrc = 0x11223344, int first_frame = 0) {
    std::vector<Packet> out;
    for (int p = 0; p < packets; ++p) {
        Packet k;
        k.header.seq = static_cast<uint16_t>(seq0 + p);
        k.header.ts = ts0 + static_cast<uint32_t>(p * per * 80);
        k.header.ssrc = ssrc;
        k.header.marker = p == 0;
        for (int f = 0; f < per; ++f) {
            const Bytes& s = coded().speech[static_cast<std::size_t>(first_frame + p * per + f) % coded().speech.size()];
            k.payload.insert(k.payload.end(), s.begin(), s.end());
        }
        out.push_back(k);
    }
    return out;
}

std::vector<Frame> speech_frames(int count, int first = 0) {
    std::vector<Frame> out;
    for (int f = 0; f < count; ++f) {
        out.push_back({FrameKind::speech, coded().speech[static_cast<std::size_t>(first + f) % coded().speech.size()]});
    }
    return out;
}

void set_kind(std::vector<Frame>& frames, std::size_t from, std::size_t count, FrameKind kind) {
    for (std::size_t i = from; i < from + count; ++i) frames[i] = {kind, {}};
}

struct Counts {
    uint64_t duplicates = 0, reordered = 0, damaged = 0, late = 0, other = 0, jumps = 0;
};

class RtpTimelineTest : public test_audio::TempDirTest {
protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Writes the packets as Ethernet/IPv4/UDP, decodes every stream found.
    std::map<uint32_t, std::pair<RecordingSink, g729rtp::StreamStats>>
    decode(const std::vector<Packet>& packets, int link = DLT_EN10MB,
           const std::function<Bytes(const Bytes&)>& wrap = nullptr, bool pcapng = false) {
        std::vector<Bytes> wire;
        for (const Packet& p : packets) {
            const Bytes l4 = udp(16384, 16386, rtp(p.header, p.payload));
            wire.push_back(wrap ? wrap(l4) : ethernet(0x0800, ipv4(1, 2, l4)));
        }
        const std::string file = path(pcapng ? "c.pcapng" : "c.pcap");
        if (pcapng) {
            write_bytes(file, pcapng_bytes(link, wire));
        } else {
            write_pcap(file, link, wire);
        }
        const g729rtp::CaptureScan scan = g729rtp::scan_capture(file);
        EXPECT_TRUE(scan.truncation.empty()) << scan.truncation;
        std::map<uint32_t, std::pair<RecordingSink, g729rtp::StreamStats>> out;
        const auto results = g729rtp::decode_capture(
            file, scan.streams, [&](uint32_t ssrc) -> g729rtp::FrameSink& { return out[ssrc].first; });
        for (const auto& r : results) out[r.info.ssrc].second = r.stats;
        return out;
    }

    // The one stream of the capture decodes to exactly `expected`, and its counts agree.
    void expect_timeline(const std::vector<Packet>& packets, const std::vector<Frame>& expected,
                         Counts counts = {}) {
        auto streams = decode(packets);
        ASSERT_EQ(streams.size(), 1u);
        const auto& [sink, stats] = streams.begin()->second;
        std::vector<FrameKind> kinds;
        for (const Frame& f : expected) kinds.push_back(f.kind);
        EXPECT_EQ(sink.kinds, kinds);
        EXPECT_EQ(sink.samples, decode_directly(expected));
        EXPECT_EQ(stats.samples, expected.size() * 80);
        auto count = [&](FrameKind k) {
            return static_cast<uint64_t>(std::count(kinds.begin(), kinds.end(), k));
        };
        EXPECT_EQ(stats.speech_frames, count(FrameKind::speech));
        EXPECT_EQ(stats.sid_frames, count(FrameKind::sid));
        EXPECT_EQ(stats.lost_frames, count(FrameKind::lost));
        EXPECT_EQ(stats.pause_frames, count(FrameKind::pause));
        EXPECT_EQ(stats.duplicates, counts.duplicates);
        EXPECT_EQ(stats.reordered, counts.reordered);
        EXPECT_EQ(stats.damaged, counts.damaged);
        EXPECT_EQ(stats.late, counts.late);
        EXPECT_EQ(stats.other_payload, counts.other);
        EXPECT_EQ(stats.skipped_jumps, counts.jumps);
    }

    // Decodes the one stream of the packets, captured at the given times (microseconds).
    std::pair<RecordingSink, g729rtp::StreamStats> decode_timed(const std::vector<Packet>& packets,
                                                                const std::vector<int64_t>& times) {
        std::vector<Bytes> wire;
        for (const Packet& p : packets) {
            wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(16384, 16386, rtp(p.header, p.payload)))));
        }
        write_pcap_timed(path("t.pcap"), DLT_EN10MB, wire, times);
        const g729rtp::CaptureScan scan = g729rtp::scan_capture(path("t.pcap"));
        std::pair<RecordingSink, g729rtp::StreamStats> out;
        EXPECT_EQ(scan.streams.size(), 1u);
        if (scan.streams.size() != 1) return out;
        out.second = g729rtp::decode_capture(path("t.pcap"), scan.streams,
                                             [&](uint32_t) -> g729rtp::FrameSink& { return out.first; })[0].stats;
        return out;
    }

};

TEST_F(RtpTimelineTest, CleanStreamDecodesEveryFrameInPlace) {
    for (int per : {1, 2, 3, 20}) {
        SCOPED_TRACE(per);
        expect_timeline(stream(12, per), speech_frames(12 * per));
    }
}

TEST_F(RtpTimelineTest, LossIsConcealedFrameByFrame) {
    std::vector<Packet> p = stream(20);
    p.erase(p.begin() + 5);        // one packet
    p.erase(p.begin() + 9, p.begin() + 12);  // three more (packets 10..12)
    std::vector<Frame> want = speech_frames(40);
    set_kind(want, 10, 2, FrameKind::lost);
    set_kind(want, 20, 6, FrameKind::lost);
    expect_timeline(p, want);
}

TEST_F(RtpTimelineTest, DuplicatesAndReorderingLeaveTheCleanTimeline) {
    std::vector<Packet> p = stream(30);
    std::swap(p[4], p[5]);
    const Packet moved = p[2];
    p.erase(p.begin() + 2);
    p.insert(p.begin() + 20, moved);
    p.insert(p.begin() + 9, p[8]);
    p.insert(p.begin() + 25, p[12]);
    p.push_back(p[0]);
    expect_timeline(p, speech_frames(60), {.duplicates = 3, .reordered = 2});
}

TEST_F(RtpTimelineTest, PacketsLaterThanTheWindowAreDroppedAndOldDuplicatesKnown) {
    std::vector<Packet> p = stream(100);
    const Packet late = p[3];
    p.erase(p.begin() + 3);
    p.insert(p.begin() + 90, late);  // 87 packets late: its place was already concealed
    p.push_back(p[10]);              // a duplicate of a packet decoded long ago
    std::vector<Frame> want = speech_frames(200);
    set_kind(want, 6, 2, FrameKind::lost);
    expect_timeline(p, want, {.duplicates = 1, .late = 1});
}

TEST_F(RtpTimelineTest, DamagedLengthsAreCountedAndConcealed) {
    std::vector<Packet> p = stream(12);
    p[3].payload.resize(7);
    p[6].payload.clear();
    p[8].payload.resize(25);  // two frames and 5 stray bytes
    p[11].payload.resize(19); // the last packet: concealed for the last good packet's length
    std::vector<Frame> want = speech_frames(24);
    for (int k : {3, 6, 8, 11}) set_kind(want, static_cast<std::size_t>(2 * k), 2, FrameKind::lost);
    expect_timeline(p, want, {.damaged = 4});
}

TEST_F(RtpTimelineTest, SequenceAndTimestampWrapAround) {
    // Sequence numbers 65530..9 with 65535 -> 0 lost; timestamps wrapping after two packets.
    std::vector<Packet> p = stream(16, 2, 65530, 0xFFFFFF60u);
    p.erase(p.begin() + 6);
    std::swap(p[4], p[7]);
    std::vector<Frame> want = speech_frames(32);
    set_kind(want, 12, 2, FrameKind::lost);
    expect_timeline(p, want, {.reordered = 3});
}

TEST_F(RtpTimelineTest, DtxPausesBecomeComfortNoise) {
    const Bytes& sid = coded().sid;
    // Speech, then a packet ending in a SID, 9 untransmitted frames, a lone SID update,
    // 5 more, and speech again with the marker bit.
    std::vector<Packet> p = stream(4);
    Packet a{{.seq = 1004, .ts = 5000 + 8 * 80}, cat(coded().speech[8], sid)};
    Packet b{{.seq = 1005, .ts = 5000 + 19 * 80, .marker = true}, sid};
    std::vector<Packet> tail = stream(3, 2, 1006, 5000 + 25 * 80, 0x11223344, 10);
    p.push_back(a);
    p.push_back(b);
    p.insert(p.end(), tail.begin(), tail.end());
    std::vector<Frame> want = speech_frames(9);
    want.push_back({FrameKind::sid, sid});
    for (int i = 0; i < 9; ++i) want.push_back({FrameKind::pause, {}});
    want.push_back({FrameKind::sid, sid});
    for (int i = 0; i < 5; ++i) want.push_back({FrameKind::pause, {}});
    const std::vector<Frame> talk = speech_frames(6, 10);
    want.insert(want.end(), talk.begin(), talk.end());
    expect_timeline(p, want);

    // The SID update lost: the gap starts with concealment for one packet of the last
    // packet's length, then comfort noise.
    p.erase(p.begin() + 5);
    set_kind(want, 10, 2, FrameKind::lost);
    want[19] = {FrameKind::pause, {}};
    expect_timeline(p, want);
}

TEST_F(RtpTimelineTest, TimestampJumpIsAPauseOnlyWhenTheSenderUsesDtx) {
    // No SID ever: a jump with the marker bit is a DTX pause, without it a concealed gap.
    for (bool marker : {true, false}) {
        SCOPED_TRACE(marker);
        std::vector<Packet> p = stream(10);
        for (std::size_t i = 5; i < p.size(); ++i) p[i].header.ts += 7 * 80 + 40;  // 7.5 frames
        p[5].header.marker = marker;
        std::vector<Frame> want = speech_frames(10);
        for (int i = 0; i < 8; ++i) want.push_back({marker ? FrameKind::pause : FrameKind::lost, {}});
        const std::vector<Frame> rest = speech_frames(10, 10);
        want.insert(want.end(), rest.begin(), rest.end());
        // The half frame: the eighth filler frame is cut to 40 samples.
        auto streams = decode(p);
        ASSERT_EQ(streams.size(), 1u);
        const auto& [sink, stats] = streams.begin()->second;
        std::vector<int16_t> expected = decode_directly(want);
        expected.erase(expected.begin() + 17 * 80 + 40, expected.begin() + 18 * 80);
        EXPECT_EQ(sink.samples, expected);
        EXPECT_EQ(stats.samples, 27 * 80 + 40u);
        EXPECT_EQ(marker ? stats.pause_frames : stats.lost_frames, 8u);
    }
}

TEST_F(RtpTimelineTest, SenderRestartsItsNumberingUnderTheSameSsrc) {
    // Sequence numbers start again far below; the timestamps go on, or jump back by hours.
    for (uint32_t second_ts : {5000u + 20 * 80, 0x90000000u}) {
        SCOPED_TRACE(second_ts);
        std::vector<Packet> p = stream(10, 2, 30000, 5000);
        const std::vector<Packet> again = stream(10, 2, 100, second_ts, 0x11223344, 20);
        p.insert(p.end(), again.begin(), again.end());
        p.erase(p.begin() + 14);  // and one lost after the restart
        std::vector<Frame> want = speech_frames(40);
        set_kind(want, 28, 2, FrameKind::lost);
        expect_timeline(p, want, {.jumps = second_ts == 0x90000000u ? 1u : 0u});
    }
    // A lone stray packet far behind is dropped as late; the stream goes on.
    std::vector<Packet> p = stream(40);
    p.insert(p.begin() + 30, Packet{{.seq = 40000, .ts = 77}, coded().speech[0]});
    expect_timeline(p, speech_frames(80), {.late = 1});
}

TEST_F(RtpTimelineTest, OtherPayloadTypesHoldTheirSequenceNumbers) {
    // Telephone events share the SSRC and the sequence space: no loss where they sit.
    std::vector<Packet> p = stream(10);
    for (std::size_t i = 5; i < p.size(); ++i) p[i].header.seq = static_cast<uint16_t>(p[i].header.seq + 2);
    p.insert(p.begin() + 5, Packet{{.seq = 1005, .ts = 5000 + 800, .pt = 101}, {1, 0x80, 0, 160}});
    p.insert(p.begin() + 6, Packet{{.seq = 1006, .ts = 5000 + 800, .pt = 101}, {1, 0x80, 0, 160}});
    expect_timeline(p, speech_frames(20), {.other = 2});
}

TEST_F(RtpTimelineTest, LinkLayersAndPcapngGiveTheSameStream) {
    std::vector<Packet> p = stream(10);
    p.erase(p.begin() + 4);
    std::vector<Frame> want = speech_frames(20);
    set_kind(want, 8, 2, FrameKind::lost);
    const std::vector<int16_t> expected = decode_directly(want);
    struct Variant {
        const char* name;
        int link;
        std::function<Bytes(const Bytes&)> wrap;
        bool pcapng;
    };
    const std::vector<Variant> variants = {
        {"vlan", DLT_EN10MB, [](const Bytes& l4) { return ethernet(0x0800, ipv4(1, 2, l4), {0x8100}); }, false},
        {"ipv6", DLT_EN10MB, [](const Bytes& l4) { return ethernet(0x86DD, ipv6(1, 2, l4)); }, false},
        {"sll", DLT_LINUX_SLL, [](const Bytes& l4) { return sll(0x0800, ipv4(1, 2, l4)); }, false},
        {"sll2", 276, [](const Bytes& l4) { return sll2(0x86DD, ipv6(1, 2, l4, true)); }, false},
        {"raw", DLT_RAW, [](const Bytes& l4) { return ipv4(1, 2, l4); }, false},
        {"pcapng ethernet", DLT_EN10MB, [](const Bytes& l4) { return ethernet(0x0800, ipv4(1, 2, l4)); }, true},
        {"pcapng sll2 vlan-free", 276, [](const Bytes& l4) { return sll2(0x0800, ipv4(1, 2, l4)); }, true},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        auto streams = decode(p, v.link, v.wrap, v.pcapng);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams.begin()->second.first.samples, expected);
        EXPECT_EQ(streams.begin()->second.second.lost_frames, 2u);
    }
}

TEST_F(RtpTimelineTest, TwoStreamsInOneFileAreKeptApart) {
    const std::vector<Packet> a = stream(20, 2, 100, 0, 0xaaaa0001);
    std::vector<Packet> b = stream(15, 3, 40000, 123456, 0xbbbb0002, 50);
    b.erase(b.begin() + 7);
    std::vector<Packet> both;
    for (std::size_t i = 0; i < 20; ++i) {
        both.push_back(a[i]);
        if (i < b.size()) both.push_back(b[i]);
    }
    auto streams = decode(both);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0xaaaa0001].first.samples, decode_directly(speech_frames(40)));
    std::vector<Frame> want_b = speech_frames(45, 50);
    set_kind(want_b, 21, 3, FrameKind::lost);
    EXPECT_EQ(streams[0xbbbb0002].first.samples, decode_directly(want_b));
    EXPECT_EQ(streams[0xbbbb0002].second.packets, 14u);
}

TEST_F(RtpTimelineTest, ScanCountsFragmentsAndIgnoresLoneLookalikes) {
    std::vector<Bytes> wire;
    for (const Packet& k : stream(5)) {
        wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(1, 2, rtp(k.header, k.payload)))));
    }
    wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(1, 2, Bytes(40, 0)), 17, 0x2000)));
    wire.push_back(ethernet(0x0800, ipv4(1, 2, udp(53, 53, rtp({.ssrc = 7}, Bytes(10, 0))))));
    wire.push_back(Bytes(10, 0));
    const std::string file = path("mixed.pcap");
    write_pcap(file, DLT_EN10MB, wire);
    const g729rtp::CaptureScan scan = g729rtp::scan_capture(file);
    EXPECT_EQ(scan.packets, 8u);
    EXPECT_EQ(scan.fragments, 1u);
    EXPECT_EQ(scan.malformed, 1u);
    ASSERT_EQ(scan.streams.size(), 1u);  // the one-packet SSRC 7 is not a stream
    EXPECT_EQ(scan.streams[0].ssrc, 0x11223344u);
    EXPECT_EQ(scan.streams[0].packets, 5u);
    EXPECT_EQ(scan.streams[0].src.to_string(), "10.0.0.1:1");

    // A capture cut short is read up to the cut, and says so.
    std::vector<uint8_t> bytes(fs::file_size(file));
    {
        std::FILE* f = std::fopen(file.c_str(), "rb");
        ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    std::size_t cut = 24;
    for (int i = 0; i < 3; ++i) cut += 16 + wire[static_cast<std::size_t>(i)].size();
    bytes.resize(cut + 30);
    write_bytes(path("cut.pcap"), bytes);
    const g729rtp::CaptureScan short_scan = g729rtp::scan_capture(path("cut.pcap"));
    EXPECT_EQ(short_scan.packets, 3u);
    EXPECT_NE(short_scan.truncation.find("cut short"), std::string::npos) << short_scan.truncation;

    write_bytes(path("junk.pcap"), Bytes(100, 0x42));
    EXPECT_THROW(g729rtp::scan_capture(path("junk.pcap")), g729rtp::CaptureError);
    write_pcap(path("usb.pcap"), 189, {Bytes(40, 0)});
    EXPECT_THROW(g729rtp::scan_capture(path("usb.pcap")), g729rtp::CaptureError);
}

// Capture times in microseconds: every `step` apart, or following the RTP timestamps.
std::vector<int64_t> every(std::size_t n, int64_t step) {
    std::vector<int64_t> t;
    for (std::size_t i = 0; i < n; ++i) t.push_back(1700000000000000 + static_cast<int64_t>(i) * step);
    return t;
}
std::vector<int64_t> following(const std::vector<Packet>& p) {
    std::vector<int64_t> t;
    for (const Packet& k : p) t.push_back(1700000000000000 + int64_t{static_cast<int32_t>(k.header.ts - p[0].header.ts)} * 125);
    return t;
}

TEST_F(RtpTimelineTest, MadeUpAudioStaysWithinTheCaptureClockAndStuckClocksDecodeInOrder) {
    struct Case {
        const char* name;
        std::vector<Packet> packets;
        std::vector<int64_t> times;
        uint64_t speech, lost, pause, samples, unconfirmed, stuck;
    };
    std::vector<Case> cases;
    {
        // Amplification: each timestamp 599.98 s on, the packets 20 ms apart. What the capture
        // clock shows (0.78 s, plus one packet) is filled once; the rest is counted.
        std::vector<Packet> p = stream(40);
        for (std::size_t i = 0; i < p.size(); ++i) p[i].header.ts += static_cast<uint32_t>(i * 4799840u);
        cases.push_back({"ten-minute jumps", p, every(40, 20000), 80, 80, 0, 80 * 80 + 6400, 39, 0});
    }
    {
        // A 2 s pause after the marker, and a 10-packet loss, both shown by the capture clock.
        std::vector<Packet> p = stream(40);
        for (std::size_t i = 10; i < p.size(); ++i) p[i].header.ts += 16000;
        p[10].header.marker = true;
        p.erase(p.begin() + 25, p.begin() + 35);
        cases.push_back({"real pause and loss", p, following(p), 60, 20, 200, 80 * 80 + 16000, 0, 0});
    }
    {
        // Every packet at the same capture time: a 1 s jump gets one packet's worth.
        std::vector<Packet> p = stream(20);
        for (std::size_t i = 10; i < p.size(); ++i) p[i].header.ts += 8000;
        p[10].header.marker = true;
        cases.push_back({"bunched", p, every(20, 0), 40, 0, 2, 42 * 80, 1, 0});
    }
    {
        std::vector<Packet> p = stream(100);
        for (Packet& k : p) k.header.ts = 5000;
        cases.push_back({"stuck timestamps", p, every(100, 20000), 200, 0, 0, 200 * 80, 0, 99});
    }
    {
        std::vector<Packet> p = stream(100);
        for (std::size_t i = 0; i < p.size(); ++i) p[i].header.ts = 5000 - static_cast<uint32_t>(i * 160);
        cases.push_back({"backward timestamps", p, every(100, 20000), 200, 0, 0, 200 * 80, 0, 99});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [sink, stats] = decode_timed(c.packets, c.times);
        EXPECT_EQ(stats.speech_frames, c.speech);
        EXPECT_EQ(stats.lost_frames, c.lost);
        EXPECT_EQ(stats.pause_frames, c.pause);
        EXPECT_EQ(stats.samples, c.samples);
        EXPECT_EQ(sink.samples.size(), c.samples);
        EXPECT_EQ(stats.unconfirmed_jumps, c.unconfirmed);
        EXPECT_EQ(stats.stuck_timestamps, c.stuck);
        if (c.stuck != 0) {
            EXPECT_EQ(sink.samples, decode_directly(speech_frames(200)));
        }
    }
}

// Packets of one sender on the wire: SSRC and addresses 10.0.0.a:sport -> 10.0.0.b:dport.
std::vector<Bytes> wire_of(const std::vector<Packet>& packets, uint8_t a, uint8_t b, uint16_t sport = 4000,
                           uint16_t dport = 5000) {
    std::vector<Bytes> out;
    for (const Packet& p : packets) out.push_back(ethernet(0x0800, ipv4(a, b, udp(sport, dport, rtp(p.header, p.payload)))));
    return out;
}

TEST_F(RtpTimelineTest, StreamsAreKeyedBySsrcAndAddressesAndLookalikesMakeRoom) {
    // Two endpoint pairs that both use SSRC 0, interleaved: two streams, not one.
    const auto a = wire_of(stream(50, 2, 100, 0, 0), 1, 2);
    const auto b = wire_of(stream(50, 2, 9000, 3000000, 0, 30), 3, 4);
    std::vector<Bytes> both;
    for (std::size_t i = 0; i < a.size(); ++i) both.insert(both.end(), {a[i], b[i]});
    write_pcap(path("zero.pcap"), DLT_EN10MB, both);
    const g729rtp::CaptureScan zero = g729rtp::scan_capture(path("zero.pcap"));
    ASSERT_EQ(zero.streams.size(), 2u);
    std::vector<RecordingSink> sinks(2);
    const auto results = g729rtp::decode_streams(path("zero.pcap"), zero.streams,
                                                 [&](std::size_t i) -> g729rtp::FrameSink& { return sinks[i]; });
    EXPECT_EQ(sinks[0].samples, decode_directly(speech_frames(100)));
    EXPECT_EQ(sinks[1].samples, decode_directly(speech_frames(100, 30)));
    EXPECT_EQ(results[1].info.src.to_string(), "10.0.0.3:4000");

    // A table of 100: 300 one-packet lookalikes, 50 streams of non-G.729 lengths, then the call.
    std::vector<Bytes> junk;
    for (uint32_t i = 0; i < 300; ++i) {
        junk.push_back(wire_of({Packet{{.seq = 1, .ts = 1, .ssrc = 0x10000 + i}, coded().speech[0]}}, 5, 6)[0]);
    }
    for (uint32_t i = 0; i < 50; ++i) {
        for (uint16_t k = 0; k < 3; ++k) {
            junk.push_back(wire_of({Packet{{.seq = k, .ts = k * 160u, .ssrc = 0x20000 + i}, Bytes(7, 1)}}, 5, 6)[0]);
        }
    }
    const auto call = wire_of(stream(50, 2, 100, 0, 0xca11), 1, 2);
    junk.insert(junk.end(), call.begin(), call.end());
    write_pcap(path("junk.pcap"), DLT_EN10MB, junk);
    for (bool by_ssrc : {false, true}) {
        SCOPED_TRACE(by_ssrc);
        g729rtp::ScanOptions o;
        o.max_streams = 100;
        if (by_ssrc) o.ssrc = 0xca11;
        const g729rtp::CaptureScan scan = g729rtp::scan_capture(path("junk.pcap"), o);
        ASSERT_EQ(scan.streams.size(), 1u);
        EXPECT_EQ(scan.streams[0].ssrc, 0xca11u);
        EXPECT_EQ(scan.streams[0].packets, 50u);
        EXPECT_EQ(scan.ignored_streams, by_ssrc ? 0u : 350u);
        EXPECT_EQ(scan.untracked_packets, 0u);
    }

    // A table full of real streams refuses the next ones, and counts their packets.
    std::vector<Bytes> many;
    for (uint32_t i = 0; i < 150; ++i) {
        const auto s = wire_of(stream(2, 2, 1, 0, 0x30000 + i), 7, 8);
        many.insert(many.end(), s.begin(), s.end());
    }
    write_pcap(path("many.pcap"), DLT_EN10MB, many);
    g729rtp::ScanOptions o;
    o.max_streams = 100;
    const g729rtp::CaptureScan full = g729rtp::scan_capture(path("many.pcap"), o);
    EXPECT_EQ(full.streams.size(), 100u);
    EXPECT_EQ(full.untracked_packets, 100u);
}

}  // namespace
