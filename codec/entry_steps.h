// SPDX-License-Identifier: BSD-2-Clause
// The steps of the per-frame entry points, shared by the single-channel and the batched entry
// points so that both do exactly the same work on a channel's state.
#pragma once

#include <cstdint>

#include "codec/decoder/decoder_frame.h"
#include "codec/decoder/postfilter.h"
#include "codec/encoder/encoder_frame.h"
#include "codec/g729.h"
#include "codec/output_conversion.h"
#include "codec/simd_dispatch.h"

namespace g729 {

// Encoder, before the high-pass: the new block into the analysis buffer (pre-processed there
// in place afterwards) and the frame counter. Returns the block.
G729_INLINE double* encoder_take_samples(g729_encoder_state* st, const int16_t samples[80]) {
    double* block = st->speech_buf + 160;
    for (int i = 0; i < G729_FRAME_SIZE; ++i) block[i] = static_cast<double>(samples[i]);

    // Counts 1, 2, ..., 32767, then 256, 257, ...: past the detector's start-up phases.
    st->frame_count = (st->frame_count == 32767) ? 256 : st->frame_count + 1;
    return block;
}

// The frame's parameters as bytes: none for an untransmitted frame.
G729_INLINE void encoder_pack(const int32_t params[G729_PARAMS_SIZE], uint8_t* bytes,
                              int32_t* byte_count) {
    if (params[0] == G729_FRAME_NO_TRANSMISSION) {
        *byte_count = 0;
    } else {
        g729_pack_frame(params, bytes, byte_count);
    }
}

// Encoder, after the high-pass: the frame's parameters, packed.
G729_INLINE void encoder_code_block(g729_encoder_state* st, uint8_t* bytes,
                                    int32_t* byte_count) {
    g729_params params = {};
    encode_frame_parameters(st, params, st->frame_count, st->dtx_enabled);
    encoder_pack(params, bytes, byte_count);
}

// Decoder, after the output high-pass: the frame as 16-bit samples.
G729_INLINE void decoder_emit(const double* speech, int16_t samples[80]) {
    pcm16_from_doubles(speech, samples, G729_FRAME_SIZE);
}

// The decoded-parameter record of an erased (lost) frame.
G729_INLINE void lost_frame_params(int32_t decoded[G729_DECODED_PARAMS_SIZE]) {
    g729_unpack_frame(decoded, nullptr, G729_FRAME_NO_TRANSMISSION);  // erasure flag 1
}

// The decoded-parameter record of a frame the sender chose not to transmit.
G729_INLINE void untransmitted_frame_params(int32_t decoded[G729_DECODED_PARAMS_SIZE]) {
    for (int k = 0; k < G729_DECODED_PARAMS_SIZE; ++k) decoded[k] = 0;
    decoded[1] = G729_FRAME_NO_TRANSMISSION;  // not erased: a pause in transmission
}

}  // namespace g729
