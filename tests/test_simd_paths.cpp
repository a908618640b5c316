// SPDX-License-Identifier: BSD-2-Clause
// Every instruction set the codec is compiled for must give the same bits: every routine with
// a choice of instruction set runs on each Highway target this processor runs and on the
// scalar one (HWY_SCALAR or HWY_EMU128: the plain scalar loops), on the same inputs, ordinary
// and awkward ones, and the results are compared bit for bit; so do the whole encoder and the
// whole decoder. The comparisons skip where only the scalar target exists (a build with
// G729_SIMD=OFF). Where a routine has an obvious direct form, the scalar target is checked
// against it too.
// The channel-parallel kernels (Highway) run on every target Highway built that the processor
// runs, against the scalar single-channel routines.
#include <gtest/gtest.h>
#include <hwy/aligned_allocator.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "codec/batch/lane_fixed_codebook.h"
#include "codec/batch/lane_gain_quantizer.h"
#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_lpc_analysis.h"
#include "codec/batch/lane_lsp_quantizer.h"
#include "codec/batch/lane_pitch.h"
#include "codec/batch/lane_postfilter.h"
#include "codec/batch/lane_primitives.h"
#include "codec/batch/lane_subframe.h"
#include "codec/batch/lane_weighting.h"
#include "codec/decoder/decoder_frame.h"
#include "codec/decoder/postfilter.h"
#include "codec/encoder/encoder_frame.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/g729.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/lpc/primitives.h"
#include "codec/output_conversion.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/lsp_quantizer_tables.h"
#include "lib/io/pcm_io.h"

using namespace g729;

namespace {

// The scalar reference target, and the vector targets to compare with it.
constexpr int64_t kScalar = HWY_BASELINE_SCALAR;

std::vector<int64_t> vector_targets() {
    std::vector<int64_t> targets;
    for (int64_t t : hwy::SupportedAndGeneratedTargets()) {
        if (t != kScalar) targets.push_back(t);
    }
    return targets;
}

// The targets Highway may choose from (0: all it supports), as use_targets last set them;
// on_target runs a routine with Highway's choice limited to one target (the routine and
// everything it calls then run that target's code) and restores the choice.
int64_t g_targets = 0;

void use_targets(int64_t targets) {
    g_targets = targets;
    hwy::SetSupportedTargetsForTest(targets);
}

template <class F>
auto on_target(int64_t target, F&& f) {
    hwy::SetSupportedTargetsForTest(target);
    EXPECT_EQ(hwy::SupportedTargets(), target) << "Highway cannot be limited to this target";
    struct Restore {
        ~Restore() { hwy::SetSupportedTargetsForTest(g_targets); }
    } restore;
    return f();
}

#define REQUIRE_VECTOR_TARGETS()                                                        \
    do {                                                                                 \
        if (vector_targets().empty()) {                                                 \
            GTEST_SKIP() << "only the scalar target is compiled or supported: nothing to compare"; \
        }                                                                                \
    } while (0)


// Bitwise equality, except that any two NaNs count as equal (their payloads are not part of
// any output: the decoder emits 0 for a non-finite sample).
bool same(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

::testing::AssertionResult same_doubles(const double* a, const double* b, int n) {
    for (int i = 0; i < n; ++i) {
        if (!same(a[i], b[i])) {
            return ::testing::AssertionFailure()
                   << "element " << i << ": " << a[i] << " vs " << b[i];
        }
    }
    return ::testing::AssertionSuccess();
}

struct Rng {
    std::mt19937_64 gen;
    explicit Rng(uint64_t seed) : gen(seed) {}
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(gen);
    }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
};

// A stable predictor: the LPC coefficients of sorted random LSFs.
void random_lpc(Rng& rng, double a[11]) {
    double lsf[10];
    double x = 0.0;
    for (double& v : lsf) {
        x += rng.uniform(0.05, 0.3);
        v = x;
    }
    const double scale = 3.0 / (x + 0.05);
    double lsp[10];
    for (int i = 0; i < 10; ++i) lsp[i] = std::cos(lsf[i] * scale);
    lsp_to_lpc(lsp, a);
}

// Weighted-speech-like signal with a pitch, plus noise.
std::vector<double> voiced(Rng& rng, int n, double period, double level) {
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) {
        const double t = 2.0 * std::numbers::pi * i / period;
        v[i] = level * (std::sin(t) + 0.5 * std::sin(2.0 * t + 0.3)) + rng.uniform(-50.0, 50.0);
    }
    return v;
}

}  // namespace

TEST(SimdPaths, SynthesisAndResidualFilters) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(1);
        for (int trial = 0; trial < 200; ++trial) {
            double a[11];
            random_lpc(rng, a);
            const int L = trial % 5 == 0 ? rng.integer(0, 40) : (trial % 5 == 1 ? 22 : 40);
            const int update = trial % 2;
            double x[50];
            for (double& v : x) v = rng.uniform(-3000.0, 3000.0);
            if (trial % 7 == 0) x[10 + rng.integer(0, 39)] = 1e-6;  // tiny values meet the flush
            double mem[2][10];
            for (int k = 0; k < 10; ++k) mem[0][k] = mem[1][k] = rng.uniform(-1e-4, 1e-4) * (k + 1);
            double y[2][40];
            on_target(kScalar,
                      [&] { return lpc_synthesis_filter(a, x + 10, y[0], L, mem[0], update); });
            on_target(target,
                      [&] { return lpc_synthesis_filter(a, x + 10, y[1], L, mem[1], update); });
            ASSERT_TRUE(same_doubles(y[0], y[1], L)) << "synthesis, trial " << trial;
            ASSERT_TRUE(same_doubles(mem[0], mem[1], 10)) << "memory, trial " << trial;

            double r[2][40];
            on_target(kScalar, [&] { return lpc_residual_filter(a, x + 10, r[0], L); });
            on_target(target, [&] { return lpc_residual_filter(a, x + 10, r[1], L); });
            ASSERT_TRUE(same_doubles(r[0], r[1], L)) << "residual, trial " << trial;
            // The scalar residual is the direct sum, term by term.
            for (int n = 0; n < L; ++n) {
                double e = a[1] * x[10 + n - 1] + x[10 + n];
                for (int k = 2; k <= 10; ++k) e += a[k] * x[10 + n - k];
                ASSERT_TRUE(same(r[0][n], e)) << "residual output " << n;
            }
        }
    }
}

TEST(SimdPaths, SideBySideFiltersEqualSeparateCalls) {
    Rng rng(2);
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        for (int trial = 0; trial < 60; ++trial) {
            const int count = 1 + trial % 4;
            const int L = trial % 3 == 0 ? 22 : (trial % 3 == 1 ? 40 : rng.integer(0, 40));
            double a[4][11];
            double in[4][40];
            double mem[4][10];
            for (int l = 0; l < 4; ++l) {
                random_lpc(rng, a[l]);
                for (double& v : in[l]) v = rng.uniform(-1000.0, 1000.0);
                for (double& v : mem[l]) v = rng.uniform(-100.0, 100.0);
            }
            // The last job filters in place; some update their memory.
            double out[4][40];
            double mem_lanes[4][10];
            std::memcpy(mem_lanes, mem, sizeof mem);
            double in_place[40];
            std::memcpy(in_place, in[count - 1], sizeof in_place);
            g729simd::SynthesisJob jobs[4];
            for (int l = 0; l < count; ++l) {
                const bool last = l == count - 1;
                jobs[l] = {a[l], last ? in_place : in[l], last ? in_place : out[l], mem_lanes[l],
                           l % 2};
            }
            on_target(target, [&] { return lpc_synthesis_filters(jobs, count, L); });

            for (int l = 0; l < count; ++l) {
                double expect[40];
                double expect_mem[10];
                std::memcpy(expect_mem, mem[l], sizeof expect_mem);
                on_target(kScalar, [&] {
                    return lpc_synthesis_filter(a[l], in[l], expect, L, expect_mem, l % 2);
                });
                const double* got = l == count - 1 ? in_place : out[l];
                ASSERT_TRUE(same_doubles(got, expect, L)) << "lane " << l << " trial " << trial;
                ASSERT_TRUE(same_doubles(mem_lanes[l], expect_mem, 10)) << "lane " << l;
            }
        }
    }
}

TEST(SimdPaths, CopyKeepsAscendingOrderForEveryOverlap) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        for (int shift = -9; shift <= 9; ++shift) {
            for (int n : {0, 1, 3, 4, 7, 40, 143}) {
                double buf[200];
                double expect[200];
                for (int i = 0; i < 200; ++i) buf[i] = expect[i] = i + 0.25;
                const int src = 20;
                const int dst = 20 + shift;
                // The element-by-element ascending copy, smearing when dst follows src closely.
                for (int i = 0; i < n; ++i) expect[dst + i] = expect[src + i];
                on_target(target, [&] { return copy_doubles(buf + src, buf + dst, n); });
                ASSERT_TRUE(same_doubles(buf, expect, 200)) << "shift " << shift << " n " << n;
            }
        }
    }
}

TEST(SimdPaths, InterpolationForEveryLagAndFraction) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(3);
        // Past excitation, the 40 samples written, and room for the taps of lags under 10, which
        // read up to 10 samples past the one being written.
        constexpr int kHistory = 154;
        constexpr int kSize = kHistory + 40 + 10;
        double exc[kSize];
        for (double& v : exc) v = rng.uniform(-5000.0, 5000.0);
        for (int t0 = 1; t0 <= 143; ++t0) {
            for (int frac = -1; frac <= 1; ++frac) {
                for (int length : {40, 37}) {
                    double b[2][kSize];
                    std::memcpy(b[0], exc, sizeof exc);
                    std::memcpy(b[1], exc, sizeof exc);
                    on_target(kScalar, [&] {
                        return adaptive_codebook_interpolate(b[0] + kHistory, t0, frac, length);
                    });
                    on_target(target, [&] {
                        return adaptive_codebook_interpolate(b[1] + kHistory, t0, frac, length);
                    });
                    ASSERT_TRUE(same_doubles(b[0], b[1], kSize))
                        << "t0 " << t0 << " frac " << frac << " length " << length;
                }
            }
        }
    }
}

TEST(SimdPaths, AutocorrelationEveryOrder) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(4);
        for (int trial = 0; trial < 20; ++trial) {
            double x[240];
            for (double& v : x) v = rng.uniform(-20000.0, 20000.0);
            if (trial == 0) std::memset(x, 0, sizeof x);  // silence: r[0] raised to 1
            for (int m = 0; m <= 18; ++m) {
                double r[2][19];
                on_target(kScalar, [&] { return lpc_autocorrelation(x, m, r[0]); });
                on_target(target, [&] { return lpc_autocorrelation(x, m, r[1]); });
                ASSERT_TRUE(same_doubles(r[0], r[1], m + 1)) << "m " << m << " trial " << trial;
            }
        }
    }
}

TEST(SimdPaths, LspRootSearchAndQuantizer) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(5);
        double memory[2][4][10];
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < 10; ++i) memory[0][k][i] = memory[1][k][i] = initial_lsf[i];
        }
        for (int trial = 0; trial < 300; ++trial) {
            double a[11];
            random_lpc(rng, a);
            if (trial % 10 == 9) {
                for (int i = 1; i <= 10; ++i) a[i] = rng.uniform(-4.0, 4.0);  // roots may be lost
            }
            double lsp[2][10];
            on_target(kScalar, [&] { return lpc_to_lsp(a, lsp[0], initial_lsp); });
            on_target(target, [&] { return lpc_to_lsp(a, lsp[1], initial_lsp); });
            ASSERT_TRUE(same_doubles(lsp[0], lsp[1], 10)) << "root search, trial " << trial;

            double q[2][10];
            int32_t index[2][2];
            on_target(kScalar, [&] { return lsp_quantize(memory[0], lsp[0], q[0], index[0]); });
            on_target(target, [&] { return lsp_quantize(memory[1], lsp[0], q[1], index[1]); });
            ASSERT_EQ(index[0][0], index[1][0]) << "trial " << trial;
            ASSERT_EQ(index[0][1], index[1][1]) << "trial " << trial;
            ASSERT_TRUE(same_doubles(q[0], q[1], 10));
            ASSERT_TRUE(same_doubles(&memory[0][0][0], &memory[1][0][0], 40));
        }
    }
}

TEST(SimdPaths, PitchSearches) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(6);
        for (int trial = 0; trial < 200; ++trial) {
            // Open loop: 143 past and 80 current weighted-speech samples.
            const std::vector<double> w = voiced(rng, 223, rng.uniform(20.0, 150.0), 3000.0);
            const int length = trial % 9 == 0 ? 79 : 80;
            ASSERT_EQ(
                on_target(kScalar, [&] { return open_loop_pitch_search(w.data() + 143, length); }),
                on_target(target, [&] { return open_loop_pitch_search(w.data() + 143, length); }))
                << "trial " << trial;

            // Closed loop, every range width the encoder uses and a few it does not.
            const std::vector<double> e = voiced(rng, 194, rng.uniform(20.0, 143.0), 2000.0);
            double x[40];
            double h[40];
            for (int n = 0; n < 40; ++n) {
                x[n] = rng.uniform(-4000.0, 4000.0);
                h[n] = std::pow(0.8, n) * std::cos(0.7 * n);
            }
            const int width = 1 + trial % 14;
            const int t0_min = rng.integer(20, 143 - width + 1);
            const int offset = trial % 2 == 0 ? 0 : 40;
            double exc[2][194];
            std::memcpy(exc[0], e.data(), sizeof exc[0]);
            std::memcpy(exc[1], e.data(), sizeof exc[1]);
            int32_t frac[2];
            const int32_t t0_base = on_target(kScalar, [&] {
                return closed_loop_pitch_search(exc[0] + 154, x, h, 40, t0_min, t0_min + width - 1,
                                                offset, &frac[0]);
            });
            const int32_t t0_target = on_target(target, [&] {
                return closed_loop_pitch_search(exc[1] + 154, x, h, 40, t0_min, t0_min + width - 1,
                                                offset, &frac[1]);
            });
            ASSERT_EQ(t0_base, t0_target) << "trial " << trial;
            ASSERT_EQ(frac[0], frac[1]) << "trial " << trial;
            ASSERT_TRUE(same_doubles(exc[0], exc[1], 194));

            double gc[2][5];
            const double gp0 =
                on_target(kScalar, [&] { return adaptive_codebook_gain(x, h, gc[0], 40); });
            const double gp1 =
                on_target(target, [&] { return adaptive_codebook_gain(x, h, gc[1], 40); });
            ASSERT_TRUE(same(gp0, gp1));
            ASSERT_TRUE(same_doubles(gc[0], gc[1], 2));
        }
    }
}

TEST(SimdPaths, FixedCodebookSearchAndGains) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(7);
        double pred[2][4] = {{-14.0, -14.0, -14.0, -14.0}, {-14.0, -14.0, -14.0, -14.0}};
        for (int trial = 0; trial < 400; ++trial) {
            double x[40];
            double h[40];
            const double r = rng.uniform(0.5, 0.95);
            const double w = rng.uniform(0.1, 3.0);
            for (int n = 0; n < 40; ++n) {
                x[n] = rng.uniform(-3000.0, 3000.0);
                h[n] = std::pow(r, n) * std::cos(w * n);
            }
            if (trial % 11 == 0) std::memset(x, 0, sizeof x);  // every d zero: ties everywhere
            const int t0 = trial % 3 == 0 ? rng.integer(20, 39) : rng.integer(40, 143);
            const double sharp = rng.uniform(0.2, 0.7945);

            double hh[2][40];
            double code[2][40];
            double y[2][40];
            int32_t signs[2];
            std::memcpy(hh[0], h, sizeof h);
            std::memcpy(hh[1], h, sizeof h);
            const int32_t i0 = on_target(kScalar, [&] {
                return fixed_codebook_search(x, hh[0], t0, code[0], y[0], &signs[0], sharp);
            });
            const int32_t i1 = on_target(target, [&] {
                return fixed_codebook_search(x, hh[1], t0, code[1], y[1], &signs[1], sharp);
            });
            ASSERT_EQ(i0, i1) << "trial " << trial;
            ASSERT_EQ(signs[0], signs[1]) << "trial " << trial;
            ASSERT_TRUE(same_doubles(code[0], code[1], 40));
            ASSERT_TRUE(same_doubles(y[0], y[1], 40));
            ASSERT_TRUE(same_doubles(hh[0], hh[1], 40));

            double d[2][40];
            on_target(kScalar, [&] { return correlate_target_impulse(h, x, d[0]); });
            on_target(target, [&] { return correlate_target_impulse(h, x, d[1]); });
            ASSERT_TRUE(same_doubles(d[0], d[1], 40));

            // Gains: correlations, then the quantizer with and without taming.
            double corr[2][5];
            corr[0][0] = corr[1][0] = rng.uniform(0.01, 1e7);
            corr[0][1] = corr[1][1] = rng.uniform(-1e7, 1e7);
            on_target(kScalar, [&] { return fixed_codebook_correlations(x, h, y[0], corr[0]); });
            on_target(target, [&] { return fixed_codebook_correlations(x, h, y[1], corr[1]); });
            ASSERT_TRUE(same_doubles(corr[0], corr[1], 5));
            const int32_t taming = trial % 4 == 0 ? 1 : 0;
            double gp[2];
            double gcode[2];
            const int32_t q0 = on_target(kScalar, [&] {
                return quantize_gains(pred[0], code[0], corr[0], 40, &gp[0], &gcode[0], taming);
            });
            const int32_t q1 = on_target(target, [&] {
                return quantize_gains(pred[1], code[1], corr[1], 40, &gp[1], &gcode[1], taming);
            });
            ASSERT_EQ(q0, q1) << "trial " << trial;
            ASSERT_TRUE(same_doubles(gp, gp + 1, 1));
            ASSERT_TRUE(same_doubles(gcode, gcode + 1, 1));
            ASSERT_TRUE(same_doubles(pred[0], pred[1], 4));
        }
    }
}

TEST(SimdPaths, PostfilterAndOutputConversion) {
    REQUIRE_VECTOR_TARGETS();
    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        Rng rng(8);
        g729_postfilter_state pf[2] = {};
        double mem[2][4] = {};
        double speech[2][90] = {};
        for (int frame = 0; frame < 200; ++frame) {
            double lpc[22];
            random_lpc(rng, lpc);
            random_lpc(rng, lpc + 11);
            const std::vector<double> v = voiced(rng, 80, rng.uniform(20.0, 140.0), 8000.0);
            for (int i = 0; i < 80; ++i) speech[0][10 + i] = speech[1][10 + i] = v[i];
            if (frame % 13 == 0) {
                for (int i = 0; i < 80; ++i) speech[0][10 + i] = speech[1][10 + i] = 0.0;
            }
            const int32_t lags[2] = {rng.integer(19, 143), rng.integer(19, 143)};
            const int32_t type = frame % 5 == 0 ? 2 : 1;
            on_target(kScalar,
                      [&] { return postfilter_frame(&pf[0], speech[0] + 10, lpc, lags, type); });
            on_target(target,
                      [&] { return postfilter_frame(&pf[1], speech[1] + 10, lpc, lags, type); });
            ASSERT_EQ(std::memcmp(&pf[0], &pf[1], sizeof pf[0]), 0) << "frame " << frame;
            ASSERT_TRUE(same_doubles(speech[0], speech[1], 90)) << "frame " << frame;

            on_target(kScalar, [&] { return post_highpass_filter(mem[0], speech[0] + 10, 80); });
            on_target(target, [&] { return post_highpass_filter(mem[1], speech[1] + 10, 80); });
            ASSERT_TRUE(same_doubles(speech[0], speech[1], 90)) << "frame " << frame;
            ASSERT_TRUE(same_doubles(mem[0], mem[1], 4));
        }

        // Rounding half away from zero, saturation, and silence for what is not a number, in
        // every lane position and in the scalar remainder.
        const double inf = std::numeric_limits<double>::infinity();
        const double samples[] = {0.0,      -0.0,      0.5,      -0.5,      0.49999999, -0.49999999,
                                  1.5,      -1.5,      32766.5,  32767.0,   32767.4,    32767.5,
                                  -32767.5, -32768.0,  -32768.4, -32768.5,  -32769.0,   1e300,
                                  -1e300,   inf,       -inf,     std::nan(""), 12345.678, -2.5,
                                  7e-310,   -7e-310,   2.5,      3.5,       -inf,       0.5};
        constexpr int n = sizeof samples / sizeof samples[0];
        for (int first = 0; first < 4; ++first) {
            int16_t out[2][n];
            on_target(kScalar,
                      [&] { return pcm16_from_doubles(samples + first, out[0], n - first); });
            on_target(target,
                      [&] { return pcm16_from_doubles(samples + first, out[1], n - first); });
            for (int i = 0; i < n - first; ++i) {
                EXPECT_EQ(out[0][i], out[1][i]) << "sample " << samples[first + i];
                EXPECT_EQ(out[0][i], double_to_pcm16(samples[first + i]));
            }
        }
        int16_t out[n];
        on_target(target, [&] { return pcm16_from_doubles(samples, out, n); });
        EXPECT_EQ(out[2], 1);
        EXPECT_EQ(out[3], -1);
        EXPECT_EQ(out[11], 32767);
        EXPECT_EQ(out[15], -32768);
        EXPECT_EQ(out[19], 0);
        EXPECT_EQ(out[21], 0);
    }
}

// The whole encoder on each instruction set over speech, with and without DTX: identical
// parameters and identical state after every frame.
TEST(SimdPaths, WholeEncoderGivesTheSameBitsOnEveryTarget) {
    REQUIRE_VECTOR_TARGETS();
    std::vector<int16_t> pcm;
    const std::filesystem::path wav =
        std::filesystem::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav";
    if (std::filesystem::exists(wav)) pcm = g729io::read_wav(wav.string());
    if (pcm.size() > 80 * 600) pcm.resize(80 * 600);
    // Synthetic speech with pauses behind it, so that DTX has something to do either way.
    Rng rng(9);
    for (int f = 0; f < 200; ++f) {
        const bool pause = (f / 25) % 2 == 1;
        const std::vector<double> v = voiced(rng, 80, 40.0 + f % 60, pause ? 0.0 : 6000.0);
        for (double s : v) pcm.push_back(static_cast<int16_t>(pause ? s * 0.05 : s));
    }

    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        for (int dtx = 0; dtx <= 1; ++dtx) {
            g729_encoder_state st[2];
            g729_encoder_init(&st[0], dtx);
            g729_encoder_init(&st[1], dtx);
            for (std::size_t f = 0; f + 80 <= pcm.size(); f += 80) {
                int32_t params[2][G729_PARAMS_SIZE] = {};
                for (int b = 0; b < 2; ++b) {
                    double* block = st[b].speech_buf + 160;
                    for (int i = 0; i < 80; ++i) block[i] = pcm[f + i];
                    st[b].frame_count++;
                    const int64_t t = b == 0 ? kScalar : target;
                    on_target(t, [&] { return preprocess_highpass(st[b].hpf_mem, block, 80); });
                    on_target(t, [&] {
                        return encode_frame_parameters(&st[b], params[b], st[b].frame_count, dtx);
                    });
                }
                ASSERT_EQ(std::memcmp(params[0], params[1], sizeof params[0]), 0)
                    << "dtx " << dtx << " frame " << f / 80;
                ASSERT_TRUE(same_doubles(st[0].speech_buf, st[1].speech_buf, 240));
                ASSERT_TRUE(same_doubles(st[0].wsp_buf, st[1].wsp_buf, 223));
                ASSERT_TRUE(same_doubles(st[0].exc_buf, st[1].exc_buf, 234));
                ASSERT_TRUE(same_doubles(st[0].mem_err_w, st[1].mem_err_w, 10));
                ASSERT_TRUE(same_doubles(st[0].mem_wsp, st[1].mem_wsp, 10));
                ASSERT_TRUE(
                    same_doubles(&st[0].lsf_ma_memory[0][0], &st[1].lsf_ma_memory[0][0], 40));
                ASSERT_TRUE(same_doubles(st[0].gain_pred_mem, st[1].gain_pred_mem, 4));
                ASSERT_TRUE(same_doubles(st[0].hpf_mem, st[1].hpf_mem, 4));
            }
        }
    }
}

// The whole decoder on each instruction set: the ITU speech bitstream when it is there, and
// always our own encoder's bitstream of synthetic speech with pauses, lost frames and
// untransmitted frames among them; identical samples and state after every frame.
TEST(SimdPaths, WholeDecoderGivesTheSameSamplesOnEveryTarget) {
    REQUIRE_VECTOR_TARGETS();
    // The units: (type, bytes) per frame.
    std::vector<std::pair<int, std::vector<uint8_t>>> units;
    g729_encoder_state enc;
    g729_encoder_init(&enc, 1);
    Rng rng(10);
    for (int f = 0; f < 400; ++f) {
        const bool pause = (f / 30) % 2 == 1;
        const std::vector<double> v = voiced(rng, 80, 35.0 + f % 90, pause ? 0.0 : 7000.0);
        int16_t pcm[80];
        for (int i = 0; i < 80; ++i) pcm[i] = static_cast<int16_t>(pause ? v[i] * 0.05 : v[i]);
        uint8_t bytes[G729_SPEECH_FRAME_BYTES];
        int32_t count = 0;
        ASSERT_EQ(g729_encode_frame(&enc, pcm, bytes, &count), 0);
        if (f % 37 == 5) {
            units.push_back({-1, {}});  // lost
        } else {
            units.push_back({count, std::vector<uint8_t>(bytes, bytes + count)});
        }
    }
    ASSERT_GT(units.size(), 0u);

    for (int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        g729_decoder_state st[2];
        g729_decoder_init(&st[0]);
        g729_decoder_init(&st[1]);
        int kinds[3] = {0, 0, 0};
        for (std::size_t f = 0; f < units.size(); ++f) {
            const auto& [type, bytes] = units[f];
            g729_decoded_params decoded[2];
            for (int b = 0; b < 2; ++b) {
                if (type > 0) {
                    g729_unpack_frame(decoded[b], bytes.data(),
                                      type == G729_SPEECH_FRAME_BYTES ? G729_FRAME_SPEECH
                                                                      : G729_FRAME_SID);
                } else if (type < 0) {
                    g729_unpack_frame(decoded[b], nullptr, G729_FRAME_NO_TRANSMISSION);
                } else {
                    for (int32_t& p : decoded[b]) p = 0;
                    decoded[b][1] = G729_FRAME_NO_TRANSMISSION;
                }
            }
            kinds[type > 0 ? 0 : (type < 0 ? 1 : 2)]++;
            int16_t out[2][80];
            on_target(kScalar, [&] { return decode_frame_samples(&st[0], decoded[0], out[0]); });
            on_target(target, [&] { return decode_frame_samples(&st[1], decoded[1], out[1]); });
            ASSERT_EQ(std::memcmp(out[0], out[1], sizeof out[0]), 0) << "frame " << f;
            ASSERT_EQ(std::memcmp(&st[0], &st[1], sizeof st[0]), 0) << "frame " << f;
        }
        EXPECT_GT(kinds[0], 0);
        EXPECT_GT(kinds[1], 0);
        EXPECT_GT(kinds[2], 0);
    }
}

// The channel-parallel Highway kernels on every instruction set Highway built them for that
// this processor runs: each channel's samples and memory must equal the single-channel filter's
// (the baseline build's), for any number of channels (partial and several vectors), lengths
// that are not a multiple of 10, filtering in place, memories meeting the flush threshold, and
// non-finite samples.
TEST(SimdPaths, ChannelParallelKernelsOnEveryHighwayTarget) {
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t target : targets) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 100003));
        for (int trial = 0; trial < 40; ++trial) {
            const int channels = 1 + trial % 19;
            const int L = trial % 4 == 0 ? rng.integer(0, 40) : (trial % 4 == 1 ? 22 : 40);

            // Synthesis jobs: every other one in place, alternating memory updates.
            std::vector<std::array<double, 11>> a(channels);
            std::vector<std::array<double, 40>> in(channels);
            std::vector<std::array<double, 40>> out(channels);
            std::vector<std::array<double, 40>> expect(channels);
            std::vector<std::array<double, 10>> mem(channels);
            std::vector<std::array<double, 10>> expect_mem(channels);
            std::vector<g729simd::SynthesisJob> jobs(channels);
            for (int c = 0; c < channels; ++c) {
                random_lpc(rng, a[c].data());
                for (double& v : in[c]) v = rng.uniform(-2000.0, 2000.0);
                for (double& v : mem[c]) v = rng.uniform(-1e-4, 1e-4) * rng.integer(0, 3);
                if (trial % 9 == 0)
                    in[c][rng.integer(0, 39)] = std::numeric_limits<double>::quiet_NaN();
                expect_mem[c] = mem[c];
                const bool in_place = c % 2 == 1;
                on_target(kScalar, [&] {
                    return lpc_synthesis_filter(a[c].data(), in[c].data(), expect[c].data(), L,
                                                expect_mem[c].data(), c % 3 != 0);
                });
                if (in_place) out[c] = in[c];
                jobs[c] = {a[c].data(), in_place ? out[c].data() : in[c].data(), out[c].data(),
                           mem[c].data(), c % 3 != 0 ? 1 : 0};
            }
            synthesis_channels(jobs.data(), channels, L);
            for (int c = 0; c < channels; ++c) {
                ASSERT_TRUE(same_doubles(out[c].data(), expect[c].data(), L))
                    << "synthesis, trial " << trial << " channel " << c;
                ASSERT_TRUE(same_doubles(mem[c].data(), expect_mem[c].data(), 10))
                    << "synthesis memory, trial " << trial << " channel " << c;
            }

            // Both high-pass filters over up to a frame, memories near the flush threshold.
            const int count = trial % 5 == 0 ? rng.integer(0, 80) : 80;
            for (Highpass filter : {Highpass::preprocess, Highpass::output}) {
                std::vector<std::array<double, 80>> x(channels);
                std::vector<std::array<double, 80>> ex(channels);
                std::vector<std::array<double, 4>> m(channels);
                std::vector<std::array<double, 4>> em(channels);
                std::vector<double*> xs(channels);
                std::vector<double*> ms(channels);
                for (int c = 0; c < channels; ++c) {
                    const double level = c % 4 == 0 ? 1e-5 : 3000.0;
                    for (double& v : x[c]) v = rng.uniform(-level, level);
                    for (double& v : m[c]) v = rng.uniform(-3e-5, 3e-5);
                    ex[c] = x[c];
                    em[c] = m[c];
                    if (filter == Highpass::preprocess) {
                        on_target(kScalar, [&] {
                            return preprocess_highpass(em[c].data(), ex[c].data(), count);
                        });
                    } else {
                        on_target(kScalar, [&] {
                            return post_highpass_filter(em[c].data(), ex[c].data(), count);
                        });
                    }
                    xs[c] = x[c].data();
                    ms[c] = m[c].data();
                }
                highpass_channels(filter, ms.data(), xs.data(), channels, count);
                for (int c = 0; c < channels; ++c) {
                    ASSERT_TRUE(same_doubles(x[c].data(), ex[c].data(), count))
                        << "high-pass, trial " << trial << " channel " << c;
                    ASSERT_TRUE(same_doubles(m[c].data(), em[c].data(), 4))
                        << "high-pass memory, trial " << trial << " channel " << c;
                }
            }
        }
    }
    use_targets(0);
}

// The channel-parallel algebraic codebook search on every Highway target: each channel's code
// vector, filtered code vector and indices equal the baseline single-channel search's, with
// ordinary targets, silent ones (every candidate ties) and impulse responses of every shape.
TEST(SimdPaths, ChannelParallelCodebookSearchOnEveryHighwayTarget) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 99991) + 5);
        for (int trial = 0; trial < 30; ++trial) {
            const int channels = 1 + trial % 11;
            std::vector<std::array<double, 40>> h(channels);
            std::vector<std::array<double, 40>> x(channels);
            std::vector<std::array<double, 40>> sign(channels);
            std::vector<int> t0(channels);
            std::vector<const double*> hp(channels);
            std::vector<const double*> xp(channels);
            std::vector<double*> sp(channels);
            for (int c = 0; c < channels; ++c) {
                double a[11];
                random_lpc(rng, a);
                double impulse[40] = {1.0};
                double zero[10] = {};
                on_target(kScalar, [&] {
                    return lpc_synthesis_filter(a, impulse, h[c].data(), 40, zero, 0);
                });
                const bool silent = (trial + c) % 7 == 0;
                for (double& v : x[c]) v = silent ? 0.0 : rng.uniform(-3000.0, 3000.0);
                t0[c] = rng.integer(20, 60);
                hp[c] = h[c].data();
                xp[c] = x[c].data();
                sp[c] = sign[c].data();
            }
            std::vector<int> pos(4 * static_cast<std::size_t>(channels));
            codebook_search_channels(hp.data(), xp.data(), channels,
                                     reinterpret_cast<int(*)[4]>(pos.data()), sp.data());
            for (int c = 0; c < channels; ++c) {
                // The single-channel search sharpens h itself: give it the unsharpened copy
                // with a sharpening gain of 0, which leaves h as it is.
                std::array<double, 40> hs = h[c];
                double code[2][40];
                double y[2][40];
                int32_t signs[2];
                const int32_t index = on_target(kScalar, [&] {
                    return fixed_codebook_search(x[c].data(), hs.data(), t0[c], code[0], y[0],
                                                 &signs[0], 0.0);
                });
                const int32_t lanes_index = fixed_codebook_code_vectors(
                    h[c].data(), t0[c], &pos[4 * static_cast<std::size_t>(c)], sign[c].data(),
                    code[1], y[1], &signs[1], 0.0);
                ASSERT_EQ(index, lanes_index) << "trial " << trial << " channel " << c;
                ASSERT_EQ(signs[0], signs[1]) << "trial " << trial << " channel " << c;
                ASSERT_TRUE(same_doubles(code[0], code[1], 40));
                ASSERT_TRUE(same_doubles(y[0], y[1], 40));
            }
        }
    }
    use_targets(0);
}

// The channel-parallel LSP quantizer on every Highway target: the quantizer run in its steps
// with the lane searches and the lane mode choice gives each channel the baseline quantizer's
// indices, quantized LSPs and predictor memory, frame after frame (the memories diverge per
// channel).
TEST(SimdPaths, ChannelParallelLspQuantizerOnEveryHighwayTarget) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 99989) + 9);
        constexpr int kChannels = 13;
        double memory[2][kChannels][4][10];
        for (int c = 0; c < kChannels; ++c) {
            for (int k = 0; k < 4; ++k) {
                for (int i = 0; i < 10; ++i)
                    memory[0][c][k][i] = memory[1][c][k][i] = initial_lsf[i];
            }
        }
        int modes[2] = {0, 0};  // frames coded with each predictor mode
        for (int frame = 0; frame < 25; ++frame) {
            const int channels = 1 + (frame * 5) % kChannels;
            double lsp[kChannels][10];
            LspQuantizeWork work[kChannels];
            const double* targets[2 * kChannels];
            const double* weights[2 * kChannels];
            int best[2 * kChannels];
            for (int c = 0; c < channels; ++c) {
                double a[11];
                random_lpc(rng, a);
                on_target(kScalar, [&] { return lpc_to_lsp(a, lsp[c], initial_lsp); });
                lsp_quantize_targets(memory[1][c], lsp[c], &work[c]);
                targets[2 * c] = work[c].target[0];
                targets[2 * c + 1] = work[c].target[1];
                weights[2 * c] = weights[2 * c + 1] = work[c].w;
            }
            lsp_first_stage_channels(targets, 2 * channels, best);
            for (int c = 0; c < channels; ++c) {
                work[c].i1[0] = best[2 * c];
                work[c].i1[1] = best[2 * c + 1];
                lsp_quantize_rests(&work[c]);
                targets[2 * c] = work[c].rest[0];
                targets[2 * c + 1] = work[c].rest[1];
            }
            lsp_second_stage_channels(targets, weights, 2 * channels, 0, 4, best);
            for (int c = 0; c < channels; ++c) {
                work[c].i2[0] = best[2 * c];
                work[c].i2[1] = best[2 * c + 1];
            }
            lsp_second_stage_channels(targets, weights, 2 * channels, 5, 9, best);
            double (*memories[kChannels])[10];
            const LspQuantizeWork* works[kChannels];
            for (int c = 0; c < channels; ++c) {
                work[c].i3[0] = best[2 * c];
                work[c].i3[1] = best[2 * c + 1];
                memories[c] = memory[1][c];
                works[c] = &work[c];
            }
            double lsf_q[kChannels][10];
            int32_t lane_index[kChannels][2];
            lsp_finish_channels(memories, works, channels, lsf_q, lane_index);
            for (int c = 0; c < channels; ++c) {
                double q[2][10];
                int32_t index[2];
                on_target(kScalar,
                          [&] { return lsp_quantize(memory[0][c], lsp[c], q[0], index); });
                lsf_to_lsp(lsf_q[c], q[1], 10);
                ++modes[index[0] >> 7 & 1];
                ASSERT_EQ(index[0], lane_index[c][0]) << "frame " << frame << " channel " << c;
                ASSERT_EQ(index[1], lane_index[c][1]) << "frame " << frame << " channel " << c;
                ASSERT_TRUE(same_doubles(q[0], q[1], 10));
                ASSERT_TRUE(same_doubles(&memory[0][c][0][0], &memory[1][c][0][0], 40));
            }
        }
        // Both modes' choices went through the lanes.
        EXPECT_GT(modes[0], 0);
        EXPECT_GT(modes[1], 0);
    }
    use_targets(0);
}

// The lanes' first-stage search (entries four at a time, every other difference fused) chooses
// the first strictly nearest entry, against an exhaustive search written here: targets on each
// entry (a zero error), entries mixed dimension by dimension (partial ties), entries moved by
// an ulp, and midpoints of two entries (mostly exact ties, which the earlier entry wins).
TEST(SimdPaths, LaneLspFirstStageKeepsTheFirstNearestEntry) {
    std::vector<std::array<double, 10>> cases(4 * 128);
    for (int n = 0; n < 128; ++n) {
        for (int j = 0; j < 10; ++j) {
            const double on = lsp_codebook_1[n][j];
            cases[4 * n][j] = on;
            cases[4 * n + 1][j] = j < 6 ? on : lsp_codebook_1[(n * 37 + 11) % 128][j];
            cases[4 * n + 2][j] = std::nextafter(on, j % 2 == 0 ? 1.0 : -1.0);
            cases[4 * n + 3][j] = 0.5 * (on + lsp_codebook_1[(n + 1) % 128][j]);  // a tie
        }
    }
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        for (std::size_t first = 0; first < cases.size(); first += 13) {
            const int count = static_cast<int>(std::min<std::size_t>(13, cases.size() - first));
            const double* targets[13];
            int best[13];
            for (int c = 0; c < count; ++c) targets[c] = cases[first + c].data();
            lsp_first_stage_channels(targets, count, best);
            for (int c = 0; c < count; ++c) {
                double least = 1e38;
                int nearest = 0;
                for (int n = 0; n < 128; ++n) {
                    // Summed in order from 0.0, as std::inner_product does.
                    const double e = std::inner_product(
                        targets[c], targets[c] + 10, lsp_codebook_1[n], 0.0, std::plus<>(),
                        [](double x, double y) { return (x - y) * (x - y); });
                    if (e < least) least = e, nearest = n;
                }
                ASSERT_EQ(best[c], nearest) << "case " << first + c;
            }
        }
    }
    use_targets(0);
}

// The channel-parallel open-loop pitch correlations on every Highway target: with
// open_loop_choose, each channel's lag equals the baseline search's, for voiced signals of
// many periods, silence (every lag ties) and noise.
TEST(SimdPaths, ChannelParallelOpenLoopPitchOnEveryHighwayTarget) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 99961) + 3);
        for (int trial = 0; trial < 20; ++trial) {
            const int channels = 1 + trial % 17;
            std::vector<std::vector<double>> signal(channels);
            std::vector<const double*> wsp(channels);
            for (int c = 0; c < channels; ++c) {
                const int kind = (trial + c) % 5;
                signal[c] = kind == 0 ? std::vector<double>(223, 0.0)
                                      : voiced(rng, 223, rng.uniform(18.0, 150.0),
                                               kind == 1 ? 0.0 : 2000.0);
                wsp[c] = signal[c].data() + 143;
            }
            std::vector<std::array<int, 3>> lags(channels);
            std::vector<std::array<double, 3>> maxima(channels);
            open_loop_maxima_channels(wsp.data(), channels,
                                      reinterpret_cast<int(*)[3]>(lags.data()),
                                      reinterpret_cast<double(*)[3]>(maxima.data()));
            std::vector<int> chosen(channels);
            open_loop_choose_channels(wsp.data(), channels,
                                      reinterpret_cast<int(*)[3]>(lags.data()),
                                      reinterpret_cast<double(*)[3]>(maxima.data()),
                                      chosen.data());
            for (int c = 0; c < channels; ++c) {
                const int expect =
                    on_target(kScalar, [&] { return open_loop_pitch_search(wsp[c], 80); });
                ASSERT_EQ(open_loop_choose(wsp[c], 80, lags[c].data(), maxima[c].data()), expect)
                    << "trial " << trial << " channel " << c;
                ASSERT_EQ(chosen[c], expect) << "trial " << trial << " channel " << c;
            }
        }
    }
    use_targets(0);
}

// The open-loop lag choice from given maxima, one channel and side by side on every Highway
// target: each decision on both sides of its bound, with the lag it must give, then random
// lags and maxima near the real correlations, lane against single channel.
TEST(SimdPaths, ChannelParallelOpenLoopChoiceOnEveryHighwayTarget) {
    // Signals: silence (every window's energy 0.01), sines of period 81 and 79 (the even lag
    // 80 loses to its upper, resp. lower, odd neighbour).
    std::vector<double> signal[3];
    for (int k = 0; k < 3; ++k) {
        signal[k].resize(223);
        for (int i = 0; i < 223; ++i) {
            const double period = k == 1 ? 81.0 : 79.0;
            signal[k][i] = k == 0 ? 0.0 : 1000.0 * std::sin(2.0 * std::numbers::pi * i / period);
        }
    }
    struct Case {
        int signal;
        int t[3];
        double max[3];
        int expect;
    };
    const Case cases[] = {
        // |2 t2 - t3| <= 4 and |3 t2 - t3| <= 6 favour t2 over t3 (in, in, out, out).
        {0, {30, 44, 84}, {0, 1, 1.2}, 44}, {0, {30, 44, 92}, {0, 1, 1.2}, 44},
        {0, {30, 44, 83}, {0, 1, 1.2}, 83}, {0, {30, 44, 93}, {0, 1, 1.2}, 93},
        {0, {30, 42, 120}, {0, 1, 1.2}, 42}, {0, {30, 42, 132}, {0, 1, 1.2}, 42},
        {0, {30, 42, 119}, {0, 1, 1.2}, 119}, {0, {30, 42, 133}, {0, 1, 1.2}, 133},
        // |2 t1 - t2| <= 4 and |3 t1 - t2| <= 6 favour t1 over t2.
        {0, {25, 46, 80}, {1, 1.1, 0}, 25}, {0, {25, 54, 80}, {1, 1.1, 0}, 25},
        {0, {25, 45, 80}, {1, 1.1, 0}, 45}, {0, {25, 55, 80}, {1, 1.1, 0}, 55},
        {0, {21, 57, 80}, {1, 1.1, 0}, 21}, {0, {21, 69, 80}, {1, 1.1, 0}, 21},
        {0, {21, 56, 80}, {1, 1.1, 0}, 56}, {0, {21, 70, 80}, {1, 1.1, 0}, 70},
        // Ties keep the shorter lag.
        {0, {30, 44, 140}, {1, 1, 0}, 30}, {0, {30, 44, 140}, {0, 1, 1}, 44},
        // The even lag refined by a strictly better odd neighbour, or kept.
        {1, {30, 50, 80}, {0, 0, 0}, 81}, {2, {30, 50, 80}, {0, 0, 0}, 79},
        {1, {30, 50, 80}, {0, 0, 1e30}, 80}, {2, {30, 50, 80}, {0, 0, 1e30}, 80},
    };
    constexpr int kCases = sizeof cases / sizeof cases[0];
    Rng rng(11);
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        const double* wsp[kCases];
        int t[kCases][3];
        double max[kCases][3];
        for (int c = 0; c < kCases; ++c) {
            wsp[c] = signal[cases[c].signal].data() + 143;
            std::memcpy(t[c], cases[c].t, sizeof t[c]);
            std::memcpy(max[c], cases[c].max, sizeof max[c]);
        }
        int lag[kCases];
        open_loop_choose_channels(wsp, kCases, t, max, lag);
        for (int c = 0; c < kCases; ++c) {
            EXPECT_EQ(open_loop_choose(wsp[c], 80, t[c], max[c]), cases[c].expect) << c;
            EXPECT_EQ(lag[c], cases[c].expect) << "case " << c;
        }
        // Random lags on noisy voiced signals, maxima within 20% of a real correlation.
        for (int trial = 0; trial < 30; ++trial) {
            const int channels = 1 + trial % 17;
            std::vector<std::vector<double>> x(channels);
            for (int c = 0; c < channels; ++c) {
                x[c] = voiced(rng, 223, rng.uniform(18.0, 150.0), rng.uniform(0.0, 3000.0));
                wsp[c] = x[c].data() + 143;
                t[c][0] = rng.integer(20, 39);
                t[c][1] = rng.integer(40, 79);
                t[c][2] = 2 * rng.integer(40, 71);
                for (int k = 0; k < 3; ++k) {
                    double r = 0.0;
                    for (int j = 0; j < 80; j += 2) r += wsp[c][j] * wsp[c][j - t[c][k]];
                    max[c][k] = r * rng.uniform(0.8, 1.2);
                }
            }
            open_loop_choose_channels(wsp, channels, t, max, lag);
            for (int c = 0; c < channels; ++c) {
                ASSERT_EQ(lag[c], open_loop_choose(wsp[c], 80, t[c], max[c]))
                    << "trial " << trial << " channel " << c;
            }
        }
    }
    use_targets(0);
}

// The channel-parallel autocorrelation, LSP root search and LSP-to-LPC conversion on every
// Highway target, against the single-channel routines: speech-like signals, silence (the
// floor) and full-scale noise; ordinary filters, and filters whose roots are lost (the channel
// keeps its previous LSPs); the subframe filters from the previous and the new LSPs; side by
// side in groups that leave vectors part empty.
TEST(SimdPaths, ChannelParallelAutocorrelationAndLspRootsOnEveryHighwayTarget) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 99929) + 7);
        for (int trial = 0; trial < 24; ++trial) {
            const int channels = 1 + trial % 11;
            std::vector<std::vector<double>> x(channels);
            std::vector<const double*> xp(channels);
            for (int c = 0; c < channels; ++c) {
                const int kind = (trial + c) % 3;
                x[c] = kind == 0 ? std::vector<double>(240, 0.0)
                                 : voiced(rng, 240, rng.uniform(20.0, 140.0),
                                          kind == 1 ? 30000.0 : 500.0);
                xp[c] = x[c].data();
            }
            std::vector<std::array<double, 13>> r(channels);
            autocorrelation_channels(xp.data(), channels,
                                     reinterpret_cast<double(*)[13]>(r.data()));
            for (int c = 0; c < channels; ++c) {
                autocorrelation_floor(r[c].data());
                double expect[13];
                on_target(kScalar, [&] { return lpc_autocorrelation(xp[c], 12, expect); });
                ASSERT_TRUE(same_doubles(r[c].data(), expect, 13))
                    << "trial " << trial << " channel " << c;
            }

            std::vector<std::array<double, 11>> a(channels);
            std::vector<std::array<double, 10>> old(channels);
            std::vector<const double*> old_rows(channels);
            for (int c = 0; c < channels; ++c) {
                random_lpc(rng, a[c].data());
                if ((trial + c) % 4 == 3) {
                    for (int i = 1; i <= 10; ++i) a[c][i] = rng.uniform(-4.0, 4.0);
                }
                // A NaN leaves no sign change anywhere: the lane walks off the grid.
                if ((trial + c) % 7 == 5) a[c][4] = std::numeric_limits<double>::quiet_NaN();
                for (int i = 0; i < 10; ++i) old[c][i] = initial_lsp[i] - 0.01 * c;
                old_rows[c] = old[c].data();
            }
            std::vector<std::array<double, 10>> lsp(channels);
            lsp_channels(reinterpret_cast<const double(*)[11]>(a.data()), old_rows.data(),
                         channels, reinterpret_cast<double(*)[10]>(lsp.data()));
            for (int c = 0; c < channels; ++c) {
                double expect[10];
                on_target(kScalar, [&] { return lpc_to_lsp(a[c].data(), expect, old[c].data()); });
                ASSERT_TRUE(same_doubles(lsp[c].data(), expect, 10))
                    << "roots, trial " << trial << " channel " << c;
            }

            // The subframe filters from each channel's previous and new LSPs.
            std::vector<const double*> new_rows(channels);
            std::vector<std::array<double, 22>> aq(channels);
            std::vector<double*> aq_rows(channels);
            for (int c = 0; c < channels; ++c) {
                new_rows[c] = lsp[c].data();
                aq_rows[c] = aq[c].data();
            }
            lsp_interpolate_channels(old_rows.data(), new_rows.data(), channels, aq_rows.data());
            for (int c = 0; c < channels; ++c) {
                double expect[22];
                on_target(kScalar, [&] {
                    return lsp_interpolate_to_lpc(old[c].data(), lsp[c].data(), expect);
                });
                ASSERT_TRUE(same_doubles(aq[c].data(), expect, 22))
                    << "filters, trial " << trial << " channel " << c;
            }
        }
    }
    use_targets(0);
}

// The channel-parallel kernels of the gains, the Levinson recursion, the closed-loop pitch
// search and the postfilter's preparation and last step on every Highway target: each
// channel's results and memory equal its single-channel routine's bit for bit, over group sizes
// that leave vectors part empty, with awkward channels among ordinary ones (silence, a singular
// autocorrelation, a silent postfilter output, a channel without input energy, frames other
// than speech, the shortest lags and those whose search is held below the longest).
TEST(SimdPaths, ChannelParallelGainsLevinsonPitchAndPostfilterOnEveryHighwayTarget) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 99901) + 11);
        for (int trial = 0; trial < 10; ++trial) {
            const int channels = 1 + trial * 2 % 13;
            SCOPED_TRACE("trial " + std::to_string(trial));
            // Per channel: target x, filtered excitation y, filtered codevector z, impulse
            // response h, the excitation with its past, an autocorrelation and a postfilter.
            struct Channel {
                std::vector<double> x, y, z, h, exc, solo_exc;
                double r[13];
                int t0_min, t0_max;
                int32_t lags[2];
                int32_t frame_type;
                g729_postfilter_state pf, solo_pf;
                std::vector<double> speech, solo_speech;
                PostfilterWork work, solo_work;
            };
            std::vector<Channel> ch(channels);
            for (int c = 0; c < channels; ++c) {
                Channel& k = ch[c];
                const int kind = (trial + c) % 4;  // 0: silence / degenerate, else ordinary
                k.x = voiced(rng, 40, rng.uniform(20.0, 140.0), kind == 0 ? 0.0 : 900.0);
                k.y = voiced(rng, 40, rng.uniform(20.0, 140.0), kind == 0 ? 0.0 : 700.0);
                k.z = voiced(rng, 40, rng.uniform(2.0, 9.0), 1.0);
                k.h = voiced(rng, 40, 8.0, 0.5);
                k.h[0] = 1.0;
                k.exc = voiced(rng, 154 + 40, rng.uniform(20.0, 140.0), 3000.0);
                k.solo_exc = k.exc;
                const std::vector<double> w = voiced(rng, 240, rng.uniform(20.0, 140.0), 2000.0);
                lpc_autocorrelation(w.data(), 12, k.r);
                if (kind == 0) {  // r1 = r0: the error reaches 0 and is floored
                    for (int i = 1; i <= 12; ++i) k.r[i] = i == 1 ? k.r[0] : 0.0;
                }
                k.t0_min = rng.integer(20, 134);
                k.t0_max = k.t0_min + rng.integer(0, 9);
                std::memset(&k.pf, 0, sizeof k.pf);
                k.pf.agc_gain = rng.uniform(0.0, 1.5);
                k.pf.tilt_memory = rng.uniform(-500.0, 500.0);
                const std::vector<double> past = voiced(rng, 183, rng.uniform(20.0, 140.0), 800.0);
                std::copy(past.begin(), past.end(), k.pf.residual_history);
                k.solo_pf = k.pf;
                k.speech = voiced(rng, 90, rng.uniform(20.0, 140.0), kind == 3 ? 0.0 : 1500.0);
                k.solo_speech = k.speech;
                // Speech frames mostly; lags from the shortest to the longest.
                const int32_t types[4] = {G729_FRAME_SPEECH, G729_FRAME_SPEECH, G729_FRAME_SID,
                                          G729_FRAME_NO_TRANSMISSION};
                k.frame_type = types[(trial + 3 * c) % 4];
                const int32_t lag_choices[5] = {19, 20, 141, 143, rng.integer(21, 140)};
                k.lags[0] = lag_choices[(trial + c) % 5];
                k.lags[1] = lag_choices[(trial + 2 * c + 1) % 5];
                std::memset(&k.work, 0, sizeof k.work);
                for (int sf = 0; sf < 2; ++sf) {
                    const std::vector<double> num = voiced(rng, 11, 5.0, 0.6);
                    const std::vector<double> imp = voiced(rng, kPostfilterImpulseLength, 6.0, 1.0);
                    std::copy(num.begin(), num.end(), k.work.num[sf]);
                    k.work.num[sf][0] = 1.0;
                    std::copy(imp.begin(), imp.end(), k.work.h[sf]);
                    if (kind == 0) k.work.h[sf][1] = -k.work.h[sf][0];  // no tilt
                }
                const std::vector<double> out =
                    voiced(rng, 80, rng.uniform(20.0, 140.0), kind == 0 ? 0.0 : 1200.0);
                std::copy(out.begin(), out.end(), k.work.out);
                k.solo_work = k.work;
            }
            std::vector<const double*> x(channels), y(channels), z(channels), h(channels);
            std::vector<double*> exc(channels), c_rows(channels), speech(channels);
            std::vector<g729_postfilter_state*> pf(channels);
            std::vector<const double*> frames(channels);
            std::vector<const int32_t*> lags(channels);
            std::vector<int32_t> frame_types(channels);
            std::vector<PostfilterWork*> work(channels);
            std::vector<std::array<double, 5>> corr(channels);
            std::vector<std::array<double, 13>> r(channels);
            std::vector<int> t0_min(channels), t0_max(channels), t0(channels), frac(channels);
            std::vector<double> gain(channels);
            for (int c = 0; c < channels; ++c) {
                x[c] = ch[c].x.data();
                y[c] = ch[c].y.data();
                z[c] = ch[c].z.data();
                h[c] = ch[c].h.data();
                exc[c] = ch[c].exc.data() + 154;
                c_rows[c] = corr[c].data();
                std::copy(ch[c].r, ch[c].r + 13, r[c].begin());
                t0_min[c] = ch[c].t0_min;
                t0_max[c] = ch[c].t0_max;
                pf[c] = &ch[c].pf;
                work[c] = &ch[c].work;
                speech[c] = ch[c].speech.data() + 10;
                frames[c] = speech[c];
                lags[c] = ch[c].lags;
                frame_types[c] = ch[c].frame_type;
            }
            pitch_gain_channels(x.data(), y.data(), channels, c_rows.data(), gain.data());
            codebook_gain_correlations_channels(x.data(), y.data(), z.data(), channels,
                                                c_rows.data());
            std::vector<std::array<double, 11>> a(channels);
            std::vector<std::array<double, 10>> rc(channels);
            levinson_channels(reinterpret_cast<const double(*)[13]>(r.data()), channels,
                              reinterpret_cast<double(*)[11]>(a.data()),
                              reinterpret_cast<double(*)[10]>(rc.data()));
            const int offset = trial % 2 == 0 ? 0 : 40;
            closed_loop_channels(exc.data(), x.data(), h.data(), t0_min.data(), t0_max.data(),
                                 offset, channels, t0.data(), frac.data());
            postfilter_prepare_channels(pf.data(), frames.data(), lags.data(),
                                        frame_types.data(), work.data(), channels);
            std::vector<PostfilterWork> prepared(channels);
            for (int c = 0; c < channels; ++c) prepared[c] = ch[c].work;
            postfilter_finish_channels(pf.data(), speech.data(), work.data(), channels);

            for (int c = 0; c < channels; ++c) {
                SCOPED_TRACE("channel " + std::to_string(c));
                Channel& k = ch[c];
                double solo_corr[5] = {};
                const double solo_gain = on_target(kScalar, [&] {
                    return adaptive_codebook_gain(k.x.data(), k.y.data(), solo_corr, 40);
                });
                on_target(kScalar, [&] { return fixed_codebook_correlations(k.x.data(), k.y.data(),
                                                      k.z.data(), solo_corr); });
                EXPECT_TRUE(same(gain[c], solo_gain));
                EXPECT_TRUE(same_doubles(corr[c].data(), solo_corr, 5));

                double solo_a[11];
                double solo_rc[10];
                levinson_durbin(k.r, solo_a, solo_rc);
                EXPECT_TRUE(same_doubles(a[c].data(), solo_a, 11));
                EXPECT_TRUE(same_doubles(rc[c].data(), solo_rc, 10));

                int32_t solo_frac = 0;
                const int32_t solo_t0 = on_target(kScalar, [&] {
                    return closed_loop_pitch_search(k.solo_exc.data() + 154, k.x.data(), k.h.data(),
                                                    40, k.t0_min, k.t0_max, offset, &solo_frac);
                });
                EXPECT_EQ(t0[c], solo_t0);
                EXPECT_EQ(frac[c], solo_frac);
                EXPECT_TRUE(same_doubles(k.exc.data(), k.solo_exc.data(), 154 + 40));

                g729simd::SynthesisJob jobs[2];
                on_target(kScalar, [&] {
                    postfilter_prepare(&k.solo_pf, k.solo_speech.data() + 10, k.lags,
                                       k.frame_type, &k.solo_work, jobs);
                    return 0;
                });
                EXPECT_TRUE(same_doubles(&prepared[c].filtered[0][0], &k.solo_work.filtered[0][0],
                                         80));
                EXPECT_TRUE(same_doubles(k.pf.residual_history, k.solo_pf.residual_history, 183));
                EXPECT_TRUE(same(k.pf.tilt_memory, k.solo_pf.tilt_memory));
                postfilter_finish(&k.solo_pf, k.solo_speech.data() + 10, &k.solo_work);
                EXPECT_TRUE(same(k.pf.agc_gain, k.solo_pf.agc_gain));
                EXPECT_TRUE(same_doubles(k.speech.data(), k.solo_speech.data(), 90));
            }
        }
    }
    use_targets(0);
}

// The batched engine's frame kernels on every Highway target, against the single-channel
// steps they stand for: the encoder's weighting filters (with the subframe's lanes area and
// without) and the decoder's last steps from the speech synthesis to the output filter, over
// group sizes that leave vectors part empty and with awkward channels among ordinary ones
// (silence, memories just above and below the flush threshold, frames other than speech).
TEST(SimdPaths, ChannelParallelFrameKernelsOnEveryHighwayTarget) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_targets(target);
        Rng rng(static_cast<uint64_t>(target % 77777) + 5);
        for (int trial = 0; trial < 8; ++trial) {
            const int channels = 1 + trial * 5 % 37;
            const bool area = trial % 2 == 1;
            SCOPED_TRACE("trial " + std::to_string(trial));
            // The encoder's weighting filters.
            struct Encoder {
                double aq[22], speech[90], exc[80], wsp[80], mem_wsp[10], mem_err[10];
                double ap[22], x[40], h[2][40];
            };
            std::vector<Encoder> e(channels);
            std::vector<const double*> aq(channels), sp(channels), err(channels);
            std::vector<double*> exc(channels), wsp(channels), mw(channels), ap(channels),
                x(channels), h0(channels), h1(channels);
            for (int c = 0; c < channels; ++c) {
                Encoder& k = e[c];
                const int kind = (trial + c) % 3;  // 0: silence, tiny memories
                random_lpc(rng, k.aq);
                random_lpc(rng, k.aq + 11);
                const std::vector<double> s = voiced(rng, 90, rng.uniform(20.0, 140.0), 2000.0);
                for (int i = 0; i < 90; ++i) k.speech[i] = kind == 0 ? 0.0 : s[i];
                for (int i = 0; i < 10; ++i) {
                    k.mem_wsp[i] = kind == 0 ? (i % 2 ? 1.9e-5 : -2.1e-5) : rng.uniform(-900, 900);
                    k.mem_err[i] = kind == 0 ? 0.0 : rng.uniform(-900.0, 900.0);
                }
                aq[c] = k.aq;
                sp[c] = k.speech + 10;
                exc[c] = k.exc;
                wsp[c] = k.wsp;
                mw[c] = k.mem_wsp;
                err[c] = k.mem_err;
                ap[c] = k.ap;
                x[c] = k.x;
                h0[c] = k.h[0];
                h1[c] = k.h[1];
            }
            const std::vector<Encoder> before = e;
            const auto scratch = hwy::AllocateAligned<double>(kEncoderFiltersScratch * 8);
            const auto lanes = hwy::AllocateAligned<double>(subframe_lanes_size(40));
            const EncoderFilters f{aq.data(),  sp.data(), exc.data(), wsp.data(),
                                   mw.data(),  err.data(), ap.data(), x.data(),
                                   {h0.data(), h1.data()}, area ? lanes.get() : nullptr};
            encoder_filters_channels(f, channels, scratch.get());
            const int lane_count = lane_kernels_lanes(lane_kernels(8));
            for (int c = 0; c < channels; ++c) {
                SCOPED_TRACE("encoder channel " + std::to_string(c));
                Encoder k = before[c];
                on_target(kScalar, [&] {
                    double ap1[2][11];
                    for (int sf = 0; sf < 2; ++sf) {
                        double* a = k.ap + 11 * sf;
                        lpc_weight(k.aq + 11 * sf, 10, a, kWeightingGamma);
                        lpc_residual_filter(k.aq + 11 * sf, k.speech + 10 + 40 * sf,
                                            k.exc + 40 * sf, 40);
                        ap1[sf][0] = 1.0;
                        for (int i = 1; i <= 10; ++i) ap1[sf][i] = a[i] - kTiltFactor * a[i - 1];
                    }
                    lpc_synthesis_filter(k.ap, k.exc, k.x, 40, k.mem_err, 0);
                    const double impulse[40] = {1.0};
                    for (int sf = 0; sf < 2; ++sf) {
                        double zero[10] = {};
                        lpc_synthesis_filter(k.ap + 11 * sf, impulse, k.h[sf], 40, zero, 0);
                        lpc_synthesis_filter(ap1[sf], k.exc + 40 * sf, k.wsp + 40 * sf, 40,
                                             k.mem_wsp, 1);
                    }
                });
                EXPECT_TRUE(same_doubles(e[c].ap, k.ap, 22));
                EXPECT_TRUE(same_doubles(e[c].exc, k.exc, 80));
                EXPECT_TRUE(same_doubles(e[c].wsp, k.wsp, 80));
                EXPECT_TRUE(same_doubles(e[c].mem_wsp, k.mem_wsp, 10));
                EXPECT_TRUE(same_doubles(e[c].h[0], k.h[0], 40));
                EXPECT_TRUE(same_doubles(e[c].h[1], k.h[1], 40));
                // With the area, the record takes the target's last ten, the area all of it.
                const int from = area ? 30 : 0;
                EXPECT_TRUE(same_doubles(e[c].x + from, k.x + from, 40 - from));
                if (area) {
                    const double* rows =
                        subframe_lanes_of(lanes.get(), c / lane_count, lane_count);
                    for (int i = 0; i < 40; ++i) {
                        EXPECT_TRUE(same(rows[(kTargetRows + i) * lane_count + c % lane_count],
                                         k.x[i]));
                    }
                }
            }

            // The decoder's last steps.
            struct Decoder {
                g729_postfilter_state pf;
                double speech[90], lpc[22], exc[80], mem_syn[10], hp[4];
                int32_t lags[2], type;
            };
            std::vector<Decoder> dec(channels);
            std::vector<g729_postfilter_state*> pf(channels);
            std::vector<double*> speech(channels), syn(channels), hp(channels);
            std::vector<const double*> lpc(channels), excitation(channels);
            std::vector<const int32_t*> lags(channels);
            std::vector<int32_t> types(channels);
            const int32_t kinds[3] = {G729_FRAME_SPEECH, G729_FRAME_SID,
                                      G729_FRAME_NO_TRANSMISSION};
            for (int c = 0; c < channels; ++c) {
                Decoder& k = dec[c];
                std::memset(&k.pf, 0, sizeof k.pf);
                k.pf.agc_gain = rng.uniform(0.0, 1.5);
                k.pf.tilt_memory = rng.uniform(-500.0, 500.0);
                const std::vector<double> past = voiced(rng, 183, rng.uniform(20.0, 140.0), 800.0);
                std::copy(past.begin(), past.end(), k.pf.residual_history);
                for (double& m : k.pf.postfilter_synthesis_memory) m = rng.uniform(-300, 300);
                random_lpc(rng, k.lpc);
                random_lpc(rng, k.lpc + 11);
                const std::vector<double> s = voiced(rng, 90, rng.uniform(20.0, 140.0), 1500.0);
                std::copy(s.begin(), s.end(), k.speech);
                const std::vector<double> v = voiced(rng, 80, rng.uniform(20.0, 140.0), 600.0);
                std::copy(v.begin(), v.end(), k.exc);
                for (double& m : k.mem_syn) m = rng.uniform(-1000.0, 1000.0);
                for (double& m : k.hp) m = rng.uniform(-1000.0, 1000.0);
                k.type = kinds[(trial + 2 * c) % 3];
                k.lags[0] = rng.integer(20, 143);
                k.lags[1] = rng.integer(20, 143);
                pf[c] = &k.pf;
                speech[c] = k.speech + 10;
                syn[c] = k.mem_syn;
                hp[c] = k.hp;
                lpc[c] = k.lpc;
                excitation[c] = k.type == G729_FRAME_SPEECH ? k.exc : nullptr;
                lags[c] = k.lags;
                types[c] = k.type;
            }
            const std::vector<Decoder> dec_before = dec;
            const auto dscratch = hwy::AllocateAligned<double>(kDecoderOutputScratch);
            const DecoderFrames frames{pf.data(),         speech.data(), lpc.data(),
                                       excitation.data(), syn.data(),    lags.data(),
                                       types.data(),      hp.data()};
            decoder_output_channels(frames, channels, dscratch.get());
            for (int c = 0; c < channels; ++c) {
                SCOPED_TRACE("decoder channel " + std::to_string(c));
                Decoder k = dec_before[c];
                on_target(kScalar, [&] {
                    if (k.type == G729_FRAME_SPEECH) {
                        for (int sf = 0; sf < 2; ++sf) {
                            lpc_synthesis_filter(k.lpc + 11 * sf, k.exc + 40 * sf,
                                                 k.speech + 10 + 40 * sf, 40, k.mem_syn, 1);
                        }
                    }
                    postfilter_frame(&k.pf, k.speech + 10, k.lpc, k.lags, k.type);
                    post_highpass_filter(k.hp, k.speech + 10, 80);
                });
                EXPECT_TRUE(same_doubles(dec[c].speech, k.speech, 90));
                EXPECT_TRUE(same_doubles(dec[c].mem_syn, k.mem_syn, 10));
                EXPECT_TRUE(same_doubles(dec[c].hp, k.hp, 4));
                EXPECT_EQ(std::memcmp(&dec[c].pf, &k.pf, sizeof k.pf), 0);
            }
        }
    }
    use_targets(0);
}
