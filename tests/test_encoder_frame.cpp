// SPDX-License-Identifier: BSD-2-Clause
// Encoder driver pieces: pre-processing filter, taming, frame counter and whole-frame behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "codec/common/taming.h"
#include "codec/decoder/postfilter.h"
#include "codec/encoder/encoder_frame.h"
#include "codec/g729.h"

using namespace g729;

TEST(Preprocess, ZerosStayZero) {
    double mem[4] = {0, 0, 0, 0};
    double block[80] = {};
    preprocess_highpass(mem, block, 80);
    for (double v : block) EXPECT_EQ(v, 0.0);
    for (double v : mem) EXPECT_EQ(v, 0.0);
}

TEST(Preprocess, AttenuatesDcAndFlushesDecayingOutputs) {
    double mem[4] = {0, 0, 0, 0};
    double block[80];
    for (int f = 0; f < 200; ++f) {
        for (double& v : block) v = 1000.0;
        preprocess_highpass(mem, block, 80);
    }
    // The rounded coefficients leave a DC gain of about -40 dB.
    EXPECT_LT(std::fabs(block[79]), 11.0);
    EXPECT_EQ(mem[0], 1000.0);  // stored inputs are never flushed

    // After an impulse, the ringing decays to exact zeros once below the flush threshold.
    double mem2[4] = {0, 0, 0, 0};
    for (int f = 0; f < 100; ++f) {
        for (double& v : block) v = 0.0;
        if (f == 0) block[0] = 1000.0;
        preprocess_highpass(mem2, block, 80);
    }
    for (double v : block) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(mem2[2], 0.0);
    EXPECT_EQ(mem2[3], 0.0);
}

// Both high-pass filters measured as filters, not as coefficients: the gain of a steady tone
// (RMS out / RMS in over the last half second of 1.5 s) keeps speech within 0.3 dB from each
// filter's cut-off up (140 Hz before the encoder, 100 Hz after the decoder) and takes hum an
// octave below it down by at least 5 dB.
TEST(HighpassFilters, PassSpeechAndRemoveHum) {
    using Filter = void (*)(double*, double*, int);
    struct Case {
        const char* name;
        Filter filter;
        double hz;
        double min_db;
        double max_db;
    };
    const Case cases[] = {
        {"pre-processing", preprocess_highpass, 70, -100, -5},
        {"pre-processing", preprocess_highpass, 140, -0.3, 0.3},
        {"pre-processing", preprocess_highpass, 1000, -0.3, 0.3},
        {"pre-processing", preprocess_highpass, 3900, -0.3, 0.3},
        {"post-processing", post_highpass_filter, 50, -100, -5},
        {"post-processing", post_highpass_filter, 100, -0.3, 0.3},
        {"post-processing", post_highpass_filter, 1000, -0.3, 0.3},
        {"post-processing", post_highpass_filter, 3900, -0.3, 0.3},
    };
    for (const Case& c : cases) {
        double mem[4] = {};
        double in_sum = 0;
        double out_sum = 0;
        for (int f = 0; f < 150; ++f) {
            double block[80];
            double in[80];
            for (int n = 0; n < 80; ++n) {
                in[n] = block[n] = 8000.0 * std::sin(2 * std::numbers::pi * c.hz * (f * 80 + n) / 8000.0);
            }
            c.filter(mem, block, 80);
            if (f < 100) continue;
            for (int n = 0; n < 80; ++n) {
                in_sum += in[n] * in[n];
                out_sum += block[n] * block[n];
            }
        }
        const double db = 10 * std::log10(out_sum / in_sum);
        EXPECT_GE(db, c.min_db) << c.name << " at " << c.hz << " Hz";
        EXPECT_LE(db, c.max_db) << c.name << " at " << c.hz << " Hz";
    }
}

TEST(Taming, CheckZones) {
    double err[4] = {1.0, 1.0, 1.0, 1.0};
    EXPECT_EQ(taming_check(err, 143, 1), 0);
    // T0 = 143, frac = +1 inspects zones 2 and 3 only.
    double high3[4] = {1.0, 1.0, 1.0, 70000.0};
    EXPECT_EQ(taming_check(high3, 143, 1), 1);
    double high1[4] = {1.0, 70000.0, 1.0, 1.0};
    EXPECT_EQ(taming_check(high1, 143, 1), 0);
    // Short lags look at zone 0 only: t1 = 20 -> zones 0..0.
    double high0[4] = {70000.0, 1.0, 1.0, 1.0};
    EXPECT_EQ(taming_check(high0, 20, 0), 1);
    double exact[4] = {60000.0, 60000.0, 60000.0, 60000.0};
    EXPECT_EQ(taming_check(exact, 60, 0), 0);  // strictly above 60000 only
}

TEST(Taming, Update) {
    double err[4] = {1.0, 2.0, 3.0, 4.0};
    taming_update(err, 30, 1.0);
    EXPECT_EQ(err[0], 3.0);  // c1 = 2, then 2 * 1 + 1
    EXPECT_EQ(err[1], 1.0);
    EXPECT_EQ(err[2], 2.0);
    EXPECT_EQ(err[3], 3.0);

    double err2[4] = {1.0, 10.0, 100.0, 1000.0};
    taming_update(err2, 143, 0.5);  // zones 2..3: max(100 * 0.5 + 1, 1000 * 0.5 + 1)
    EXPECT_EQ(err2[0], 501.0);

    double err3[4] = {5.0, 1.0, 1.0, 1.0};
    taming_update(err3, 41, 0.0);  // zone 0 only, gain 0 -> 1
    EXPECT_EQ(err3[0], 1.0);
}

TEST(EncoderApi, FrameCounterWrapsTo256) {
    static g729_encoder_state st;
    g729_encoder_init(&st, 0);
    st.frame_count = 32766;
    const int16_t silence[80] = {};
    uint8_t bytes[10];
    int32_t count = 0;
    g729_encode_frame(&st, silence, bytes, &count);
    EXPECT_EQ(st.frame_count, 32767);
    g729_encode_frame(&st, silence, bytes, &count);
    EXPECT_EQ(st.frame_count, 256);
    g729_encode_frame(&st, silence, bytes, &count);
    EXPECT_EQ(st.frame_count, 257);
}

TEST(EncoderApi, SilenceWithDtxOffGivesSpeechFramesThatDecodeToSilence) {
    static g729_encoder_state st;
    static g729_decoder_state dec;
    g729_encoder_init(&st, 0);
    g729_decoder_init(&dec);
    const int16_t silence[80] = {};
    int loudest = 0;
    for (int f = 0; f < 20; ++f) {
        uint8_t bytes[10];
        int32_t count = -1;
        EXPECT_EQ(g729_encode_frame(&st, silence, bytes, &count), 0);
        EXPECT_EQ(count, 10);
        int16_t out[80];
        ASSERT_EQ(g729_decode_frame(&dec, out, bytes, count), 0);
        for (int16_t s : out) loudest = std::max(loudest, std::abs(static_cast<int>(s)));
    }
    // Without DTX the detector's decisions are not used: they stay "voice".
    EXPECT_EQ(st.vad_prev, 1);
    EXPECT_EQ(st.vad_prev2, 1);
    EXPECT_EQ(st.cng_seed, 11111);
    // Nothing to predict: the pitch gain stays at the floor of the sharpening factor.
    EXPECT_EQ(st.sharp, 0.2);
    // Digital silence comes back as silence (the codebooks have no zero vector; a few LSBs).
    EXPECT_LE(loudest, 4);
}

TEST(EncoderApi, InitialState) {
    static g729_encoder_state st;
    std::memset(&st, 0x5a, sizeof(st));
    g729_encoder_init(&st, 0);
    EXPECT_EQ(st.sharp, 0.2);
    EXPECT_EQ(st.frame_count, 0);
    EXPECT_EQ(st.dtx_enabled, 0);
    EXPECT_EQ(st.cng_seed, 11111);
    EXPECT_EQ(st.vad.min_energy, 1e38);
    EXPECT_EQ(st.vad.extension_enabled, 1);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(st.lsp_prev[k], initial_lsp[k]);
        EXPECT_EQ(st.lsp_prev_q[k], initial_lsp[k]);
        for (int r = 0; r < 4; ++r) EXPECT_EQ(st.lsf_ma_memory[r][k], initial_lsf[k]);
        EXPECT_EQ(st.mem_zero[k], 0.0);
    }
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(st.gain_pred_mem[k], -14.0);
        EXPECT_EQ(st.exc_err[k], 1.0);
    }
    // Initial LSP and LSF sets are the rounded uniform sets.
    for (int k = 0; k < 10; ++k) {
        EXPECT_NEAR(initial_lsp[k], std::cos((k + 1) * M_PI / 11), 5e-5);
        EXPECT_NEAR(initial_lsf[k], (k + 1) * M_PI / 11, 5e-7);
    }
}
