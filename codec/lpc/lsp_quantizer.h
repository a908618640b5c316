// SPDX-License-Identifier: BSD-2-Clause
// Switched-MA two-stage LSP quantizer (18 bits) and its decoder.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

void lsp_quantize(double memory[4][10], const double lsp[10], double lsp_q[10], int32_t index[2]);
// lsp_quantize in steps, for the batched encoder: lsp_quantize_targets; the first-stage
// search of target[0] and target[1] into i1 (lsp_first_stage_channels, lane_lsp_quantizer.h);
// lsp_quantize_rests; the second-stage searches of rest[mode] weighted by w over dimensions
// 0..4 into i2 and 5..9 into i3; the choice of the mode and the reconstruction
// (lsp_finish_channels, lane_lsp_quantizer.h), which gives the indices with
// lsp_quantize_indices.
struct LspQuantizeWork {
    double lsf[10];
    double w[10];            // weights of the second stage and of the error
    double target[2][10];    // per predictor mode
    double rest[2][10];      // what the first stage leaves
    int i1[2];
    int i2[2];
    int i3[2];
};
void lsp_quantize_targets(const double memory[4][10], const double lsp[10],
                          LspQuantizeWork* work);
void lsp_quantize_rests(LspQuantizeWork* work);
// The indices of a frame quantized with predictor mode `mode`.
void lsp_quantize_indices(const LspQuantizeWork* work, int mode, int32_t index[2]);

void lsp_decode(g729_lsp_decoder_state* state, const int32_t index[2], double lsp_q[10],
                int erased);

void lsf_weights(const double lsf[10], double w[10]);
void lsf_residual_extract(const double lsf[10], double target[10], const double coef[4][10],
                          const double memory[4][10], const double sum_inv[10]);
void lsf_compose(const double residual[10], double lsf[10], const double coef[4][10],
                 const double memory[4][10], const double sum[10]);
void lsf_predictor_push(const double residual[10], double memory[4][10]);
void lsf_stabilize(double lsf[10]);
void lsf_expand_low(double buf[10], double gap);
void lsf_expand_high(double buf[10], double gap);
void lsf_expand_all(double buf[10], double gap);
void lsf_reconstruct(const double cb1[128][10], const double cb2[32][10], int i1, int i2, int i3,
                     const double coef[4][10], double memory[4][10], double lsf[10],
                     const double sum[10]);

}  // namespace g729
