// SPDX-License-Identifier: BSD-2-Clause
// Synthesis/residual filters, bandwidth expansion, copies and the pseudo-random generator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/lpc/primitives.h"

using namespace g729;

namespace {

// A stable 10th-order predictor (bandwidth-expanded resonances).
const double kStableA[11] = {1.0,   -1.2,  0.8,   -0.35, 0.2,   -0.1,
                             0.05,  -0.03, 0.02,  -0.01, 0.005};

bool same_bits(const double* p, const double* q, int n) {
    return std::memcmp(p, q, sizeof(double) * static_cast<size_t>(n)) == 0;
}

}  // namespace

TEST(SynthesisFilter, IdentityCopiesInputAndFlushesOnlyTheMemory) {
    const double a[11] = {1.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    double x[40];
    for (int n = 0; n < 40; ++n) x[n] = 100.0 * std::sin(0.3 * n);
    // The last ten inputs straddle the flush threshold.
    const double tail[10] = {1e-5, -1.9999e-5, 2e-5, -2e-5, 3.0, -4.5, 0.0, 1.99999e-5, 2.00001e-5, -7.0};
    for (int k = 0; k < 10; ++k) x[30 + k] = tail[k];
    double y[40];
    double mem[10] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    lpc_synthesis_filter(a, x, y, 40, mem, 1);

    EXPECT_TRUE(same_bits(x, y, 40));  // y keeps the exact small values
    const double expected[10] = {0.0, 0.0, 2e-5, -2e-5, 3.0, -4.5, 0.0, 0.0, 2.00001e-5, -7.0};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(mem[k], expected[k]) << "k=" << k;
}

TEST(SynthesisFilter, FirstOrderImpulseResponseIsGeometric) {
    double a[11] = {1.0, -0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    double x[40] = {1.0};
    double y[40];
    double mem[10] = {};
    lpc_synthesis_filter(a, x, y, 40, mem, 0);
    for (int n = 0; n < 40; ++n) EXPECT_EQ(y[n], std::ldexp(1.0, -n)) << "n=" << n;
}

TEST(SynthesisFilter, InPlaceMatchesSeparateArrays) {
    double x[40];
    for (int n = 0; n < 40; ++n) x[n] = 1000.0 * std::cos(0.7 * n) + 13.0 * n;
    double mem1[10];
    for (int k = 0; k < 10; ++k) mem1[k] = 50.0 - 9.0 * k;
    double mem2[10];
    std::memcpy(mem2, mem1, sizeof mem1);

    double y[40];
    lpc_synthesis_filter(kStableA, x, y, 40, mem1, 1);
    double inplace[40];
    std::memcpy(inplace, x, sizeof x);
    lpc_synthesis_filter(kStableA, inplace, inplace, 40, mem2, 1);

    EXPECT_TRUE(same_bits(y, inplace, 40));
    EXPECT_TRUE(same_bits(mem1, mem2, 10));
}

TEST(SynthesisFilter, MemoryMayPointIntoTheInputWithoutUpdate) {
    // Impulse response computed in place: x = [1, 0, ...], memory = the ten zeros after the 1.
    double buf[40] = {1.0};
    lpc_synthesis_filter(kStableA, buf, buf, 40, buf + 1, 0);

    double x[40] = {1.0};
    double y[40];
    double zero_mem[10] = {};
    lpc_synthesis_filter(kStableA, x, y, 40, zero_mem, 0);
    EXPECT_TRUE(same_bits(buf, y, 40));
    EXPECT_EQ(y[1], 1.2);  // -a[1] * y[0]
}

TEST(SynthesisFilter, ShortBlocksShiftTheOldMemory) {
    const double a[11] = {1.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    double mem[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const double x[3] = {11, 12, 13};
    double y[3];
    lpc_synthesis_filter(a, x, y, 3, mem, 1);
    const double expected[10] = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    EXPECT_TRUE(same_bits(mem, expected, 10));

    // L = 0 only rewrites the memory through the flush.
    double mem0[10] = {1e-6, 1, -1e-6, 2, 3, 4, 5, 6, 7, 8};
    lpc_synthesis_filter(a, x, y, 0, mem0, 1);
    const double flushed[10] = {0, 1, 0, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(same_bits(mem0, flushed, 10));
}

TEST(SynthesisFilter, UpdateZeroLeavesMemoryUntouched) {
    double mem[10];
    for (int k = 0; k < 10; ++k) mem[k] = (k % 2 ? 1e-7 : -3.25) * (k + 1);
    double before[10];
    std::memcpy(before, mem, sizeof mem);
    double x[40];
    for (int n = 0; n < 40; ++n) x[n] = n - 20.0;
    double y[40];
    lpc_synthesis_filter(kStableA, x, y, 40, mem, 0);
    EXPECT_TRUE(same_bits(mem, before, 10));
}

TEST(ResidualFilter, InvertsTheSynthesisFilter) {
    // History of 10 samples followed by 40 filtered ones: A(z) recovers the excitation.
    double x[40];
    for (int n = 0; n < 40; ++n) x[n] = 300.0 * std::sin(0.21 * n * n);
    double buf[50];
    for (int k = 0; k < 10; ++k) buf[k] = 20.0 * k - 90.0;
    double mem[10];
    std::memcpy(mem, buf, sizeof mem);
    lpc_synthesis_filter(kStableA, x, buf + 10, 40, mem, 0);

    double e[40];
    lpc_residual_filter(kStableA, buf + 10, e, 40);
    for (int n = 0; n < 40; ++n) EXPECT_NEAR(e[n], x[n], 1e-9) << "n=" << n;
}

TEST(Weight, PowersOfGammaAndAliasing) {
    double a[11];
    for (int i = 0; i < 11; ++i) a[i] = 1.0 + 0.25 * i;
    double out[11];
    lpc_weight(a, 10, out, 1.0);
    EXPECT_TRUE(same_bits(a, out, 11));

    lpc_weight(a, 10, out, 0.5);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(out[i], a[i] * std::ldexp(1.0, -i)) << "i=" << i;

    double inplace[11];
    std::memcpy(inplace, a, sizeof a);
    lpc_weight(inplace, 10, inplace, 0.75);
    double separate[11];
    lpc_weight(a, 10, separate, 0.75);
    EXPECT_TRUE(same_bits(inplace, separate, 11));
}

TEST(Random, KnownValuesAndFullPeriod) {
    int16_t seed = 0;
    EXPECT_EQ(random_next(&seed), 13849);
    EXPECT_EQ(seed, 13849);
    seed = 1;
    EXPECT_EQ(random_next(&seed), -19866);
    seed = -1;
    EXPECT_EQ(random_next(&seed), static_cast<int16_t>(13849 - 31821));

    // Odd increment and multiplier = 1 mod 4: every 16-bit value once per 65536 draws.
    seed = 21845;
    int period = 0;
    do {
        random_next(&seed);
        ++period;
    } while (seed != 21845 && period <= 70000);
    EXPECT_EQ(period, 65536);
}

TEST(Copies, ZeroAndCopyRespectCountsAndOverlap) {
    double buf[240];
    for (int i = 0; i < 240; ++i) buf[i] = i;
    copy_doubles(buf + 10, buf, 0);
    copy_doubles(buf + 10, buf, -5);
    zero_doubles(buf, 0);
    zero_doubles(buf, -3);
    for (int i = 0; i < 240; ++i) ASSERT_EQ(buf[i], i);

    // Shift a history down by 80 over an overlapping range.
    copy_doubles(buf + 80, buf, 160);
    for (int i = 0; i < 160; ++i) EXPECT_EQ(buf[i], i + 80) << "i=" << i;
    for (int i = 160; i < 240; ++i) EXPECT_EQ(buf[i], i);

    zero_doubles(buf + 5, 7);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(buf[i], (i >= 5 && i < 12) ? 0.0 : i + 80.0);
}

TEST(Copies, PredictorMemorySaveRestore) {
    double mem[4][10];
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 10; ++i) mem[k][i] = k * 10 + i + 0.5;
    double copy[4][10] = {};
    lsf_ma_memory_save(mem, copy);
    EXPECT_TRUE(same_bits(&mem[0][0], &copy[0][0], 40));
    copy[2][3] = -1.0;
    lsf_ma_memory_restore(mem, copy);
    EXPECT_EQ(mem[2][3], -1.0);
    EXPECT_EQ(mem[3][9], 39.5);
}
