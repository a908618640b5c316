// SPDX-License-Identifier: BSD-2-Clause
// Discontinuous transmission: SID scheduling and encoding of inactive frames.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

void dtx_init(g729_dtx_state* dtx);

void update_autocorr_history(g729_dtx_state* dtx, const double r[11], int32_t voice);

void encode_inactive_frame(g729_dtx_state* dtx, double exc[80], int32_t vad_prev,
                           double lsp_prev_q[10], double lpc[22], int32_t params[G729_PARAMS_SIZE],
                           double memory[4][10], int16_t* cng_seed,
                           const double noise_ma_pred[2][4][10], double exc_err[4]);

}  // namespace g729
