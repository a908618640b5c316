/* SPDX-License-Identifier: BSD-2-Clause */
/* The public header used from C: see c_api_support.h. */
#include "tests/c_api_support.h"

#include <stddef.h>

#include "g729/g729.h"

g729test_c_layout g729test_c_layout_of_records(void) {
    g729test_c_layout layout;
    layout.encoder_size = sizeof(g729_encoder_state);
    layout.decoder_size = sizeof(g729_decoder_state);
    layout.encoder_vad_offset = offsetof(g729_encoder_state, vad);
    layout.encoder_dtx_enabled_offset = offsetof(g729_encoder_state, dtx_enabled);
    layout.decoder_postfilter_offset = offsetof(g729_decoder_state, postfilter);
    layout.decoder_synth_buf_offset = offsetof(g729_decoder_state, synth_buf);
    return layout;
}

long g729test_c_round_trip(const int16_t* pcm, int frames, int dtx, int lose_every,
                           int16_t* decoded) {
    g729_encoder_state encoder;
    g729_decoder_state decoder;
    long total = 0;
    int f;
    g729_encoder_init(&encoder, dtx);
    g729_decoder_init(&decoder);
    for (f = 0; f < frames; ++f) {
        uint8_t bytes[G729_SPEECH_FRAME_BYTES];
        int32_t count = -1;
        int16_t* out = decoded + (long)f * G729_FRAME_SIZE;
        int rc;
        if (g729_encode_frame(&encoder, pcm + (long)f * G729_FRAME_SIZE, bytes, &count) != 0) {
            return -1;
        }
        total += count;
        if (lose_every > 0 && f % lose_every == 0) {
            rc = g729_decode_lost_frame(&decoder, out);
        } else if (count == 0) {
            rc = g729_decode_untransmitted_frame(&decoder, out);
        } else {
            rc = g729_decode_frame(&decoder, out, bytes, count);
        }
        if (rc != 0) return -1;
    }
    return total;
}

int g729test_c_null_pointer_calls(void) {
    g729_encoder_state encoder;
    g729_decoder_state decoder;
    g729_encoder_state* encoders[1];
    g729_decoder_state* decoders[1];
    int16_t pcm[G729_FRAME_SIZE] = {0};
    const int16_t* in[1];
    int16_t* out[1];
    uint8_t bytes[G729_SPEECH_FRAME_BYTES] = {0};
    uint8_t* units[1];
    int32_t count = 0;
    int32_t length = G729_SPEECH_FRAME_BYTES;
    g729_params params = {G729_FRAME_SPEECH};
    g729_decoded_params decoded;
    int wrong = 0;
    encoders[0] = &encoder;
    decoders[0] = &decoder;
    in[0] = pcm;
    out[0] = pcm;
    units[0] = bytes;
    wrong += g729_encoder_init(NULL, 0) != G729_ERROR;
    wrong += g729_decoder_init(NULL) != G729_ERROR;
    wrong += g729_encoder_init(&encoder, 0) != G729_OK;
    wrong += g729_decoder_init(&decoder) != G729_OK;
    wrong += g729_encode_frame(NULL, pcm, bytes, &count) != G729_ERROR;
    wrong += g729_decode_frame(&decoder, NULL, bytes, G729_SPEECH_FRAME_BYTES) != G729_ERROR;
    wrong += g729_decode_lost_frame(NULL, pcm) != G729_ERROR;
    wrong += g729_decode_untransmitted_frame(&decoder, NULL) != G729_ERROR;
    wrong += g729_pack_frame(params, NULL, &count) != G729_ERROR;
    wrong += g729_unpack_frame(decoded, NULL, G729_FRAME_SID) != G729_ERROR;
    wrong += g729_encode_frames(encoders, 1, NULL, units, &count) != G729_ERROR;
    wrong += g729_decode_frames(decoders, 1, out, NULL, &length, NULL) != G729_ERROR;
    wrong += g729_encode_frames_ws(encoders, 1, in, units, &count, NULL, 0) != G729_ERROR;
    wrong += g729_decode_frames_ws(decoders, 1, out, NULL, &length, NULL, NULL, 0) != G729_ERROR;
    return wrong;
}
