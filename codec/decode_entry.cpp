// Per-frame decoder entry points: received units, lost frames and untransmitted frames.
#include "codec/decoder/decoder_frame.h"
#include "codec/decoder/postfilter.h"
#include "codec/g729.h"
#include "codec/output_conversion.h"

namespace {

void synthesize(g729_decoder_state* st, int32_t decoded[G729_DECODED_PARAMS_SIZE],
                int16_t samples[80]) {
    double lpc[22];
    int32_t lags[2];
    int32_t frame_type = 0;
    double* speech = st->synth_buf + 10;

    decode_frame_parameters(st, decoded, speech, lpc, lags, &frame_type);
    postfilter_frame(&st->postfilter, speech, lpc, lags, frame_type);
    post_highpass_filter(st->post_hpf_mem, speech, G729_FRAME_SIZE);

    for (int i = 0; i < G729_FRAME_SIZE; ++i) samples[i] = double_to_pcm16(speech[i]);
}

}  // namespace

int g729_decode_frame(g729_decoder_state* st, int16_t samples[80], const uint8_t* bytes,
                      int unit_length) {
    int32_t frame_type;
    if (unit_length == G729_SPEECH_FRAME_BYTES) {
        frame_type = G729_FRAME_SPEECH;
    } else if (unit_length == G729_SID_FRAME_BYTES) {
        frame_type = G729_FRAME_SID;
    } else {
        return -1;
    }

    g729_decoded_params decoded;
    g729_unpack_frame(decoded, bytes, frame_type);
    synthesize(st, decoded, samples);
    return 0;
}

int g729_decode_lost_frame(g729_decoder_state* st, int16_t samples[80]) {
    g729_decoded_params decoded;
    g729_unpack_frame(decoded, nullptr, G729_FRAME_NO_TRANSMISSION);  // erasure flag 1
    synthesize(st, decoded, samples);
    return 0;
}

int g729_decode_untransmitted_frame(g729_decoder_state* st, int16_t samples[80]) {
    g729_decoded_params decoded = {};
    decoded[0] = 0;  // not erased: the sender chose not to transmit
    decoded[1] = G729_FRAME_NO_TRANSMISSION;
    synthesize(st, decoded, samples);
    return 0;
}
