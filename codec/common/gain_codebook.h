// SPDX-License-Identifier: BSD-2-Clause
// The gains of a row of each gain codebook, which the encoder's quantizer chooses and the
// decoder reads: the pitch gain, the code gain from the predicted gain, and the 7-bit index.
#pragma once

#include <cstdint>

#include "codec/common/gain_predictor.h"
#include "codec/tables/gain_tables.h"

namespace g729 {

// 20 log10 of the gain factor of every pair of rows (gain_codebook_1[r1][1] +
// gain_codebook_2[r2][1]): the entry the predictor's memory takes when they are chosen. The
// factors come from the two codebooks alone, so all 128 are computed once, when the library
// is loaded, by the memory update's own gain_factor_db.
struct GainFactorDb {
    double db[8][16];
};
extern const GainFactorDb kGainFactorDb;

// The pitch gain of rows row1 and row2.
inline double pitch_gain_of_rows(int row1, int row2) {
    return gain_codebook_1[row1][0] + gain_codebook_2[row2][0];
}

// Both gains of rows row1 and row2 with the predicted gain g0 (gain_predictor_predict), the
// predictor's memory moved on, and the 7-bit index.
inline int32_t quantized_gains(double gain_pred_mem[4], int row1, int row2, double g0,
                               double* gain_pitch, double* gain_code) {
    *gain_pitch = pitch_gain_of_rows(row1, row2);
    const double gamma = gain_codebook_1[row1][1] + gain_codebook_2[row2][1];
    *gain_code = g0 * gamma;
    gain_predictor_shift(gain_pred_mem, kGainFactorDb.db[row1][row2]);
    return gain_map_1[row1] * 16 + gain_map_2[row2];
}

}  // namespace g729
