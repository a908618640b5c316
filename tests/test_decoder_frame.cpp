// SPDX-License-Identifier: BSD-2-Clause
// Decoder frame driver: lag, code-vector and gain decoding, parity errors, erasure
// concealment, inactive frames and numerical stability.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "codec/decoder/decoder_frame.h"
#include "codec/decoder/postfilter.h"
#include "codec/encoder/pitch.h"
#include "codec/g729.h"
#include "codec/lpc/primitives.h"
#include "codec/tables/decoder_tables.h"
#include "codec/tables/gain_tables.h"

using namespace g729;

namespace {

// The 16-bit congruential generator, written out for checking the concealment draws.
int16_t lcg_next(int16_t* seed) {
    *seed = static_cast<int16_t>(static_cast<uint16_t>(*seed * 31821 + 13849));
    return *seed;
}

struct SpeechFields {
    int32_t lsp1 = 0x25, lsp2 = 0x1A3, p1 = 122, parity = 0, c1 = 0x0A51, s1 = 5, g1 = 86;
    int32_t p2 = 17, c2 = 0x1234, s2 = 9, g2 = 43;
};

void fill_speech(int32_t rec[G729_DECODED_PARAMS_SIZE], const SpeechFields& f, int erased = 0) {
    const int32_t v[G729_DECODED_PARAMS_SIZE] = {erased, 1,    f.lsp1, f.lsp2, f.p1,
                                                 f.parity, f.c1, f.s1, f.g1,  f.p2,
                                                 f.c2,    f.s2, f.g2};
    std::memcpy(rec, v, sizeof(v));
}

void fill_erased(int32_t rec[G729_DECODED_PARAMS_SIZE]) {
    // What the unpacker produces for a lost unit: erasure flag 1, frame type 0.
    for (int i = 0; i < G729_DECODED_PARAMS_SIZE; ++i) rec[i] = 0;
    rec[0] = 1;
}

void fill_sid(int32_t rec[G729_DECODED_PARAMS_SIZE], int32_t mode, int32_t l1, int32_t l2,
              int32_t gain) {
    for (int i = 0; i < G729_DECODED_PARAMS_SIZE; ++i) rec[i] = 0;
    rec[1] = 2;
    rec[2] = mode;
    rec[3] = l1;
    rec[4] = l2;
    rec[5] = gain;
}

struct FrameOut {
    double speech[80];
    double lpc[22];
    int32_t lags[2];
    int32_t type;
};

FrameOut decode(g729_decoder_state* st, int32_t rec[G729_DECODED_PARAMS_SIZE]) {
    FrameOut out{};
    decode_frame_parameters(st, rec, out.speech, out.lpc, out.lags, &out.type);
    return out;
}

double sum_squares_last_frame(const g729_decoder_state& st) {
    double e = 0.0;
    for (int i = 0; i < 80; ++i) e += st.exc_buf[74 + i] * st.exc_buf[74 + i];
    return e;
}

}  // namespace

// ---- Pitch lag ----

TEST(DecodePitchLag, Subframe1EdgeIndices) {
    int32_t lag = -1, frac = -9;
    decode_pitch_lag(197, 20, 143, 0, &lag, &frac);
    EXPECT_EQ(lag, 85);
    EXPECT_EQ(frac, 0);
    decode_pitch_lag(0, 20, 143, 0, &lag, &frac);
    EXPECT_EQ(lag, 19);
    EXPECT_EQ(frac, 1);
    decode_pitch_lag(196, 20, 143, 0, &lag, &frac);
    EXPECT_EQ(lag, 85);
    EXPECT_EQ(frac, -1);
    decode_pitch_lag(255, 20, 143, 0, &lag, &frac);
    EXPECT_EQ(lag, 143);
    EXPECT_EQ(frac, 0);
}

TEST(DecodePitchLag, Subframe1EveryIndexInvertsTheLagCoding) {
    for (int index = 0; index < 256; ++index) {
        int32_t lag = 0, frac = 0;
        decode_pitch_lag(index, 20, 143, 0, &lag, &frac);
        ASSERT_GE(lag, 19) << index;
        ASSERT_LE(lag, 143) << index;
        ASSERT_TRUE(frac == -1 || frac == 0 || frac == 1) << index;
        // The encoder's coding: 3*T0 - 58 + frac up to T0 = 85, T0 + 112 above.
        if (index <= 196) {
            EXPECT_EQ(3 * lag - 58 + frac, index);
        } else {
            EXPECT_EQ(frac, 0);
            EXPECT_EQ(lag + 112, index);
        }
    }
}

TEST(DecodePitchLag, Subframe2RangeAndLowEnds) {
    int32_t lag = 141, frac = 9;
    decode_pitch_lag(2, 20, 143, 1, &lag, &frac);  // first lag of the range, fraction 0
    EXPECT_EQ(lag, 134);
    EXPECT_EQ(frac, 0);
    lag = 22;
    decode_pitch_lag(2, 20, 143, 1, &lag, &frac);
    EXPECT_EQ(lag, 20);
    EXPECT_EQ(frac, 0);
    lag = 60;
    decode_pitch_lag(17, 20, 143, 1, &lag, &frac);
    EXPECT_EQ(lag, 60);
    EXPECT_EQ(frac, 0);

    // Every subframe-1 lag and every 5-bit index: the encoder's relative coding comes back.
    for (int t1 = 19; t1 <= 143; ++t1) {
        int t_min = t1 - 5 < 20 ? 20 : t1 - 5;
        if (t_min + 9 > 143) t_min = 134;
        for (int index = 0; index < 32; ++index) {
            int32_t l = t1, f = 0;
            decode_pitch_lag(index, 20, 143, 1, &l, &f);
            ASSERT_TRUE(f == -1 || f == 0 || f == 1);
            ASSERT_GE(l, 19);
            ASSERT_LE(l, 144);
            EXPECT_EQ(3 * (l - t_min) + f + 2, index) << t1 << " " << index;
        }
    }
}

// ---- Fixed code vector ----

TEST(DecodeFixedCodevector, PositionsAndSigns) {
    struct Case {
        int sign, pos;
        int p[4];
    };
    const Case cases[] = {
        {0x0, 0x0000, {0, 1, 2, 3}},
        {0xF, 0x1FFF, {35, 36, 37, 39}},
        // tracks 3, 5, 7; fourth pulse track 2 with the odd bit set
        {0x5, 3 | (5 << 3) | (7 << 6) | (1 << 9) | (2 << 10), {15, 26, 37, 14}},
        {0xA, (6 << 10), {0, 1, 2, 33}},
        {0x6, (1 << 9) | (4 << 10), {0, 1, 2, 24}},  // odd bit alone
        {0x9, (4 << 6), {0, 1, 22, 3}},              // bit 8 belongs to the third pulse
    };
    for (const Case& c : cases) {
        double code[40];
        for (double& x : code) x = 7.0;
        decode_fixed_codevector(c.sign, c.pos, code);
        int nonzero = 0;
        for (double x : code) nonzero += x != 0.0;
        EXPECT_EQ(nonzero, 4);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(code[c.p[k]], ((c.sign >> k) & 1) ? 1.0 : -1.0) << c.pos << " pulse " << k;
        }
    }
}

// ---- Gains ----

TEST(DecodeGains, DecodeMapsInvertTheEncoderMaps) {
    for (int row = 0; row < 8; ++row) EXPECT_EQ(gain_decode_map_1[gain_map_1[row]], row);
    for (int row = 0; row < 16; ++row) EXPECT_EQ(gain_decode_map_2[gain_map_2[row]], row);
}

TEST(DecodeGains, GoodSubframeUsesBothCodebooksAndPrediction) {
    double code[40];
    decode_fixed_codevector(0x3, 0x0123, code);
    double mem[4] = {-14.0, -14.0, -14.0, -14.0};
    double gp = 0.0, gc = 0.0;
    // Code 0 -> row 5 of the first book, code 5 -> row 15 of the second: the largest pitch gain.
    decode_gains(mem, 5, code, 40, 0, &gp, &gc);
    EXPECT_EQ(gp, 0.197901 + 1.158039);
    const double gamma = 1.214512 + 0.724592;
    const double p = 36.0 - 10.0 * std::log10(4.01 / 40.0) + (0.68 + 0.58 + 0.34 + 0.19) * -14.0;
    EXPECT_NEAR(gc, std::pow(10.0, p / 20.0) * gamma, 1e-12 * gc);
    EXPECT_NEAR(mem[0], 20.0 * std::log10(gamma), 1e-12);
    EXPECT_EQ(mem[1], -14.0);
    EXPECT_EQ(mem[3], -14.0);

    // Index 0x7F: code 7 -> row 3, code 15 -> row 8.
    decode_gains(mem, 0x7F, code, 40, 0, &gp, &gc);
    EXPECT_EQ(gp, 0.003516 + 0.809357);
    EXPECT_NEAR(mem[0], 20.0 * std::log10(0.659780 + 0.397579), 1e-12);
    EXPECT_NEAR(mem[1], 20.0 * std::log10(gamma), 1e-12);
}

// Every gain index, exactly: the pitch gain the first decoding step reads alone, and the
// gains and predictor entry the second gives, against the codebooks and the prediction
// computed here (the entry by std::log10 of the factor, which the library tabulates).
TEST(DecodeGains, EveryIndexMatchesTheCodebooksExactly) {
    double code[40];
    decode_fixed_codevector(0x9, 0x0A5C, code);
    double energy = 0.01;
    for (double v : code) energy += v * v;
    for (int index = 0; index < 128; ++index) {
        const double* row1 = gain_codebook_1[gain_decode_map_1[index >> 4]];
        const double* row2 = gain_codebook_2[gain_decode_map_2[index & 15]];
        double mem[4] = {-3.5, -7.25, 1.5, -14.0};
        double p = 36.0 - 10.0 * std::log10(energy / 40.0);
        for (int k = 0; k < 4; ++k) p = p + gain_prediction_coefficients[k] * mem[k];
        const double gamma = row1[1] + row2[1];
        double gp = 0.0, gc = 0.0;
        decode_gains(mem, index, code, 40, 0, &gp, &gc);
        ASSERT_EQ(gp, row1[0] + row2[0]) << index;
        ASSERT_EQ(decoded_pitch_gain(index, 0, 0.3), gp) << index;
        ASSERT_EQ(gc, std::pow(10.0, p / 20.0) * gamma) << index;
        ASSERT_EQ(mem[0], 20.0 * std::log10(gamma)) << index;
        ASSERT_EQ(mem[1], -3.5) << index;
        ASSERT_EQ(decoded_pitch_gain(index, 1, 0.5), 0.9 * 0.5) << index;
    }
}

TEST(DecodeGains, ErasedSubframesDecayAndFloorThePredictor) {
    double code[40] = {};
    double mem[4] = {2.0, -2.0, -6.0, -10.0};
    double gp = 1.3, gc = 1000.0;
    decode_gains(mem, 0, code, 40, 1, &gp, &gc);
    EXPECT_EQ(gp, 0.9);  // 0.9 * 1.3 is capped
    EXPECT_EQ(gc, 980.0);
    EXPECT_EQ(mem[0], (2.0 - 2.0 - 6.0 - 10.0) * 0.25 - 4.0);
    EXPECT_EQ(mem[1], 2.0);
    EXPECT_EQ(mem[2], -2.0);
    EXPECT_EQ(mem[3], -6.0);

    double prev_gp = gp, prev_gc = gc;
    for (int k = 0; k < 30; ++k) {
        decode_gains(mem, 127, code, 40, 1, &gp, &gc);
        EXPECT_EQ(gp, 0.9 * prev_gp);
        EXPECT_EQ(gc, 0.98 * prev_gc);
        EXPECT_GE(mem[0], -14.0);
        prev_gp = gp;
        prev_gc = gc;
    }
    EXPECT_EQ(mem[0], -14.0);  // long erasures settle on the floor
    EXPECT_EQ(mem[3], -14.0);

    double low[4] = {-14.0, -14.0, -14.0, -14.0};
    gain_predictor_erasure_update(low);  // mean - 4 = -18 is raised to -14
    for (double m : low) EXPECT_EQ(m, -14.0);
}

// ---- Frame driver ----

TEST(DecoderFrame, ParityErrorReusesPreviousLagOnly) {
    static g729_decoder_state good, bad;
    g729_decoder_init(&good);
    int32_t rec[G729_DECODED_PARAMS_SIZE];
    SpeechFields f;
    fill_speech(rec, f);
    FrameOut first = decode(&good, rec);
    ASSERT_EQ(first.lags[0], 60);
    ASSERT_EQ(first.lags[1], 60);
    ASSERT_EQ(good.prev_t0, 60);
    std::memcpy(&bad, &good, sizeof(good));

    // Same frame, once with the index of lag 60 / fraction 0 and a correct parity, once with
    // a different index flagged as a parity error: subframe 1 must fall back on lag 60.
    f.p1 = 122;
    f.p2 = 20;  // relative to 60: lag 61, fraction 0
    fill_speech(rec, f);
    FrameOut a = decode(&good, rec);
    f.p1 = 7;
    f.parity = 1;
    int32_t rec_bad[G729_DECODED_PARAMS_SIZE];
    fill_speech(rec_bad, f);
    FrameOut b = decode(&bad, rec_bad);

    EXPECT_EQ(b.lags[0], 60);
    EXPECT_EQ(b.lags[1], 61);
    EXPECT_EQ(b.type, 1);
    EXPECT_EQ(bad.prev_t0, 61);
    for (int i = 0; i < 80; ++i) EXPECT_EQ(a.speech[i], b.speech[i]) << i;
    for (int i = 0; i < 22; ++i) EXPECT_EQ(a.lpc[i], b.lpc[i]);
    EXPECT_EQ(std::memcmp(&good, &bad, sizeof(good)), 0);
    // Codebook indices were used as received, not redrawn.
    EXPECT_EQ(rec_bad[6], f.c1);
    EXPECT_EQ(rec_bad[11], f.s2);
    EXPECT_EQ(bad.erasure_seed, 21845);
}

TEST(DecoderFrame, ConsecutiveErasuresConcealSpeech) {
    static g729_decoder_state st;
    g729_decoder_init(&st);
    int32_t rec[G729_DECODED_PARAMS_SIZE];
    SpeechFields f;
    f.p1 = 253;  // lag 141
    f.p2 = 23;   // range 134..143: lag 141, fraction 0
    f.g1 = 5;
    f.g2 = 5;  // largest pitch gain, above the concealment cap
    fill_speech(rec, f);
    FrameOut good = decode(&st, rec);
    ASSERT_EQ(good.lags[0], 141);
    ASSERT_EQ(good.lags[1], 141);
    ASSERT_EQ(st.gain_pitch, 0.197901 + 1.158039);
    ASSERT_EQ(st.sharp, 0.7945);

    const double energy = st.exc_energy;
    EXPECT_EQ(energy, sum_squares_last_frame(st));
    double gp = st.gain_pitch, gc = st.gain_code;
    double mem[4];
    std::memcpy(mem, st.gain_pred_mem, sizeof(mem));
    int16_t seed = st.erasure_seed;

    const int32_t expected_lags[3][2] = {{141, 142}, {143, 143}, {143, 143}};
    for (int frame = 0; frame < 3; ++frame) {
        fill_erased(rec);
        FrameOut out = decode(&st, rec);
        EXPECT_EQ(out.type, 1);
        EXPECT_EQ(rec[1], 1);  // remapped in the record
        EXPECT_EQ(out.lags[0], expected_lags[frame][0]);
        EXPECT_EQ(out.lags[1], expected_lags[frame][1]);
        const int16_t d1 = lcg_next(&seed), d2 = lcg_next(&seed);
        const int16_t d3 = lcg_next(&seed), d4 = lcg_next(&seed);
        EXPECT_EQ(rec[6], d1 & 0x1FFF);
        EXPECT_EQ(rec[7], d2 & 0xF);
        EXPECT_EQ(rec[10], d3 & 0x1FFF);
        EXPECT_EQ(rec[11], d4 & 0xF);
        for (int sf = 0; sf < 2; ++sf) {
            gp = std::min(0.9 * gp, 0.9);
            gc = 0.98 * gc;
            const double m = std::max((mem[0] + mem[1] + mem[2] + mem[3]) * 0.25 - 4.0, -14.0);
            mem[3] = mem[2];
            mem[2] = mem[1];
            mem[1] = mem[0];
            mem[0] = m;
        }
        EXPECT_EQ(st.gain_pitch, gp);
        EXPECT_EQ(st.gain_code, gc);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(st.gain_pred_mem[k], mem[k]);
        EXPECT_EQ(st.erasure_seed, seed);
        EXPECT_EQ(st.exc_energy, energy);  // erased frames do not count
        EXPECT_EQ(st.prev_frame_type, 1);
        EXPECT_EQ(st.cng_seed, 11111);
        for (double s : out.speech) ASSERT_TRUE(std::isfinite(s));
    }
    EXPECT_EQ(st.prev_t0, 143);
    EXPECT_LE(st.gain_pitch, 0.9);
}

TEST(DecoderFrame, PitchSharpeningBelowSubframeLength) {
    // Fresh decoder: the past excitation is zero, so subframe 1 is gain_code * sharpened code.
    for (const int32_t p1 : {0, 2, 92}) {  // lag 19 (fraction +1), lag 20, lag 50
        static g729_decoder_state st;
        g729_decoder_init(&st);
        int32_t rec[G729_DECODED_PARAMS_SIZE];
        SpeechFields f;
        f.p1 = p1;
        f.c1 = 0;    // pulses at 0, 1, 2, 3
        f.s1 = 0x5;  // +, -, +, -
        fill_speech(rec, f);
        FrameOut out = decode(&st, rec);
        const int lag = out.lags[0];
        ASSERT_EQ(lag, p1 == 0 ? 19 : p1 == 2 ? 20 : 50);
        const double* exc = st.exc_buf + 74;
        const double g = exc[0];
        ASSERT_GT(g, 0.0);
        double expected[40] = {g, -g, g, -g};
        // Sharpening runs forward, so a lag below 20 sharpens already sharpened samples.
        if (lag < 40) {
            for (int i = lag; i < 40; ++i) expected[i] += 0.2 * expected[i - lag];
        }
        for (int i = 0; i < 40; ++i) {
            if (expected[i] == 0.0) {
                EXPECT_EQ(exc[i], 0.0) << lag << " " << i;
            } else {
                EXPECT_DOUBLE_EQ(exc[i], expected[i]) << lag << " " << i;
            }
        }
        if (lag == 19) {
            EXPECT_DOUBLE_EQ(exc[38], 0.04 * g);
        }
    }
}

TEST(DecoderFrame, ExcitationAddsScaledAdaptiveVector) {
    static g729_decoder_state st;
    g729_decoder_init(&st);
    int32_t rec[G729_DECODED_PARAMS_SIZE];
    SpeechFields f;
    fill_speech(rec, f);
    decode(&st, rec);
    double buf[234];
    std::memcpy(buf, st.exc_buf, sizeof(buf));
    adaptive_codebook_interpolate(buf + 154, 60, 0, 40);

    f.p1 = 122;  // lag 60, fraction 0: no sharpening
    f.g1 = 86;   // code 5 -> row 0, code 6 -> row 1
    fill_speech(rec, f);
    FrameOut out = decode(&st, rec);
    ASSERT_EQ(out.lags[0], 60);
    double code[40];
    decode_fixed_codevector(f.s1, f.c1, code);
    const double gp = 0.000010 + 0.121711;
    const double* exc = st.exc_buf + 74;
    for (int i = 0; i < 40; ++i) {
        if (code[i] == 0.0) {
            EXPECT_EQ(exc[i], gp * buf[154 + i]) << i;
        } else {
            EXPECT_NE(exc[i], gp * buf[154 + i]) << i;
        }
    }
}

TEST(DecoderFrame, SidThenErasedFrameGoesToComfortNoise) {
    static g729_decoder_state st;
    g729_decoder_init(&st);
    int32_t rec[G729_DECODED_PARAMS_SIZE];
    SpeechFields f;
    fill_speech(rec, f);
    decode(&st, rec);
    fill_speech(rec, f);
    decode(&st, rec);

    static g729_decoder_state before;
    std::memcpy(&before, &st, sizeof(st));
    fill_sid(rec, 1, 17, 9, 12);
    FrameOut sid = decode(&st, rec);
    EXPECT_EQ(sid.type, 2);
    EXPECT_EQ(st.cng.sid_gain, 50.238);  // gain entry 12 reached the comfort-noise decoder
    EXPECT_NE(st.cng_seed, 11111);       // the noise generator ran
    // The SID spectrum decoder advanced the shared LSF predictor memory.
    EXPECT_NE(std::memcmp(st.lsp_decoder_state.lsf_ma_memory,
                          before.lsp_decoder_state.lsf_ma_memory,
                          sizeof(before.lsp_decoder_state.lsf_ma_memory)),
              0);
    // Both subframes are synthesized from the comfort excitation, continuing the filter.
    double mem[10], check[40];
    std::memcpy(mem, before.mem_syn, sizeof(mem));
    lpc_synthesis_filter(sid.lpc, st.exc_buf + 74, check, 40, mem, 0);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(check[i], sid.speech[i]) << i;
    std::memcpy(mem, sid.speech + 30, sizeof(mem));
    lpc_synthesis_filter(sid.lpc + 11, st.exc_buf + 114, check, 40, mem, 0);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(check[i], sid.speech[40 + i]) << i;
    EXPECT_EQ(sid.lags[0], before.prev_t0);
    EXPECT_EQ(sid.lags[1], before.prev_t0);
    EXPECT_EQ(st.sharp, 0.2);  // the next speech frame starts unsharpened
    EXPECT_EQ(st.prev_frame_type, 2);
    EXPECT_EQ(st.exc_energy, sum_squares_last_frame(st));
    for (int k = 0; k < 10; ++k) EXPECT_EQ(st.mem_syn[k], sid.speech[70 + k]);

    std::memcpy(&before, &st, sizeof(st));
    fill_erased(rec);
    rec[1] = 1;  // whatever the record says, the predecessor decides
    FrameOut lost = decode(&st, rec);
    EXPECT_EQ(lost.type, 0);
    EXPECT_EQ(rec[1], 0);
    EXPECT_EQ(st.prev_frame_type, 0);
    EXPECT_EQ(st.exc_energy, before.exc_energy);
    EXPECT_EQ(st.prev_t0, before.prev_t0);
    EXPECT_EQ(lost.lags[0], before.prev_t0);
    EXPECT_EQ(lost.lags[1], before.prev_t0);
    EXPECT_EQ(st.erasure_seed, before.erasure_seed);
    EXPECT_EQ(st.gain_pitch, before.gain_pitch);
    EXPECT_EQ(st.gain_code, before.gain_code);
    EXPECT_EQ(std::memcmp(st.gain_pred_mem, before.gain_pred_mem, sizeof(st.gain_pred_mem)), 0);
    EXPECT_EQ(std::memcmp(&st.lsp_decoder_state, &before.lsp_decoder_state,
                          sizeof(st.lsp_decoder_state)),
              0);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(st.mem_syn[k], lost.speech[70 + k]);
    // History shifted: the frame's excitation now sits just before the current-frame area.
    for (int i = 0; i < 74; ++i) EXPECT_EQ(st.exc_buf[i], before.exc_buf[80 + i]);

    // Back to speech: the noise seed restarts and the frame decodes as speech.
    fill_speech(rec, f);
    FrameOut speech = decode(&st, rec);
    EXPECT_EQ(speech.type, 1);
    EXPECT_EQ(st.cng_seed, 11111);
    EXPECT_EQ(st.prev_frame_type, 1);
}

TEST(DecoderFrame, RandomValidRecordsStayFinite) {
    static g729_decoder_state st;
    g729_decoder_init(&st);
    std::mt19937 rng(729);
    auto bits = [&](int n) { return static_cast<int32_t>(rng() & ((1u << n) - 1)); };
    int counts[3] = {0, 0, 0};
    for (int frame = 0; frame < 3000; ++frame) {
        int32_t rec[G729_DECODED_PARAMS_SIZE] = {};
        const uint32_t kind = rng() % 100;
        if (kind < 8) {
            fill_sid(rec, bits(1), bits(5), bits(4), bits(5));
        } else {
            SpeechFields f;
            f.lsp1 = bits(8);
            f.lsp2 = bits(10);
            f.p1 = bits(8);
            f.parity = kind < 14 ? 1 : 0;
            f.c1 = bits(13);
            f.s1 = bits(4);
            f.g1 = bits(7);
            f.p2 = bits(5);
            f.c2 = bits(13);
            f.s2 = bits(4);
            f.g2 = bits(7);
            fill_speech(rec, f, kind >= 92 ? 1 : 0);
        }
        const int32_t erased = rec[0];
        FrameOut out = decode(&st, rec);
        ASSERT_TRUE(out.type >= 0 && out.type <= 2);
        ++counts[out.type];
        ASSERT_EQ(out.lpc[0], 1.0);
        ASSERT_EQ(out.lpc[11], 1.0);
        for (double a : out.lpc) ASSERT_TRUE(std::isfinite(a)) << frame;
        for (int sf = 0; sf < 2; ++sf) {
            ASSERT_GE(out.lags[sf], 19);
            ASSERT_LE(out.lags[sf], 144);
        }
        for (double s : out.speech) ASSERT_TRUE(std::isfinite(s)) << frame;
        if (!erased) {
            ASSERT_EQ(st.exc_energy, sum_squares_last_frame(st)) << frame;
        }

        // Through the postfilter and the output filter as the decoder entry point does.
        std::memcpy(st.synth_buf + 10, out.speech, sizeof(out.speech));
        postfilter_frame(&st.postfilter, st.synth_buf + 10, out.lpc, out.lags, out.type);
        post_highpass_filter(st.post_hpf_mem, st.synth_buf + 10, 80);
        for (int i = 0; i < 90; ++i) ASSERT_TRUE(std::isfinite(st.synth_buf[i])) << frame;
        ASSERT_TRUE(std::isfinite(st.postfilter.agc_gain));
    }
    EXPECT_GT(counts[1], 2000);
    EXPECT_GT(counts[2], 100);
}
