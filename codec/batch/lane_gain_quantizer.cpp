// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the gains for many channels at once, one channel per vector lane: the
// adaptive-codebook gain and the fixed-codebook gain's correlations, and the gain codebook
// search (gain_search-inl.h, shared with the single-channel quantizer).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_gain_quantizer.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_gain_quantizer.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/frame_constants.h"
#include "codec/tables/gain_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

constexpr int kLen = G729_SUBFRAME_SIZE;

#include "codec/batch/lane_common-inl.h"
#include "codec/encoder/gain_search-inl.h"

// The gains' correlations of 40-sample vectors, one channel per lane (gain_search-inl.h):
// with z null, the adaptive-codebook gain's c[0], c[1] and the gain; else c[2..4].
// xy_lanes: the vector's rows in the subframe's area (x and y interleaved already), or null.
void gain_correlations_group(const double* const* x, const double* const* y,
                             const double* const* z, int n, double* const* c, double* gain,
                             const double* xy_lanes) {
    const LaneOps o;
    alignas(64) double x_rows[kLen * kLanes];
    alignas(64) double y_rows[kLen * kLanes];
    alignas(64) double zb[kLen * kLanes];
    const double* xb = x_rows;
    const double* yb = y_rows;
    if (xy_lanes != nullptr) {
        xb = xy_lanes + kTargetRows * kLanes;
        yb = xy_lanes + kFilteredRows * kLanes;
    } else {
        interleave_rows(x, n, kLen, x_rows);
        interleave_rows(y, n, kLen, y_rows);
    }
    Vec v[5];
    alignas(64) double out[3][kLanes] = {};
    if (z == nullptr) {
        const Vec g = pitch_gain_correlations(o, xb, yb, kLen, v);
        hn::Store(v[0], Tag(), out[0]);
        hn::Store(v[1], Tag(), out[1]);
        hn::Store(g, Tag(), out[2]);
        for (int l = 0; l < n; ++l) {
            c[l][0] = out[0][l];
            c[l][1] = out[1][l];
            gain[l] = out[2][l];
        }
        return;
    }
    interleave_rows(z, n, kLen, zb);
    codebook_gain_correlations(o, xb, yb, zb, v);
    for (int k = 0; k < 3; ++k) hn::Store(v[2 + k], Tag(), out[k]);
    for (int l = 0; l < n; ++l) {
        for (int k = 0; k < 3; ++k) c[l][2 + k] = out[k][l];
    }
}

void GainCorrelationsChannels(const double* const* x, const double* const* y,
                              const double* const* z, int count, double* const* c,
                              double* gain, const double* lanes) {
    for_each_group(count, [&](int first, int n) {
        const double* xy_lanes =
            lanes == nullptr ? nullptr : subframe_lanes_of(lanes, first / kLanes, kLanes);
        gain_correlations_group(x + first, y + first, z == nullptr ? nullptr : z + first, n,
                                c + first, gain == nullptr ? nullptr : gain + first, xy_lanes);
    });
}

// The gain quantizer's search (gain_search-inl.h) for one channel per lane, from its
// correlations c, its predicted code gain g0 and its taming flag: the rows of both codebooks.
void gain_search_group(const double* const* c, const double* g0_in, const int* taming_in, int n,
                       int* row1_out, int* row2_out) {
    const LaneOps o;
    // Lanes without a channel search with c = (1, 0, 1, 0, 0) and g0 = 1: no division by zero
    // (a host that traps floating-point faults sees none), and their result is not used.
    alignas(64) double cb[5][kLanes] = {};
    alignas(64) double g0b[kLanes] = {};
    alignas(64) double tb[kLanes] = {};
    for (int l = n; l < kLanes; ++l) {
        cb[0][l] = 1.0;
        cb[2][l] = 1.0;
        g0b[l] = 1.0;
    }
    for (int l = 0; l < n; ++l) {
        for (int k = 0; k < 5; ++k) cb[k][l] = c[l][k];
        g0b[l] = g0_in[l];
        tb[l] = taming_in[l] == 1 ? 1.0 : 0.0;
    }
    Vec cv[5];
    for (int k = 0; k < 5; ++k) cv[k] = hn::Load(Tag(), cb[k]);
    const Vec g0 = hn::Load(Tag(), g0b);
    const LaneOps::Mask tamed = o.gt(hn::Load(Tag(), tb), o.set(0.0));
    Vec cand1;
    Vec cand2;
    gain_preselect(o, cv, g0, tamed, &cand1, &cand2);
    Vec best1;
    Vec best2;
    gain_rows_search(o, cv, g0, tamed, cand1, cand2, &best1, &best2);
    alignas(64) double o1[kLanes] = {};
    alignas(64) double o2[kLanes] = {};
    hn::Store(best1, Tag(), o1);
    hn::Store(best2, Tag(), o2);
    for (int l = 0; l < n; ++l) {
        row1_out[l] = static_cast<int>(o1[l]);
        row2_out[l] = static_cast<int>(o2[l]);
    }
}

void GainSearchChannels(const double* const* c, const double* g0, const int* taming, int count,
                        int* row1, int* row2) {
    for_each_group(count, [&](int first, int n) {
        gain_search_group(c + first, g0 + first, taming + first, n, row1 + first, row2 + first);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(GainCorrelationsChannels);
HWY_EXPORT(GainSearchChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void pitch_gain_channels(const double* const x[], const double* const y[], int count,
                         double* const c[], double gain[], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(GainCorrelationsChannels), kernels)(x, y, nullptr, count, c,
                                                                       gain, nullptr);
}

void codebook_gain_correlations_channels(const double* const x[], const double* const y[],
                                         const double* const z[], int count, double* const c[],
                                         int kernels, const double* lanes) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(GainCorrelationsChannels), kernels)(x, y, z, count, c,
                                                                       nullptr, lanes);
}

void gain_search_channels(const double* const c[], const double g0[], const int taming[],
                          int count, int row1[], int row2[], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(GainSearchChannels), kernels)(c, g0, taming, count, row1,
                                                                 row2);
}
}  // namespace g729
#endif  // HWY_ONCE
