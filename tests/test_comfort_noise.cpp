// SPDX-License-Identifier: BSD-2-Clause
// Comfort-noise generator, SID gain quantizer and comfort-noise decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "codec/dtx/comfort_noise.h"
#include "codec/g729.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/sid_lsf_quantizer.h"
#include "codec/tables/comfort_noise_tables.h"

using namespace g729;

namespace {

int16_t lcg(int16_t s) { return static_cast<int16_t>(static_cast<uint16_t>(s * 31821 + 13849)); }

void fill_history(double* buf, int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 300.0);
    for (int i = 0; i < n; i++) buf[i] = g(rng);
}

// An energy whose level 10 log10(e * 0.003125) is just below (where < 0), exactly at
// (where == 0) or just above (where > 0) the given level; NaN when none is found.
double energy_at_level(double level, int where) {
    double x = std::pow(10.0, level / 10.0) / 0.003125;
    for (int i = 0; i < 100000; i++) {
        const double l = 10.0 * std::log10(x * 0.003125);
        if ((where < 0 && l < level) || (where == 0 && l == level) || (where > 0 && l > level)) {
            return x;
        }
        const bool down = where < 0 ? true : (where > 0 ? false : l > level);
        x = std::nextafter(x, down ? 0.0 : 1e300);
    }
    return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

TEST(SidGainQuantizer, LevelBoundaries) {
    double level;
    int32_t index;
    // Mean energy at the floor: index 0; the next representable energy: index 1 (-4 dB).
    double e = 0.1588489319 / 0.003125;
    while (e * 0.003125 > 0.1588489319) e = std::nextafter(e, 0.0);
    while (std::nextafter(e, 1e300) * 0.003125 <= 0.1588489319) e = std::nextafter(e, 1e300);
    quantize_sid_gain(&e, 0, &level, &index);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(level, -12.0);
    e = std::nextafter(e, 1e300);
    quantize_sid_gain(&e, 0, &level, &index);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(level, -4.0);

    struct Case { double l; int where; int32_t index; double level; };
    const Case cases[] = {{14.0, 0, 6, 16.0},  {14.0, -1, 5, 12.0}, {65.0, 0, 31, 66.0},
                          {64.9, 0, 30, 64.0}, {-7.9, 0, 1, -4.0},  {-2.0, 1, 2, 0.0},
                          {-2.0, -1, 1, -4.0}, {17.0, -1, 6, 16.0}, {40.0, -1, 18, 40.0}};
    for (const Case& c : cases) {
        e = energy_at_level(c.l, c.where);
        ASSERT_FALSE(std::isnan(e)) << c.l;
        quantize_sid_gain(&e, 0, &level, &index);
        EXPECT_EQ(index, c.index) << "L " << c.l;
        EXPECT_EQ(level, c.level) << "L " << c.l;
    }

    // Averages of one and two energies use their own factors.
    const double two[2] = {1280.0 * 100.0, 1280.0 * 100.0};
    quantize_sid_gain(two, 1, &level, &index);
    EXPECT_EQ(index, 8);  // 20 dB
    quantize_sid_gain(two, 2, &level, &index);
    EXPECT_EQ(index, 8);
    EXPECT_EQ(sid_gain_table[index], 20.0);
}

TEST(ComfortExcitation, ZeroGainGivesSilenceAndDrawsNothing) {
    double buf[234];
    fill_history(buf, 234, 1);
    double exc_err[4] = {5.0, 6.0, 7.0, 8.0};
    int16_t seed = 1234;
    generate_comfort_excitation(exc_err, buf + 154, &seed, 1, 0.0);
    EXPECT_EQ(seed, 1234);
    for (int i = 154; i < 234; i++) EXPECT_EQ(buf[i], 0.0);
    // Two taming updates at lag 41 with gain 0 each store 1.
    const double expected[4] = {1.0, 1.0, 5.0, 6.0};
    for (int i = 0; i < 4; i++) EXPECT_EQ(exc_err[i], expected[i]);

    double dec_err[4] = {5.0, 6.0, 7.0, 8.0};
    generate_comfort_excitation(dec_err, buf + 154, &seed, 0, 0.0);
    EXPECT_EQ(dec_err[0], 5.0);
    EXPECT_EQ(dec_err[3], 8.0);
}

TEST(ComfortExcitation, EncoderAndDecoderModesAgree) {
    for (int run = 0; run < 20; run++) {
        double enc[234], dec[234];
        fill_history(enc, 154, 100 + run);
        std::memcpy(dec, enc, sizeof enc);
        double enc_err[4] = {2.0, 3.0, 4.0, 5.0};
        double dec_err[4] = {2.0, 3.0, 4.0, 5.0};
        int16_t enc_seed = static_cast<int16_t>(11111 + 977 * run);
        int16_t dec_seed = enc_seed;
        const double gain = 2.0 + 50.0 * run;
        generate_comfort_excitation(enc_err, enc + 154, &enc_seed, 1, gain);
        generate_comfort_excitation(dec_err, dec + 154, &dec_seed, 0, gain);
        EXPECT_EQ(enc_seed, dec_seed);
        EXPECT_EQ(0, std::memcmp(enc, dec, sizeof enc)) << "run " << run;
        for (int i = 0; i < 4; i++) EXPECT_EQ(dec_err[i], 2.0 + i);
        // Encoder mode: one taming update per subframe shifts the memory twice.
        EXPECT_EQ(enc_err[2], 2.0);
        EXPECT_EQ(enc_err[3], 3.0);
        EXPECT_GE(enc_err[0], 1.0);
    }
}

// Against a loud history a small gain cannot be met with the adaptive part kept: it is
// dropped, and the taming memory then sees a pitch gain of 0 (stores 1).
TEST(ComfortExcitation, DroppedAdaptivePartGivesZeroPitchGainToTaming) {
    double buf[234];
    fill_history(buf, 154, 9);
    for (int i = 0; i < 154; i++) buf[i] *= 10.0;
    double err[4] = {2.0, 3.0, 4.0, 5.0};
    int16_t seed = 11111;
    generate_comfort_excitation(err, buf + 154, &seed, 1, 0.502);
    const double expected[4] = {1.0, 1.0, 2.0, 3.0};
    for (int i = 0; i < 4; i++) EXPECT_EQ(err[i], expected[i]) << i;
    for (int i = 154; i < 234; i++) EXPECT_LT(std::fabs(buf[i]), 20.0);
}

// Each subframe carries energy 40 * gain^2 unless pulses 1 and 2 share a position, and the
// adaptive lag never reaches further back than 103 (+1 for the fraction, +10 filter taps).
TEST(ComfortExcitation, SubframeEnergyAndHistoryReach) {
    int checked = 0;
    int collided = 0;
    for (int run = 0; run < 400; run++) {
        double buf[234];
        fill_history(buf, 154, run);
        for (int i = 0; i < 154 - 113; i++) buf[i] = std::numeric_limits<double>::quiet_NaN();
        double err[4] = {1.0, 1.0, 1.0, 1.0};
        int16_t seed = static_cast<int16_t>(run * 163 - 30000);
        const double gain = run % 3 == 0 ? 0.502 : 5.0 + run;
        int16_t s = seed;
        generate_comfort_excitation(err, buf + 154, &seed, 0, gain);

        for (int sf = 0; sf < 2; sf++) {
            const int16_t r1 = s = lcg(s);
            const int16_t r2 = s = lcg(s);
            for (int k = 0; k < 481; k++) s = lcg(s);
            const int p1 = 5 * ((r1 >> 12) & 7) + 1;
            const int p2 = 5 * (r2 & 7) + 1;
            const bool same_sign = (r1 < 0) == ((r2 & 8) != 0);
            double e = 0.0;
            for (int i = 0; i < 40; i++) {
                ASSERT_TRUE(std::isfinite(buf[154 + 40 * sf + i])) << "run " << run;
                e += buf[154 + 40 * sf + i] * buf[154 + 40 * sf + i];
            }
            const double target = 40.0 * gain * gain;
            if (p1 != p2) {
                EXPECT_NEAR(e, target, 1e-9 * target) << "run " << run << " sf " << sf;
                checked++;
            } else if (same_sign) {
                EXPECT_GT(std::fabs(e - target), 1e-6 * target) << "run " << run;
                collided++;
            }
        }
        EXPECT_EQ(s, seed);
    }
    EXPECT_GT(checked, 600);
    EXPECT_GT(collided, 10);
}

TEST(ComfortNoiseDecoding, SidThenUntransmittedFrames) {
    g729_cng_state cng{};
    for (int i = 0; i < 10; i++) cng.lsp_sid[i] = std::cos(initial_lsf[i]);
    cng.sid_gain = 0.502;
    for (double& e : cng.exc_err) e = 1.0;
    double pred[2][4][10];
    noise_ma_pred_init(pred);
    double memory[4][10], ref_memory[4][10];
    for (int k = 0; k < 4; k++) {
        for (int i = 0; i < 10; i++) memory[k][i] = ref_memory[k][i] = initial_lsf[i];
    }
    double buf[234];
    fill_history(buf, 154, 3);
    double lsp_prev[10];
    for (int i = 0; i < 10; i++) lsp_prev[i] = initial_lsp[i];
    double lpc[22];
    int16_t seed = 11111;

    // SID right after speech: gain jumps to the SID gain.
    const int32_t sid[5] = {2, 1, 17, 6, 20};
    decode_comfort_noise(&cng, 1, sid, buf + 154, lsp_prev, lpc, 0.0, &seed, memory, pred);
    EXPECT_EQ(cng.sid_gain, sid_gain_table[20]);
    EXPECT_EQ(cng.noise_gain, sid_gain_table[20]);
    double ref_lsp[10];
    sid_lsf_decode(pred, sid + 1, ref_lsp, ref_memory);
    EXPECT_EQ(0, std::memcmp(cng.lsp_sid, ref_lsp, sizeof ref_lsp));
    EXPECT_EQ(0, std::memcmp(memory, ref_memory, sizeof memory));
    EXPECT_EQ(0, std::memcmp(lsp_prev, ref_lsp, sizeof ref_lsp));

    // A lower SID level, then untransmitted frames: the gain moves 1/8 of the way per frame.
    const int32_t sid2[5] = {2, 0, 3, 11, 10};
    decode_comfort_noise(&cng, 2, sid2, buf + 154, lsp_prev, lpc, 0.0, &seed, memory, pred);
    double expected = 0.875 * sid_gain_table[20] + 0.125 * sid_gain_table[10];
    EXPECT_EQ(cng.noise_gain, expected);
    double kept[10];
    std::memcpy(kept, cng.lsp_sid, sizeof kept);
    std::memcpy(ref_memory, memory, sizeof memory);
    const int32_t none[5] = {0, 0, 0, 0, 0};
    for (int f = 0; f < 50; f++) {
        decode_comfort_noise(&cng, f == 0 ? 2 : 0, none, buf + 154, lsp_prev, lpc, 1e9, &seed,
                             memory, pred);
        expected = 0.875 * expected + 0.125 * sid_gain_table[10];
        EXPECT_EQ(cng.noise_gain, expected);
        std::memmove(buf, buf + 80, 154 * sizeof(double));
    }
    EXPECT_NEAR(cng.noise_gain, sid_gain_table[10], 0.02 * sid_gain_table[10]);
    EXPECT_EQ(cng.sid_gain, sid_gain_table[10]);
    EXPECT_EQ(0, std::memcmp(cng.lsp_sid, kept, sizeof kept));
    EXPECT_EQ(0, std::memcmp(memory, ref_memory, sizeof memory));
    double ref_lpc[22];
    lsp_interpolate_to_lpc(kept, kept, ref_lpc);
    EXPECT_EQ(0, std::memcmp(lpc, ref_lpc, sizeof lpc));
}

TEST(ComfortNoiseDecoding, UntransmittedAfterSpeechUsesExcitationEnergy) {
    g729_cng_state cng{};
    cng.sid_gain = 0.502;
    double pred[2][4][10];
    noise_ma_pred_init(pred);
    double memory[4][10] = {};
    double buf[234];
    fill_history(buf, 154, 4);
    double lsp_prev[10];
    for (int i = 0; i < 10; i++) lsp_prev[i] = cng.lsp_sid[i] = initial_lsp[i];
    double lpc[22];
    int16_t seed = 11111;
    const int32_t none[5] = {0, 0, 0, 0, 0};
    // Energy 3.2e6 over 320: 10000 -> 40 dB -> index 18.
    decode_comfort_noise(&cng, 1, none, buf + 154, lsp_prev, lpc, 80.0 * 10000.0 / 0.25, &seed,
                         memory, pred);
    EXPECT_EQ(cng.sid_gain, sid_gain_table[18]);
    EXPECT_EQ(cng.noise_gain, sid_gain_table[18]);
    EXPECT_NE(seed, 11111);
}
