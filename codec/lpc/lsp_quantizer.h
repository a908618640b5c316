// Switched-MA two-stage LSP quantizer (18 bits) and its decoder.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

void lsp_quantize(double memory[4][10], const double lsp[10], double lsp_q[10], int32_t index[2]);
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
