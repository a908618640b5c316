// SPDX-License-Identifier: BSD-2-Clause
// Joint quantization of the pitch and fixed-codebook gains with a two-stage conjugate
// codebook and a fourth-order MA prediction of the fixed-codebook gain in dB, and the
// correlations it starts from (the adaptive-codebook gain's and the code vector's). The
// correlations and the quantizer are compiled for every instruction set Highway targets
// (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/encoder/gain_quantizer.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include <cmath>

#include "codec/common/gain_predictor.h"
#include "codec/common/scalar_ops.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/gain_tables.h"

// What every instruction set shares, compiled once.
#ifndef G729_GAIN_QUANTIZER_SHARED
#define G729_GAIN_QUANTIZER_SHARED
namespace g729 {
namespace {

// The second gain codebook column by column: the pitch gains, then the code-gain factors.
struct GainColumns {
    double gp[16];
    double gc[16];
};

constexpr GainColumns make_gain_columns() {
    GainColumns c{};
    for (int r = 0; r < 16; r++) {
        c.gp[r] = gain_codebook_2[r][0];
        c.gc[r] = gain_codebook_2[r][1];
    }
    return c;
}

constexpr GainColumns kCodebook2 = make_gain_columns();

}  // namespace


}  // namespace g729
#endif  // G729_GAIN_QUANTIZER_SHARED

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
// Helpers of this file's routines, some used only by the vector instruction sets: named
// rather than anonymous, so that the scalar ones do not have them as unused internal
// functions, and apart from the helpers of other files of the same instruction set.
namespace gain_kernels {

#include "codec/encoder/gain_search-inl.h"

// Distances of the 8 second-stage rows r2 = cand2..cand2+7 with the first-stage row r1,
// one row per lane, each lane as the scalar expression. A row excluded by taming gets an
// infinite distance, which never replaces the best.
HWY_INLINE void candidate_distances(int r1, int cand2, double g0, const double c[5],
                                    int32_t taming, double dist[8]) {
    const D4 d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const V4 gp1 = hn::Set(d, gain_codebook_1[r1][0]);
    const V4 gc1 = hn::Set(d, gain_codebook_1[r1][1]);
    const V4 vg0 = hn::Set(d, g0);
    const V4 c0 = hn::Set(d, c[0]);
    const V4 c1 = hn::Set(d, c[1]);
    const V4 c2 = hn::Set(d, c[2]);
    const V4 c3 = hn::Set(d, c[3]);
    const V4 c4 = hn::Set(d, c[4]);
    const V4 inf = hn::Set(d, HUGE_VAL);
    const V4 tamed = hn::Set(d, kTamedCandidate);
    for (int h = 0; h < 8; h += lanes) {
        const V4 gp = hn::Add(hn::LoadU(d, kCodebook2.gp + cand2 + h), gp1);
        const V4 gc = hn::Mul(hn::Add(hn::LoadU(d, kCodebook2.gc + cand2 + h), gc1), vg0);
        V4 e = gain_distance(gp, gc, c0, c1, c2, c3, c4);
        if (taming == 1) e = hn::IfThenElse(hn::Ge(gp, tamed), inf, e);
        hn::StoreU(e, d, dist + h);
    }
}

HWY_INLINE int32_t quantize_impl(double gain_pred_mem[4], const double code[40],
                                 const double gain_correlations[5], int length,
                                 double* gain_pitch, double* gain_code, int32_t taming) {
    double g0 = 0.0;
    gain_predictor_predict(gain_pred_mem, code, length, &g0);

    const ScalarOps o;
    const bool tamed = taming == 1;
    double cand1 = 0.0;
    double cand2 = 0.0;
    gain_preselect(o, gain_correlations, g0, tamed, &cand1, &cand2);
    double best1 = cand1;
    double best2 = cand2;
    if constexpr (kVectors) {
        // The same search, the eight second-codebook rows of a first-codebook row side by
        // side in vector lanes.
        const int c1 = static_cast<int>(cand1);
        const int c2 = static_cast<int>(cand2);
        double best = 1e38;
        for (int r1 = c1; r1 < c1 + 4; r1++) {
            alignas(32) double dist[8];
            candidate_distances(r1, c2, g0, gain_correlations, taming, dist);
            for (int k = 0; k < 8; k++) {
                if (dist[k] < best) {
                    best = dist[k];
                    best1 = r1;
                    best2 = c2 + k;
                }
            }
        }
    } else {
        gain_rows_search(o, gain_correlations, g0, tamed, cand1, cand2, &best1, &best2);
    }

    return quantized_gains(gain_pred_mem, static_cast<int>(best1), static_cast<int>(best2), g0,
                           gain_pitch, gain_code);
}

}  // namespace gain_kernels
using namespace gain_kernels;

// Two sums, scalar on every instruction set.
double adaptive_codebook_gain(const double* x, const double* y, double gain_correlations[5],
                              int length) {
    if (length <= 0) {
        gain_correlations[0] = 0.01;
        gain_correlations[1] = 0.01;
        return 0.0;
    }
    return pitch_gain_correlations(ScalarOps(), x, y, length, gain_correlations);
}

int32_t quantize_gains(double gain_pred_mem[4], const double code[40],
                       const double gain_correlations[5], int length, double* gain_pitch,
                       double* gain_code, int32_t taming) {
    return quantize_impl(gain_pred_mem, code, gain_correlations, length, gain_pitch, gain_code,
                         taming);
}

// Three independent sums, scalar on every instruction set.
void fixed_codebook_correlations(const double x[40], const double y[40], const double z[40],
                                 double gain_correlations[5]) {
    codebook_gain_correlations(ScalarOps(), x, y, z, gain_correlations);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(quantize_gains);
HWY_EXPORT(fixed_codebook_correlations);
HWY_EXPORT(adaptive_codebook_gain);

int32_t quantize_gains(double gain_pred_mem[4], const double code[40],
                       const double gain_correlations[5], int length, double* gain_pitch,
                       double* gain_code, int32_t taming) {
    return HWY_DYNAMIC_DISPATCH(quantize_gains)(gain_pred_mem, code, gain_correlations, length,
                                                gain_pitch, gain_code, taming);
}

void fixed_codebook_correlations(const double x[40], const double y[40], const double z[40],
                                 double gain_correlations[5]) {
    HWY_DYNAMIC_DISPATCH(fixed_codebook_correlations)(x, y, z, gain_correlations);
}

double adaptive_codebook_gain(const double* x, const double* y, double gain_correlations[5],
                              int length) {
    return HWY_DYNAMIC_DISPATCH(adaptive_codebook_gain)(x, y, gain_correlations, length);
}

}  // namespace g729
#endif  // HWY_ONCE
