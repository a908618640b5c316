// SPDX-License-Identifier: BSD-2-Clause
// g729tolin buffering: payloads split into 10-byte speech frames and a trailing 2-byte SID
// unit, decoded into the output buffer until the host's default frame-out takes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "module_test_support.h"

namespace {

using orvane_test::decode_direct;
using orvane_test::encode_direct;
using orvane_test::expect_single_error;
using orvane_test::g729_frame;
using orvane_test::Instance;
using orvane_test::speech;

class DecoderFrames : public orvane_test::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        // 101 speech frames of real speech, then two bytes to serve as a SID unit.
        static const std::vector<uint8_t> coded =
            encode_direct({speech().data() + 8000, 101 * 80});
        stream_ = coded;
        stream_.push_back(0x5a);
        stream_.push_back(0x3c);
    }

    // The payload made of the first `speech_frames` frames, then `tail` bytes taken from the
    // SID unit and what follows.
    std::vector<uint8_t> payload(int speech_frames, int tail = 0) const {
        std::vector<uint8_t> p(stream_.begin(), stream_.begin() + 10 * speech_frames);
        const std::size_t sid_at = stream_.size() - 2;
        for (int i = 0; i < tail; ++i) p.push_back(stream_[(sid_at + static_cast<std::size_t>(i)) % stream_.size()]);
        return p;
    }

    static std::vector<int16_t> output_of(const Instance& dec) {
        return std::vector<int16_t>(dec->outbuf.i16, dec->outbuf.i16 + dec->samples);
    }

    static std::vector<int16_t> samples_of(const pel_frame* f) {
        const auto* s = static_cast<const int16_t*>(f->data);
        return std::vector<int16_t>(s, s + f->samples);
    }

    std::vector<uint8_t> stream_;
};

TEST_F(DecoderFrames, TwentyBytesGive160Samples) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(2);
    pel_frame in = g729_frame(p.data(), 20);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), 0);
    EXPECT_EQ(dec->samples, 160);
    EXPECT_EQ(dec->datalen, 320);

    // The host's default frame-out emits them and resets both counters.
    pel_frame* out = pelhost::frameout(dec.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->frametype, 2);
    EXPECT_EQ(out->format, pel_format_slin);
    EXPECT_EQ(out->samples, 160);
    EXPECT_EQ(out->datalen, 320);
    EXPECT_STREQ(out->src, "g729tolin");
    const int units[] = {10, 10};
    EXPECT_EQ(samples_of(out), decode_direct(p, units));
    EXPECT_EQ(dec->samples, 0);
    EXPECT_EQ(dec->datalen, 0);
    EXPECT_EQ(pelhost::frameout(dec.get()), nullptr);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DecoderFrames, SpeechFrameWithSidUnitGives160Samples) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(1, 2);
    pel_frame in = g729_frame(p.data(), 12);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), 0);
    EXPECT_EQ(dec->samples, 160);
    EXPECT_EQ(dec->datalen, 320);
    const int units[] = {10, 2};
    EXPECT_EQ(output_of(dec), decode_direct(p, units));
}

TEST_F(DecoderFrames, SidUnitAloneGives80Samples) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(0, 2);
    pel_frame in = g729_frame(p.data(), 2);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), 0);
    EXPECT_EQ(dec->samples, 80);
    EXPECT_EQ(dec->datalen, 160);
    const int units[] = {2};
    EXPECT_EQ(output_of(dec), decode_direct(p, units));
}

TEST_F(DecoderFrames, EmptyPayloadGivesNothing) {
    Instance dec(decoder());
    pel_frame in = g729_frame(stream_.data(), 0);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), 0);
    EXPECT_EQ(dec->samples, 0);
    EXPECT_EQ(dec->datalen, 0);
    EXPECT_EQ(pelhost::frameout(dec.get()), nullptr);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DecoderFrames, ElevenBytesDecodeOneFrameThenRefuseTheTail) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(1, 1);
    pel_frame in = g729_frame(p.data(), 11);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), -1);
    expect_single_error(log_, "g729tolin_framein", "Invalid data (1 bytes at the end)\n");
    EXPECT_EQ(dec->samples, 80);
    EXPECT_EQ(dec->datalen, 160);
    const int units[] = {10};
    EXPECT_EQ(output_of(dec), decode_direct(p, units));
}

TEST_F(DecoderFrames, FourBytesAreRefusedAtOnce) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(0, 4);
    pel_frame in = g729_frame(p.data(), 4);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), -1);
    expect_single_error(log_, "g729tolin_framein", "Invalid data (4 bytes at the end)\n");
    EXPECT_EQ(dec->samples, 0);
    EXPECT_EQ(dec->datalen, 0);
}

TEST_F(DecoderFrames, EveryTailOtherThanTwoBytesIsRefusedAfterTheFramesBeforeIt) {
    for (int tail : {1, 3, 4, 5, 6, 7, 8, 9}) {
        SCOPED_TRACE(tail);
        Instance dec(decoder());
        log_.clear();
        const std::vector<uint8_t> p = payload(2, tail);
        pel_frame in = g729_frame(p.data(), static_cast<int>(p.size()));
        EXPECT_EQ(pelhost::framein(dec.get(), &in), -1);
        expect_single_error(log_, "g729tolin_framein",
                            "Invalid data (" + std::to_string(tail) + " bytes at the end)\n");
        EXPECT_EQ(dec->samples, 160);
        EXPECT_EQ(dec->datalen, 320);
    }
    // Speech frames followed by one SID unit are all decoded.
    Instance dec(decoder());
    std::vector<uint8_t> p = payload(3, 2);
    pel_frame in = g729_frame(p.data(), 32);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), 0);
    EXPECT_EQ(dec->samples, 320);
}

TEST_F(DecoderFrames, TakesOneMoreFrameAt7920SamplesAndNoneAt8000) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(101);
    pel_frame first = g729_frame(p.data(), 990);
    EXPECT_EQ(pelhost::framein(dec.get(), &first), 0);
    EXPECT_EQ(dec->samples, 7920);
    EXPECT_EQ(dec->datalen, 15840);

    pel_frame hundredth = g729_frame(p.data() + 990, 10);
    EXPECT_EQ(pelhost::framein(dec.get(), &hundredth), 0);
    EXPECT_EQ(dec->samples, 8000);
    EXPECT_EQ(dec->datalen, 16000);
    EXPECT_TRUE(log_.lines().empty());

    pel_frame extra = g729_frame(p.data() + 1000, 10);
    EXPECT_EQ(pelhost::framein(dec.get(), &extra), -1);
    expect_single_error(log_, "g729tolin_framein", "Out of buffer space\n");
    EXPECT_EQ(dec->samples, 8000);
    EXPECT_EQ(dec->datalen, 16000);

    // A bad tail is reported before the full buffer.
    log_.clear();
    pel_frame tail = g729_frame(p.data(), 3);
    EXPECT_EQ(pelhost::framein(dec.get(), &tail), -1);
    expect_single_error(log_, "g729tolin_framein", "Invalid data (3 bytes at the end)\n");

    pel_frame* out = pelhost::frameout(dec.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->samples, 8000);
    EXPECT_EQ(out->datalen, 16000);
    const std::vector<int> units(100, 10);
    EXPECT_EQ(samples_of(out), decode_direct({p.data(), 1000}, units));
}

TEST_F(DecoderFrames, FullBufferDropsTheRestOfAPayloadButKeepsWhatWasDecoded) {
    Instance dec(decoder());
    const std::vector<uint8_t> p = payload(101);
    pel_frame first = g729_frame(p.data(), 990);
    EXPECT_EQ(pelhost::framein(dec.get(), &first), 0);
    pel_frame rest = g729_frame(p.data() + 990, 20);
    EXPECT_EQ(pelhost::framein(dec.get(), &rest), -1);
    expect_single_error(log_, "g729tolin_framein", "Out of buffer space\n");
    EXPECT_EQ(dec->samples, 8000);
    EXPECT_EQ(dec->datalen, 16000);
    const std::vector<int> units(100, 10);
    EXPECT_EQ(output_of(dec), decode_direct({p.data(), 1000}, units));
}

// ---- Payloads that do not hold what they claim ----

TEST_F(DecoderFrames, NegativeLengthIsRefused) {
    Instance dec(decoder());
    pel_frame in = g729_frame(stream_.data(), -4);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), -1);
    expect_single_error(log_, "g729tolin_framein", "Invalid data length (-4)\n");
    EXPECT_EQ(dec->samples, 0);
    EXPECT_EQ(dec->datalen, 0);
}

TEST_F(DecoderFrames, MissingDataIsRefused) {
    Instance dec(decoder());
    pel_frame in = g729_frame(nullptr, 10);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), -1);
    expect_single_error(log_, "g729tolin_framein", "Missing frame data (10 bytes)\n");
    EXPECT_EQ(dec->samples, 0);
    EXPECT_EQ(dec->datalen, 0);
}

TEST_F(DecoderFrames, NegativeSampleCounterIsNotTrusted) {
    Instance dec(decoder());
    std::fill(dec->outbuf.i16, dec->outbuf.i16 + 8000, int16_t{7});
    dec->samples = -80;
    const std::vector<uint8_t> p = payload(1);
    pel_frame in = g729_frame(p.data(), 10);
    EXPECT_EQ(pelhost::framein(dec.get(), &in), -1);
    expect_single_error(log_, "g729tolin_framein", "Invalid sample counter (-80)\n");
    EXPECT_EQ(dec->samples, -80);
    EXPECT_EQ(dec->datalen, 0);
    EXPECT_TRUE(std::all_of(dec->outbuf.i16, dec->outbuf.i16 + 8000, [](int16_t s) { return s == 7; }));
}

}  // namespace
