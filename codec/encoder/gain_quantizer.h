// SPDX-License-Identifier: BSD-2-Clause
// Joint 7-bit quantization of the pitch and fixed-codebook gains, with MA gain prediction.
#pragma once

#include <cstdint>

#include "codec/common/gain_predictor.h"

namespace g729 {

// Scale of the preselection coordinates.
constexpr double kPreselectionScale = -0.032623;
// Limits under taming: unquantized optimum and candidate pitch gain.
constexpr double kTamedOptimum = 0.94;
constexpr double kTamedCandidate = 0.9999;

void fixed_codebook_correlations(const double x[40], const double y[40], const double z[40],
                                 double gain_correlations[5]);

int32_t quantize_gains(double gain_pred_mem[4], const double code[40],
                       const double gain_correlations[5], int length, double* gain_pitch,
                       double* gain_code, int32_t taming);

// The quantizer's last step, from the chosen rows of both codebooks and the predicted gain
// g0 (gain_predictor_predict): both gains, the predictor's memory moved on, the 7-bit index.
int32_t quantized_gains(double gain_pred_mem[4], int row1, int row2, double g0,
                        double* gain_pitch, double* gain_code);

}  // namespace g729
