// Per-frame decoder entry points: received units, lost frames and untransmitted frames.
#include "codec/entry_steps.h"
#include "codec/g729.h"
#include "codec/output_conversion.h"
#include "codec/simd_dispatch.h"

namespace g729 {
namespace {

using g729simd::Isa;
using g729simd::v4d;
using g729simd::v4l;

typedef int32_t v4i32 __attribute__((vector_size(16)));
typedef int16_t v4i16 __attribute__((vector_size(8)));

// double_to_pcm16 on four samples at a time: the same tests in the same order per lane, a
// non-finite sample (no comparison with an infinity holds for it) becomes 0, and the
// conversion truncates toward zero like the cast.
G729_INLINE void to_pcm16(const double* x, int16_t* out, int count) {
    const double inf = HUGE_VAL;
    int n = 0;
    for (; n + 4 <= count; n += 4) {
        const v4d v = g729simd::load4(x + n);
        const v4l finite = (v < G729_SPLAT(inf)) & (v > G729_SPLAT(-inf));
        v4d r = v >= G729_SPLAT(0.0) ? v + G729_SPLAT(0.5) : v - G729_SPLAT(0.5);
        r = r > G729_SPLAT(32767.0) ? G729_SPLAT(32767.0) : r;
        r = r < G729_SPLAT(-32768.0) ? G729_SPLAT(-32768.0) : r;
        r = finite ? r : G729_SPLAT(0.0);
        const v4i16 s = __builtin_convertvector(__builtin_convertvector(r, v4i32), v4i16);
        __builtin_memcpy(out + n, &s, sizeof s);
    }
    for (; n < count; ++n) out[n] = double_to_pcm16(x[n]);
}

void to_pcm16_baseline(const double* x, int16_t* out, int count) {
    for (int n = 0; n < count; ++n) out[n] = double_to_pcm16(x[n]);
}

G729_TARGET_AVX2 void to_pcm16_avx2(const double* x, int16_t* out, int count) {
    to_pcm16(x, out, count);
}

void synthesize(g729_decoder_state* st, int32_t decoded[G729_DECODED_PARAMS_SIZE],
                int16_t samples[80]) {
    double* speech = decoder_postfiltered_speech(st, decoded);
    post_highpass_filter(st->post_hpf_mem, speech, G729_FRAME_SIZE);
    decoder_emit(speech, samples);
}

}  // namespace

void g729simd::pcm16_from_doubles(Isa isa, const double* x, int16_t* out, int count) {
    if (isa == Isa::avx2) {
        to_pcm16_avx2(x, out, count);
    } else {
        to_pcm16_baseline(x, out, count);
    }
}

}  // namespace g729

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
    g729::synthesize(st, decoded, samples);
    return 0;
}

int g729_decode_lost_frame(g729_decoder_state* st, int16_t samples[80]) {
    g729_decoded_params decoded;
    g729::lost_frame_params(decoded);
    g729::synthesize(st, decoded, samples);
    return 0;
}

int g729_decode_untransmitted_frame(g729_decoder_state* st, int16_t samples[80]) {
    g729_decoded_params decoded;
    g729::untransmitted_frame_params(decoded);
    g729::synthesize(st, decoded, samples);
    return 0;
}
