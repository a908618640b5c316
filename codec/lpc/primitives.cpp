// SPDX-License-Identifier: BSD-2-Clause
// Filters and small numeric routines shared by the whole codec. The filters and the copy are
// compiled for every instruction set Highway targets (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/lpc/primitives.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include <cmath>
#include <cstdint>

#include "codec/lpc/primitives.h"
#include "codec/simd_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {

#include "codec/lpc/synthesis_step-inl.h"

// Longest block the synthesis filter handles in one call (one subframe).
constexpr int kMaxBlock = 40;

void lpc_synthesis_filter(const double a[11], const double* x, double* y, int L,
                          double mem[10], int update) {
    if (L < 0) L = 0;
    if (L > kMaxBlock) L = kMaxBlock;

    // The memory is read whole before any output is written: mem may point into x.
    double m[10];
    for (int k = 0; k < 10; ++k) m[k] = mem[k];

    // Ten outputs per pass with the recent outputs in registers; each input sample is read
    // before its output is written, so y may be x.
    int n = 0;
    for (; n + 10 <= L; n += 10) {
        y[n] = synthesis_step<0>(a, x[n], m);
        y[n + 1] = synthesis_step<1>(a, x[n + 1], m);
        y[n + 2] = synthesis_step<2>(a, x[n + 2], m);
        y[n + 3] = synthesis_step<3>(a, x[n + 3], m);
        y[n + 4] = synthesis_step<4>(a, x[n + 4], m);
        y[n + 5] = synthesis_step<5>(a, x[n + 5], m);
        y[n + 6] = synthesis_step<6>(a, x[n + 6], m);
        y[n + 7] = synthesis_step<7>(a, x[n + 7], m);
        y[n + 8] = synthesis_step<8>(a, x[n + 8], m);
        y[n + 9] = synthesis_step<9>(a, x[n + 9], m);
    }

    // The last L mod 10 outputs through a work buffer: w[k] holds the output 10 before w[k+10].
    double w[20];
    for (int k = 0; k < 10; ++k) w[k] = m[k];
    const int rest = L - n;
    for (int r = 0; r < rest; ++r) {
        const double s = history_step(a, x[n + r], w + r);
        w[r + 10] = s;
        y[n + r] = s;
    }

    if (update != 0) {
        for (int k = 0; k < 10; ++k) {
            mem[k] = flush_tiny(w[rest + k]);
        }
    }
}

// A(z); the vector kernel does one output per lane (the outputs are independent). Each
// output starts from a[1]*x[n-1] + x[n] and adds the further terms in order.
void lpc_residual_filter(const double a[11], const double* x, double* y, int L) {
    int n = 0;
    if constexpr (kVectors) {
        const D4 d;
        const int lanes = static_cast<int>(hn::Lanes(d));
        V4 c[11];
        for (int k = 1; k <= 10; ++k) c[k] = hn::Set(d, a[k]);
        for (; n + lanes <= L; n += lanes) {
            V4 s = hn::Add(hn::Mul(c[1], hn::LoadU(d, x + n - 1)), hn::LoadU(d, x + n));
            for (int k = 2; k <= 10; ++k) s = hn::Add(s, hn::Mul(c[k], hn::LoadU(d, x + n - k)));
            hn::StoreU(s, d, y + n);
        }
    }
    for (; n < L; ++n) {
        double s = a[1] * x[n - 1] + x[n];
        s += a[2] * x[n - 2];
        s += a[3] * x[n - 3];
        s += a[4] * x[n - 4];
        s += a[5] * x[n - 5];
        s += a[6] * x[n - 6];
        s += a[7] * x[n - 7];
        s += a[8] * x[n - 8];
        s += a[9] * x[n - 9];
        s += a[10] * x[n - 10];
        y[n] = s;
    }
}

// Ascending copy. The vector kernel copies two of the widest vectors at a time, then one,
// when the destination does not lie inside the source after its start: every group is read
// before it is written and no write reaches a later group's source, so the result is that of
// the element-by-element copy.
void copy_doubles(const double* src, double* dst, int n) {
    int i = 0;
    if constexpr (kVectors) {
        const hn::ScalableTag<double> d;
        const int lanes = static_cast<int>(hn::Lanes(d));
        const auto s = reinterpret_cast<std::uintptr_t>(src);
        const auto t = reinterpret_cast<std::uintptr_t>(dst);
        if (n > 0 && (t <= s || t >= s + sizeof(double) * static_cast<unsigned>(n))) {
            for (; i + 2 * lanes <= n; i += 2 * lanes) {
                const auto first = hn::LoadU(d, src + i);
                const auto second = hn::LoadU(d, src + i + lanes);
                hn::StoreU(first, d, dst + i);
                hn::StoreU(second, d, dst + i + lanes);
            }
            for (; i + lanes <= n; i += lanes) hn::StoreU(hn::LoadU(d, src + i), d, dst + i);
        }
    }
    for (; i < n; ++i) dst[i] = src[i];
}

// Four independent synthesis filters side by side, one per lane of a Quad: every lane does
// exactly the operations of lpc_synthesis_filter on its own filter (synthesis_step on
// Quads), and the chains of the lanes overlap. The history is rotated through registers as in
// lpc_synthesis_filter.
//
// Sample n of every lane: the four inputs read first, then the four outputs written.
template <int R>
HWY_INLINE void lanes_sample(const Quad (&a)[11], const double* const (&x)[4],
                             double* const (&y)[4], int n, Quad (&m)[10]) {
    const Quad s = synthesis_step<R>(a, quad_of(x[0][n], x[1][n], x[2][n], x[3][n]), m);
    alignas(32) double out[4];
    quad_store(s, out);
    y[0][n] = out[0];
    y[1][n] = out[1];
    y[2][n] = out[2];
    y[3][n] = out[3];
}

HWY_INLINE void synthesis_quad(const g729simd::SynthesisJob* jobs, int count, int L) {
    if (L < 0) L = 0;
    if (L > kMaxBlock) L = kMaxBlock;

    // Lanes without a job filter zeros with zero coefficients into a scratch output.
    const double zeros[kMaxBlock] = {};
    double scratch[kMaxBlock];
    const double* x[4];
    double* y[4];
    alignas(32) double ab[11][4];
    alignas(32) double mb[10][4];
    for (int l = 0; l < 4; ++l) {
        const bool used = l < count;
        x[l] = used ? jobs[l].x : zeros;
        y[l] = used ? jobs[l].y : scratch;
        for (int k = 1; k <= 10; ++k) ab[k][l] = used ? jobs[l].a[k] : 0.0;
        // Every memory is read whole before any output is written.
        for (int k = 0; k < 10; ++k) mb[k][l] = used ? jobs[l].mem[k] : 0.0;
    }
    Quad a[11];
    Quad m[10];
    a[0] = quad_set(1.0);
    for (int k = 1; k <= 10; ++k) a[k] = quad_load(ab[k]);
    for (int k = 0; k < 10; ++k) m[k] = quad_load(mb[k]);

    // The inputs of sample n are read before its outputs are written: a job may filter in
    // place.
    int n = 0;
    for (; n + 10 <= L; n += 10) {
        lanes_sample<0>(a, x, y, n, m);
        lanes_sample<1>(a, x, y, n + 1, m);
        lanes_sample<2>(a, x, y, n + 2, m);
        lanes_sample<3>(a, x, y, n + 3, m);
        lanes_sample<4>(a, x, y, n + 4, m);
        lanes_sample<5>(a, x, y, n + 5, m);
        lanes_sample<6>(a, x, y, n + 6, m);
        lanes_sample<7>(a, x, y, n + 7, m);
        lanes_sample<8>(a, x, y, n + 8, m);
        lanes_sample<9>(a, x, y, n + 9, m);
    }

    // The last L mod 10 outputs through a work buffer, as in lpc_synthesis_filter.
    Quad w[20];
    for (int k = 0; k < 10; ++k) w[k] = m[k];
    const int rest = L - n;
    for (int r = 0; r < rest; ++r) {
        const Quad s = history_step(
            a, quad_of(x[0][n + r], x[1][n + r], x[2][n + r], x[3][n + r]), w + r);
        w[r + 10] = s;
        alignas(32) double out[4];
        quad_store(s, out);
        for (int l = 0; l < 4; ++l) y[l][n + r] = out[l];
    }

    alignas(32) double hist[10][4];
    for (int k = 0; k < 10; ++k) quad_store(w[rest + k], hist[k]);
    for (int l = 0; l < count; ++l) {
        if (jobs[l].update != 0) {
            for (int k = 0; k < 10; ++k) jobs[l].mem[k] = flush_tiny(hist[k][l]);
        }
    }
}

// count (1..4) filters. The scalar instruction sets run them one after the other: with no
// job touching another's data, the same results.
void lpc_synthesis_filters(const g729simd::SynthesisJob* jobs, int count, int L) {
    if constexpr (kVectors) {
        synthesis_quad(jobs, count, L);
    } else {
        for (int l = 0; l < count; ++l) {
            lpc_synthesis_filter(jobs[l].a, jobs[l].x, jobs[l].y, L, jobs[l].mem,
                                 jobs[l].update);
        }
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(lpc_synthesis_filter);
HWY_EXPORT(lpc_residual_filter);
HWY_EXPORT(lpc_synthesis_filters);
HWY_EXPORT(copy_doubles);

void lpc_synthesis_filters(const g729simd::SynthesisJob* jobs, int count, int L) {
    HWY_DYNAMIC_DISPATCH(lpc_synthesis_filters)(jobs, count, L);
}

void lpc_synthesis_filter(const double a[11], const double* x, double* y, int L, double mem[10],
                          int update) {
    HWY_DYNAMIC_DISPATCH(lpc_synthesis_filter)(a, x, y, L, mem, update);
}

void lpc_residual_filter(const double a[11], const double* x, double* y, int L) {
    HWY_DYNAMIC_DISPATCH(lpc_residual_filter)(a, x, y, L);
}

void copy_doubles(const double* src, double* dst, int n) {
    HWY_DYNAMIC_DISPATCH(copy_doubles)(src, dst, n);
}

void zero_doubles(double* buf, int n) {
    for (int i = 0; i < n; ++i) buf[i] = 0.0;
}

int16_t random_next(int16_t* seed) {
    // 16-bit multiply-add: compute exactly in 32 bits, then wrap modulo 65536.
    const int32_t v = static_cast<int32_t>(*seed) * 31821 + 13849;
    *seed = static_cast<int16_t>(static_cast<uint16_t>(v));
    return *seed;
}

void lsf_ma_memory_save(const double mem[4][10], double copy[4][10]) {
    for (int k = 0; k < 4; ++k) copy_doubles(mem[k], copy[k], 10);
}

void lsf_ma_memory_restore(double mem[4][10], const double copy[4][10]) {
    for (int k = 0; k < 4; ++k) copy_doubles(copy[k], mem[k], 10);
}

}  // namespace g729
#endif  // HWY_ONCE
