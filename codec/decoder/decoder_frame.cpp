// SPDX-License-Identifier: BSD-2-Clause
// Decoder frame driver: rebuilds the excitation and synthesizes speech from the decoded
// parameters, conceals erased frames and hands inactive frames to the comfort-noise decoder.
// The frame is compiled for every instruction set Highway targets (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/decoder/decoder_frame.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include "codec/decoder/decoder_frame.h"
#include "codec/common/adaptive_codebook.h"
#include "codec/common/code_vector.h"
#include "codec/common/gain_codebook.h"

#include "codec/dtx/comfort_noise.h"
#include "codec/frame_constants.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/lpc/primitives.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/decoder_tables.h"
#include "codec/tables/gain_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
namespace {


// Largest excitation magnitude kept. Decoded speech never comes near it (the loudest ITU
// vectors peak below 2e6 while their output already saturates), but a hostile stream that
// repeats the largest pitch gain at a short lag grows the excitation by about 1.8x per frame
// and would reach infinity and then NaN, silencing the call for good. Bounding it keeps every
// memory finite and lets the decoder recover as soon as clean frames arrive.
constexpr double kExcitationLimit = 1e7;

double bound_excitation(double v) {
    if (v > kExcitationLimit) return kExcitationLimit;
    if (v < -kExcitationLimit) return -kExcitationLimit;
    return v;
}

// Positions of the decoded-parameter record.
constexpr int kErasure = 0;
constexpr int kFrameType = 1;
constexpr int kLspIndices = 2;
constexpr int kPitch1 = 4;
constexpr int kParity = 5;
constexpr int kPositions1 = 6;
constexpr int kSigns1 = 7;
constexpr int kGains1 = 8;
constexpr int kPitch2 = 9;
constexpr int kPositions2 = 10;
constexpr int kSigns2 = 11;
constexpr int kGains2 = 12;

// Reuses the last lag with fraction 0 and lets the kept lag drift up by one.
void conceal_lag(g729_decoder_state* st, int32_t* lag, int32_t* frac) {
    *lag = st->prev_t0;
    *frac = 0;
    st->prev_t0 += 1;
    if (st->prev_t0 > kMaxPitchLag) st->prev_t0 = kMaxPitchLag;
}

// A speech frame's LSPs, decoded into lsp_new; its filters are then
// lsp_interpolate_to_lpc(st->lsp_prev, lsp_new), for decode_speech_excitation.
HWY_INLINE void decode_speech_lsp(g729_decoder_state* st,
                                  const int32_t params[G729_DECODED_PARAMS_SIZE],
                                  double lsp_new[10]) {
    st->cng_seed = 11111;
    lsp_decode(&st->lsp_decoder_state, &params[kLspIndices], lsp_new, params[kErasure]);
}

// A speech frame's excitation in two steps, so that the batched decoder can sum the code
// vectors' energies for many channels side by side in between. The first: both subframes'
// lags and sharpened code vectors. Subframe 2's code vector is sharpened with the pitch gain
// subframe 1 decodes, which its gain index (or the erasure concealment) gives alone.
HWY_INLINE void decode_speech_codes(g729_decoder_state* st,
                                    int32_t params[G729_DECODED_PARAMS_SIZE],
                                    SpeechCodes* c) {
    const int32_t erased = params[kErasure];
    int32_t t0 = 0;
    int32_t frac = 0;
    double sharp = st->sharp;
    double gain_pitch = st->gain_pitch;
    for (int sf = 0; sf < 2; ++sf) {
        const int pos_slot = sf == 0 ? kPositions1 : kPositions2;
        const int sign_slot = sf == 0 ? kSigns1 : kSigns2;
        const int gain_slot = sf == 0 ? kGains1 : kGains2;

        // A parity error makes the first subframe's lag as unusable as an erasure. In the
        // second subframe t0 still holds the first one's lag, the reference of the relative
        // index.
        const bool lag_lost = erased != 0 || (sf == 0 && params[kParity] != 0);
        if (lag_lost) {
            conceal_lag(st, &t0, &frac);
        } else {
            decode_pitch_lag(params[sf == 0 ? kPitch1 : kPitch2], kMinPitchLag, kMaxPitchLag,
                             sf, &t0, &frac);
            st->prev_t0 = t0;
        }
        c->t0[sf] = t0;
        c->frac[sf] = frac;

        if (erased != 0) {
            params[pos_slot] = random_next(&st->erasure_seed) & 0x1FFF;
            params[sign_slot] = random_next(&st->erasure_seed) & 0xF;
        }

        // The pulses, sharpened with the gain left by the previous subframe.
        int pos[4];
        double sign[4];
        decode_pulses(params[sign_slot], params[pos_slot], pos, sign);
        sharpened_code_vector(pos, sign, t0, sharp, c->code[sf]);
        gain_pitch = decoded_pitch_gain(params[gain_slot], erased, gain_pitch);
        sharp = pitch_sharpening(gain_pitch);
    }
}

// The second step, once c->energy holds the code vectors' energies
// (gain_predictor_energies): the adaptive-codebook vectors, the gains and the excitation of
// both subframes; the frame's LSPs become the previous ones. The speech itself is synthesized
// afterwards (synthesize_speech_frame): nothing here reads the synthesis or its memory.
HWY_INLINE void decode_speech_excitation(g729_decoder_state* st,
                                         const int32_t params[G729_DECODED_PARAMS_SIZE],
                                         const double lsp_new[10], const SpeechCodes& c,
                                         int32_t lags[2]) {
    const int32_t erased = params[kErasure];
    double* exc = st->exc_buf + kPastExcitation;
    copy_doubles(lsp_new, st->lsp_prev, 10);

    for (int sf = 0; sf < 2; ++sf) {
        const int offset = sf * G729_SUBFRAME_SIZE;
        const int gain_slot = sf == 0 ? kGains1 : kGains2;
        lags[sf] = c.t0[sf];

        adaptive_codebook_interpolate(exc + offset, c.t0[sf], c.frac[sf], G729_SUBFRAME_SIZE);

        decode_gains_of_energy(st->gain_pred_mem, params[gain_slot], c.energy[sf],
                               G729_SUBFRAME_SIZE, erased, &st->gain_pitch, &st->gain_code);

        st->sharp = pitch_sharpening(st->gain_pitch);

        // The gains are read once: the excitation never overlaps them, and the loop over
        // independent samples can then run several at a time.
        const double gain_pitch = st->gain_pitch;
        const double gain_code = st->gain_code;
        const double* code = c.code[sf];
        for (int i = 0; i < G729_SUBFRAME_SIZE; ++i) {
            exc[offset + i] = bound_excitation(gain_pitch * exc[offset + i] + gain_code * code[i]);
        }
    }
}

// The speech of subframe sf of a speech frame from its excitation.
HWY_INLINE g729simd::SynthesisJob speech_synthesis_job(g729_decoder_state* st, const double lpc[22],
                                                       double speech[80], int sf) {
    const int offset = sf * G729_SUBFRAME_SIZE;
    return {lpc + sf * G729_LPC_SIZE, st->exc_buf + kPastExcitation + offset, speech + offset,
            st->mem_syn, 1};
}

void decode_inactive_frame(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                           double speech[80], double lpc[22], int32_t lags[2]) {
    double* exc = st->exc_buf + kPastExcitation;

    // The comfort-noise decoder works on a private copy of the LSF predictor memory.
    double ma_memory[4][10];
    lsf_ma_memory_save(st->lsp_decoder_state.lsf_ma_memory, ma_memory);
    decode_comfort_noise(&st->cng, st->prev_frame_type, &params[kFrameType], exc, st->lsp_prev,
                         lpc, st->exc_energy, &st->cng_seed, ma_memory, st->noise_ma_pred);
    lsf_ma_memory_restore(st->lsp_decoder_state.lsf_ma_memory, ma_memory);

    // The synthesis memory takes the last 10 outputs as they are (no flush).
    lpc_synthesis_filter(lpc, exc, speech, G729_SUBFRAME_SIZE, st->mem_syn, 0);
    copy_doubles(speech + 30, st->mem_syn, 10);
    lags[0] = st->prev_t0;

    lpc_synthesis_filter(lpc + G729_LPC_SIZE, exc + 40, speech + 40, G729_SUBFRAME_SIZE,
                         st->mem_syn, 0);
    copy_doubles(speech + 70, st->mem_syn, 10);
    lags[1] = st->prev_t0;

    st->sharp = 0.2;
}

// A speech frame's LSPs into lsp_new (true), or an inactive frame decoded (false).
HWY_INLINE bool decode_frame_begin_impl(g729_decoder_state* st,
                                        int32_t params[G729_DECODED_PARAMS_SIZE],
                                        double speech[80], double lpc[22], int32_t lags[2],
                                        int32_t* frame_type, double lsp_new[10]) {
    const int32_t erased = params[kErasure];
    int32_t type = params[kFrameType];
    if (erased != 0) {
        // A lost frame continues whatever the stream was doing: speech, or untransmitted noise.
        type = st->prev_frame_type == G729_FRAME_SPEECH ? G729_FRAME_SPEECH
                                                         : G729_FRAME_NO_TRANSMISSION;
        params[kFrameType] = type;
    }
    *frame_type = type;

    if (type == G729_FRAME_SPEECH) {
        decode_speech_lsp(st, params, lsp_new);
        return true;
    }
    decode_inactive_frame(st, params, speech, lpc, lags);
    return false;
}

// energy: the frame's excitation energy (squared_sums from 0.0), kept unless it was erased.
HWY_INLINE void decode_frame_end_impl(g729_decoder_state* st, int32_t erased, int32_t frame_type,
                                      double energy) {
    if (erased == 0) st->exc_energy = energy;
    st->prev_frame_type = frame_type;

    copy_doubles(st->exc_buf + G729_FRAME_SIZE, st->exc_buf, kPastExcitation);
}

}  // namespace

void decode_frame_parameters(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                             double speech[80], double lpc[22], int32_t lags[2],
                             int32_t* frame_type) {
    const int32_t erased = params[kErasure];
    double lsp_new[10];
    if (decode_frame_begin_impl(st, params, speech, lpc, lags, frame_type, lsp_new)) {
        lsp_interpolate_to_lpc(st->lsp_prev, lsp_new, lpc);
        SpeechCodes c;
        decode_speech_codes(st, params, &c);
        const double* const codes[2] = {c.code[0], c.code[1]};
        gain_predictor_energies(codes, 2, G729_SUBFRAME_SIZE, c.energy);
        decode_speech_excitation(st, params, lsp_new, c, lags);
        for (int sf = 0; sf < 2; ++sf) {
            const g729simd::SynthesisJob job = speech_synthesis_job(st, lpc, speech, sf);
            lpc_synthesis_filter(job.a, job.x, job.y, G729_SUBFRAME_SIZE, job.mem, job.update);
        }
    }
    const double* const excitation[1] = {st->exc_buf + kPastExcitation};
    double energy[1];
    squared_sums<1>(excitation, G729_FRAME_SIZE, 0.0, energy);
    decode_frame_end_impl(st, erased, *frame_type, energy[0]);
}

bool decode_frame_begin(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                        double speech[80], double lpc[22], int32_t lags[2], int32_t* frame_type,
                        double lsp_new[10]) {
    return decode_frame_begin_impl(st, params, speech, lpc, lags, frame_type, lsp_new);
}

void decode_frame_codes(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                        SpeechCodes* codes) {
    decode_speech_codes(st, params, codes);
}

void decode_frame_excitation(g729_decoder_state* st,
                             const int32_t params[G729_DECODED_PARAMS_SIZE],
                             const double lsp_new[10], const SpeechCodes& codes,
                             const double lpc[22], double speech[80], int32_t lags[2],
                             g729simd::SynthesisJob jobs[2]) {
    decode_speech_excitation(st, params, lsp_new, codes, lags);
    jobs[0] = speech_synthesis_job(st, lpc, speech, 0);
    jobs[1] = speech_synthesis_job(st, lpc, speech, 1);
}

void decode_frame_end(g729_decoder_state* st, int32_t erased, int32_t frame_type,
                      double energy) {
    decode_frame_end_impl(st, erased, frame_type, energy);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(decode_frame_parameters);
HWY_EXPORT(decode_frame_begin);
HWY_EXPORT(decode_frame_codes);
HWY_EXPORT(decode_frame_excitation);
HWY_EXPORT(decode_frame_end);

void decode_frame_parameters(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                             double speech[80], double lpc[22], int32_t lags[2],
                             int32_t* frame_type) {
    HWY_DYNAMIC_DISPATCH(decode_frame_parameters)(st, params, speech, lpc, lags, frame_type);
}

bool decode_frame_begin(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                        double speech[80], double lpc[22], int32_t lags[2], int32_t* frame_type,
                        double lsp_new[10]) {
    return HWY_DYNAMIC_DISPATCH(decode_frame_begin)(st, params, speech, lpc, lags, frame_type,
                                                    lsp_new);
}

void decode_frame_codes(g729_decoder_state* st, int32_t params[G729_DECODED_PARAMS_SIZE],
                        SpeechCodes* codes) {
    HWY_DYNAMIC_DISPATCH(decode_frame_codes)(st, params, codes);
}

void decode_frame_excitation(g729_decoder_state* st,
                             const int32_t params[G729_DECODED_PARAMS_SIZE],
                             const double lsp_new[10], const SpeechCodes& codes,
                             const double lpc[22], double speech[80], int32_t lags[2],
                             g729simd::SynthesisJob jobs[2]) {
    HWY_DYNAMIC_DISPATCH(decode_frame_excitation)(st, params, lsp_new, codes, lpc, speech, lags,
                                                  jobs);
}

void decode_frame_end(g729_decoder_state* st, int32_t erased, int32_t frame_type,
                      double energy) {
    HWY_DYNAMIC_DISPATCH(decode_frame_end)(st, erased, frame_type, energy);
}

void decode_pitch_lag(int index, int lag_min, int lag_max, int subframe, int32_t* lag,
                      int32_t* frac) {
    if (subframe == 0) {
        if (index < 197) {
            *lag = (index + 2) / 3 + 19;
            *frac = index - 3 * *lag + 58;
        } else {
            *lag = index - 112;
            *frac = 0;
        }
        return;
    }

    // Subframe 2: 10 lags around the subframe-1 lag, kept inside [lag_min, lag_max].
    int low = *lag - 5;
    if (low < lag_min) low = lag_min;
    if (low + 9 > lag_max) low = lag_max - 9;
    const int step = (index + 2) / 3 - 1;
    *lag = low + step;
    *frac = index - 2 - 3 * step;
}

void decode_pulses(int sign_index, int position_index, int pos[4], double sign[4]) {
    pos[0] = 5 * (position_index & 7);
    pos[1] = 5 * ((position_index >> 3) & 7) + 1;
    pos[2] = 5 * ((position_index >> 6) & 7) + 2;
    pos[3] = 5 * ((position_index >> 10) & 7) + 3 + ((position_index >> 9) & 1);
    for (int k = 0; k < 4; ++k) sign[k] = ((sign_index >> k) & 1) != 0 ? 1.0 : -1.0;
}

void decode_fixed_codevector(int sign_index, int position_index, double code[40]) {
    for (int i = 0; i < 40; ++i) code[i] = 0.0;
    int pos[4];
    double sign[4];
    decode_pulses(sign_index, position_index, pos, sign);
    for (int k = 0; k < 4; ++k) code[pos[k]] = sign[k];
}

double decoded_pitch_gain(int gain_index, int erased, double previous_gain_pitch) {
    if (erased != 0) {
        const double gp = 0.9 * previous_gain_pitch;
        return gp > 0.9 ? 0.9 : gp;
    }
    return pitch_gain_of_rows(gain_decode_map_1[(gain_index >> 4) & 7],
                              gain_decode_map_2[gain_index & 15]);
}

void decode_gains_of_energy(double gain_pred_mem[4], int gain_index, double energy, int length,
                            int erased, double* gain_pitch, double* gain_code) {
    if (erased != 0) {
        *gain_pitch = decoded_pitch_gain(gain_index, erased, *gain_pitch);
        *gain_code = 0.98 * *gain_code;
        gain_predictor_erasure_update(gain_pred_mem);
        return;
    }
    const double g0 = gain_predictor_gain(gain_pred_mem, energy, length);
    quantized_gains(gain_pred_mem, gain_decode_map_1[(gain_index >> 4) & 7],
                    gain_decode_map_2[gain_index & 15], g0, gain_pitch, gain_code);
}

void decode_gains(double gain_pred_mem[4], int gain_index, const double code[40], int length,
                  int erased, double* gain_pitch, double* gain_code) {
    double energy;
    gain_predictor_energies(&code, 1, length, &energy);
    decode_gains_of_energy(gain_pred_mem, gain_index, energy, length, erased, gain_pitch,
                           gain_code);
}

void gain_predictor_erasure_update(double gain_pred_mem[4]) {
    const double sum = gain_pred_mem[0] + gain_pred_mem[1] + gain_pred_mem[2] + gain_pred_mem[3];
    double value = sum * 0.25 - 4.0;
    if (value < -14.0) value = -14.0;
    gain_predictor_shift(gain_pred_mem, value);
}

}  // namespace g729
#endif  // HWY_ONCE
