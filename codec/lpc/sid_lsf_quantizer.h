// SPDX-License-Identifier: BSD-2-Clause
// LSF quantizer of SID frames (10 bits) and its decoder.
#pragma once

#include <cstdint>

namespace g729 {

// Builds the two MA predictors of SID frames from the speech predictors.
void noise_ma_pred_init(double pred[2][4][10]);

void sid_lsf_quantize(const double pred[2][4][10], const double lsp[10], double lsp_q[10],
                      double memory[4][10], int32_t index[3]);
void sid_lsf_decode(const double pred[2][4][10], const int32_t index[3], double lsp_q[10],
                    double memory[4][10]);

}  // namespace g729
