// SPDX-License-Identifier: BSD-2-Clause
// Voice activity detector: learning phase, boundary decision, smoothing rules, minimum
// tracking and the frame-counter wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "codec/dtx/vad.h"
#include "codec/g729.h"
#include "codec/tables/vad_tables.h"

using namespace g729;

namespace {

constexpr double kTwoPi = 6.283185308;
const double kLsf[10] = {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0};

// One frame of detector input with full-band energy e_db and no low-band shaping
// (r[1..12] = 0), so the low-band energy is e_db + 10 log10(w[0]).
struct Frame {
    double r[13] = {};
    double lsf[10];
    double speech[240] = {};

    explicit Frame(double e_db, int crossings = 0, double lsf_shift = 0.0) {
        r[0] = 240.0 * std::pow(10.0, e_db / 10.0);
        for (int i = 0; i < 10; i++) lsf[i] = kLsf[i] + lsf_shift;
        for (int i = 120; i <= 200; i++) speech[i] = (i - 120 < crossings && (i % 2)) ? -1.0 : 1.0;
    }
    double low_db() const { return 10.0 * std::log10(1e-38 + r[0] * vad_low_band_correlation[0] / 240.0); }
};

// Full-band energy of Frame(e) exactly as the detector computes it.
double frame_db(double e) { return 10.0 * std::log10(Frame(e).r[0] / 240.0 + 1e-38); }

int32_t run(g729_vad_state* vad, Frame f, int32_t n, int32_t prev = 0, int32_t prev2 = 0,
            double rc1 = 0.9) {
    int32_t d = -1;
    detect_voice_activity(vad, f.lsf, f.r, f.speech, n, prev, rc1, prev2, &d);
    return d;
}

// A detector past its learning phase, with its background placed relative to a frame of
// energy e: full-band background e + dse, low band low(e) + dsle, zero crossings zc + dszc,
// background LSFs off by sqrt(sd) in one coefficient.
g729_vad_state configured(double e, double dse, double dsle, double sd = 0.0, double dszc = 0.0) {
    g729_vad_state vad;
    vad_init(&vad);
    Frame f(e);
    vad.mean_full_energy = e + dse;
    vad.mean_low_energy = f.low_db() + dsle;
    vad.mean_zero_crossing = dszc;
    for (int i = 0; i < 10; i++) vad.mean_lsf[i] = kLsf[i] / kTwoPi;
    vad.mean_lsf[0] -= std::sqrt(sd);
    vad.prev_energy = e;
    vad.min_energy = e;
    return vad;
}

}  // namespace

TEST(Vad, LearningPhaseAveragesVoiceFramesOnly) {
    g729_vad_state vad;
    vad_init(&vad);
    double sum_e = 0.0, sum_zc = 0.0, sum_lsf0 = 0.0;
    int voiced = 0;
    for (int n = 1; n <= 31; n++) {
        const double e = n % 3 == 0 ? 20.9 : 30.0 + (n % 7);
        Frame f(e, 2 * (n % 5), 0.01 * (n % 4));
        const double lsf0 = f.lsf[0];
        int32_t d = -1;
        detect_voice_activity(&vad, f.lsf, f.r, f.speech, n, 1, 0.1, 1, &d);
        EXPECT_EQ(f.lsf[0], lsf0 / kTwoPi);  // normalised in place
        EXPECT_EQ(d, e >= 21.0 ? 1 : 0) << n;
        if (d) {
            voiced++;
            sum_e += frame_db(e);
            sum_zc += (n % 5) * 2 / 80.0;
            sum_lsf0 += f.lsf[0];
        }
    }
    EXPECT_EQ(vad.low_energy_count, 10);
    EXPECT_NEAR(vad.mean_energy, sum_e / voiced, 1e-12);
    EXPECT_NEAR(vad.mean_zero_crossing, sum_zc / voiced, 1e-14);
    EXPECT_NEAR(vad.mean_lsf[0], sum_lsf0 / voiced, 1e-14);
    EXPECT_EQ(vad.mean_full_energy, 0.0);

    // Frame 32 seeds the backgrounds (after including itself) and runs the full decision.
    const double mean_before = vad.mean_energy;
    run(&vad, Frame(10.0), 32);
    EXPECT_EQ(vad.mean_energy, mean_before);
    EXPECT_EQ(vad.mean_full_energy, mean_before - 10.0);
    EXPECT_EQ(vad.mean_low_energy, mean_before - 12.0);
    EXPECT_EQ(vad.low_energy_count, 11);
}

TEST(Vad, SilentAndNegativeLowBandFrames) {
    g729_vad_state vad;
    vad_init(&vad);
    Frame zero(0.0);
    zero.r[0] = 0.0;
    EXPECT_EQ(run(&vad, zero, 1), 0);
    EXPECT_NEAR(vad.prev_energy, -380.0, 1e-9);

    // A negative low-band sum counts as -380 dB in the background update.
    g729_vad_state v2 = configured(50.0, 9.0, 7.0);
    const double before = v2.mean_low_energy;
    Frame f(50.0);
    f.r[1] = -0.9 * f.r[0];
    run(&v2, f, 41, 0, 0, 0.5);
    EXPECT_EQ(v2.update_count, 1);
    EXPECT_NEAR(v2.mean_low_energy, 0.75 * before + 0.25 * -380.0, 1e-9);
}

TEST(Vad, BoundaryDecision) {
    struct Case { double dse, dsle, sd, dszc; int32_t voice; };
    const Case cases[] = {
        {9.0, 7.0, 0.0, 0.0, 0},       // inside the noise region
        {9.0, 9.4, 0.0, 0.0, 0},       // just under the low-band/energy line
        {9.0, 9.6, 0.0, 0.0, 1},       // dSLE > 0.928571 dSE + 1.14285
        {9.0, 4.3, 0.0, 0.0, 0},
        {9.0, 4.2, 0.0, 0.0, 1},       // dSLE < 0.714285 dSE - 2.1428571
        {9.0, 7.0, 0.0008, 0.0, 0},
        {9.0, 7.0, 0.0009, 0.0, 1},    // SD > 0.00175 dSZC + 0.00085
        {9.0, 7.0, 0.0007, -0.1, 1},   // same line, moved by the zero-crossing difference
        {-3.0, -3.0, 0.0, 0.0, 0},     // louder than the background but inside the region
        {-4.8, -3.0, 0.0, 0.0, 1},     // dSE < -4.7
        {9.0, 7.0, 0.0, 0.3, 1},       // SD > -0.004545455 dSZC + 0.001159091
        {9.0, -15.6, 0.0, 0.0, 1},
    };
    for (const Case& c : cases) {
        g729_vad_state vad = configured(50.0, c.dse, c.dsle, c.sd, c.dszc);
        EXPECT_EQ(run(&vad, Frame(50.0), 41), c.voice)
            << c.dse << " " << c.dsle << " " << c.sd << " " << c.dszc;
    }
    // Under 21 dB nothing else counts.
    g729_vad_state vad = configured(20.9, -30.0, 20.0, 0.01, 0.5);
    EXPECT_EQ(run(&vad, Frame(20.9), 41), 0);
}

TEST(Vad, LoudFrameAfterVoiceIsForced) {
    g729_vad_state vad = configured(50.0, -3.0, -3.0);
    EXPECT_EQ(run(&vad, Frame(50.0), 41, 1, 0), 1);
    EXPECT_EQ(vad.forced_voice, 1);
    vad = configured(50.0, -3.0, -3.0);
    EXPECT_EQ(run(&vad, Frame(50.0), 41, 0, 0), 0);
    vad = configured(50.0, -1.9, -2.0);  // less than 2 dB above the background
    EXPECT_EQ(run(&vad, Frame(50.0), 41, 1, 0), 0);
}

TEST(Vad, HangoverAtMostFiveFramesInARow) {
    g729_vad_state vad = configured(50.0, 9.0, 7.0);
    int32_t prev = 1, prev2 = 1;
    std::vector<int32_t> got;
    for (int f = 0; f < 8; f++) {
        const int32_t d = run(&vad, Frame(50.0), 41, prev, prev2);
        got.push_back(d);
        prev2 = prev;
        prev = d;
    }
    EXPECT_EQ(got, (std::vector<int32_t>{1, 1, 1, 1, 1, 0, 0, 0}));
    EXPECT_EQ(vad.extension_enabled, 1);
    EXPECT_EQ(vad.extension_count, 0);

    // Energy change relative to the previous frame: 3 dB still extends, 3.5 dB does not.
    vad = configured(50.0, 9.0, 7.0);
    vad.prev_energy = frame_db(50.0) + 3.0;
    EXPECT_EQ(run(&vad, Frame(50.0), 41, 1, 1), 1);
    vad = configured(50.0, 9.0, 7.0);
    vad.prev_energy = frame_db(50.0) + 3.5;
    EXPECT_EQ(run(&vad, Frame(50.0), 41, 1, 1), 0);
}

TEST(Vad, VoiceAfterLongSilenceNeedsEnergyRise) {
    struct Case { int32_t silence; double rise; int32_t voice; };
    const Case cases[] = {{11, 0.0, 0}, {11, 3.0, 0}, {10, 0.0, 1}, {11, 3.5, 1}};
    for (const Case& c : cases) {
        g729_vad_state vad = configured(50.0, 9.0, 9.8);  // voice by the boundary decision
        vad.silence_count = c.silence;
        vad.prev_energy = frame_db(50.0) - c.rise;
        EXPECT_EQ(run(&vad, Frame(50.0), 41), c.voice) << c.silence << " " << c.rise;
        EXPECT_EQ(vad.silence_count, 0);
    }
    g729_vad_state vad = configured(50.0, 9.0, 7.0);
    run(&vad, Frame(50.0), 41);
    EXPECT_EQ(vad.silence_count, 1);
}

TEST(Vad, MinimumTrackingAndCounterWrap) {
    g729_vad_state vad;
    vad_init(&vad);
    auto energy = [](int n) { return 40.0 + 15.0 * std::sin(0.37 * n) + (n % 11); };
    for (int n = 1; n <= 128; n++) run(&vad, Frame(energy(n)), n);
    double overall = 1e300;
    for (int b = 0; b < 16; b++) {
        double m = 1e300;
        for (int n = 8 * b + 1; n <= 8 * b + 8; n++) m = std::min(m, Frame(energy(n)).r[0]);
        const double m_db = 10.0 * std::log10(m / 240.0 + 1e-38);
        EXPECT_EQ(vad.min_buffer[b], m_db) << b;
        overall = std::min(overall, m_db);
    }
    EXPECT_EQ(vad.prev_min, overall);

    // Past frame 128: a sliding window of blocks.
    double block[16];
    std::copy(vad.min_buffer, vad.min_buffer + 16, block);
    double next = 1e300;
    for (int n = 129; n <= 136; n++) {
        const Frame f(n == 129 ? 90.0 : energy(n) - 30.0 + n % 3);
        next = std::min(next, 10.0 * std::log10(f.r[0] / 240.0 + 1e-38));
        run(&vad, f, n);
        if (n == 129) {
            EXPECT_EQ(vad.min_energy, std::min(overall, next));
        }
    }
    for (int b = 0; b < 15; b++) EXPECT_EQ(vad.min_buffer[b], block[b + 1]);
    EXPECT_EQ(vad.min_buffer[15], next);
    EXPECT_EQ(vad.prev_min, *std::min_element(vad.min_buffer, vad.min_buffer + 16));

    // 32767 is followed by 256: still the sliding regime, with a block closing at 256.
    for (int n = 137; n <= 143; n++) run(&vad, Frame(60.0), n);
    run(&vad, Frame(60.0), 32767);
    std::copy(vad.min_buffer, vad.min_buffer + 16, block);
    run(&vad, Frame(20.0), 256);
    EXPECT_EQ(vad.min_buffer[14], block[15]);
    EXPECT_NEAR(vad.min_buffer[15], 20.0, 1e-9);
    // The first frame of a block restarts from the window minimum.
    vad.prev_min = 33.25;
    vad.min_energy = 10.0;
    run(&vad, Frame(60.0), 257);
    EXPECT_EQ(vad.min_energy, 33.25);
    EXPECT_EQ(vad.next_min, frame_db(60.0));

    // The rc1 < 0.6 rule applies only past frame 128, including after the wrap.
    for (int n : {100, 256, 32767}) {
        g729_vad_state v = configured(50.0, 9.0, 9.8);
        EXPECT_EQ(run(&v, Frame(50.0), n, 0, 0, 0.5), n > 128 ? 0 : 1) << n;
    }
}
