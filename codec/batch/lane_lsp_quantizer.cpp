// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the LSP quantizer for many targets at once, one target per vector lane:
// the codebook searches (lsp_search-inl.h) and the last step, the choice of the predictor mode
// and the reconstruction (lsf_reconstruct-inl.h), both shared with the single-channel
// quantizer.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_lsp_quantizer.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_lsp_quantizer.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/lsp_quantizer_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/lsp_search-inl.h"
#include "codec/lpc/lsf_reconstruct-inl.h"

// The LSP quantizer's searches (lsp_search-inl.h), one target per lane.
template <int Rows>
void lsp_search_group(const double (&codebook)[Rows][10], const double* const* target,
                      const double* const* weight, int n, int lo, int hi, int* best_out) {
    const LaneOps L;
    // Lanes without a channel search zeros (rows lo..hi are the only ones read).
    alignas(64) double tb[10 * kLanes];
    alignas(64) double wb[10 * kLanes];
    for (int j = lo; j <= hi && n < L.n; ++j) {
        hn::Store(hn::Zero(L.d), L.d, tb + j * L.n);
        if (weight != nullptr) hn::Store(hn::Zero(L.d), L.d, wb + j * L.n);
    }
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
        w[j] = weight != nullptr ? L.load(wb, j) : hn::Zero(L.d);
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

// The quantizers' last step (lsf_quantize_finish_of) for up to kLanes channels, one per lane:
// each channel's rows of both modes' choices, targets, weights and predictor memory moved into
// lanes, the memory and the quantized LSFs moved back.
void lsp_finish_group(double (*const memory[])[10], const LspQuantizeWork* const work[], int n,
                      double (*lsf_q)[10], int32_t (*index)[2]) {
    const LaneOps o;
    constexpr int N = kLanes;
    alignas(64) double buf[7][10 * N];  // rows moved into lanes, and back
    const double* rows[N] = {};
    for (int mode = 0; mode < 2; ++mode) {
        for (int l = 0; l < n; ++l) rows[l] = lsp_codebook_1[work[l]->i1[mode]];
        interleave_rows(rows, n, 10, buf[mode]);
        for (int l = 0; l < n; ++l) rows[l] = lsp_codebook_2[work[l]->i2[mode]];
        interleave_rows(rows, n, 5, buf[2 + mode]);
        for (int l = 0; l < n; ++l) rows[l] = lsp_codebook_2[work[l]->i3[mode]] + 5;
        interleave_rows(rows, n, 5, buf[2 + mode] + 5 * N);
        for (int l = 0; l < n; ++l) rows[l] = work[l]->target[mode];
        interleave_rows(rows, n, 10, buf[4 + mode]);
    }
    for (int l = 0; l < n; ++l) rows[l] = work[l]->w;
    interleave_rows(rows, n, 10, buf[6]);
    Vec first[2][10];
    Vec second[2][10];
    Vec target[2][10];
    Vec w[10];
    for (int j = 0; j < 10; ++j) {
        for (int mode = 0; mode < 2; ++mode) {
            first[mode][j] = o.load(buf[mode], j);
            second[mode][j] = o.load(buf[2 + mode], j);
            target[mode][j] = o.load(buf[4 + mode], j);
        }
        w[j] = o.load(buf[6], j);
    }
    Vec mem[4][10];
    for (int k = 0; k < 4; ++k) {
        for (int l = 0; l < n; ++l) rows[l] = memory[l][k];
        interleave_rows(rows, n, 10, buf[k]);
        for (int j = 0; j < 10; ++j) mem[k][j] = o.load(buf[k], j);
    }
    Vec lsf[10];
    const auto second_mode = lsf_quantize_finish_of(o, first, second, target, w, mem, lsf);

    double* out_rows[N] = {};
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 10; ++j) o.store(mem[k][j], buf[k], j);
        for (int l = 0; l < n; ++l) out_rows[l] = memory[l][k];
        deinterleave_rows(buf[k], n, 10, out_rows);
    }
    for (int j = 0; j < 10; ++j) o.store(lsf[j], buf[4], j);
    for (int l = 0; l < n; ++l) out_rows[l] = lsf_q[l];
    deinterleave_rows(buf[4], n, 10, out_rows);
    alignas(64) double modes[N];
    hn::Store(o.select(second_mode, o.set(1.0), o.set(0.0)), o.d, modes);
    for (int l = 0; l < n; ++l) lsp_quantize_indices(work[l], modes[l] != 0.0 ? 1 : 0, index[l]);
}

void LspFinishChannels(double (*const* memory)[10], const LspQuantizeWork* const* work,
                       int count, double (*lsf_q)[10], int32_t (*index)[2]) {
    for_each_group(count, [&](int first, int n) {
        lsp_finish_group(memory + first, work + first, n, lsf_q + first, index + first);
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
HWY_EXPORT(LspFinishChannels);
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

void lsp_finish_channels(double (*const memory[])[10], const LspQuantizeWork* const work[],
                         int count, double (*lsf_q)[10], int32_t (*index)[2], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(LspFinishChannels), kernels)(memory, work, count, lsf_q,
                                                                index);
}
}  // namespace g729
#endif  // HWY_ONCE
