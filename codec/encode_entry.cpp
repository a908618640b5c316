// SPDX-License-Identifier: BSD-2-Clause
// Per-frame encoder entry point.
#include "codec/entry_steps.h"
#include "codec/g729.h"

using g729::preprocess_highpass;

int g729_encode_frame(g729_encoder_state* st, const int16_t samples[80], uint8_t* bytes,
                      int32_t* byte_count) {
    if (st == nullptr || samples == nullptr || bytes == nullptr || byte_count == nullptr) {
        return G729_ERROR;
    }
    double* block = g729::encoder_take_samples(st, samples);
    preprocess_highpass(st->hpf_mem, block, G729_FRAME_SIZE);
    g729::encoder_code_block(st, bytes, byte_count);
    return G729_OK;
}
