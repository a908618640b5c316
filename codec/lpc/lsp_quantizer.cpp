// SPDX-License-Identifier: BSD-2-Clause
// Switched-MA two-stage LSP quantizer (18 bits) and its decoder. The codebook searches are
// compiled for every instruction set Highway targets (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/lpc/lsp_quantizer.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include "codec/common/scalar_ops.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/lsp_quantizer_tables.h"

// What every instruction set shares, compiled once.
#ifndef G729_LSP_QUANTIZER_SHARED
#define G729_LSP_QUANTIZER_SHARED
namespace g729 {

namespace {

#include "codec/lpc/lsf_reconstruct-inl.h"

// The second stage's rows of a choice: dimensions 0..4 of entry i2, 5..9 of entry i3.
inline void lsf_second_rows(const double cb2[32][10], int i2, int i3, double second[10]) {
    for (int j = 0; j < 5; ++j) second[j] = cb2[i2][j];
    for (int j = 5; j < 10; ++j) second[j] = cb2[i3][j];
}

// Outer neighbours of the first and last LSF in the weighting (0.04 pi and 0.92 pi).
constexpr double kWeightLowEdge = 0.12566370616;
constexpr double kWeightHighEdge = 2.89026524168;

constexpr double kBestStart = 1e38;

// A codebook stored column by column, so that four neighbouring entries of one dimension are
// one vector.
template <int Rows>
struct Columns {
    double v[10][Rows];
};

template <int Rows>
constexpr Columns<Rows> columns_of(const double (&table)[Rows][10]) {
    Columns<Rows> c{};
    for (int n = 0; n < Rows; ++n) {
        for (int j = 0; j < 10; ++j) c.v[j][n] = table[n][j];
    }
    return c;
}

constexpr Columns<128> kCodebook1 = columns_of(lsp_codebook_1);
constexpr Columns<32> kCodebook2 = columns_of(lsp_codebook_2);

}  // namespace

void lsf_weights(const double lsf[10], double w[10]) {
    for (int i = 0; i < 10; ++i) {
        const double lower = (i == 0) ? kWeightLowEdge : lsf[i - 1];
        const double upper = (i == 9) ? kWeightHighEdge : lsf[i + 1];
        const double d = upper - lower - 1.0;
        w[i] = (d > 0.0) ? 1.0 : (d * d) * 10.0 + 1.0;
    }
    w[4] = 1.2 * w[4];
    w[5] = 1.2 * w[5];
}

void lsf_residual_extract(const double lsf[10], double target[10], const double coef[4][10],
                          const double memory[4][10], const double sum_inv[10]) {
    for (int i = 0; i < 10; ++i) {
        double t = lsf[i];
        for (int k = 0; k < 4; ++k) t -= coef[k][i] * memory[k][i];
        target[i] = t * sum_inv[i];
    }
}

void lsf_compose(const double residual[10], double lsf[10], const double coef[4][10],
                 const double memory[4][10], const double sum[10]) {
    lsf_compose_of(residual, lsf, coef, memory, sum);
}

void lsf_predictor_push(const double residual[10], double memory[4][10]) {
    double r[10];  // residual may be one of the memory's rows
    for (int i = 0; i < 10; ++i) r[i] = residual[i];
    lsf_push_of(r, memory);
}

void lsf_stabilize(double lsf[10]) { lsf_stabilize_of(ScalarOps(), lsf); }

void lsf_expand_low(double buf[10], double gap) { lsf_expand_pairs(ScalarOps(), buf, gap, 1, 4); }

void lsf_expand_high(double buf[10], double gap) { lsf_expand_pairs(ScalarOps(), buf, gap, 5, 9); }

void lsf_expand_all(double buf[10], double gap) { lsf_expand_pairs(ScalarOps(), buf, gap, 1, 9); }

void lsp_quantize_indices(const LspQuantizeWork* work, int mode, int32_t index[2]) {
    index[0] = mode * 128 + work->i1[mode];
    index[1] = work->i2[mode] * 32 + work->i3[mode];
}

void lsf_reconstruct(const double cb1[128][10], const double cb2[32][10], int i1, int i2, int i3,
                     const double coef[4][10], double memory[4][10], double lsf[10],
                     const double sum[10]) {
    double second[10];
    lsf_second_rows(cb2, i2, i3, second);
    double buf[10];
    lsf_expanded_sum(ScalarOps(), cb1[i1], second, buf);
    lsf_from_expanded(ScalarOps(), buf, coef, sum, memory, lsf);
}

namespace {

// The codebook rows of a mode's choice: the first stage's entry, and the second stage's
// (dimensions 0..4 of one, 5..9 of the other).
inline void lsf_choice_rows(const LspQuantizeWork* work, int mode, double first[10],
                            double second[10]) {
    for (int j = 0; j < 10; ++j) first[j] = lsp_codebook_1[work->i1[mode]][j];
    lsf_second_rows(lsp_codebook_2, work->i2[mode], work->i3[mode], second);
}

// The targets of both predictor modes, and the weights.
inline void quantize_targets(const double memory[4][10], const double lsp[10],
                             LspQuantizeWork* work) {
    lsp_to_lsf(lsp, work->lsf, 10);
    lsf_weights(work->lsf, work->w);
    for (int mode = 0; mode < 2; ++mode) {
        lsf_residual_extract(work->lsf, work->target[mode], lsf_ma_predictor[mode], memory,
                             lsf_ma_predictor_sum_inv[mode]);
    }
}

// What the first stage (entry i1[mode]) leaves for the second.
inline void quantize_rest(LspQuantizeWork* work, int mode) {
    const int best_n = work->i1[mode];
    for (int j = 0; j < 10; ++j) {
        work->rest[mode][j] = work->target[mode][j] - lsp_codebook_1[best_n][j];
    }
}

// The better mode's indices and quantized LSPs (lsf_quantize_finish_of); the predictor
// memory moves on.
inline void quantize_finish(double memory[4][10], const LspQuantizeWork* work,
                            double lsp_q[10], int32_t index[2]) {
    double first[2][10];
    double second[2][10];
    for (int mode = 0; mode < 2; ++mode) lsf_choice_rows(work, mode, first[mode], second[mode]);
    double lsf_q[10];
    const bool second_mode = lsf_quantize_finish_of(ScalarOps(), first, second, work->target,
                                                    work->w, memory, lsf_q);
    lsp_quantize_indices(work, second_mode ? 1 : 0, index);
    lsf_to_lsp(lsf_q, lsp_q, 10);
}

}  // namespace

void lsp_quantize_targets(const double memory[4][10], const double lsp[10],
                          LspQuantizeWork* work) {
    quantize_targets(memory, lsp, work);
}

void lsp_quantize_rests(LspQuantizeWork* work) {
    quantize_rest(work, 0);
    quantize_rest(work, 1);
}

void lsp_decode(g729_lsp_decoder_state* state, const int32_t index[2], double lsp_q[10],
                int erased) {
    double lsf[10];
    if (erased == 0) {
        const int mode = (index[0] >> 7) & 1;
        const int i1 = index[0] & 127;
        const int i2 = (index[1] >> 5) & 31;
        const int i3 = index[1] & 31;
        lsf_reconstruct(lsp_codebook_1, lsp_codebook_2, i1, i2, i3, lsf_ma_predictor[mode],
                        state->lsf_ma_memory, lsf, lsf_ma_predictor_sum[mode]);
        for (int i = 0; i < 10; ++i) state->prev_lsf[i] = lsf[i];
        state->prev_ma_mode = mode;
    } else {
        // Repeat the last good LSFs and keep the predictor memory in step with them.
        const int mode = (state->prev_ma_mode != 0) ? 1 : 0;
        for (int i = 0; i < 10; ++i) lsf[i] = state->prev_lsf[i];
        double residual[10];
        lsf_residual_extract(lsf, residual, lsf_ma_predictor[mode], state->lsf_ma_memory,
                             lsf_ma_predictor_sum_inv[mode]);
        lsf_predictor_push(residual, state->lsf_ma_memory);
    }
    lsf_to_lsp(lsf, lsp_q, 10);
}

}  // namespace g729
#endif  // G729_LSP_QUANTIZER_SHARED

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
// Helpers of this file's routines, some used only by the vector instruction sets: named
// rather than anonymous, so that the scalar ones do not have them as unused internal
// functions, and apart from the helpers of other files of the same instruction set.
namespace lsp_kernels {

#include "codec/lpc/lsp_search-inl.h"

// Keeps the first smallest of four errors of entries n..n+3 (strictly smaller replaces).
HWY_INLINE void keep_smallest(const Quad& e, int n, double* best, int* best_n) {
    if (quad_first(quad_lt(e, quad_set(*best))) < 0) return;
    alignas(32) double v[4];
    quad_store(e, v);
    for (int l = 0; l < 4; ++l) {
        if (v[l] < *best) {
            *best = v[l];
            *best_n = n + l;
        }
    }
}

// First stage: unweighted distance over all 10 dimensions; the vector kernel four entries at
// a time, every lane the scalar sum.
HWY_INLINE int search_first_stage(const double target[10]) {
    double best = kBestStart;
    int best_n = 0;
    if constexpr (kVectors) {
        Quad t[10];
        for (int j = 0; j < 10; ++j) t[j] = quad_set(target[j]);
        for (int n = 0; n < 128; n += 4) {
            Quad e = quad_set(0.0);
            for (int j = 0; j < 10; ++j) {
                const Quad d = t[j] - quad_load(&kCodebook1.v[j][n]);
                e += d * d;
            }
            keep_smallest(e, n, &best, &best_n);
        }
    } else {
        best_n = static_cast<int>(
            lsp_codebook_search<false>(ScalarOps(), lsp_codebook_1, target, target, 0, 9));
    }
    return best_n;
}

// Weighted second-stage search over one half (columns lo..hi) of the second codebook.
HWY_INLINE int search_second_stage(const double residual[10], const double w[10], int lo,
                                   int hi) {
    double best = kBestStart;
    int best_n = 0;
    if constexpr (kVectors) {
        for (int n = 0; n < 32; n += 4) {
            Quad e = quad_set(0.0);
            for (int j = lo; j <= hi; ++j) {
                const Quad d = quad_set(residual[j]) - quad_load(&kCodebook2.v[j][n]);
                e += quad_set(w[j]) * (d * d);
            }
            keep_smallest(e, n, &best, &best_n);
        }
    } else {
        best_n = static_cast<int>(
            lsp_codebook_search<true>(ScalarOps(), lsp_codebook_2, residual, w, lo, hi));
    }
    return best_n;
}

}  // namespace lsp_kernels
using namespace lsp_kernels;

void lsp_quantize(double memory[4][10], const double lsp[10], double lsp_q[10],
                  int32_t index[2]) {
    LspQuantizeWork work;
    quantize_targets(memory, lsp, &work);
    for (int mode = 0; mode < 2; ++mode) {
        // First stage: unweighted distance over all 10 dimensions; then the second stage on
        // each half of what it leaves.
        work.i1[mode] = search_first_stage(work.target[mode]);
        quantize_rest(&work, mode);
        work.i2[mode] = search_second_stage(work.rest[mode], work.w, 0, 4);
        work.i3[mode] = search_second_stage(work.rest[mode], work.w, 5, 9);
    }
    quantize_finish(memory, &work, lsp_q, index);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(lsp_quantize);

void lsp_quantize(double memory[4][10], const double lsp[10], double lsp_q[10], int32_t index[2]) {
    HWY_DYNAMIC_DISPATCH(lsp_quantize)(memory, lsp, lsp_q, index);
}

}  // namespace g729
#endif  // HWY_ONCE
