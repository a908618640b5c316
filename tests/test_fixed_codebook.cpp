// SPDX-License-Identifier: BSD-2-Clause
// Algebraic codebook search: pulse choice, indices, sharpening and the filtered vector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "codec/common/code_vector.h"
#include "codec/encoder/codebook_search.h"
#include "codec/encoder/fixed_codebook.h"

using namespace g729;

namespace {

struct Lcg {
    uint32_t s;
    double next() {
        s = s * 1664525u + 1013904223u;
        return static_cast<double>(s >> 8) / 8388608.0 - 1.0;
    }
};

// Impulse response of a damped resonance, h[0] = 1 like a weighted synthesis filter.
void resonant_h(double h[40], double r, double w) {
    for (int n = 0; n < 40; n++) h[n] = std::pow(r, n) * std::cos(w * n);
}

// Pulse vector as the decoder rebuilds it from the two indices.
void decode_pulses(int32_t pos, int32_t signs, int p[4], double s[4]) {
    p[0] = 5 * (pos & 7);
    p[1] = 5 * ((pos >> 3) & 7) + 1;
    p[2] = 5 * ((pos >> 6) & 7) + 2;
    p[3] = 5 * ((pos >> 10) & 7) + 3 + ((pos >> 9) & 1);
    for (int k = 0; k < 4; k++) s[k] = ((signs >> k) & 1) ? 1.0 : -1.0;
}

void sharpen(double v[40], int t0, double g) {
    for (int i = t0; i < 40; i++) v[i] = v[i] + g * v[i - t0];
}

// Half the energy of the filtered pulse vector, computed by direct convolution.
double half_energy(const double h[40], const int* pos, const double* sgn, int count) {
    double y[40] = {};
    for (int k = 0; k < count; k++) {
        for (int n = pos[k]; n < 40; n++) y[n] += sgn[pos[k]] * h[n - pos[k]];
    }
    double e = 0.0;
    for (double v : y) e += v * v;
    return 0.5 * e;
}

// The search tree written with direct energies instead of the correlation matrix.
struct TreeResult {
    int pos[4];
    double crit_num;
    double crit_den;
};

TreeResult reference_tree(const double h[40], const double x[40]) {
    double d[40], sgn[40];
    for (int n = 0; n < 40; n++) {
        double s = 0.0;
        for (int i = n; i < 40; i++) s += x[i] * h[i - n];
        sgn[n] = s >= 0.0 ? 1.0 : -1.0;
        d[n] = std::fabs(s);
    }
    auto top2 = [&](int track, int out[2]) {
        for (int c = 0; c < 2; c++) {
            double best = -1.0;
            for (int p = track; p < 40; p += 5) {
                if (c == 1 && p == out[0]) continue;
                if (d[p] > best) {
                    best = d[p];
                    out[c] = p;
                }
            }
        }
    };
    // Stage over pairs (first list x second list) on top of fixed pulses.
    auto stage = [&](const int* first, int nfirst, int track_second, const int* fixed, int nfixed,
                     int* best_a, int* best_b, double* num, double* den) {
        double sq = -1.0, alp = 1.0;
        for (int a = 0; a < nfirst; a++) {
            for (int p = track_second; p < 40; p += 5) {
                int pulses[4];
                double ps = 0.0;
                for (int k = 0; k < nfixed; k++) {
                    pulses[k] = fixed[k];
                    ps += d[fixed[k]];
                }
                pulses[nfixed] = first[a];
                pulses[nfixed + 1] = p;
                ps += d[first[a]] + d[p];
                const double e = half_energy(h, pulses, sgn, nfixed + 2);
                if (ps * ps * alp - e * sq > 0.0) {
                    sq = ps * ps;
                    alp = e;
                    *best_a = first[a];
                    *best_b = p;
                }
            }
        }
        *num = sq;
        *den = alp;
    };
    const int all0[8] = {0, 5, 10, 15, 20, 25, 30, 35};
    const int all1[8] = {1, 6, 11, 16, 21, 26, 31, 36};
    TreeResult best{{0, 1, 2, 3}, -1.0, 1.0};
    for (int t = 3; t <= 4; t++) {
        for (int variant = 1; variant <= 2; variant++) {
            int cand[2];
            int a = 0, b = 0, c = 0, e = 0;
            double num = 0.0, den = 0.0;
            int pos[4];
            if (variant == 1) {
                top2(2, cand);
                stage(cand, 2, t, nullptr, 0, &a, &b, &num, &den);
                const int fixed[2] = {a, b};
                stage(all0, 8, 1, fixed, 2, &c, &e, &num, &den);
                pos[0] = c;
                pos[1] = e;
                pos[2] = a;
                pos[3] = b;
            } else {
                top2(t, cand);
                stage(cand, 2, 0, nullptr, 0, &a, &b, &num, &den);
                const int fixed[2] = {a, b};
                stage(all1, 8, 2, fixed, 2, &c, &e, &num, &den);
                pos[0] = b;
                pos[1] = c;
                pos[2] = e;
                pos[3] = a;
            }
            if (best.crit_den * num - best.crit_num * den > 0.0) {
                best = TreeResult{{pos[0], pos[1], pos[2], pos[3]}, num, den};
            }
        }
    }
    return best;
}

struct SearchOut {
    int32_t index;
    int32_t signs;
    double code[40];
    double y[40];
    double h[40];
};

SearchOut run_search(const double x[40], const double h[40], int t0, double sharp) {
    SearchOut o{};
    for (int n = 0; n < 40; n++) o.h[n] = h[n];
    o.index = fixed_codebook_search(x, o.h, t0, o.code, o.y, &o.signs, sharp);
    return o;
}

}  // namespace

TEST(CorrelateTargetImpulse, ShiftedImpulseShiftsTarget) {
    double x[40], h[40] = {}, d[40];
    Lcg rng{5};
    for (double& v : x) v = rng.next();
    h[0] = 1.0;
    correlate_target_impulse(h, x, d);
    for (int n = 0; n < 40; n++) EXPECT_EQ(d[n], x[n]);
    h[0] = 0.0;
    h[2] = -2.0;
    correlate_target_impulse(h, x, d);
    for (int n = 0; n < 38; n++) EXPECT_EQ(d[n], -2.0 * x[n + 2]);
    EXPECT_EQ(d[38], 0.0);
    EXPECT_EQ(d[39], 0.0);
}

TEST(FixedCodebookSearch, ZeroTargetGivesFirstPositionsAllPositive) {
    double x[40] = {}, h[40];
    resonant_h(h, 0.85, 0.6);
    for (int t0 : {30, 60}) {
        const SearchOut o = run_search(x, h, t0, 0.2);
        EXPECT_EQ(o.index, 0);
        EXPECT_EQ(o.signs, 15);
        for (int n = 0; n < 4; n++) EXPECT_EQ(o.code[n], 1.0);
    }
}

TEST(FixedCodebookSearch, UnitImpulsePicksLargestTargetOfEachTrack) {
    // With h a unit impulse every energy is the same, so the tree finds the largest |x| per
    // track (and the larger of tracks 3 and 4), signs following x.
    double h[40] = {};
    h[0] = 1.0;
    double x[40];
    for (int n = 0; n < 40; n++) x[n] = 0.1 + 0.001 * n;
    x[20] = -5.0;  // track 0
    x[11] = 4.0;   // track 1
    x[7] = -3.0;   // track 2, tied with 22: the lower position wins
    x[22] = 3.0;
    x[39] = -6.0;  // track 4 beats track 3
    x[33] = 2.0;
    SearchOut o = run_search(x, h, 80, 0.5);
    EXPECT_EQ(o.index, 4 + 8 * 2 + 64 * 1 + 512 * 15);
    EXPECT_EQ((o.index >> 9) & 15, 15);
    EXPECT_EQ(o.signs, 2);  // only the track-1 pulse is positive

    for (int n = 0; n < 40; n++) x[n] = -x[n] - 0.2;  // all pulses flip
    x[7] = 2.8;
    x[22] = -2.8;
    x[38] = 9.0;  // track 3 now wins, at its last position
    o = run_search(x, h, 80, 0.5);
    int p[4];
    double s[4];
    decode_pulses(o.index, o.signs, p, s);
    EXPECT_EQ(p[0], 20);
    EXPECT_EQ(p[1], 11);
    EXPECT_EQ(p[2], 7);
    EXPECT_EQ(p[3], 38);
    EXPECT_EQ(o.signs, 1 + 4 + 8);

    for (int n = 0; n < 40; n++) x[n] = -1.0 - 0.01 * ((n * 7) % 5);
    x[3] = -2.0;
    o = run_search(x, h, 80, 0.5);
    EXPECT_EQ(o.signs, 0);
    EXPECT_EQ((o.index >> 9) & 15, 0);
}

TEST(FixedCodebookSearch, SharpeningOnlyBelowFortyAndOnlyFromLag) {
    double x[40], h[40];
    Lcg rng{9};
    for (double& v : x) v = rng.next();
    resonant_h(h, 0.9, 0.3);

    SearchOut o = run_search(x, h, 40, 0.7);
    for (int n = 0; n < 40; n++) EXPECT_EQ(o.h[n], h[n]);
    int p[4];
    double s[4];
    decode_pulses(o.index, o.signs, p, s);
    double code[40] = {};
    for (int k = 0; k < 4; k++) code[p[k]] = s[k];
    for (int n = 0; n < 40; n++) EXPECT_EQ(o.code[n], code[n]);

    o = run_search(x, h, 39, 0.7);
    for (int n = 0; n < 39; n++) EXPECT_EQ(o.h[n], h[n]);
    EXPECT_EQ(o.h[39], h[39] + 0.7 * h[0]);
    decode_pulses(o.index, o.signs, p, s);
    for (double& v : code) v = 0.0;
    for (int k = 0; k < 4; k++) code[p[k]] = s[k];
    for (int n = 0; n < 39; n++) EXPECT_EQ(o.code[n], code[n]);
    EXPECT_EQ(o.code[39], code[39] + 0.7 * code[0]);
}

TEST(FixedCodebookSearch, MatchesTreeWithDirectEnergiesAndFilteredVector) {
    Lcg rng{2024};
    const int lags[] = {20, 23, 31, 39, 40, 57, 143};
    for (int trial = 0; trial < 140; trial++) {
        double x[40], h[40];
        for (double& v : x) v = 1000.0 * rng.next();
        resonant_h(h, 0.6 + 0.35 * std::fabs(rng.next()), 3.0 * std::fabs(rng.next()));
        const int t0 = lags[trial % 7];
        const double sharp = 0.2 + 0.5945 * std::fabs(rng.next());

        const SearchOut o = run_search(x, h, t0, sharp);

        double hs[40];
        for (int n = 0; n < 40; n++) hs[n] = h[n];
        if (t0 < 40) sharpen(hs, t0, sharp);
        for (int n = 0; n < 40; n++) ASSERT_EQ(o.h[n], hs[n]);

        const TreeResult ref = reference_tree(hs, x);
        int p[4];
        double s[4];
        decode_pulses(o.index, o.signs, p, s);
        for (int k = 0; k < 4; k++)
            ASSERT_EQ(p[k], ref.pos[k]) << "trial " << trial << " pulse " << k;

        // Pulse signs follow the backward-filtered target.
        for (int k = 0; k < 4; k++) {
            double dk = 0.0;
            for (int i = p[k]; i < 40; i++) dk += x[i] * hs[i - p[k]];
            EXPECT_EQ(s[k], dk >= 0.0 ? 1.0 : -1.0);
        }

        // Code vector: decoded pulses, sharpened.
        double code[40] = {};
        for (int k = 0; k < 4; k++) code[p[k]] = s[k];
        if (t0 < 40) sharpen(code, t0, sharp);
        for (int n = 0; n < 40; n++) ASSERT_EQ(o.code[n], code[n]);

        // y is the zero-state response of the final code vector through the original h.
        for (int n = 0; n < 40; n++) {
            double v = 0.0;
            for (int k = 0; k <= n; k++) v += code[k] * h[n - k];
            ASSERT_NEAR(o.y[n], v, 1e-9 * (1.0 + std::fabs(v))) << "trial " << trial << " n " << n;
        }
    }
}

// The sharpened code vector against the plain forward loop, bit for bit, for every lag from
// 1 to 45 and pulse sets that put pulses (and the samples t0 after them) at both ends.
TEST(SharpenedCodeVector, EqualsTheForwardLoopForEveryLag) {
    Lcg rng{77};
    const int32_t fixed[] = {0x0000, 0x1FFF, 0x0E00, 0x11C7};
    for (int trial = 0; trial < 40; trial++) {
        const int32_t index = trial < 4 ? fixed[trial]
                                        : static_cast<int32_t>((rng.next() + 1.0) * 4095.0);
        int p[4];
        double s[4];
        decode_pulses(index & 0x1FFF, trial & 15, p, s);
        const double sharp = 0.2 + 0.5945 * std::fabs(rng.next());
        for (int t0 = 1; t0 <= 45; t0++) {
            double want[40] = {};
            for (int k = 0; k < 4; k++) want[p[k]] = s[k];
            if (t0 < 40) sharpen(want, t0, sharp);
            double got[40];
            sharpened_code_vector(p, s, t0, sharp, got);
            ASSERT_EQ(std::memcmp(got, want, sizeof want), 0) << "trial " << trial << " t0 " << t0;
        }
    }
}

// The search compares ps2^2 alp with alp2 sq directly; the criterion it stands for is the sign
// of their rounded difference. Both agree on differences that round to subnormals, on zeros of
// either sign, infinities and NaN.
TEST(FixedCodebookSearch, ComparisonAgreesWithTheSignOfTheDifference) {
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double v[] = {0.0, -0.0, 1.0, -1.0, 3.0, 0.1, 1e-160, 1e-155, tiny, 1e300, inf, -inf,
                        std::nan("")};
    constexpr int k = std::size(v);
    int differ = 0;
    for (int i = 0; i < k * k * k * k; ++i) {  // every (ps2, alp2, sq, alp) of v
        const double ps2 = v[i % k], alp2 = v[i / k % k];
        const double sq = v[i / k / k % k], alp = v[i / k / k / k];
        differ += codebook::better(ps2, alp2, sq, alp) != (ps2 * ps2 * alp - alp2 * sq > 0.0);
    }
    EXPECT_EQ(differ, 0);
}
