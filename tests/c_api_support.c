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
