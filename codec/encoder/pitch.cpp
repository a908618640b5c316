// SPDX-License-Identifier: BSD-2-Clause
// Pitch (adaptive-codebook) analysis of the encoder. The searches and the interpolation are
// compiled for every instruction set Highway targets (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/encoder/pitch.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include "codec/common/scalar_ops.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/common/adaptive_codebook.h"
#include "codec/encoder/pitch.h"
#include "codec/frame_constants.h"
#include "codec/lpc/primitives.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/gain_tables.h"
#include "codec/tables/pitch_tables.h"

// What every instruction set shares, compiled once.
#ifndef G729_PITCH_SHARED
#define G729_PITCH_SHARED
namespace g729 {

namespace {

#include "codec/encoder/open_loop_search-inl.h"
#include "codec/encoder/open_loop_choice-inl.h"

// Correlation of d with a candidate vector, biased by 0.1.
inline double biased_dot(const double* d, const double* v, int length) {
    double s = 0.1;
    for (int n = 0; n < length; n++) {
        s += d[n] * v[n];
    }
    return s;
}

// The open-loop lag from the three ranges' maxima (open_loop_choice-inl.h), reading the frame's
// own samples lag back.
inline int choose_open_loop_lag(const double* wsp, int length, const int t[3],
                                const double max[3]) {
    return open_loop_choice(ScalarOps(), wsp, length, [wsp](int lag) { return wsp - lag; },
                            t[0], t[1], t[2], max[0], max[1], max[2]);
}

}  // namespace

int32_t open_loop_choose(const double* wsp, int length, const int t[3], const double max[3]) {
    return choose_open_loop_lag(wsp, length, t, max);
}

void closed_loop_range(int t_op, int32_t* t0_min, int32_t* t0_max) {
    *t0_min = t_op - 3;
    if (*t0_min < kMinPitchLag) {
        *t0_min = kMinPitchLag;
        *t0_max = kMinPitchLag + 6;
    } else {
        *t0_max = t_op + 3;
        if (*t0_max > kMaxPitchLag) {
            *t0_max = kMaxPitchLag;
            *t0_min = kMaxPitchLag - 6;
        }
    }
}

int32_t encode_pitch_lag(int t0, int frac, int32_t* t0_min, int32_t* t0_max, int lag_min,
                         int lag_max, int subframe_offset) {
    if (subframe_offset != 0) {
        return 3 * (t0 - *t0_min) + frac + 2;
    }

    int32_t index = 0;
    if (t0 <= 85) {
        index = 3 * t0 - 58 + frac;
    } else {
        index = t0 + 112;
    }

    // Range of the second subframe: ten lags around the first one.
    int32_t lo = t0 - 5;
    if (lo < lag_min) {
        lo = lag_min;
    }
    int32_t hi = lo + 9;
    if (hi > lag_max) {
        hi = lag_max;
        lo = lag_max - 9;
    }
    *t0_min = lo;
    *t0_max = hi;
    return index;
}

}  // namespace g729
#endif  // G729_PITCH_SHARED

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
// Helpers of this file's routines, some used only by the vector instruction sets: named
// rather than anonymous, so that the scalar ones do not have them as unused internal
// functions, and apart from the helpers of other files of the same instruction set.
namespace pitch_kernels {

// Open-loop correlations of V * 4 consecutive lags lag..lag+4V-1 into corr[lag..]. The lanes
// of one vector are the lags t+3, t+2, t+1, t (a contiguous load of sw[j-t-3..j-t]).
template <int V>
HWY_INLINE void correlate_consecutive(const double* sw, int length, int lag, double* corr) {
    Quad acc[V];
    for (int v = 0; v < V; v++) {
        acc[v] = quad_set(0.0);
    }
    for (int j = 0; j < length; j += 2) {
        const Quad s = quad_set(sw[j]);
        for (int v = 0; v < V; v++) {
            acc[v] += s * quad_load(sw + j - (lag + 4 * v) - 3);
        }
    }
    for (int v = 0; v < V; v++) {
        alignas(32) double lanes[4];
        quad_store(acc[v], lanes);
        for (int l = 0; l < 4; l++) {
            corr[lag + 4 * v + l] = lanes[3 - l];
        }
    }
}

// The same for 4V even lags lag, lag+2, ..., from the even samples alone: even[i] holds
// sw[2i - 142], so the lags t+6, t+4, t+2, t of a vector are a contiguous load. The
// correlation of lag + 2k goes to corr[k].
template <int V>
HWY_INLINE void correlate_even(const double* even, int length, int lag, double* corr) {
    Quad acc[V];
    for (int v = 0; v < V; v++) {
        acc[v] = quad_set(0.0);
    }
    for (int i = 0; 2 * i < length; i++) {
        const Quad s = quad_set(even[i + kMaxPitchLag / 2]);
        for (int v = 0; v < V; v++) {
            acc[v] += s * quad_load(even + i - (lag / 2 + 4 * v) + kMaxPitchLag / 2 - 3);
        }
    }
    for (int v = 0; v < V; v++) {
        alignas(32) double lanes[4];
        quad_store(acc[v], lanes);
        for (int l = 0; l < 4; l++) {
            corr[4 * v + l] = lanes[3 - l];
        }
    }
}

// Index of the largest of count (a multiple of 4) correlations, the first one on a tie. A
// group of four where no value beats the maximum so far cannot change it.
HWY_INLINE int index_of_max(const double* corr, int count, double* best) {
    double max = -1e38;
    int index = 0;
    for (int k = 0; k < count; k += 4) {
        if (quad_first(quad_gt(quad_load(corr + k), quad_set(max))) < 0) {
            continue;
        }
        for (int l = k; l < k + 4; l++) {
            if (corr[l] > max) {
                max = corr[l];
                index = l;
            }
        }
    }
    *best = max;
    return index;
}

// The three lag ranges' maxima; every correlation summed from 0.0, even samples ascending.
HWY_INLINE void open_loop_maxima(const double* sw, int length, int t[3], double max[3]) {
    alignas(32) double corr[kMaxPitchLag + 1];
    correlate_consecutive<4>(sw, length, 20, corr);
    correlate_consecutive<4>(sw, length, 36, corr);
    correlate_consecutive<4>(sw, length, 52, corr);
    correlate_consecutive<3>(sw, length, 68, corr);

    alignas(32) double even[(kMaxPitchLag - 1 + kFrameLength) / 2 + 1];
    for (int i = 0; 2 * i - (kMaxPitchLag - 1) < length; i++) {
        even[i] = sw[2 * i - (kMaxPitchLag - 1)];
    }
    alignas(32) double even_corr[32];  // lags 80, 82, ..., 142
    correlate_even<4>(even, length, 80, even_corr);
    correlate_even<4>(even, length, 112, even_corr + 16);

    t[0] = 20 + index_of_max(corr + 20, 20, &max[0]);
    t[1] = 40 + index_of_max(corr + 40, 40, &max[1]);
    t[2] = 80 + 2 * index_of_max(even_corr, 32, &max[2]);
}

// Biased correlations r[t] of G groups of four lags start[g]..start[g]+3, in one pass.
template <int G>
HWY_INLINE void biased_correlations(const double* exc, const double* d, int len,
                                    const int start[3], double* r) {
    Quad acc[G];
    for (int g = 0; g < G; g++) {
        acc[g] = quad_set(0.1);
    }
    for (int n = 0; n < len; n++) {
        const Quad dn = quad_set(d[n]);
        for (int g = 0; g < G; g++) {
            acc[g] += dn * quad_load(exc + n - start[g] - 3);
        }
    }
    for (int g = 0; g < G; g++) {
        alignas(32) double lanes[4];
        quad_store(acc[g], lanes);
        for (int l = 0; l < 4; l++) {
            r[start[g] + l] = lanes[3 - l];
        }
    }
}

// Integer lag of t0_min..t0_max with the largest biased correlation of d with the past
// excitation; the smallest lag wins a tie. Four lags per vector; the last group is moved
// down to end at t0_max, recomputing a few lags identically.
HWY_INLINE int best_integer_lag(const double* exc, const double* d, int len, int t0_min,
                                int t0_max) {
    double max = -1e38;
    int t0 = t0_min;
    const int count = t0_max - t0_min + 1;
    if constexpr (kVectors) {
        if (count >= 4 && count <= 12 && t0_min >= 0 && t0_max <= kMaxPitchLag) {
            double r[kMaxPitchLag + 1];
            int start[3];
            for (int g = 0; g < 3; g++) {
                start[g] = t0_min + 4 * g < t0_max - 3 ? t0_min + 4 * g : t0_max - 3;
            }
            if (count <= 8) {
                biased_correlations<2>(exc, d, len, start, r);
            } else {
                biased_correlations<3>(exc, d, len, start, r);
            }
            for (int t = t0_min; t <= t0_max; t++) {
                if (r[t] > max) {
                    max = r[t];
                    t0 = t;
                }
            }
            return t0;
        }
    }
    for (int t = t0_min; t <= t0_max; t++) {
        const double r = biased_dot(d, exc - t, len);
        if (r > max) {
            max = r;
            t0 = t;
        }
    }
    return t0;
}

#include "codec/common/interpolation-inl.h"

// Fractional refinement around the integer lag t0; leaves the chosen vector at exc.
HWY_INLINE int32_t refine_fraction(double* exc, const double* d, int len, int t0,
                                   int subframe_offset, int32_t* frac) {
    interpolate_excitation(exc, t0, 0, len);
    const double r0 = biased_dot(d, exc, len);
    *frac = 0;

    // Long lags of the first subframe are coded in whole samples only.
    if (subframe_offset == 0 && t0 > 84) {
        return t0;
    }

    double saved[kSubframeLength];
    copy_doubles(exc, saved, len);

    double best = r0;
    interpolate_excitation(exc, t0, -1, len);
    const double r_minus = biased_dot(d, exc, len);
    if (r_minus > r0) {
        *frac = -1;
        best = r_minus;
        copy_doubles(exc, saved, len);
    }

    interpolate_excitation(exc, t0, 1, len);
    const double r_plus = biased_dot(d, exc, len);
    if (r_plus > best) {
        *frac = 1;
    } else {
        copy_doubles(saved, exc, len);
    }
    return t0;
}

HWY_INLINE int32_t open_loop_impl(const double* wsp, int length) {
    int t[3];
    double max[3];
    if constexpr (kVectors) {
        if (length >= 0 && length <= kFrameLength) {
            open_loop_maxima(wsp, length, t, max);
            return choose_open_loop_lag(wsp, length, t, max);
        }
    }
    const ScalarOps o;
    t[0] = static_cast<int>(open_loop_range_best(o, wsp, 0, length, 20, 39, 1, &max[0]));
    t[1] = static_cast<int>(open_loop_range_best(o, wsp, 0, length, 40, 79, 1, &max[1]));
    t[2] = static_cast<int>(open_loop_range_best(o, wsp, 0, length, 80, 142, 2, &max[2]));
    return choose_open_loop_lag(wsp, length, t, max);
}

HWY_INLINE int32_t closed_loop_impl(double* exc, const double x[40], const double h[40],
                                    int length, int t0_min, int t0_max, int subframe_offset,
                                    int32_t* frac) {
    const int len = length < 0 ? 0 : (length > kSubframeLength ? kSubframeLength : length);

    double d[kSubframeLength];
    correlate_target_impulse(h, x, d);

    // Integer lag: correlate the backward-filtered target with the past excitation.
    int t0 = t0_min;
    if (t0_min <= t0_max) {
        t0 = best_integer_lag(exc, d, len, t0_min, t0_max);
    }
    return refine_fraction(exc, d, len, t0, subframe_offset, frac);
}

}  // namespace pitch_kernels
using namespace pitch_kernels;

int32_t open_loop_pitch_search(const double* wsp, int length) {
    return open_loop_impl(wsp, length);
}

int32_t closed_loop_pitch_search(double* exc, const double x[40], const double h[40], int length,
                                 int t0_min, int t0_max, int subframe_offset, int32_t* frac) {
    return closed_loop_impl(exc, x, h, length, t0_min, t0_max, subframe_offset, frac);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(open_loop_pitch_search);
HWY_EXPORT(closed_loop_pitch_search);

int32_t open_loop_pitch_search(const double* wsp, int length) {
    return HWY_DYNAMIC_DISPATCH(open_loop_pitch_search)(wsp, length);
}

int32_t closed_loop_pitch_search(double* exc, const double x[40], const double h[40], int length,
                                 int t0_min, int t0_max, int subframe_offset, int32_t* frac) {
    return HWY_DYNAMIC_DISPATCH(closed_loop_pitch_search)(exc, x, h, length, t0_min, t0_max,
                                                          subframe_offset, frac);
}

}  // namespace g729
#endif  // HWY_ONCE
