// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the LPC analysis for many channels at once, one channel per vector
// lane: the windowed autocorrelation (autocorrelation_sums-inl.h) and the Levinson-Durbin
// recursion (levinson_step-inl.h), both shared with the single-channel analysis.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_lpc_analysis.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_lpc_analysis.h"
#include "codec/frame_constants.h"
#include "codec/tables/lpc_analysis_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/levinson_step-inl.h"
#include "codec/lpc/autocorrelation_sums-inl.h"

// The LPC analysis's autocorrelation of a 240-sample window, lags 0..12, one channel per lane:
// the windowed signal, then each lag's sum in order from 0.0 (the floor is the caller's). The
// thirteen sums advance together, one term each per sample, so that their chains overlap.
void autocorrelation_group(const double* const* x, int n, double (*r)[13]) {
    constexpr int kWindow = kLpcWindowLength;
    constexpr int kLags = kMaxAutocorrelationLag + 1;
    const LaneOps L;
    alignas(64) double y[kWindow * kLanes] = {};
    for (int l = 0; l < n && l < L.n; ++l) {
        for (int i = 0; i < kWindow; ++i) y[i * L.n + l] = x[l][i] * lpc_analysis_window[i];
    }
    Vec s[kLags];
    autocorrelation_sums(LaneOps(), y, kLags - 1, s);
    for (int k = 0; k < kLags; ++k) {
        alignas(64) double out[kLanes] = {};
        hn::Store(s[k], L.d, out);
        for (int l = 0; l < n && l < L.n; ++l) r[l][k] = out[l];
    }
}

// levinson_durbin (lpc_analysis.h) of one lag-windowed autocorrelation per lane: the same
// operations in the same order, the error's floor by a per-lane select.
void levinson_group(const double (*r)[13], int n, double (*a_out)[11], double (*rc_out)[10]) {
    const LaneOps L;
    alignas(64) double rb[11 * kLanes];
    for (int l = 0; l < L.n; ++l) {
        // Lanes without a channel solve r = (1, 0, ...): no division by zero.
        for (int k = 0; k <= 10; ++k) rb[k * L.n + l] = l < n ? r[l][k] : (k == 0 ? 1.0 : 0.0);
    }
    Vec rv[11];
    for (int k = 0; k <= 10; ++k) rv[k] = L.load(rb, k);
    Vec a[11];
    Vec rc[10];
    levinson_recursion(
        rv, a, rc, L.set(0.0), L.set(1.0), [](Vec x) { return hn::Neg(x); },
        [&](Vec e) { return hn::IfThenElse(hn::Le(e, L.set(0.0)), L.set(0.001), e); });
    alignas(64) double ab[11 * kLanes];
    alignas(64) double cb[10 * kLanes];
    for (int j = 0; j <= 10; ++j) L.store(a[j], ab, j);
    for (int j = 0; j < 10; ++j) L.store(rc[j], cb, j);
    for (int l = 0; l < n; ++l) {
        for (int j = 0; j <= 10; ++j) a_out[l][j] = ab[j * L.n + l];
        for (int j = 0; j < 10; ++j) rc_out[l][j] = cb[j * L.n + l];
    }
}

void LevinsonChannels(const double (*r)[13], int count, double (*a)[11], double (*rc)[10]) {
    for_each_group(count, [&](int first, int n) {
        levinson_group(r + first, n, a + first, rc + first);
    });
}

void AutocorrelationChannels(const double* const* x, int count, double (*r)[13]) {
    for_each_group(count, [&](int first, int n) {
        autocorrelation_group(x + first, n, r + first);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(AutocorrelationChannels);
HWY_EXPORT(LevinsonChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void autocorrelation_channels(const double* const x[], int count, double (*r)[13], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(AutocorrelationChannels), kernels)(x, count, r);
}

void levinson_channels(const double (*r)[13], int count, double (*a)[11], double (*rc)[10],
                       int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(LevinsonChannels), kernels)(r, count, a, rc);
}
}  // namespace g729
#endif  // HWY_ONCE
