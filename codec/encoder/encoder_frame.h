// SPDX-License-Identifier: BSD-2-Clause
// Encoder frame driver: pre-processing, per-frame analysis-by-synthesis loop, taming.
#pragma once

#include <cstdint>

#include "codec/g729.h"
#include "codec/simd_dispatch.h"

namespace g729 {

// Second-order 140 Hz high-pass filter, in place. mem: x[n-1], x[n-2], y[n-1], y[n-2].
void preprocess_highpass(double hpf_mem[4], double* samples, int count);

// Codes the frame at speech_buf[120..199] into params (element 0: frame type) and shifts
// every history of the state.
void encode_frame_parameters(g729_encoder_state* state, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled);

// encode_frame_parameters in steps, for the batched encoder, with the serial filters between
// them (each filter job is one lpc_synthesis_filter call of 40 samples):
//   encode_frame_begin: false for an inactive frame (coded already: go to encode_frame_end);
//     true for an active one, whose unquantized LSPs are then in work->lsp_new;
//   for an active frame, the LSP quantizer on work->lsp_new (lsp_quantize or its steps), then
//     encode_frame_active_begin with its result, which returns five jobs: jobs[0..3]
//     independent, then jobs[4]; then the open-loop lag of the weighted speech
//     (wsp_buf + 143, 80 samples) into work->t_op;
//   per subframe k: encode_subframe_search(k), its job; encode_subframe_gain; the algebraic
//     codebook search on work->x2 (fixed_codebook.h) into work->code, y2, fcb_index and
//     sign_index; encode_subframe_finish(k), for k = 0 its job;
//   encode_frame_end.
// The work record carries the frame between the steps; params is written through it.
struct EncoderWork {
    int32_t* params;
    double lsp_new[10];       // unquantized LSPs of the frame
    double ap[22];            // weighted LPC of both subframes
    double ap1[2][11];        // the same with the tilt, for the weighted speech
    double x_first[40];       // target of subframe 1
    double h_both[2][40];     // impulse responses of both subframes
    double zero_memory[2][10];
    double x[40];             // target of the current subframe
    double y1[40];            // its filtered adaptive-codebook vector
    double gain_correlations[5];
    double gp;                // adaptive-codebook gain
    int32_t taming;
    double x2[40];            // target of the algebraic codebook
    double code[40];          // algebraic codebook vector
    double y2[40];            // its filtered form
    int32_t fcb_index;
    int32_t sign_index;
    // True when t0 and frac below hold the subframe's closed-loop lag and the
    // adaptive-codebook vector is in the excitation already (the batched encoder searches many
    // channels at once); encode_subframe_search then only codes them.
    bool pitch_given;
    // True when the caller computes the gains' correlations (the batched encoder, for many
    // channels at once): gp (before taming) and gain_correlations[0..1] before
    // encode_subframe_gain, gain_correlations[2..4] before encode_subframe_finish.
    bool gains_given;
    // True when the caller searched the gain codebooks (the batched encoder): their rows and
    // the predicted code gain, before encode_subframe_finish.
    bool gain_rows_given;
    int32_t gain_rows[2];
    double predicted_gain;
    int32_t t_op;             // open-loop lag, set before encode_subframe_search(0)
    int32_t t0_min;
    int32_t t0_max;
    int32_t t0;
    int32_t frac;
    int p;                    // next parameter slot
};
// The frame's LPC filter and reflection coefficients (levinson_durbin of the lag-windowed
// autocorrelation).
struct FrameLpc {
    double a[11];
    double rc[10];
};

// r: the frame's autocorrelation (lpc_autocorrelation of speech_buf, lags 0..12) when
// computed already, or null; lpc: its FrameLpc when computed already (r given too), or null.
bool encode_frame_begin(g729_encoder_state* state, int32_t params[G729_PARAMS_SIZE],
                        int32_t frame_count, int32_t dtx_enabled, EncoderWork* work,
                        const double r[13] = nullptr, const FrameLpc* lpc = nullptr);
void encode_frame_active_begin(g729_encoder_state* state, EncoderWork* work,
                               const double lsp_new_q[10], const int32_t lsp_index[2],
                               g729simd::SynthesisJob jobs[5]);
void encode_subframe_search(g729_encoder_state* state, EncoderWork* work, int subframe,
                            g729simd::SynthesisJob* y1_job);
void encode_subframe_gain(g729_encoder_state* state, EncoderWork* work);
void encode_subframe_finish(g729_encoder_state* state, EncoderWork* work, int subframe,
                            g729simd::SynthesisJob* target_job);
void encode_frame_end(g729_encoder_state* state);

// 1 when the pitch gain must be limited to keep the excitation loop stable.
int32_t taming_check(const double exc_err[4], int t0, int frac);
void taming_update(double exc_err[4], int t0, double gain_pitch);

}  // namespace g729
