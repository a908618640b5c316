// SPDX-License-Identifier: BSD-2-Clause
// Joint 7-bit quantization of the pitch and fixed-codebook gains, with MA gain prediction.
#pragma once

#include <cstdint>

#include "codec/common/gain_codebook.h"

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

// Unquantized pitch gain in [0, 1.2]; writes gain_correlations[0..1].
double adaptive_codebook_gain(const double* x, const double* y, double gain_correlations[5],
                              int length);

}  // namespace g729
