// SPDX-License-Identifier: BSD-2-Clause
// Initialisation of the encoder and decoder state records.
#include <cmath>
#include <cstring>

#include "codec/dtx/dtx_encoder.h"
#include "codec/dtx/vad.h"
#include "codec/g729.h"
#include "codec/lpc/sid_lsf_quantizer.h"

using namespace g729;

int g729_encoder_init(g729_encoder_state* st, int dtx_flag) {
    if (st == nullptr) return G729_ERROR;
    // Start from an all-zero record so that no field is ever indeterminate.
    std::memset(st, 0, sizeof(*st));

    st->frame_count = 0;
    st->dtx_enabled = dtx_flag;
    for (double& m : st->hpf_mem) m = 0.0;

    // Histories and filter memories are zero from the memset above.
    st->sharp = 0.2;
    std::memcpy(st->lsp_prev, initial_lsp, sizeof(initial_lsp));
    std::memcpy(st->lsp_prev_q, st->lsp_prev, sizeof(st->lsp_prev));

    for (auto& row : st->lsf_ma_memory) std::memcpy(row, initial_lsf, sizeof(initial_lsf));
    for (double& e : st->exc_err) e = 1.0;

    st->vad_prev = 1;
    st->cng_seed = 11111;
    st->vad_prev2 = 1;

    vad_init(&st->vad);
    noise_ma_pred_init(st->noise_ma_pred);
    for (double& g : st->gain_pred_mem) g = -14.0;

    if (dtx_flag != 0) dtx_init(&st->dtx);
    return G729_OK;
}

int g729_decoder_init(g729_decoder_state* st) {
    if (st == nullptr) return G729_ERROR;
    std::memset(st, 0, sizeof(*st));

    st->prev_t0 = 60;
    st->sharp = 0.2;
    st->gain_code = 0.0;
    st->gain_pitch = 0.0;

    for (auto& row : st->lsp_decoder_state.lsf_ma_memory)
        std::memcpy(row, initial_lsf, sizeof(initial_lsf));
    st->lsp_decoder_state.prev_ma_mode = 0;
    std::memcpy(st->lsp_decoder_state.prev_lsf, initial_lsf, sizeof(initial_lsf));

    std::memcpy(st->lsp_prev, initial_lsp, sizeof(initial_lsp));
    st->erasure_seed = 21845;
    st->exc_energy = 0.0;
    st->cng_seed = 11111;
    st->prev_frame_type = G729_FRAME_SPEECH;

    noise_ma_pred_init(st->noise_ma_pred);
    for (double& g : st->gain_pred_mem) g = -14.0;

    st->postfilter.tilt_memory = 0.0;
    st->postfilter.agc_gain = 1.0;

    // The comfort-noise LSPs start from the exact cosines of the uniform LSF set, not from the
    // rounded initial LSPs.
    for (int k = 0; k < 10; ++k) st->cng.lsp_sid[k] = std::cos(initial_lsf[k]);
    st->cng.sid_gain = 0.502;
    for (double& e : st->cng.exc_err) e = 1.0;
    return G729_OK;
}
