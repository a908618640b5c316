// SPDX-License-Identifier: BSD-2-Clause
// Comfort-noise decoding, the comfort excitation generator and the SID gain quantizer.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

// params: the decoded-parameter record from its frame-type entry on.
void decode_comfort_noise(g729_cng_state* cng, int32_t prev_frame_type, const int32_t* params,
                          double exc[80], double lsp_prev[10], double lpc[22], double exc_energy,
                          int16_t* cng_seed, double memory[4][10],
                          const double noise_ma_pred[2][4][10]);

// exc[-154..-1] is read as history. encoder_mode 1 updates exc_err (taming memory).
void generate_comfort_excitation(double exc_err[4], double* exc, int16_t* seed, int encoder_mode,
                                 double gain);

void quantize_sid_gain(const double* energies, int count, double* level, int32_t* index);

}  // namespace g729
