// Filters and small numeric routines shared by the whole codec.
#include "codec/lpc/primitives.h"

#include <cmath>
#include <cstdint>

#include "codec/simd_dispatch.h"

namespace g729 {

namespace {

#include "codec/lpc/synthesis_step-inl.h"

using g729simd::Isa;
using g729simd::load4;
using g729simd::store4;
using g729simd::v4d;

// Longest block the synthesis filter handles in one call (one subframe).
constexpr int kMaxBlock = 40;

G729_INLINE void synthesis_impl(const double a[11], const double* x, double* y, int L,
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

// A(z); the AVX2 build does four outputs at a time (the outputs are independent). Each
// output starts from a[1]*x[n-1] + x[n] and adds the further terms in order.
template <Isa I>
G729_INLINE void residual_impl(const double a[11], const double* x, double* y, int L) {
    int n = 0;
    if constexpr (I == Isa::avx2) {
        for (; n + 4 <= L; n += 4) {
            v4d s = G729_SPLAT(a[1]) * load4(x + n - 1) + load4(x + n);
            s += G729_SPLAT(a[2]) * load4(x + n - 2);
            s += G729_SPLAT(a[3]) * load4(x + n - 3);
            s += G729_SPLAT(a[4]) * load4(x + n - 4);
            s += G729_SPLAT(a[5]) * load4(x + n - 5);
            s += G729_SPLAT(a[6]) * load4(x + n - 6);
            s += G729_SPLAT(a[7]) * load4(x + n - 7);
            s += G729_SPLAT(a[8]) * load4(x + n - 8);
            s += G729_SPLAT(a[9]) * load4(x + n - 9);
            s += G729_SPLAT(a[10]) * load4(x + n - 10);
            store4(y + n, s);
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

// Ascending copy. The AVX2 build copies four at a time when the destination does not lie
// inside the source after its start: every group is read before it is written and no write
// reaches a later group's source, so the result is that of the element-by-element copy.
template <Isa I>
G729_INLINE void copy_impl(const double* src, double* dst, int n) {
    int i = 0;
    if constexpr (I == Isa::avx2) {
        const auto s = reinterpret_cast<std::uintptr_t>(src);
        const auto d = reinterpret_cast<std::uintptr_t>(dst);
        if (n > 0 && (d <= s || d >= s + sizeof(double) * static_cast<unsigned>(n))) {
            for (; i + 4 <= n; i += 4) store4(dst + i, load4(src + i));
        }
    }
    for (; i < n; ++i) dst[i] = src[i];
}

void copy_baseline(const double* src, double* dst, int n) {
    copy_impl<Isa::baseline>(src, dst, n);
}

G729_TARGET_AVX2 void copy_avx2(const double* src, double* dst, int n) {
    copy_impl<Isa::avx2>(src, dst, n);
}

// Up to four independent synthesis filters side by side, one per vector lane: every lane does
// exactly the operations of synthesis_impl on its own filter (synthesis_step on vectors), and
// the chains of the lanes overlap. The history is rotated through registers as in
// synthesis_impl.
//
// Sample n of every lane: the four inputs read first, then the four outputs written.
template <int R>
G729_INLINE void lanes_sample(const v4d (&a)[11], const double* const (&x)[4],
                              double* const (&y)[4], int n, v4d (&m)[10]) {
    const v4d s = synthesis_step<R>(a, v4d{x[0][n], x[1][n], x[2][n], x[3][n]}, m);
    y[0][n] = s[0];
    y[1][n] = s[1];
    y[2][n] = s[2];
    y[3][n] = s[3];
}

G729_INLINE void synthesis_lanes_impl(const g729simd::SynthesisJob* jobs, int count, int L) {
    if (L < 0) L = 0;
    if (L > kMaxBlock) L = kMaxBlock;

    // Lanes without a job filter zeros with zero coefficients into a scratch output.
    const double zeros[kMaxBlock] = {};
    double scratch[kMaxBlock];
    const double* x[4];
    double* y[4];
    v4d a[11];
    v4d m[10];
    for (int l = 0; l < 4; ++l) {
        const bool used = l < count;
        x[l] = used ? jobs[l].x : zeros;
        y[l] = used ? jobs[l].y : scratch;
        for (int k = 1; k <= 10; ++k) a[k][l] = used ? jobs[l].a[k] : 0.0;
        // Every memory is read whole before any output is written.
        for (int k = 0; k < 10; ++k) m[k][l] = used ? jobs[l].mem[k] : 0.0;
    }
    a[0] = G729_SPLAT(1.0);

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

    // The last L mod 10 outputs through a work buffer, as in synthesis_impl.
    v4d w[20];
    for (int k = 0; k < 10; ++k) w[k] = m[k];
    const int rest = L - n;
    for (int r = 0; r < rest; ++r) {
        const v4d s =
            history_step(a, v4d{x[0][n + r], x[1][n + r], x[2][n + r], x[3][n + r]}, w + r);
        w[r + 10] = s;
        for (int l = 0; l < 4; ++l) y[l][n + r] = s[l];
    }

    for (int l = 0; l < count; ++l) {
        if (jobs[l].update != 0) {
            for (int k = 0; k < 10; ++k) {
                jobs[l].mem[k] = flush_tiny(w[rest + k][l]);
            }
        }
    }
}

// The baseline build runs the filters one after the other: with no job touching another's
// data, the same results.
void synthesis_lanes_baseline(const g729simd::SynthesisJob* jobs, int count, int L) {
    for (int l = 0; l < count; ++l) {
        synthesis_impl(jobs[l].a, jobs[l].x, jobs[l].y, L, jobs[l].mem, jobs[l].update);
    }
}

G729_TARGET_AVX2 void synthesis_lanes_avx2(const g729simd::SynthesisJob* jobs, int count,
                                           int L) {
    synthesis_lanes_impl(jobs, count, L);
}

void synthesis_baseline(const double a[11], const double* x, double* y, int L, double mem[10],
                        int update) {
    synthesis_impl(a, x, y, L, mem, update);
}

// Scalar, but the three-operand AVX encoding saves a register copy per product.
G729_TARGET_AVX2 void synthesis_avx2(const double a[11], const double* x, double* y, int L,
                                     double mem[10], int update) {
    synthesis_impl(a, x, y, L, mem, update);
}

void residual_baseline(const double a[11], const double* x, double* y, int L) {
    residual_impl<Isa::baseline>(a, x, y, L);
}

G729_TARGET_AVX2 void residual_avx2(const double a[11], const double* x, double* y, int L) {
    residual_impl<Isa::avx2>(a, x, y, L);
}

}  // namespace

void g729simd::lpc_synthesis_filter(Isa isa, const double a[11], const double* x, double* y,
                                    int L, double mem[10], int update) {
    if (isa == Isa::avx2) {
        synthesis_avx2(a, x, y, L, mem, update);
    } else {
        synthesis_baseline(a, x, y, L, mem, update);
    }
}

void g729simd::lpc_synthesis_filters(Isa isa, const SynthesisJob* jobs, int count, int L) {
    if (isa == Isa::avx2) {
        synthesis_lanes_avx2(jobs, count, L);
    } else {
        synthesis_lanes_baseline(jobs, count, L);
    }
}

void g729simd::lpc_residual_filter(Isa isa, const double a[11], const double* x, double* y,
                                   int L) {
    if (isa == Isa::avx2) {
        residual_avx2(a, x, y, L);
    } else {
        residual_baseline(a, x, y, L);
    }
}

void g729simd::copy_doubles(Isa isa, const double* src, double* dst, int n) {
    if (isa == Isa::avx2) {
        copy_avx2(src, dst, n);
    } else {
        copy_baseline(src, dst, n);
    }
}

void lpc_synthesis_filter(const double a[11], const double* x, double* y, int L, double mem[10],
                          int update) {
    g729simd::lpc_synthesis_filter(g729simd::best_isa(), a, x, y, L, mem, update);
}

void lpc_residual_filter(const double a[11], const double* x, double* y, int L) {
    g729simd::lpc_residual_filter(g729simd::best_isa(), a, x, y, L);
}

void lpc_weight(const double* a, int m, double* out, double gamma) {
    out[0] = a[0];
    double g = gamma;
    for (int i = 1; i <= m; ++i) {
        out[i] = a[i] * g;
        g = g * gamma;
    }
}

void zero_doubles(double* buf, int n) {
    for (int i = 0; i < n; ++i) buf[i] = 0.0;
}

void copy_doubles(const double* src, double* dst, int n) {
    g729simd::copy_doubles(g729simd::best_isa(), src, dst, n);
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
