// SPDX-License-Identifier: BSD-2-Clause
// The fourth-order MA prediction of the fixed-codebook gain in dB, which the encoder's gain
// quantizer and the decoder share: the predicted gain of a code vector, and the memory moved
// on by the quantized gain factor.
#pragma once

#include <cmath>

#include "codec/tables/gain_tables.h"

namespace g729 {

// Mean energy of the fixed-codebook vector, dB.
inline constexpr double kMeanCodeEnergy = 36.0;

// The predicted code gain g0 of code[0..length-1] from the memory of past gain factors (dB).
inline void gain_predictor_predict(const double gain_pred_mem[4], const double* code, int length,
                                   double* g0) {
    double energy = 0.01;
    for (int n = 0; n < length; n++) {
        energy += code[n] * code[n];
    }
    double p = kMeanCodeEnergy - 10.0 * std::log10(energy / length);
    for (int k = 0; k < 4; k++) {
        p = p + gain_prediction_coefficients[k] * gain_pred_mem[k];
    }
    *g0 = std::pow(10.0, p / 20.0);
}

// The memory moved on by a new entry, newest first.
inline void gain_predictor_shift(double gain_pred_mem[4], double entry_db) {
    gain_pred_mem[3] = gain_pred_mem[2];
    gain_pred_mem[2] = gain_pred_mem[1];
    gain_pred_mem[1] = gain_pred_mem[0];
    gain_pred_mem[0] = entry_db;
}

// The memory moved on by the quantized gain factor gamma.
inline void gain_predictor_update(double gain_pred_mem[4], double gamma) {
    gain_predictor_shift(gain_pred_mem, 20.0 * std::log10(gamma));
}

}  // namespace g729
