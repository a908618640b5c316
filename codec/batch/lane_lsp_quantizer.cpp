// SPDX-License-Identifier: BSD-2-Clause
// Highway kernel of the LSP quantizer's codebook searches for many targets at once, one
// target per vector lane (lsp_search-inl.h, shared with the single-channel search).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_lsp_quantizer.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_lsp_quantizer.h"
#include "codec/tables/lsp_quantizer_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/lsp_search-inl.h"

// The LSP quantizer's searches (lsp_search-inl.h), one target per lane.
template <int Rows>
void lsp_search_group(const double (&codebook)[Rows][10], const double* const* target,
                      const double* const* weight, int n, int lo, int hi, int* best_out) {
    const LaneOps L;
    alignas(64) double tb[10 * kLanes] = {};
    alignas(64) double wb[10 * kLanes] = {};
    for (int l = 0; l < n && l < L.n; ++l) {
        for (int j = lo; j <= hi; ++j) {
            tb[j * L.n + l] = target[l][j];
            if (weight != nullptr) wb[j * L.n + l] = weight[l][j];
        }
    }
    Vec t[10];
    Vec w[10];
    for (int j = lo; j <= hi; ++j) {
        t[j] = L.load(tb, j);
        w[j] = L.load(wb, j);
    }
    const Vec best_n =
        weight == nullptr ? lsp_codebook_search<false>(LaneOps(), codebook, t, w, lo, hi)
                          : lsp_codebook_search<true>(LaneOps(), codebook, t, w, lo, hi);
    alignas(64) double out[kLanes] = {};
    hn::Store(best_n, L.d, out);
    for (int l = 0; l < n && l < L.n; ++l) best_out[l] = static_cast<int>(out[l]);
}

void LspStageChannels(int stage, const double* const* target, const double* const* weight,
                      int count, int lo, int hi, int* best) {
    for_each_group(count, [&](int first, int n) {
        if (stage == 1) {
            lsp_search_group(lsp_codebook_1, target + first, nullptr, n, 0, 9, best + first);
        } else {
            lsp_search_group(lsp_codebook_2, target + first, weight + first, n, lo, hi,
                             best + first);
        }
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(LspStageChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void lsp_first_stage_channels(const double* const target[], int count, int best[],
                              int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(LspStageChannels), kernels)(1, target, nullptr, count, 0, 9,
                                                               best);
}

void lsp_second_stage_channels(const double* const rest[], const double* const w[], int count,
                               int lo, int hi, int best[], int kernels) {
    if (count <= 0 || lo < 0 || hi > 9 || lo > hi) return;
    kernel_entry(HWY_DISPATCH_TABLE(LspStageChannels), kernels)(2, rest, w, count, lo, hi, best);
}
}  // namespace g729
#endif  // HWY_ONCE
