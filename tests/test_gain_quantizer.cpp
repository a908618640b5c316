// SPDX-License-Identifier: BSD-2-Clause
// Gain quantizer: MA prediction, preselection window, pair search, taming.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/tables/gain_tables.h"

using namespace g729;

namespace {

struct Lcg {
    uint32_t s;
    double next() {
        s = s * 1664525u + 1013904223u;
        return static_cast<double>(s >> 8) / 8388608.0 - 1.0;
    }
};

// Decoder side: row of each transmitted code.
void decode_rows(int32_t index, int* r1, int* r2) {
    *r1 = -1;
    *r2 = -1;
    for (int k = 0; k < 8; k++) {
        if (gain_map_1[k] == (index >> 4)) *r1 = k;
    }
    for (int k = 0; k < 16; k++) {
        if (gain_map_2[k] == (index & 15)) *r2 = k;
    }
}

double pair_error(const double c[5], int r1, int r2, double g0) {
    const double gp = gain_codebook_2[r2][0] + gain_codebook_1[r1][0];
    const double gc = (gain_codebook_2[r2][1] + gain_codebook_1[r1][1]) * g0;
    return gp * gp * c[0] + c[1] * gp + gc * gc * c[2] + c[3] * gc + gc * gp * c[4];
}

// First rows of the two preselected windows.
void preselect(const double c[5], double g0, int taming, int* cand1, int* cand2) {
    const double t = -1.0 / (4.0 * c[0] * c[2] - c[4] * c[4]);
    double gp = ((c[2] + c[2]) * c[1] - c[4] * c[3]) * t;
    const double gc = ((c[0] + c[0]) * c[3] - c[4] * c[1]) * t;
    if (taming == 1 && gp > 0.94) gp = 0.94;
    const double u = gp * 31.134575;
    const double x = (gc - (0.053056 + u) * g0) * -0.032623;
    const double y = (((u - 1.612322) * 0.481389) * g0 - gc * 31.134575) * -0.032623;
    *cand1 = 0;
    *cand2 = 0;
    if (g0 > 0.0) {
        while (*cand1 < 4 && y > gain_preselection_thresholds_1[*cand1] * g0) ++*cand1;
        while (*cand2 < 8 && x > gain_preselection_thresholds_2[*cand2] * g0) ++*cand2;
    } else {
        while (*cand1 < 4 && y < gain_preselection_thresholds_1[*cand1] * g0) ++*cand1;
        while (*cand2 < 8 && x < gain_preselection_thresholds_2[*cand2] * g0) ++*cand2;
    }
}

struct Subframe {
    double x[40], y[40], z[40], code[40];
    double c[5];
};

// A target made of the two filtered vectors with the given gains, plus noise.
Subframe make_subframe(Lcg& rng, double gp, double gc, double noise) {
    Subframe s{};
    for (int k = 0; k < 4; k++) s.code[10 * k + (3 * k) % 5] = rng.next() > 0.0 ? 1.0 : -1.0;
    for (int n = 0; n < 40; n++) {
        s.y[n] = 300.0 * rng.next();
        s.z[n] = 2.0 * rng.next();
        s.x[n] = gp * s.y[n] + gc * s.z[n] + noise * rng.next();
    }
    adaptive_codebook_gain(s.x, s.y, s.c, 40);
    fixed_codebook_correlations(s.x, s.y, s.z, s.c);
    return s;
}

}  // namespace

TEST(GainPredictor, InitialMemoryWithFourPulses) {
    const double mem[4] = {-14.0, -14.0, -14.0, -14.0};
    double code[40] = {};
    code[0] = 1.0;
    code[11] = -1.0;
    code[22] = 1.0;
    code[39] = -1.0;
    double g0 = 0.0;
    gain_predictor_predict(mem, code, 40, &g0);
    EXPECT_NEAR(g0, 11.129043, 5e-7);
    EXPECT_NEAR(20.0 * std::log10(g0), 20.929156, 5e-7);

    // Each memory entry weighs in with its own coefficient, newest first.
    const double newest[4] = {6.0, 0.0, 0.0, 0.0};
    gain_predictor_predict(newest, code, 40, &g0);
    EXPECT_NEAR(20.0 * std::log10(g0), 20.929156 + 25.06 + 0.68 * 6.0, 1e-6);
    const double oldest[4] = {0.0, 0.0, 0.0, 6.0};
    gain_predictor_predict(oldest, code, 40, &g0);
    EXPECT_NEAR(20.0 * std::log10(g0), 20.929156 + 25.06 + 0.19 * 6.0, 1e-6);
}

TEST(GainPredictor, UpdateShiftsAndStoresDecibels) {
    double mem[4] = {1.0, 2.0, 3.0, 4.0};
    gain_predictor_update(mem, 1.0);
    EXPECT_EQ(mem[0], 0.0);
    EXPECT_EQ(mem[1], 1.0);
    EXPECT_EQ(mem[2], 2.0);
    EXPECT_EQ(mem[3], 3.0);
}

TEST(GainCorrelations, EntriesOfConstantVectors) {
    double x[40], y[40], z[40];
    for (int n = 0; n < 40; n++) {
        x[n] = 1.0;
        y[n] = 2.0;
        z[n] = 0.5;
    }
    double c[5] = {-1.0, -1.0, 0.0, 0.0, 0.0};
    fixed_codebook_correlations(x, y, z, c);
    EXPECT_EQ(c[0], -1.0);
    EXPECT_EQ(c[1], -1.0);
    EXPECT_NEAR(c[2], 10.01, 1e-12);
    EXPECT_NEAR(c[3], -40.02, 1e-12);
    EXPECT_NEAR(c[4], 80.02, 1e-12);
}

TEST(GainQuantizer, ChoosesFirstMinimumOfPreselectedWindow) {
    Lcg rng{77};
    int global_hits = 0;
    const int trials = 400;
    for (int trial = 0; trial < trials; trial++) {
        const double gp_true = 1.3 * std::fabs(rng.next());
        const double gc_true = 400.0 * std::fabs(rng.next());
        const Subframe s = make_subframe(rng, gp_true, gc_true, 40.0 * std::fabs(rng.next()));
        double mem[4];
        for (double& m : mem) m = -14.0 + 24.0 * std::fabs(rng.next());
        const double mem0[4] = {mem[0], mem[1], mem[2], mem[3]};
        const int taming = trial % 3;  // 2 must act like 0

        double g0 = 0.0;
        gain_predictor_predict(mem0, s.code, 40, &g0);
        int cand1 = 0, cand2 = 0;
        preselect(s.c, g0, taming, &cand1, &cand2);
        ASSERT_LE(cand1, 4);
        ASSERT_LE(cand2, 8);

        double gp = -1.0, gc = -1.0;
        const int32_t index = quantize_gains(mem, s.code, s.c, 40, &gp, &gc, taming);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, 128);
        int k = 0, j = 0;
        decode_rows(index, &k, &j);
        ASSERT_GE(k, cand1);
        ASSERT_LE(k, cand1 + 3);
        ASSERT_GE(j, cand2);
        ASSERT_LE(j, cand2 + 7);

        // Decoded gains are bit-identical to the encoder's.
        const double gamma = gain_codebook_1[k][1] + gain_codebook_2[j][1];
        EXPECT_EQ(gp, gain_codebook_1[k][0] + gain_codebook_2[j][0]);
        EXPECT_EQ(gc, g0 * gamma);
        EXPECT_EQ(mem[0], 20.0 * std::log10(gamma));
        EXPECT_EQ(mem[1], mem0[0]);
        EXPECT_EQ(mem[3], mem0[2]);
        if (taming == 1) {
            EXPECT_LT(gp, 0.9999);
        }

        // No earlier allowed pair is as good, no later one better.
        const double chosen = pair_error(s.c, k, j, g0);
        for (int r1 = cand1; r1 < cand1 + 4; r1++) {
            for (int r2 = cand2; r2 < cand2 + 8; r2++) {
                if (taming == 1 && gain_codebook_2[r2][0] + gain_codebook_1[r1][0] >= 0.9999)
                    continue;
                const double e = pair_error(s.c, r1, r2, g0);
                const bool earlier = r1 < k || (r1 == k && r2 < j);
                if (earlier) {
                    EXPECT_GT(e, chosen) << "trial " << trial;
                } else {
                    EXPECT_GE(e, chosen) << "trial " << trial;
                }
            }
        }

        // The window usually holds the best pair of the whole codebook.
        if (taming != 1) {
            double best = 1e38;
            for (int r1 = 0; r1 < 8; r1++)
                for (int r2 = 0; r2 < 16; r2++) best = std::fmin(best, pair_error(s.c, r1, r2, g0));
            if (best == chosen) global_hits++;
        }
    }
    EXPECT_GT(global_hits, (trials * 2 / 3) * 8 / 10);
}

TEST(GainQuantizer, TamingLimitsPitchGainOnlyForFlagOne) {
    Lcg rng{123};
    int limited = 0;
    for (int trial = 0; trial < 50; trial++) {
        const Subframe s = make_subframe(rng, 1.15 + 0.1 * std::fabs(rng.next()), 100.0, 5.0);
        const double mem0[4] = {-14.0, -14.0, -14.0, -14.0};
        double gp[3], gc[3];
        int32_t index[3];
        const int32_t flags[3] = {0, 1, 2};
        for (int f = 0; f < 3; f++) {
            double mem[4] = {mem0[0], mem0[1], mem0[2], mem0[3]};
            index[f] = quantize_gains(mem, s.code, s.c, 40, &gp[f], &gc[f], flags[f]);
        }
        // Flag values other than 1 change nothing.
        EXPECT_EQ(index[2], index[0]);
        EXPECT_EQ(gp[2], gp[0]);
        EXPECT_EQ(gc[2], gc[0]);
        EXPECT_LT(gp[1], 0.9999);
        if (gp[0] >= 0.9999) limited++;
    }
    // Without taming the high optimum is reached with a pitch gain of at least 0.9999.
    EXPECT_GT(limited, 40);
}

TEST(GainQuantizer, VanishingPredictionTiesAndWindow) {
    // A vanishing predicted gain (memory far below any real level) and no pitch terms make
    // every pair's error exactly 0; the first pair of the window must be kept.
    Lcg rng{5};
    for (int trial = 0; trial < 20; trial++) {
        const double c[5] = {0.0, 0.0, 1.0 + std::fabs(rng.next()), 50.0 * rng.next(),
                             30.0 * rng.next()};
        double mem[4] = {-1e4, -1e4, -1e4, -1e4};
        double code[40] = {};
        code[3] = 1.0;
        double g0 = 1.0;
        gain_predictor_predict(mem, code, 40, &g0);
        ASSERT_EQ(g0, 0.0);
        int cand1 = 0, cand2 = 0;
        preselect(c, g0, 0, &cand1, &cand2);
        double gp = 0.0, gc = 1.0;
        const int32_t index = quantize_gains(mem, code, c, 40, &gp, &gc, 0);
        EXPECT_EQ(index, gain_map_1[cand1] * 16 + gain_map_2[cand2]) << trial;
        EXPECT_EQ(gc, 0.0);
    }

    // Same vanishing g0 with real correlations: the window comes from the g0 <= 0 comparisons.
    for (int trial = 0; trial < 20; trial++) {
        const Subframe s = make_subframe(rng, 0.8, trial % 2 ? 200.0 : -200.0, 10.0);
        double mem[4] = {-1e4, -1e4, -1e4, -1e4};
        int cand1 = 0, cand2 = 0;
        preselect(s.c, 0.0, 0, &cand1, &cand2);
        double gp = 0.0, gc = 1.0;
        const int32_t index = quantize_gains(mem, s.code, s.c, 40, &gp, &gc, 0);
        int k = 0, j = 0;
        decode_rows(index, &k, &j);
        EXPECT_GE(k, cand1);
        EXPECT_LE(k, cand1 + 3);
        EXPECT_GE(j, cand2);
        EXPECT_LE(j, cand2 + 7);
        EXPECT_EQ(gc, 0.0);
    }
}
