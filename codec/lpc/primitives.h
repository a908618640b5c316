// SPDX-License-Identifier: BSD-2-Clause
// Filters and small numeric routines shared by the whole codec.
#pragma once

#include <cmath>
#include <cstdint>

#include "codec/simd_dispatch.h"

namespace g729 {

// Filter memories smaller than this in magnitude are stored as exact zeros.
inline constexpr double kMemoryFlushThreshold = 2e-5;

[[gnu::always_inline]] inline double flush_tiny(double v) {
    return std::fabs(v) < kMemoryFlushThreshold ? 0.0 : v;
}

// 1/A(z) over L (0..40) samples; y may equal x. mem holds the 10 latest outputs, oldest
// first; it is rewritten (flushed with flush_tiny) only when update != 0.
void lpc_synthesis_filter(const double a[11], const double* x, double* y, int L, double mem[10],
                          int update);

// count (1..4) lpc_synthesis_filter calls of L samples each, computed side by side so that
// their dependency chains overlap. Each gives exactly what its own call gives, provided that
// no job writes (y, mem) anything another job reads or writes; a job may filter in place.
void lpc_synthesis_filters(const g729simd::SynthesisJob* jobs, int count, int L);

// A(z) over L samples; x[-10..-1] must be readable history. y must not overlap x[-10..L-1].
void lpc_residual_filter(const double a[11], const double* x, double* y, int L);

// The powers gamma^1..gamma^10 of a bandwidth-expansion factor, each the previous one times
// gamma (p[0] unused): lpc_weight's, which the channel-parallel kernels form when compiling.
struct WeightPowers {
    double p[11];
};
constexpr WeightPowers weight_powers(double gamma) {
    WeightPowers w{};
    double g = gamma;
    for (int i = 1; i <= 10; ++i) {
        w.p[i] = g;
        g = g * gamma;
    }
    return w;
}

// Bandwidth expansion: out[i] = a[i] * gamma^i (m <= 10), the powers of weight_powers. out may
// equal a. Inline: with the codec's fixed factors the powers are known when compiling, and
// only the products are left to run.
inline void lpc_weight(const double* a, int m, double* out, double gamma) {
    const WeightPowers w = weight_powers(gamma);
    out[0] = a[0];
    for (int i = 1; i <= m; ++i) out[i] = a[i] * w.p[i];
}

void zero_doubles(double* buf, int n);

// Ascending copy, source first: overlapping ranges are fine when dst precedes src.
void copy_doubles(const double* src, double* dst, int n);

// 16-bit linear congruential generator; returns the new seed.
int16_t random_next(int16_t* seed);

void lsf_ma_memory_save(const double mem[4][10], double copy[4][10]);
void lsf_ma_memory_restore(double mem[4][10], const double copy[4][10]);

}  // namespace g729
