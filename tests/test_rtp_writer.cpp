// SPDX-License-Identifier: BSD-2-Clause
// The capture writer: packets as a sender puts them on the wire, read back through libpcap
// and the packet parser, and a round trip through the stream decoder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/audio_test_files.h"
#include "tests/rtp_fixture.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/capture_reader.h"
#include "lib/rtp/capture_writer.h"
#include "lib/rtp/packet_parse.h"

using namespace rtp_fixture;
namespace fs = std::filesystem;

namespace {

// Encoder output for talk spurts and near-silence, so that DTX sends SIDs and pauses.
std::vector<Bytes> encoder_output(bool dtx, int frames) {
    g729_encoder_state enc;
    g729_encoder_init(&enc, dtx ? 1 : 0);
    std::vector<Bytes> out;
    for (int f = 0; f < frames; ++f) {
        int16_t pcm[80];
        const bool talking = (f / 60) % 2 == 0;
        for (int i = 0; i < 80; ++i) {
            const double t = (f * 80 + i) / 8000.0;
            pcm[i] = static_cast<int16_t>(std::lround(
                (talking ? 3500 * std::sin(2 * std::numbers::pi * (300 + 200 * std::sin(t)) * t) : 0) +
                ((f * 80 + i) * 7919 % 9) - 4));
        }
        uint8_t b[10];
        int32_t n = 0;
        g729_encode_frame(&enc, pcm, b, &n);
        out.emplace_back(b, b + n);
    }
    return out;
}

uint16_t ones_complement(const uint8_t* p, std::size_t n, uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>((p[i] << 8) | p[i + 1]);
    if (n % 2) sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

struct WrittenPacket {
    g729rtp::RtpHeader rtp;
    Bytes payload;
    int64_t time_us;
};

class RtpWriterTest : public test_audio::TempDirTest {
protected:

    std::string write(const std::vector<Bytes>& frames, const g729rtp::WriterOptions& o) {
        const std::string path = (dir_ / "w.pcap").string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        {
            g729rtp::CaptureWriter w(f, o);
            for (const Bytes& b : frames) w.add_frame(b.data(), static_cast<int>(b.size()));
            w.finish();
        }
        EXPECT_EQ(std::fclose(f), 0);
        return path;
    }

    // Reads every packet back, checking the IP and UDP checksums on the way.
    std::vector<WrittenPacket> read_back(const std::string& path, const g729rtp::WriterOptions& o) {
        g729rtp::CaptureReader r(path);
        EXPECT_EQ(r.link_type(), 1);
        std::vector<WrittenPacket> out;
        g729rtp::CapturedPacket c;
        while (r.next(c)) {
            g729rtp::UdpDatagram udp;
            EXPECT_EQ(g729rtp::parse_packet(r.link_type(), c.bytes, udp), g729rtp::PacketKind::udp);
            EXPECT_EQ(udp.src, o.src);
            EXPECT_EQ(udp.dst, o.dst);
            const uint8_t* ip = c.bytes.data() + 14;
            EXPECT_EQ(ones_complement(ip, 20), 0xffff) << "IPv4 header checksum";
            const std::size_t udp_len = c.bytes.size() - 34;
            const uint32_t pseudo = ones_complement(ip + 12, 8) + 17u + static_cast<uint32_t>(udp_len);
            EXPECT_EQ(ones_complement(ip + 20, udp_len, pseudo), 0xffff) << "UDP checksum";
            WrittenPacket w;
            EXPECT_TRUE(g729rtp::parse_rtp(udp.payload, w.rtp));
            w.payload.assign(w.rtp.payload.begin(), w.rtp.payload.end());
            w.time_us = c.seconds * 1000000 + c.microseconds;
            out.push_back(w);
        }
        EXPECT_TRUE(r.truncation().empty());
        return out;
    }

};

g729rtp::WriterOptions fixed_options(int ptime) {
    g729rtp::WriterOptions o = g729rtp::default_writer_options();
    o.ptime_ms = ptime;
    o.ssrc = 0xfeedf00d;
    o.first_sequence = 65500;
    o.first_timestamp = 0xffffe000u;
    o.start_seconds = 1700000000;
    o.start_microseconds = 999990;
    return o;
}

TEST_F(RtpWriterTest, PacketsFollowTheAudioForEveryPacketTime) {
    const std::vector<Bytes> frames = encoder_output(false, 203);
    for (int ptime : {10, 20, 30, 60, 200}) {
        SCOPED_TRACE(ptime);
        const g729rtp::WriterOptions o = fixed_options(ptime);
        const auto packets = read_back(write(frames, o), o);
        const int per = ptime / 10;
        ASSERT_EQ(packets.size(), static_cast<std::size_t>((203 + per - 1) / per));
        for (std::size_t i = 0; i < packets.size(); ++i) {
            const WrittenPacket& p = packets[i];
            EXPECT_EQ(p.rtp.payload_type, 18);
            EXPECT_EQ(p.rtp.ssrc, 0xfeedf00du);
            EXPECT_EQ(p.rtp.marker, i == 0);
            EXPECT_EQ(p.rtp.sequence, static_cast<uint16_t>(65500 + i));
            EXPECT_EQ(p.rtp.timestamp, static_cast<uint32_t>(0xffffe000u + i * per * 80));
            const std::size_t n = std::min<std::size_t>(per, 203 - i * per);
            Bytes want;
            for (std::size_t f = 0; f < n; ++f) want = cat(want, frames[i * per + f]);
            EXPECT_EQ(p.payload, want);
            // Captured when the packet's last frame is complete.
            EXPECT_EQ(p.time_us, 1700000000ll * 1000000 + 999990 + static_cast<int64_t>((i * per + n) * 10000));
        }
    }
}

TEST_F(RtpWriterTest, DtxSidEndsAPacketPausesSendNothingAndTalkSpurtsCarryTheMarker) {
    const std::vector<Bytes> frames = encoder_output(true, 400);
    std::size_t sids = 0, pauses = 0;
    for (const Bytes& b : frames) {
        sids += b.size() == 2;
        pauses += b.empty();
    }
    ASSERT_GT(sids, 2u);
    ASSERT_GT(pauses, 20u);

    const g729rtp::WriterOptions o = fixed_options(30);
    const auto packets = read_back(write(frames, o), o);
    // Replay the packetizer's rules over the encoder output and compare packet by packet.
    std::size_t k = 0;
    bool marker = true;
    for (std::size_t f = 0; f < frames.size();) {
        if (frames[f].empty()) {
            marker = true;
            ++f;
            continue;
        }
        ASSERT_LT(k, packets.size());
        const WrittenPacket& p = packets[k++];
        EXPECT_EQ(p.rtp.timestamp, static_cast<uint32_t>(0xffffe000u + f * 80)) << "frame " << f;
        EXPECT_EQ(p.rtp.marker, marker) << "frame " << f;
        Bytes want;
        for (int n = 0; n < 3 && f < frames.size() && !frames[f].empty(); ++n) {
            want = cat(want, frames[f]);
            if (frames[f++].size() == 2) break;
        }
        EXPECT_EQ(p.payload, want) << "frame " << f;
        marker = false;
    }
    EXPECT_EQ(k, packets.size());
}

TEST_F(RtpWriterTest, CapturesDecodeBackToTheEncodedFrames) {
    for (bool dtx : {false, true}) {
        SCOPED_TRACE(dtx);
        const std::vector<Bytes> frames = encoder_output(dtx, 300);
        const g729rtp::WriterOptions o = fixed_options(20);
        const std::string path = write(frames, o);
        const g729rtp::CaptureScan scan = g729rtp::scan_capture(path);
        ASSERT_EQ(scan.streams.size(), 1u);
        RecordingSink sink;
        const auto results = g729rtp::decode_capture(
            path, scan.streams, [&](uint32_t) -> g729rtp::FrameSink& { return sink; });

        auto dec = std::make_unique<g729_decoder_state>();
        g729_decoder_init(dec.get());
        std::vector<int16_t> want;
        // The stream ends with its last transmitted frame.
        std::size_t last = frames.size();
        while (last > 0 && frames[last - 1].empty()) --last;
        for (std::size_t f = 0; f < last; ++f) {
            int16_t pcm[80];
            if (frames[f].empty()) {
                g729_decode_untransmitted_frame(dec.get(), pcm);
            } else {
                g729_decode_frame(dec.get(), pcm, frames[f].data(), static_cast<int>(frames[f].size()));
            }
            want.insert(want.end(), pcm, pcm + 80);
        }
        EXPECT_EQ(sink.samples, want);
        EXPECT_EQ(results[0].stats.lost_frames, 0u);
        EXPECT_EQ(results[0].stats.duplicates + results[0].stats.reordered + results[0].stats.damaged, 0u);
    }
}

TEST_F(RtpWriterTest, RefusesPacketTimesAndAddressesItCannotWrite) {
    for (int ptime : {0, 5, 15, 210, -10}) {
        EXPECT_FALSE(g729rtp::valid_ptime(ptime)) << ptime;
        g729rtp::WriterOptions o = fixed_options(20);
        o.ptime_ms = ptime;
        EXPECT_THROW(g729rtp::CaptureWriter(stdout, o), g729rtp::CaptureError) << ptime;
    }
    g729rtp::WriterOptions o = fixed_options(20);
    ASSERT_TRUE(g729rtp::parse_endpoint("[::1]:5004", o.dst));
    EXPECT_THROW(g729rtp::CaptureWriter(stdout, o), g729rtp::CaptureError);
    // Random choices differ between streams.
    EXPECT_NE(g729rtp::default_writer_options().ssrc, g729rtp::default_writer_options().ssrc);
}

}  // namespace
