// SPDX-License-Identifier: BSD-2-Clause
// Per-frame decoder entry points: received units, lost frames and untransmitted frames. A
// frame is decoded, postfiltered and converted by code compiled for every instruction set
// Highway targets (simd_kernels-inl.h), chosen once per frame.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/decode_entry.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include <cmath>

#include "codec/entry_steps.h"
#include "codec/g729.h"
#include "codec/output_conversion.h"
#include "codec/simd_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {

// double_to_pcm16 a vector at a time: the same tests in the same order per lane, a non-finite
// sample (no comparison with an infinity holds for it) becomes 0, and the conversion truncates
// toward zero like the cast.
void pcm16_from_doubles(const double* x, int16_t* out, int count) {
    int n = 0;
    if constexpr (kVectors) {
        const D4 d;
        const hn::Rebind<int32_t, D4> d32;
        const hn::Rebind<int16_t, D4> d16;
        const int lanes = static_cast<int>(hn::Lanes(d));
        const V4 inf = hn::Set(d, HUGE_VAL);
        const V4 neg_inf = hn::Set(d, -HUGE_VAL);
        const V4 zero = hn::Zero(d);
        const V4 half = hn::Set(d, 0.5);
        const V4 top = hn::Set(d, 32767.0);
        const V4 bottom = hn::Set(d, -32768.0);
        for (; n + lanes <= count; n += lanes) {
            const V4 v = hn::LoadU(d, x + n);
            const M4 finite = hn::And(hn::Lt(v, inf), hn::Gt(v, neg_inf));
            V4 r = hn::IfThenElse(hn::Ge(v, zero), hn::Add(v, half), hn::Sub(v, half));
            r = hn::IfThenElse(hn::Gt(r, top), top, r);
            r = hn::IfThenElse(hn::Lt(r, bottom), bottom, r);
            r = hn::IfThenElseZero(finite, r);
            hn::StoreU(hn::DemoteTo(d16, hn::DemoteTo(d32, r)), d16, out + n);
        }
    }
    for (; n < count; ++n) out[n] = double_to_pcm16(x[n]);
}

// The frame's speech (synth_buf + 10), postfiltered, high-passed and converted, each step on
// this instruction set; the batched decoder makes the same steps with its lanes between them.
void synthesize_frame(g729_decoder_state* st, int32_t decoded[G729_DECODED_PARAMS_SIZE],
                      int16_t samples[80]) {
    double lpc[22];
    int32_t lags[2];
    int32_t frame_type = 0;
    double* speech = st->synth_buf + 10;
    decode_frame_parameters(st, decoded, speech, lpc, lags, &frame_type);
    postfilter_frame(&st->postfilter, speech, lpc, lags, frame_type);
    post_highpass_filter(st->post_hpf_mem, speech, G729_FRAME_SIZE);
    pcm16_from_doubles(speech, samples, G729_FRAME_SIZE);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(pcm16_from_doubles);
HWY_EXPORT(synthesize_frame);

void decode_frame_samples(g729_decoder_state* st, int32_t decoded[G729_DECODED_PARAMS_SIZE],
                          int16_t samples[80]) {
    HWY_DYNAMIC_DISPATCH(synthesize_frame)(st, decoded, samples);
}

void pcm16_from_doubles(const double* x, int16_t* out, int count) {
    HWY_DYNAMIC_DISPATCH(pcm16_from_doubles)(x, out, count);
}

}  // namespace g729

int g729_decode_frame(g729_decoder_state* st, int16_t samples[80], const uint8_t* bytes,
                      int unit_length) {
    if (st == nullptr || samples == nullptr || bytes == nullptr) return G729_ERROR;
    int32_t frame_type;
    if (unit_length == G729_SPEECH_FRAME_BYTES) {
        frame_type = G729_FRAME_SPEECH;
    } else if (unit_length == G729_SID_FRAME_BYTES) {
        frame_type = G729_FRAME_SID;
    } else {
        return G729_ERROR;
    }

    g729_decoded_params decoded;
    g729_unpack_frame(decoded, bytes, frame_type);
    g729::decode_frame_samples(st, decoded, samples);
    return G729_OK;
}

int g729_decode_lost_frame(g729_decoder_state* st, int16_t samples[80]) {
    if (st == nullptr || samples == nullptr) return G729_ERROR;
    g729_decoded_params decoded;
    g729::lost_frame_params(decoded);
    g729::decode_frame_samples(st, decoded, samples);
    return G729_OK;
}

int g729_decode_untransmitted_frame(g729_decoder_state* st, int16_t samples[80]) {
    if (st == nullptr || samples == nullptr) return G729_ERROR;
    g729_decoded_params decoded;
    g729::untransmitted_frame_params(decoded);
    g729::decode_frame_samples(st, decoded, samples);
    return G729_OK;
}
#endif  // HWY_ONCE
