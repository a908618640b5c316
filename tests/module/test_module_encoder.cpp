// SPDX-License-Identifier: BSD-2-Clause
// lintog729 buffering: frame-in collects samples, frame-out codes every whole 80-sample block.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "module/codec_orvane.h"
#include "module_test_support.h"

namespace {

using orvane_test::encode_direct;
using orvane_test::expect_single_error;
using orvane_test::Instance;
using orvane_test::slin_frame;
using orvane_test::speech;

class EncoderFrames : public orvane_test::ModuleTest {
protected:
    static const int16_t* pending(const Instance& enc) {
        return static_cast<const lintog729_pvt*>(enc->pvt)->pcm_buffer;
    }

    static std::vector<uint8_t> bytes_of(const pel_frame* f) {
        const auto* b = static_cast<const uint8_t*>(f->data);
        return std::vector<uint8_t>(b, b + f->datalen);
    }

    // Speech from a voiced part of the recording.
    static const int16_t* voice() { return speech().data() + 8000; }
};

TEST_F(EncoderFrames, HoldsEightThousandSamplesAndRefusesOneMoreWhole) {
    ASSERT_GE(speech().size(), 16001u);
    Instance enc(encoder());
    pel_frame full = slin_frame(voice(), 8000);
    EXPECT_EQ(pelhost::framein(enc.get(), &full), 0);
    EXPECT_EQ(enc->samples, 8000);
    EXPECT_EQ(enc->datalen, 0);
    EXPECT_TRUE(std::equal(pending(enc), pending(enc) + 8000, voice()));
    EXPECT_TRUE(log_.lines().empty());

    pel_frame one = slin_frame(voice() + 8000, 1);
    EXPECT_EQ(pelhost::framein(enc.get(), &one), -1);
    expect_single_error(log_, "lintog729_framein", "Out of buffer space\n");
    EXPECT_EQ(enc->samples, 8000);
    EXPECT_TRUE(std::equal(pending(enc), pending(enc) + 8000, voice()));

    // One frame-out codes all 100 blocks into one outgoing frame.
    pel_frame* out = pelhost::frameout(enc.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 1000);
    EXPECT_EQ(out->samples, 8000);
    EXPECT_EQ(bytes_of(out), encode_direct({voice(), 8000}));
    EXPECT_EQ(enc->samples, 0);
    EXPECT_EQ(pelhost::frameout(enc.get()), nullptr);
}

TEST_F(EncoderFrames, SevenThousandNineHundredNinetyNinePlusOneIsAccepted) {
    Instance enc(encoder());
    pel_frame most = slin_frame(voice(), 7999);
    pel_frame one = slin_frame(voice() + 7999, 1);
    EXPECT_EQ(pelhost::framein(enc.get(), &most), 0);
    EXPECT_EQ(pelhost::framein(enc.get(), &one), 0);
    EXPECT_EQ(enc->samples, 8000);
    EXPECT_TRUE(std::equal(pending(enc), pending(enc) + 8000, voice()));
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(EncoderFrames, FrameOf240SamplesGivesOneFrameOf30Bytes) {
    Instance enc(encoder());
    pel_frame in = slin_frame(voice(), 240);
    EXPECT_EQ(pelhost::framein(enc.get(), &in), 0);
    pel_frame* out = pelhost::frameout(enc.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->frametype, 2);
    EXPECT_EQ(out->format, pel_format_g729);
    EXPECT_EQ(out->datalen, 30);
    EXPECT_EQ(out->samples, 240);
    EXPECT_STREQ(out->src, "lintog729");
    EXPECT_EQ(out->data, static_cast<const void*>(enc->outbuf.uc));
    EXPECT_EQ(out->mallocd, 0);
    EXPECT_EQ(bytes_of(out), encode_direct({voice(), 240}));
    EXPECT_EQ(enc->samples, 0);
    EXPECT_EQ(pelhost::frameout(enc.get()), nullptr);
}

TEST_F(EncoderFrames, FrameOf100SamplesCodesOneBlockAndKeeps20) {
    Instance enc(encoder());
    pel_frame in = slin_frame(voice(), 100);
    EXPECT_EQ(pelhost::framein(enc.get(), &in), 0);
    pel_frame* out = pelhost::frameout(enc.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 10);
    EXPECT_EQ(out->samples, 80);
    std::vector<uint8_t> coded = bytes_of(out);
    EXPECT_EQ(enc->samples, 20);
    EXPECT_TRUE(std::equal(pending(enc), pending(enc) + 20, voice() + 80));

    // The kept samples open the next block.
    pel_frame rest = slin_frame(voice() + 100, 60);
    EXPECT_EQ(pelhost::framein(enc.get(), &rest), 0);
    out = pelhost::frameout(enc.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 10);
    EXPECT_EQ(enc->samples, 0);
    const std::vector<uint8_t> second = bytes_of(out);
    coded.insert(coded.end(), second.begin(), second.end());
    EXPECT_EQ(coded, encode_direct({voice(), 160}));
}

TEST_F(EncoderFrames, FrameOf50SamplesGivesNothingYet) {
    Instance enc(encoder());
    pel_frame in = slin_frame(voice(), 50);
    EXPECT_EQ(pelhost::framein(enc.get(), &in), 0);
    EXPECT_EQ(pelhost::frameout(enc.get()), nullptr);
    EXPECT_EQ(enc->samples, 50);
    EXPECT_TRUE(std::equal(pending(enc), pending(enc) + 50, voice()));
}

TEST_F(EncoderFrames, AnyFrameSizesCodeTheSameStreamAsTheCodecItself) {
    Instance enc(encoder());
    const int sizes[] = {100, 37, 160, 240, 13, 80, 1, 79, 320, 45};
    std::vector<uint8_t> coded;
    int fed = 0;
    for (int round = 0; round < 12; ++round) {
        for (int n : sizes) {
            pel_frame in = slin_frame(voice() + fed, n);
            ASSERT_EQ(pelhost::framein(enc.get(), &in), 0);
            fed += n;
            if (pel_frame* out = pelhost::frameout(enc.get())) {
                EXPECT_EQ(out->datalen * 8, out->samples);
                const std::vector<uint8_t> b = bytes_of(out);
                coded.insert(coded.end(), b.begin(), b.end());
            }
            EXPECT_EQ(enc->samples, fed % 80);
        }
    }
    EXPECT_EQ(coded, encode_direct({voice(), static_cast<std::size_t>(fed / 80 * 80)}));
}

// ---- Frames that do not hold what they claim ----

// Pending samples before each refusal, and a marker behind them that must survive.
class EncoderRefusals : public EncoderFrames {
protected:
    void SetUp() override {
        EncoderFrames::SetUp();
        enc_ = std::make_unique<Instance>(encoder());
        pel_frame first = slin_frame(voice(), 30);
        ASSERT_EQ(pelhost::framein(enc_->get(), &first), 0);
        log_.clear();
    }

    // The instance goes before the module does.
    void TearDown() override {
        enc_.reset();
        EncoderFrames::TearDown();
    }

    void expect_unchanged() const {
        EXPECT_EQ((*enc_)->samples, 30);
        EXPECT_TRUE(std::equal(pending(*enc_), pending(*enc_) + 30, voice()));
        // Nothing copied behind the pending samples (the storage starts zeroed).
        const int16_t* after = pending(*enc_) + 30;
        EXPECT_TRUE(std::all_of(after, after + 400, [](int16_t s) { return s == 0; }));
    }

    std::unique_ptr<Instance> enc_;
};

TEST_F(EncoderRefusals, DataShorterThanTheSampleCountIsRefused) {
    pel_frame in = slin_frame(voice() + 30, 100);
    in.datalen = 150;
    EXPECT_EQ(pelhost::framein(enc_->get(), &in), -1);
    expect_single_error(log_, "lintog729_framein", "Frame data too short (150 bytes for 100 samples)\n");
    expect_unchanged();

    log_.clear();
    in.datalen = 199;  // one byte short
    EXPECT_EQ(pelhost::framein(enc_->get(), &in), -1);
    expect_single_error(log_, "lintog729_framein", "Frame data too short (199 bytes for 100 samples)\n");
    expect_unchanged();

    log_.clear();
    in.datalen = 202;  // longer data is fine; the sample count rules
    EXPECT_EQ(pelhost::framein(enc_->get(), &in), 0);
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_EQ((*enc_)->samples, 130);
}

TEST_F(EncoderRefusals, NegativeSampleCountIsRefused) {
    pel_frame in = slin_frame(voice(), 0);
    in.samples = -5;
    EXPECT_EQ(pelhost::framein(enc_->get(), &in), -1);
    expect_single_error(log_, "lintog729_framein", "Invalid sample count (-5)\n");
    expect_unchanged();
}

TEST_F(EncoderRefusals, MissingDataIsRefused) {
    pel_frame in = slin_frame(nullptr, 10);
    EXPECT_EQ(pelhost::framein(enc_->get(), &in), -1);
    expect_single_error(log_, "lintog729_framein", "Missing frame data (10 samples)\n");
    expect_unchanged();

    // An empty frame needs no data.
    log_.clear();
    pel_frame empty = slin_frame(nullptr, 0);
    EXPECT_EQ(pelhost::framein(enc_->get(), &empty), 0);
    EXPECT_TRUE(log_.lines().empty());
    expect_unchanged();
}

TEST_F(EncoderRefusals, HugeSampleCountIsOutOfBufferSpace) {
    pel_frame in = slin_frame(voice(), 0);
    in.samples = INT_MAX;
    in.datalen = INT_MAX;
    EXPECT_EQ(pelhost::framein(enc_->get(), &in), -1);
    expect_single_error(log_, "lintog729_framein", "Out of buffer space\n");
    expect_unchanged();
}

TEST_F(EncoderRefusals, CorruptSampleCounterIsNotTrusted) {
    pel_trans_pvt* pvt = enc_->get();
    pel_frame in = slin_frame(voice(), 10);

    pvt->samples = -1;
    EXPECT_EQ(pelhost::framein(pvt, &in), -1);
    expect_single_error(log_, "lintog729_framein", "Invalid sample counter (-1)\n");
    EXPECT_EQ(pvt->samples, -1);
    EXPECT_EQ(pelhost::frameout(pvt), nullptr);

    // More than the buffer holds: frame-out codes nothing rather than read past the buffer.
    log_.clear();
    pvt->samples = 8001;
    EXPECT_EQ(pelhost::frameout(pvt), nullptr);
    expect_single_error(log_, "lintog729_frameout", "Invalid sample counter (8001)\n");
    EXPECT_EQ(pvt->samples, 8001);
    log_.clear();
    EXPECT_EQ(pelhost::framein(pvt, &in), -1);
    expect_single_error(log_, "lintog729_framein", "Out of buffer space\n");
    EXPECT_EQ(pvt->samples, 8001);

    pvt->samples = 30;
    expect_unchanged();
}

}  // namespace
