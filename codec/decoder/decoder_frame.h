// SPDX-License-Identifier: BSD-2-Clause
// Decoder frame driver: speech reconstruction, erasure concealment, inactive frames.
#pragma once

#include <cstdint>

#include "codec/g729.h"
#include "codec/simd_dispatch.h"

namespace g729 {

// Synthesizes 80 samples into speech, and reports the two LPC sets, the two integer lags
// and the frame type after erasure remapping.
void decode_frame_parameters(g729_decoder_state* state, int32_t params[G729_DECODED_PARAMS_SIZE],
                             double speech[80], double lpc[22], int32_t lags[2],
                             int32_t* frame_type);

// A speech frame's lags and sharpened code vectors of both subframes, and the code vectors'
// energies (gain_predictor_energies), which the caller sums.
struct SpeechCodes {
    double code[2][40];
    double energy[2];
    int32_t t0[2];
    int32_t frac[2];
};

// decode_frame_parameters in steps, for the batched decoder. decode_frame_begin decodes an
// inactive frame whole but for the last step's bookkeeping (false), or a speech frame's LSPs
// into lsp_new (true); for a speech frame, lpc is then lsp_interpolate_to_lpc(state->lsp_prev,
// lsp_new) (lpc_analysis.h), decode_frame_codes gives its code vectors, whose energies the
// caller then sums into codes.energy, and decode_frame_excitation does all but the speech
// synthesis: jobs holds the two synthesis filters (subframe 1, then 2: the second continues
// the first's memory) that must run before decode_frame_end. erased is element 0 of params as
// passed in.
bool decode_frame_begin(g729_decoder_state* state, int32_t params[G729_DECODED_PARAMS_SIZE],
                        double speech[80], double lpc[22], int32_t lags[2], int32_t* frame_type,
                        double lsp_new[10]);
void decode_frame_codes(g729_decoder_state* state, int32_t params[G729_DECODED_PARAMS_SIZE],
                        SpeechCodes* codes);
void decode_frame_excitation(g729_decoder_state* state,
                             const int32_t params[G729_DECODED_PARAMS_SIZE],
                             const double lsp_new[10], const SpeechCodes& codes,
                             const double lpc[22], double speech[80], int32_t lags[2],
                             g729simd::SynthesisJob jobs[2]);
// energy: the frame's excitation (state->exc_buf from the past excitation's end, 80 samples)
// squared and summed from 0.0 (squared_sums).
void decode_frame_end(g729_decoder_state* state, int32_t erased, int32_t frame_type,
                      double energy);

// A decoded frame (g729_unpack_frame's record, or a lost or untransmitted frame's) to 80
// samples: the decoder frame, the postfilter, the output high-pass and the conversion.
void decode_frame_samples(g729_decoder_state* state,
                          int32_t decoded[G729_DECODED_PARAMS_SIZE], int16_t samples[80]);

// subframe: 0 for subframe 1, 1 for subframe 2 (lag holds the subframe-1 lag on entry).
void decode_pitch_lag(int index, int lag_min, int lag_max, int subframe, int32_t* lag,
                      int32_t* frac);

// The four pulses of a subframe's indices: their positions and signs (+1.0 or -1.0).
void decode_pulses(int sign_index, int position_index, int pos[4], double sign[4]);
// The unsharpened code vector of those pulses.
void decode_fixed_codevector(int sign_index, int position_index, double code[40]);

// A subframe's pitch gain: the gain codebooks' rows of gain_index, or for an erased subframe
// the previous pitch gain attenuated (at most 0.9).
double decoded_pitch_gain(int gain_index, int erased, double previous_gain_pitch);

// A subframe's gains from its gain index and its code vector's energy
// (gain_predictor_energies), the predictor's memory moved on; decode_gains sums the energy
// itself.
void decode_gains_of_energy(double gain_pred_mem[4], int gain_index, double energy, int length,
                            int erased, double* gain_pitch, double* gain_code);
void decode_gains(double gain_pred_mem[4], int gain_index, const double code[40], int length,
                  int erased, double* gain_pitch, double* gain_code);

void gain_predictor_erasure_update(double gain_pred_mem[4]);

}  // namespace g729
