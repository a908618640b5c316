// Per-frame encoder entry point.
#include "codec/encoder/encoder_frame.h"
#include "codec/g729.h"

using g729::encode_frame_parameters;
using g729::preprocess_highpass;

int g729_encode_frame(g729_encoder_state* st, const int16_t samples[80], uint8_t* bytes,
                      int32_t* byte_count) {
    double* block = st->speech_buf + 160;
    for (int i = 0; i < G729_FRAME_SIZE; ++i) block[i] = static_cast<double>(samples[i]);

    // Counts 1, 2, ..., 32767, then 256, 257, ...: past the detector's start-up phases.
    st->frame_count = (st->frame_count == 32767) ? 256 : st->frame_count + 1;

    preprocess_highpass(st->hpf_mem, block, G729_FRAME_SIZE);

    g729_params params = {};
    encode_frame_parameters(st, params, st->frame_count, st->dtx_enabled);

    if (params[0] == G729_FRAME_NO_TRANSMISSION) {
        *byte_count = 0;
    } else {
        g729_pack_frame(params, bytes, byte_count);
    }
    return 0;
}
