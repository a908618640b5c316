// SPDX-License-Identifier: BSD-2-Clause
// Algebraic codebook search driver: pitch sharpening of the impulse response, the
// correlations, the signs, the search, and the code vector with its filtered form and index.
// The correlations and the search are in codebook_correlations.h and codebook_search.h
// (scalar) and their -inl.h companions (vectors), compiled here for every instruction set
// Highway targets (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/encoder/fixed_codebook.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include "codec/common/code_vector.h"
#include "codec/common/scalar_ops.h"
#include "codec/encoder/codebook_search.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/lpc/primitives.h"
#include "codec/simd_dispatch.h"

// What every instruction set shares, compiled once.
#ifndef G729_FIXED_CODEBOOK_SHARED
#define G729_FIXED_CODEBOOK_SHARED
namespace g729 {
namespace {

using namespace codebook;

#include "codec/encoder/codebook_matrix-inl.h"
#include "codec/encoder/codebook_pairs-inl.h"
#include "codec/encoder/target_correlation-inl.h"

// The scalar search: the same sums and comparisons as the vector one, one at a time.
inline void scalar_search(const double* h, const double* x, int pos[4], double* sign) {
    const ScalarOps o;
    double d[kLen];
    target_correlation<double>(o, h, x, d);
    correlation_signs<double>(o, d, sign);

    double rr[kMatrixSize];
    correlation_matrix_sums<double>(o, h, sign, rr);
    double best[4];
    search_pulse_positions(o, d, rr, best);
    for (int k = 0; k < 4; k++) pos[k] = static_cast<int>(best[k]);
}

// Pitch sharpening of the impulse response; reads only h[0..19], never a changed sample.
inline void sharpen_impulse(double h[40], int t0, double sharp) {
    if (t0 < kLen) {
        for (int i = t0; i < kLen; i++) {
            h[i] = h[i] + sharp * h[i - t0];
        }
    }
}

// The sign index (bit k: pulse k positive) and the position index of the chosen pulses.
inline int32_t pulse_indices(const int pos[4], const double sign[40], int32_t* sign_index) {
    int32_t signs = 0;
    for (int k = 0; k < 4; k++) {
        if (sign[pos[k]] > 0.0) {
            signs += 1 << k;
        }
    }
    *sign_index = signs;

    const int p3 = pos[3];
    const int j = p3 % kTracks == 4 ? 1 : 0;
    return pos[0] / kTracks + 8 * (pos[1] / kTracks) + 64 * (pos[2] / kTracks) +
           512 * (2 * (p3 / kTracks) + j);
}

}  // namespace
}  // namespace g729
#endif  // G729_FIXED_CODEBOOK_SHARED

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
// Helpers of this file's routines, some used only by the vector instruction sets: named
// rather than anonymous, so that the scalar ones do not have them as unused internal
// functions, and apart from the helpers of other files of the same instruction set.
namespace fixed_codebook_kernels {

using namespace codebook;

#include "codec/encoder/codebook_correlations-inl.h"
#include "codec/encoder/codebook_search-inl.h"

// From the chosen positions and the signs of d: the code vector (sharpened_code_vector), its
// filtered form, the sign index and the position index. The filtered form is built in
// registers block by block, without branches on the positions: the first pulse's signed,
// shifted impulse response plus or minus the others' (h[n - p] read from a copy of h after 40
// zeros; a sample before a pulse keeps its sum).
HWY_INLINE int32_t code_vectors(const double h[40], int t0, const int pos[4],
                                const double sign[40], double code[40], double y[40],
                                int32_t* sign_index, double sharp) {
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    const int lanes = static_cast<int>(hn::Lanes(d));
    alignas(64) double padded[2 * kLen];
    for (int n = 0; n < kLen; n += lanes) {
        hn::Store(hn::Zero(d), d, padded + n);
        hn::Store(hn::LoadU(d, h + n), d, padded + kLen + n);
    }
    double pulse_sign[4];
    V at[4];
    V signs[4];
    for (int k = 0; k < 4; k++) {
        pulse_sign[k] = sign[pos[k]];
        at[k] = hn::Set(d, pos[k]);
        signs[k] = hn::Set(d, pulse_sign[k]);
    }
    for (int n = 0; n < kLen; n += lanes) {
        const V index = hn::Iota(d, n);
        V sum = hn::IfThenElseZero(hn::Ge(index, at[0]),
                                   signs[0] * hn::LoadU(d, padded + kLen - pos[0] + n));
        for (int k = 1; k < 4; k++) {
            const V response = hn::LoadU(d, padded + kLen - pos[k] + n);
            sum = hn::IfThenElse(hn::Ge(index, at[k]), sum + signs[k] * response, sum);
        }
        hn::StoreU(sum, d, y + n);
    }
    sharpened_code_vector(pos, pulse_sign, t0, sharp, code);
    return pulse_indices(pos, sign, sign_index);
}

// The vector search: signed pulse positions by track into pos (tracks 0, 1, 2, 3/4) and
// the sign of every d into sign.
HWY_INLINE void vector_search(const double* h, const double* x, int pos[4], double* sign) {
    alignas(32) double rr[kMatrixSize];
    correlation_matrix(h, rr);

    alignas(32) double d[kLen];
    correlate(h, x, d);

    // Sign of each d (non-negative: +1) and its magnitude, four positions at a time.
    for (int n = 0; n < kLen; n += 4) {
        const Quad dn = quad_load(d + n);
        const QuadMask nonnegative = quad_ge(dn, quad_set(0.0));
        quad_store(quad_select(nonnegative, quad_set(1.0), quad_set(-1.0)), sign + n);
        quad_store(quad_select(nonnegative, dn, -dn), d + n);
    }

    // The same by track, and half the diagonal of the matrix (already by track).
    alignas(32) double track_negsign[kTracks][kPerTrack];
    Search s;
    s.d = d;
    s.rr = rr;
    for (int t = 0; t < kTracks; t++) {
        for (int r = 0; r < kPerTrack; r += 4) {
            const int n = t + kTracks * r;  // positions n, n+5, n+10, n+15, gathered
            const Quad sg = quad_of(sign[n], sign[n + 5], sign[n + 10], sign[n + 15]);
            quad_store(sg, s.sign[t] + r);
            quad_store(-sg, track_negsign[t] + r);
            quad_store(quad_of(d[n], d[n + 5], d[n + 10], d[n + 15]), s.dt[t] + r);
            quad_store(quad_set(0.5) * quad_load(rr + kDiag[t] + r), s.half_diag[t] + r);
        }
    }
    fold_signs(s.sign, track_negsign, rr);
    search_positions(s, pos);
}

}  // namespace fixed_codebook_kernels
using namespace fixed_codebook_kernels;

int32_t fixed_codebook_search(const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp) {
    sharpen_impulse(h, t0, sharp);

    int pos[4];
    alignas(32) double sign[kLen];
    if constexpr (kVectors) {
        vector_search(h, x, pos, sign);
    } else {
        scalar_search(h, x, pos, sign);
    }
    return code_vectors(h, t0, pos, sign, code, y, sign_index, sharp);
}

int32_t fixed_codebook_code_vectors(const double h[40], int t0, const int pos[4],
                                    const double sign[40], double code[40], double y[40],
                                    int32_t* sign_index, double sharp) {
    return code_vectors(h, t0, pos, sign, code, y, sign_index, sharp);
}

void correlate_target_impulse(const double h[40], const double x[40], double d[40]) {
    if constexpr (kVectors) {
        correlate(h, x, d);
    } else {
        target_correlation<double>(ScalarOps(), h, x, d);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(fixed_codebook_search);
HWY_EXPORT(correlate_target_impulse);
HWY_EXPORT(fixed_codebook_code_vectors);

void correlate_target_impulse(const double h[40], const double x[40], double d[40]) {
    HWY_DYNAMIC_DISPATCH(correlate_target_impulse)(h, x, d);
}

void fixed_codebook_sharpen_impulse(double h[40], int t0, double sharp) {
    sharpen_impulse(h, t0, sharp);
}

int32_t fixed_codebook_code_vectors(const double h[40], int t0, const int pos[4],
                                    const double sign[40], double code[40], double y[40],
                                    int32_t* sign_index, double sharp) {
    return HWY_DYNAMIC_DISPATCH(fixed_codebook_code_vectors)(h, t0, pos, sign, code, y,
                                                             sign_index, sharp);
}

int32_t fixed_codebook_search(const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp) {
    return HWY_DYNAMIC_DISPATCH(fixed_codebook_search)(x, h, t0, code, y, sign_index, sharp);
}

}  // namespace g729
#endif  // HWY_ONCE
