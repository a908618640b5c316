// SPDX-License-Identifier: BSD-2-Clause
// The fourth-order MA prediction of the fixed-codebook gain in dB, which the encoder's gain
// quantizer and the decoder share: the predicted gain of a code vector, and the memory moved
// on by the quantized gain factor.
#pragma once

#include <cmath>

#include "codec/common/squared_sums.h"
#include "codec/tables/gain_tables.h"

namespace g729 {

// Mean energy of the fixed-codebook vector, dB.
inline constexpr double kMeanCodeEnergy = 36.0;

// The energies of count code vectors code[k][0..length-1] as the prediction takes them: 0.01
// plus the squares in order, several vectors side by side (squared_sums_of).
inline void gain_predictor_energies(const double* const code[], int count, int length,
                                    double energy[]) {
    squared_sums_of(code, count, length, 0.01, energy);
}

// The predicted code gain of a code vector of that energy and length, from the memory of past
// gain factors (dB).
inline double gain_predictor_gain(const double gain_pred_mem[4], double energy, int length) {
    double p = kMeanCodeEnergy - 10.0 * std::log10(energy / length);
    for (int k = 0; k < 4; k++) {
        p = p + gain_prediction_coefficients[k] * gain_pred_mem[k];
    }
    return std::pow(10.0, p / 20.0);
}

// The predicted code gain g0 of code[0..length-1] from the memory of past gain factors (dB).
inline void gain_predictor_predict(const double gain_pred_mem[4], const double* code, int length,
                                   double* g0) {
    double energy;
    gain_predictor_energies(&code, 1, length, &energy);
    *g0 = gain_predictor_gain(gain_pred_mem, energy, length);
}

// The memory moved on by a new entry, newest first.
inline void gain_predictor_shift(double gain_pred_mem[4], double entry_db) {
    gain_pred_mem[3] = gain_pred_mem[2];
    gain_pred_mem[2] = gain_pred_mem[1];
    gain_pred_mem[1] = gain_pred_mem[0];
    gain_pred_mem[0] = entry_db;
}

// The memory's entry for the quantized gain factor gamma: gamma in dB.
inline double gain_factor_db(double gamma) { return 20.0 * std::log10(gamma); }

// The memory moved on by the quantized gain factor gamma.
inline void gain_predictor_update(double gain_pred_mem[4], double gamma) {
    gain_predictor_shift(gain_pred_mem, gain_factor_db(gamma));
}

}  // namespace g729
