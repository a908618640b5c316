// SPDX-License-Identifier: BSD-2-Clause
// Pitch analysis: open-loop and closed-loop lags, interpolation, lag coding, pitch gain.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <set>

#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/tables/pitch_tables.h"

using namespace g729;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kWspHistory = 143;
constexpr int kExcHistory = 154;

// Deterministic uniform values in [-1, 1).
struct Lcg {
    uint32_t s;
    double next() {
        s = s * 1664525u + 1013904223u;
        return static_cast<double>(s >> 8) / 8388608.0 - 1.0;
    }
};

// Smooth test signal: a few sinusoids well inside the interpolation filter's passband.
double smooth(double t) {
    return 900.0 * std::sin(2.0 * kPi * t / 7.3 + 0.4) +
           700.0 * std::sin(2.0 * kPi * t / 11.9 + 1.3) +
           500.0 * std::sin(2.0 * kPi * t / 17.7 + 2.9) + 300.0 * std::sin(2.0 * kPi * t / 29.1);
}

// Lag decoding as the decoder does it.
void decode_lag_1(int index, int* lag, int* frac) {
    if (index <= 196) {
        *lag = (index + 2) / 3 + 19;
        *frac = index - 3 * *lag + 58;
    } else {
        *lag = index - 112;
        *frac = 0;
    }
}

void decode_lag_2(int index, int lag1, int* lag, int* frac) {
    int low = lag1 - 5 > 20 ? lag1 - 5 : 20;
    if (low + 9 > 143) {
        low = 143 - 9;
    }
    *lag = low + (index + 2) / 3 - 1;
    *frac = index - 2 - 3 * ((index + 2) / 3 - 1);
}

int open_loop_on(const double* frame_and_history) {
    return open_loop_pitch_search(frame_and_history + kWspHistory, 80);
}

}  // namespace

TEST(OpenLoopPitch, ZeroSpeechGivesShortestLag) {
    double wsp[kWspHistory + 80] = {};
    EXPECT_EQ(open_loop_on(wsp), 20);
}

TEST(OpenLoopPitch, FindsPeriodOfPeriodicSignals) {
    // Random periodic signals: the period and all its multiples correlate perfectly.
    for (int period : {30, 57, 75}) {
        double r[143];
        Lcg rng{static_cast<uint32_t>(period)};
        for (double& v : r) v = 1000.0 * rng.next();
        double wsp[kWspHistory + 80];
        for (int k = 0; k < kWspHistory + 80; k++) wsp[k] = r[k % period];
        EXPECT_EQ(open_loop_on(wsp), period) << "period " << period;
    }
}

TEST(OpenLoopPitch, FavoursShortLagWhoseMultipleWinsSlightly) {
    // Period P plus a weak component of period m*P: lag m*P scores a little higher than P,
    // the multiple rules must bring the choice back to P.
    struct Case {
        int period, multiple;
    };
    for (const Case& c : {Case{57, 2}, Case{44, 3}, Case{25, 3}}) {
        double r1[143], r2[143];
        Lcg rng{static_cast<uint32_t>(c.period * 10 + c.multiple)};
        for (double& v : r1) v = 1000.0 * rng.next();
        for (double& v : r2) v = 200.0 * rng.next();
        double wsp[kWspHistory + 80];
        for (int k = 0; k < kWspHistory + 80; k++) {
            wsp[k] = r1[k % c.period] + r2[k % (c.period * c.multiple)];
        }
        EXPECT_EQ(open_loop_on(wsp), c.period) << "period " << c.period;
    }
}

TEST(OpenLoopPitch, RefinementReachesOddLongestLag) {
    // Odd harmonics of period 143: half-period lags anti-correlate, only 143 matches, and the
    // even scan stops at 142 so the +1 refinement must find it.
    double wsp[kWspHistory + 80];
    for (int k = 0; k < kWspHistory + 80; k++) {
        const double w = 2.0 * kPi * k / 143.0;
        wsp[k] = 1000.0 * std::sin(w) + 500.0 * std::sin(3.0 * w + 0.7) +
                 300.0 * std::sin(5.0 * w + 1.9);
    }
    EXPECT_EQ(open_loop_on(wsp), 143);
}

TEST(ClosedLoopPitch, ZeroTargetKeepsFirstLagAndFractionZero) {
    double exc[kExcHistory + 40];
    Lcg rng{7};
    for (double& v : exc) v = 100.0 * rng.next();
    double x[40] = {};
    double h[40] = {};
    h[0] = 1.0;
    for (int offset : {0, 40}) {
        double buf[kExcHistory + 40];
        double ref[kExcHistory + 40];
        for (int k = 0; k < kExcHistory + 40; k++) buf[k] = ref[k] = exc[k];
        int32_t frac = 9;
        const int32_t t0 =
            closed_loop_pitch_search(buf + kExcHistory, x, h, 40, 61, 67, offset, &frac);
        EXPECT_EQ(t0, 61);
        EXPECT_EQ(frac, 0);
        adaptive_codebook_interpolate(ref + kExcHistory, 61, 0, 40);
        for (int n = 0; n < 40; n++) EXPECT_EQ(buf[kExcHistory + n], ref[kExcHistory + n]);
    }
}

TEST(ClosedLoopPitch, FindsFractionalDelayAndLeavesItsVector) {
    struct Case {
        int t0;
        int frac;
        int offset;
        int lo;
        int hi;
        int want_frac;
    };
    const Case cases[] = {
        {60, -1, 0, 57, 63, -1},    {60, 0, 0, 57, 63, 0},    {60, 1, 0, 57, 63, 1},
        {84, 1, 0, 81, 87, 1},      {85, 1, 0, 82, 88, 0},    {85, 1, 40, 80, 89, 1},
        {100, -1, 40, 95, 104, -1}, {100, -1, 0, 97, 103, 0},
    };
    for (const Case& c : cases) {
        double exc[kExcHistory + 40];
        for (int k = 0; k < kExcHistory + 40; k++) exc[k] = smooth(k - kExcHistory);
        double x[40];
        const double delay = c.t0 + c.frac / 3.0;
        for (int n = 0; n < 40; n++) x[n] = smooth(n - delay);
        double h[40] = {};
        h[0] = 1.0;

        double ref[kExcHistory + 40];
        for (int k = 0; k < kExcHistory + 40; k++) ref[k] = exc[k];

        int32_t frac = 9;
        const int32_t t0 =
            closed_loop_pitch_search(exc + kExcHistory, x, h, 40, c.lo, c.hi, c.offset, &frac);
        EXPECT_EQ(t0, c.t0) << "delay " << delay;
        EXPECT_EQ(frac, c.want_frac) << "delay " << delay << " offset " << c.offset;

        // The vector in place is the one of the returned fraction.
        adaptive_codebook_interpolate(ref + kExcHistory, t0, frac, 40);
        for (int n = 0; n < 40; n++) ASSERT_EQ(exc[kExcHistory + n], ref[kExcHistory + n]);
        for (int k = 0; k < kExcHistory; k++) ASSERT_EQ(exc[k], ref[k]);
    }
}

TEST(AdaptiveCodebookInterpolation, DelaysSmoothSignalByFractionalLag) {
    for (int t0 : {20, 41, 143}) {
        for (int frac = -1; frac <= 1; frac++) {
            double exc[kExcHistory + 40] = {};
            for (int k = 0; k < kExcHistory; k++) exc[k] = smooth(k - kExcHistory);
            adaptive_codebook_interpolate(exc + kExcHistory, t0, frac, 40);
            const double delay = t0 + frac / 3.0;
            // Only samples whose taps all lie in the past history.
            for (int n = 0; n < 40 && n < t0 - 10; n++) {
                EXPECT_NEAR(exc[kExcHistory + n], smooth(n - delay), 0.01 * 2400.0)
                    << "t0 " << t0 << " frac " << frac << " n " << n;
            }
        }
    }
}

TEST(AdaptiveCodebookInterpolation, ShortLagReadsItsOwnOutput) {
    // T0 = 20: from n = 10 on the right taps reach samples written by this call, never the
    // stale contents of the subframe.
    const double* w = excitation_interpolation_filter;
    double exc[kExcHistory + 40];
    Lcg rng{3};
    for (int k = 0; k < kExcHistory; k++) exc[k] = 100.0 * rng.next();
    for (int k = kExcHistory; k < kExcHistory + 40; k++) exc[k] = 1e9;

    double ext[kExcHistory + 40];
    for (int k = 0; k < kExcHistory; k++) ext[k] = exc[k];
    for (int n = 0; n < 40; n++) {
        const int p = kExcHistory + n - 20;
        double s = 0.0;
        for (int i = 0; i < 10; i++) s += ext[p - i] * w[3 * i] + ext[p + 1 + i] * w[3 + 3 * i];
        ext[kExcHistory + n] = s;
    }
    adaptive_codebook_interpolate(exc + kExcHistory, 20, 0, 40);
    for (int n = 0; n < 40; n++) {
        EXPECT_EQ(exc[kExcHistory + n], ext[kExcHistory + n]) << n;
        EXPECT_LT(std::fabs(exc[kExcHistory + n]), 1e4) << n;
    }
}

TEST(PitchLagCoding, FirstSubframeIndexTable) {
    const int rows[][3] = {{20, -1, 1},  {20, 0, 2},   {84, 1, 195},
                           {85, 0, 197}, {86, 0, 198}, {143, 0, 255}};
    for (const auto& r : rows) {
        int32_t lo = 0, hi = 0;
        EXPECT_EQ(encode_pitch_lag(r[0], r[1], &lo, &hi, 20, 143, 0), r[2]);
    }
}

TEST(PitchLagCoding, FirstSubframeRoundTripOverEveryProducibleIndex) {
    std::set<int> seen;
    for (int t0 = 20; t0 <= 143; t0++) {
        // Fractions are searched only up to lag 84.
        const int f_lo = t0 <= 84 ? -1 : 0;
        const int f_hi = t0 <= 84 ? 1 : 0;
        for (int frac = f_lo; frac <= f_hi; frac++) {
            int32_t lo = 0, hi = 0;
            const int32_t index = encode_pitch_lag(t0, frac, &lo, &hi, 20, 143, 0);
            ASSERT_GE(index, 0);
            ASSERT_LE(index, 255);
            EXPECT_TRUE(seen.insert(index).second) << "duplicate index " << index;
            int lag = 0, f = 0;
            decode_lag_1(index, &lag, &f);
            EXPECT_EQ(lag, t0) << index;
            EXPECT_EQ(f, frac) << index;
        }
    }
    EXPECT_EQ(seen.size(), 254u);
    EXPECT_EQ(seen.count(0), 0u);
    EXPECT_EQ(seen.count(196), 0u);
}

TEST(PitchLagCoding, SecondSubframeRangeAndRoundTrip) {
    struct Range {
        int t0, lo, hi;
    };
    for (const Range& r : {Range{140, 134, 143}, Range{22, 20, 29}, Range{20, 20, 29},
                           Range{60, 55, 64}, Range{138, 133, 142}, Range{139, 134, 143}}) {
        int32_t lo = 0, hi = 0;
        encode_pitch_lag(r.t0, 0, &lo, &hi, 20, 143, 0);
        EXPECT_EQ(lo, r.lo) << r.t0;
        EXPECT_EQ(hi, r.hi) << r.t0;
    }
    for (int lag1 = 20; lag1 <= 143; lag1++) {
        int32_t lo = 0, hi = 0;
        encode_pitch_lag(lag1, 0, &lo, &hi, 20, 143, 0);
        ASSERT_EQ(hi - lo, 9);
        for (int t0 = lo; t0 <= hi; t0++) {
            for (int frac = -1; frac <= 1; frac++) {
                int32_t lo2 = lo, hi2 = hi;
                const int32_t index = encode_pitch_lag(t0, frac, &lo2, &hi2, 20, 143, 40);
                EXPECT_EQ(lo2, lo);
                EXPECT_EQ(hi2, hi);
                ASSERT_GE(index, 1);
                ASSERT_LE(index, 30);
                int lag = 0, f = 0;
                decode_lag_2(index, lag1, &lag, &f);
                EXPECT_EQ(lag, t0);
                EXPECT_EQ(f, frac);
            }
        }
    }
}

TEST(AdaptiveCodebookGain, RatioLimitsAndCorrelations) {
    double x[40], y[40];
    Lcg rng{11};
    for (int n = 0; n < 40; n++) {
        y[n] = rng.next();
        x[n] = 0.5 * y[n];
    }
    double g[5] = {};
    double yy = 0.01, xy = 0.0;
    for (int n = 0; n < 40; n++) yy += y[n] * y[n];
    for (int n = 0; n < 40; n++) xy += x[n] * y[n];
    EXPECT_EQ(adaptive_codebook_gain(x, y, g, 40), xy / yy);
    EXPECT_NEAR(xy / yy, 0.5, 0.01);
    EXPECT_EQ(g[0], yy);
    EXPECT_EQ(g[1], -2.0 * xy + 0.01);

    // Anti-correlated: 0. Ratio above 1.2: 1.2.
    for (int n = 0; n < 40; n++) x[n] = -y[n];
    EXPECT_EQ(adaptive_codebook_gain(x, y, g, 40), 0.0);
    EXPECT_GT(g[1], 0.0);
    for (int n = 0; n < 40; n++) x[n] = 3.0 * y[n];
    EXPECT_EQ(adaptive_codebook_gain(x, y, g, 40), 1.2);

    g[0] = g[1] = 7.0;
    EXPECT_EQ(adaptive_codebook_gain(x, y, g, 0), 0.0);
    EXPECT_EQ(g[0], 0.01);
    EXPECT_EQ(g[1], 0.01);
}
