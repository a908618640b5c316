// SPDX-License-Identifier: BSD-2-Clause
// The codec's routines compiled for one instruction set, as seen from the other routines of
// the same instruction set. A file that includes this header after <hwy/highway.h> in a
// Highway kernel file (HWY_TARGET_INCLUDE + foreach_target) gets, inside
// g729::HWY_NAMESPACE, the declarations of the routines of every instruction set it is
// compiled for, so that a frame compiled for one instruction set calls that instruction set's
// routines directly: the choice of instruction set is made once, at the top of the frame.
//
// A vector lane only ever holds an independent sum (one lag, one output, one codebook entry,
// one filter), whose terms are added in the same order, from the same starting value, as in
// the scalar loop; comparisons are made in the scalar order too. Every instruction set
// therefore gives bit-identical results. No product is fused into a sum (-ffp-contract=off;
// see simd_dispatch.h for the one fused operation, a multiplication by exactly 1.0).

// Per-target include guard: the header is read once per instruction set.
#if defined(G729_SIMD_KERNELS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef G729_SIMD_KERNELS_INL_H_
#undef G729_SIMD_KERNELS_INL_H_
#else
#define G729_SIMD_KERNELS_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "codec/g729.h"
#include "codec/simd_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The scalar instruction sets (Highway's emulated 128-bit vectors, or single lanes) run the
// plain scalar loops, the reference of every vector kernel; the others run vector kernels.
constexpr bool kVectors = HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR;

// The kernels are laid out for at most four sums at a time (the codec's blocks are 40
// samples, tracks of 8 positions, rows of 8): with eight lanes (AVX-512) most loops would
// have half-empty vectors or a remainder, so four lanes are the limit.
using D4 = hn::CappedTag<double, 4>;
using V4 = hn::Vec<D4>;
using M4 = hn::Mask<D4>;

// Four doubles side by side: one vector of four lanes where the instruction set has 256-bit
// vectors, two of two lanes on 128-bit ones (NEON). Kernels written for four
// independent sums at a time use it on every instruction set.
constexpr size_t kQuadLanes = hn::MaxLanes(D4());
constexpr int kQuadParts = static_cast<int>(4 / kQuadLanes);
static_assert(kQuadParts * kQuadLanes == 4);

// The constructors are written out: an implicit one would not be compiled for the instruction
// set of the namespace it is used in (GCC then refuses to inline the vector constructors).
struct Quad {
    Quad() {}
    V4 part[kQuadParts];
};

struct QuadMask {
    QuadMask() {}
    M4 part[kQuadParts];
};

HWY_INLINE Quad quad_load(const double* p) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) q.part[i] = hn::LoadU(D4(), p + i * kQuadLanes);
    return q;
}

HWY_INLINE void quad_store(const Quad& q, double* p) {
    for (int i = 0; i < kQuadParts; ++i) hn::StoreU(q.part[i], D4(), p + i * kQuadLanes);
}

HWY_INLINE Quad quad_set(double v) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) q.part[i] = hn::Set(D4(), v);
    return q;
}

// {a, b, c, d}, lane 0 first.
HWY_INLINE Quad quad_of(double a, double b, double c, double d) {
    alignas(32) const double v[4] = {a, b, c, d};
    return quad_load(v);
}

HWY_INLINE Quad operator+(const Quad& a, const Quad& b) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) q.part[i] = hn::Add(a.part[i], b.part[i]);
    return q;
}

HWY_INLINE Quad operator-(const Quad& a, const Quad& b) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) q.part[i] = hn::Sub(a.part[i], b.part[i]);
    return q;
}

HWY_INLINE Quad operator*(const Quad& a, const Quad& b) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) q.part[i] = hn::Mul(a.part[i], b.part[i]);
    return q;
}

HWY_INLINE Quad operator-(const Quad& a) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) q.part[i] = hn::Neg(a.part[i]);
    return q;
}

HWY_INLINE Quad& operator+=(Quad& a, const Quad& b) { return a = a + b; }
HWY_INLINE Quad& operator-=(Quad& a, const Quad& b) { return a = a - b; }

HWY_INLINE QuadMask quad_gt(const Quad& a, const Quad& b) {
    QuadMask m;
    for (int i = 0; i < kQuadParts; ++i) m.part[i] = hn::Gt(a.part[i], b.part[i]);
    return m;
}

HWY_INLINE QuadMask quad_ge(const Quad& a, const Quad& b) {
    QuadMask m;
    for (int i = 0; i < kQuadParts; ++i) m.part[i] = hn::Ge(a.part[i], b.part[i]);
    return m;
}

HWY_INLINE QuadMask quad_le(const Quad& a, const Quad& b) {
    QuadMask m;
    for (int i = 0; i < kQuadParts; ++i) m.part[i] = hn::Le(a.part[i], b.part[i]);
    return m;
}

HWY_INLINE QuadMask quad_lt(const Quad& a, const Quad& b) {
    QuadMask m;
    for (int i = 0; i < kQuadParts; ++i) m.part[i] = hn::Lt(a.part[i], b.part[i]);
    return m;
}

HWY_INLINE Quad quad_select(const QuadMask& m, const Quad& yes, const Quad& no) {
    Quad q;
    for (int i = 0; i < kQuadParts; ++i) {
        q.part[i] = hn::IfThenElse(m.part[i], yes.part[i], no.part[i]);
    }
    return q;
}

// The first lane (0..3) whose comparison holds, or -1.
HWY_INLINE int quad_first(const QuadMask& m) {
    for (int i = 0; i < kQuadParts; ++i) {
        const intptr_t l = hn::FindFirstTrue(D4(), m.part[i]);
        if (l >= 0) return static_cast<int>(i * kQuadLanes + static_cast<size_t>(l));
    }
    return -1;
}

// A lane known at compile time.
template <int L>
HWY_INLINE double quad_lane(const Quad& q) {
    static_assert(L >= 0 && L < 4);
    constexpr int part = L / static_cast<int>(kQuadLanes);
    constexpr size_t lane = L % kQuadLanes;
    if constexpr (lane == 0) {
        return hn::GetLane(q.part[part]);
    } else {
        return hn::ExtractLane(q.part[part], lane);
    }
}

// ---- primitives.cpp ----
void lpc_synthesis_filter(const double a[11], const double* x, double* y, int L, double mem[10],
                          int update);
void lpc_residual_filter(const double a[11], const double* x, double* y, int L);
void lpc_synthesis_filters(const g729simd::SynthesisJob* jobs, int count, int L);
void copy_doubles(const double* src, double* dst, int n);

// ---- decoder_frame.cpp ----
void decode_frame_parameters(g729_decoder_state* state, int32_t params[G729_DECODED_PARAMS_SIZE],
                             double speech[80], double lpc[22], int32_t lags[2],
                             int32_t* frame_type);

// ---- gain_quantizer.cpp ----
void fixed_codebook_correlations(const double x[40], const double y[40], const double z[40],
                                 double gain_correlations[5]);
int32_t quantize_gains(double gain_pred_mem[4], const double code[40],
                       const double gain_correlations[5], int length, double* gain_pitch,
                       double* gain_code, int32_t taming);
double adaptive_codebook_gain(const double* x, const double* y, double gain_correlations[5],
                              int length);

// ---- fixed_codebook.cpp ----
int32_t fixed_codebook_search(const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp);
void correlate_target_impulse(const double h[40], const double x[40], double d[40]);

// ---- lpc_analysis.cpp ----
void lpc_autocorrelation(const double x[240], int m, double* r);
void lpc_to_lsp(const double a[11], double lsp[10], const double old_lsp[10]);

// ---- lsp_quantizer.cpp ----
void lsp_quantize(double memory[4][10], const double lsp[10], double lsp_q[10],
                  int32_t index[2]);

// ---- common/adaptive_codebook.cpp ----
void adaptive_codebook_interpolate(double* exc, int t0, int frac, int length);

// ---- pitch.cpp ----
int32_t open_loop_pitch_search(const double* wsp, int length);
int32_t closed_loop_pitch_search(double* exc, const double x[40], const double h[40], int length,
                                 int t0_min, int t0_max, int subframe_offset, int32_t* frac);

// ---- postfilter.cpp ----
void postfilter_frame(g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type);
void post_highpass_filter(double mem[4], double* samples, int count);

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#endif  // per-target include guard
