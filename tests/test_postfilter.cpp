// SPDX-License-Identifier: BSD-2-Clause
// Postfilter (pitch window, bypass for noise frames, gain control, buffer handover) and the
// output high-pass filter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/decoder/postfilter.h"
#include "codec/g729.h"

using namespace g729;

namespace {

// With A(z) = 1 both weighted filters are identities and the tilt factor is 0, so whatever
// reaches the output is the (pitch-postfiltered) residual, up to the gain control.
constexpr double kFlatLpc[22] = {1.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 1.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

void reset(g729_postfilter_state* pf) {
    std::memset(pf, 0, sizeof(*pf));
    pf->agc_gain = 1.0;
}

// Current residual: one pulse at sample 10. Past residual: a stronger echo of it `delay`
// samples back (strong enough to pass the voicing test even when the pulse itself falls in
// the delayed window) and a weak one 5 samples later. Only the lag `delay` correlates; if it
// is searched, the weak echo leaks into sample 15 of the output, otherwise that stays 0.
// `other` adds an uncorrelated past pulse 30 samples back, which only raises the delayed energy.
double echo_at_15(int search_lag, int delay, int32_t frame_type, double other = 0.0) {
    g729_postfilter_state pf;
    reset(&pf);
    pf.residual_history[143 - 30] = other;
    pf.residual_history[143 + 10 - delay] = 2000.0;
    pf.residual_history[143 + 15 - delay] = 100.0;
    double buf[90] = {};
    buf[10 + 10] = 1000.0;
    const int32_t lags[2] = {search_lag, search_lag};
    postfilter_frame(&pf, buf + 10, kFlatLpc, lags, frame_type);
    return buf[10 + 15];
}

}  // namespace

TEST(Postfilter, PitchSearchWindow) {
    struct Case {
        int lag, delay;
        bool found;
    };
    const Case cases[] = {
        {141, 137, true}, {141, 143, true}, {141, 136, false}, {141, 144, false},
        {20, 17, true},   {20, 23, true},   {20, 16, false},   {20, 24, false},
        {143, 137, true}, {143, 143, true}, {143, 136, false}, {60, 60, true},
    };
    for (const Case& c : cases) {
        const double echo = echo_at_15(c.lag, c.delay, 1);
        if (c.found) {
            // 100 * g with g = h / (E_d + h) (1/6 or 1/5 here), times the gain control.
            EXPECT_GT(echo, 10.0) << c.lag << " " << c.delay;
            EXPECT_LT(echo, 20.0) << c.lag << " " << c.delay;
        } else {
            EXPECT_EQ(echo, 0.0) << c.lag << " " << c.delay;
        }
    }
}

TEST(Postfilter, VoicingThreshold) {
    // M^2 / (E_d * E_0) is about 0.67 with the extra pulse at 1414, about 0.40 with 2449: only
    // the first reaches the threshold of one half.
    EXPECT_GT(echo_at_15(60, 60, 1, 1414.0), 10.0);
    EXPECT_EQ(echo_at_15(60, 60, 1, 2449.0), 0.0);
}

TEST(Postfilter, NoiseFramesBypassPitchPostfilter) {
    EXPECT_GT(echo_at_15(60, 60, 1), 10.0);
    EXPECT_EQ(echo_at_15(60, 60, 0), 0.0);
    EXPECT_EQ(echo_at_15(60, 60, 2), 0.0);
}

TEST(Postfilter, TieKeepsSmallestLagAndSetsGains) {
    // Constant residual of 1 (exact sums): every lag of the window correlates equally. A marker
    // of 2 fifty samples back shows which lag was taken: it lands on sample 50 - T.
    g729_postfilter_state pf;
    reset(&pf);
    for (double& r : pf.residual_history) r = 1.0;
    pf.residual_history[143 - 50] = 2.0;
    double buf[90];
    for (double& v : buf) v = 1.0;
    const int32_t lags[2] = {60, 60};  // window 57..63
    postfilter_frame(&pf, buf + 10, kFlatLpc, lags, 1);
    const double* out = buf + 10;

    // T = 57: E_d = 0.5 + 39 + 4, M = 41, g = h / (E_d + h) with h = M / 2, g0 = 1 - g.
    const double g = 20.5 / (43.5 + 20.5);
    EXPECT_NEAR(out[7] / out[6], 1.0 + g, 0.005);
    for (int i = 1; i < 40; ++i) {
        if (i == 7 || i == 8) continue;
        EXPECT_NEAR(out[i] / out[i - 1], 1.0, 0.005) << i;
    }
}

TEST(Postfilter, TiltCompensationAndShortTermFilter) {
    // A(z) = 1 - 0.9 z^-1: N(z) = 1 - 0.495 z^-1, D(z) = 1 - 0.63 z^-1. The numerator's
    // impulse response through 1/D is 1, then 0.135 * 0.63^(i-1).
    double h[22];
    h[0] = 1.0;
    for (int i = 1; i < 22; ++i) h[i] = 0.135 * std::pow(0.63, i - 1);
    double r0 = 0.0, r1 = 0.0;
    for (int i = 0; i < 22; ++i) r0 += h[i] * h[i];
    for (int i = 0; i < 21; ++i) r1 += h[i] * h[i + 1];
    const double mu = 0.8 * r1 / r0;

    double lpc[22] = {};
    lpc[0] = lpc[11] = 1.0;
    lpc[1] = lpc[12] = -0.9;
    // Speech whose residual through N is a single 1e6 pulse at the last sample of subframe 1:
    // subframe 2 then starts from tilt memory 1e6 and a nearly zero residual.
    double buf[90] = {};
    for (int n = 0; n <= 40; ++n) buf[10 + 39 + n] = 1e6 * std::pow(0.495, n);
    g729_postfilter_state pf;
    reset(&pf);
    const int32_t lags[2] = {40, 40};
    postfilter_frame(&pf, buf + 10, lpc, lags, 0);

    // Subframe 2: compensated residual -mu * 1e6, 0, ...; the synthesis filter starts from its
    // last output 1e6. Its memory keeps the last 10 outputs before the gain control.
    double y = 1e6;
    double expected[40];
    for (int n = 0; n < 40; ++n) {
        const double x = n == 0 ? -mu * 1e6 : 0.0;
        y = x + 0.63 * y;
        expected[n] = y;
    }
    for (int k = 0; k < 10; ++k) {
        EXPECT_NEAR(pf.postfilter_synthesis_memory[k], expected[30 + k],
                    1e-6 * std::fabs(expected[30 + k]))
            << k;
    }

    // The tilt memory is the last residual sample before compensation.
    double next[90];
    std::memcpy(next, buf, sizeof(next));
    for (int i = 10; i < 90; ++i) next[i] = 500.0 * std::sin(0.37 * i) + 80.0 * std::cos(2.1 * i);
    postfilter_frame(&pf, next + 10, lpc, lags, 0);
    EXPECT_EQ(pf.tilt_memory, pf.residual_history[142]);
}

TEST(Postfilter, SilentSubframeResetsGainControl) {
    g729_postfilter_state pf;
    reset(&pf);
    double buf[90] = {};
    double original[80];
    for (int i = 40; i < 80; ++i) buf[10 + i] = 300.0 * std::sin(0.3 * i) + 50.0;
    std::memcpy(original, buf + 10, sizeof(original));
    const int32_t lags[2] = {50, 50};
    // Frame type 0: no pitch postfilter, so the second subframe reaches the gain control
    // unchanged and its step is 0.1 * sqrt(1) (0.09999999999999998).
    postfilter_frame(&pf, buf + 10, kFlatLpc, lags, 0);

    for (int i = 0; i < 40; ++i) EXPECT_EQ(buf[10 + i], 0.0);
    // Starting from 0 the gain climbs as 1 - 0.9^n.
    EXPECT_NEAR(buf[10 + 40] / original[40], 0.1, 1e-12);
    double prev = 0.0;
    for (int i = 40; i < 80; ++i) {
        const double ratio = buf[10 + i] / original[i];
        EXPECT_NEAR(ratio, 1.0 - std::pow(0.9, i - 39), 1e-12) << i;
        EXPECT_GT(ratio, prev);
        prev = ratio;
    }
    EXPECT_NEAR(pf.agc_gain, 1.0 - std::pow(0.9, 40), 1e-12);

    // A silent frame (filters at rest) stays silent and drops the gain to 0.
    g729_postfilter_state silent;
    reset(&silent);
    silent.agc_gain = 0.7;
    double zeros[90] = {};
    postfilter_frame(&silent, zeros + 10, kFlatLpc, lags, 1);
    EXPECT_EQ(silent.agc_gain, 0.0);
    for (double z : zeros) EXPECT_EQ(z, 0.0);
}

TEST(Postfilter, HandsOverUnfilteredTailAndTiltMemory) {
    g729_postfilter_state pf;
    reset(&pf);
    double buf[90];
    for (int i = 0; i < 90; ++i) buf[i] = 200.0 * std::sin(0.21 * i) + 30.0 * std::cos(1.3 * i);
    double original[90];
    std::memcpy(original, buf, sizeof(buf));
    // A realistic, stable predictor (1 - 0.9 z^-1)(1 + 0.5 z^-2) for both subframes.
    double lpc[22] = {};
    const double a[11] = {1.0, -0.9, 0.5, -0.45, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(lpc, a, sizeof(a));
    std::memcpy(lpc + 11, a, sizeof(a));
    const int32_t lags[2] = {33, 34};
    postfilter_frame(&pf, buf + 10, lpc, lags, 1);

    for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], original[80 + i]);  // samples 70..79
    bool changed = false;
    for (int i = 10; i < 90; ++i) {
        ASSERT_TRUE(std::isfinite(buf[i]));
        changed = changed || buf[i] != original[i];
    }
    EXPECT_TRUE(changed);
    // The residual history ends with the second subframe's residual through A(z/0.55).
    double num[11];
    double g = 1.0;
    for (int i = 0; i < 11; ++i, g *= 0.55) num[i] = a[i] * g;
    for (int j = 0; j < 40; ++j) {
        double r = original[50 + j];
        for (int i = 1; i <= 10; ++i) r += num[i] * original[50 + j - i];
        EXPECT_NEAR(pf.residual_history[143 + j - 40], r, 1e-9) << j;
    }
    EXPECT_GT(pf.agc_gain, 0.0);
    EXPECT_TRUE(std::isfinite(pf.tilt_memory));
}

TEST(PostHighpass, ZerosStayZeroAndMemoryLayout) {
    double mem[4] = {};
    double x[80] = {};
    post_highpass_filter(mem, x, 80);
    for (double v : x) EXPECT_EQ(v, 0.0);
    for (double m : mem) EXPECT_EQ(m, 0.0);

    // The memory carries the last two inputs and outputs: a block filtered in two calls gives
    // the same samples as in one.
    double y[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
    double in[5];
    std::memcpy(in, y, sizeof(y));
    double split[5];
    std::memcpy(split, y, sizeof(y));
    double split_mem[4] = {};
    post_highpass_filter(split_mem, split, 2);
    post_highpass_filter(split_mem, split + 2, 3);
    post_highpass_filter(mem, y, 5);
    for (int n = 0; n < 5; ++n) EXPECT_EQ(split[n], y[n]) << n;
    EXPECT_EQ(mem[0], in[4]);
    EXPECT_EQ(mem[1], in[3]);
    EXPECT_EQ(mem[2], y[4]);
    EXPECT_EQ(mem[3], y[3]);

    // count <= 0 touches nothing.
    double keep[4];
    std::memcpy(keep, mem, sizeof(mem));
    double z = 123.0;
    post_highpass_filter(mem, &z, 0);
    post_highpass_filter(mem, &z, -3);
    EXPECT_EQ(z, 123.0);
    EXPECT_EQ(std::memcmp(keep, mem, sizeof(mem)), 0);
}

TEST(PostHighpass, FrequencyResponse) {
    // Steady-state gain of a sine (RMS over whole periods after 0.5 s of settling): about
    // -0.25 dB in the passband, -6 dB at 50 Hz, -40 dB at DC.
    auto gain_at = [](double hz) {
        double mem[4] = {};
        double in_energy = 0.0, out_energy = 0.0;
        for (int frame = 0; frame < 100; ++frame) {
            double x[80];
            for (int i = 0; i < 80; ++i) {
                x[i] = 1000.0 * std::sin(2.0 * M_PI * hz * (frame * 80 + i) / 8000.0);
            }
            double in[80];
            std::memcpy(in, x, sizeof(x));
            post_highpass_filter(mem, x, 80);
            if (frame >= 50) {
                for (int i = 0; i < 80; ++i) {
                    in_energy += in[i] * in[i];
                    out_energy += x[i] * x[i];
                }
            }
        }
        return std::sqrt(out_energy / in_energy);
    };
    EXPECT_NEAR(gain_at(100.0), 0.9716, 0.002);
    EXPECT_NEAR(gain_at(1000.0), 0.9726, 0.002);
    EXPECT_NEAR(gain_at(3000.0), 0.9717, 0.002);
    EXPECT_NEAR(20.0 * std::log10(gain_at(50.0)), -6.03, 0.05);

    double mem[4] = {};
    double dc[80];
    for (int frame = 0; frame < 100; ++frame) {
        for (double& v : dc) v = 1000.0;
        post_highpass_filter(mem, dc, 80);
    }
    EXPECT_NEAR(dc[79], 10.0, 0.1);
}
