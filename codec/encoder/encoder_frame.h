// SPDX-License-Identifier: BSD-2-Clause
// Encoder frame driver: pre-processing, per-frame analysis-by-synthesis loop, taming.
#pragma once

#include <cstdint>

#include "codec/g729.h"
#include "codec/simd_dispatch.h"

namespace g729 {

// The perceptual weighting filter ap(z) = aq(z/0.75); the weighted speech's filter adds the
// tilt (1 - 0.7 z^-1).
inline constexpr double kWeightingGamma = 0.75;
inline constexpr double kTiltFactor = 0.7;

// Second-order 140 Hz high-pass filter, in place. mem: x[n-1], x[n-2], y[n-1], y[n-2].
void preprocess_highpass(double hpf_mem[4], double* samples, int count);

// Codes the frame at speech_buf[120..199] into params (element 0: frame type) and shifts
// every history of the state.
void encode_frame_parameters(g729_encoder_state* state, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled);

// encode_frame_parameters in steps, for the batched encoder, with the serial filters between
// them (each filter job is one lpc_synthesis_filter call of 40 samples):
//   encode_frame_begin, with the frame's autocorrelation r, its lag-windowed copy and their
//   LPC filter:
//     false for an inactive frame (coded already: go to encode_frame_end); true for an active
//     one, whose unquantized LSPs are then in work->lsp_new;
//   for an active frame, the LSP quantizer on work->lsp_new (lsp_quantize or its steps), then
//     encode_frame_active_begin with its result and the subframes' filters from it
//     (lsp_interpolate_to_lpc of state->lsp_prev_q and it), which returns five jobs: jobs[0..3]
//     independent, then jobs[4]; then the open-loop lag of the weighted speech
//     (wsp_buf + 143, 80 samples) into work->t_op;
//   per subframe k: encode_subframe_range(k); the closed-loop pitch search (pitch.h) into
//     work->t0 and frac, which leaves the adaptive-codebook vector in the excitation;
//     encode_subframe_lag(k), its job; the adaptive-codebook gain (adaptive_codebook_gain
//     into work->gain_correlations) for encode_subframe_gain; the algebraic codebook search
//     on work->x2 (fixed_codebook.h) into work->code, y2, fcb_index and sign_index; the gain
//     quantizer (fixed_codebook_correlations, quantize_gains) for encode_subframe_finish(k),
//     for k = 0 its job;
//   encode_frame_end.
// The work record carries the frame between the steps; params is written through it. The
// single-channel driver makes every search between the steps itself; the batched encoder
// makes them for many channels at once in vector lanes.
struct EncoderWork {
    int32_t* params;
    double lsp_new[10];       // unquantized LSPs of the frame
    double ap[22];            // weighted LPC of both subframes
    double ap1[2][11];        // the same with the tilt, for the weighted speech
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
    int32_t t_op;             // open-loop lag, set before encode_subframe_range(0)
    int32_t t0_min;
    int32_t t0_max;
    int32_t t0;
    int32_t frac;
    int p;                    // next parameter slot
};
// The frame's LPC filter and reflection coefficients (levinson_durbin of the lag-windowed
// autocorrelation) and its LSPs (lpc_to_lsp with the previous frame's as the fallback).
struct FrameLpc {
    double a[11];
    double rc[10];
    double lsp[10];
};

// r: the frame's autocorrelation (lpc_autocorrelation of speech_buf, lags 0..12);
// r_windowed: the same lag-windowed (lpc_lag_window); lpc: levinson_durbin of r_windowed and
// its LSPs.
bool encode_frame_begin(g729_encoder_state* state, int32_t params[G729_PARAMS_SIZE],
                        int32_t frame_count, int32_t dtx_enabled, EncoderWork* work,
                        const double r[13], const double r_windowed[13], const FrameLpc& lpc);
void encode_frame_active_begin(g729_encoder_state* state, EncoderWork* work,
                               const double lsp_new_q[10], const int32_t lsp_index[2],
                               const double aq[22], g729simd::SynthesisJob jobs[5]);
// encode_frame_active_begin without its filters (for a caller that makes what they make, and
// work->ap, itself: the weighted filters, the frame's residual in the excitation, the weighted
// speech and its memory, the first subframe's target and both impulse responses).
void encode_frame_active_records(g729_encoder_state* state, EncoderWork* work,
                                 const double lsp_new_q[10], const int32_t lsp_index[2]);
void encode_subframe_range(EncoderWork* work, int subframe);
void encode_subframe_lag(g729_encoder_state* state, EncoderWork* work, int subframe,
                         g729simd::SynthesisJob* y1_job);
// gp: the unquantized adaptive-codebook gain.
void encode_subframe_gain(g729_encoder_state* state, EncoderWork* work, double gp);
// encode_subframe_gain without work->x2, for a caller that makes it itself (work->x - gp y1
// with the gain it leaves in work->gp).
void encode_subframe_taming(g729_encoder_state* state, EncoderWork* work, double gp);
// gain_index, gp, gc: the gain quantizer's index and quantized gains.
void encode_subframe_finish(g729_encoder_state* state, EncoderWork* work, int subframe,
                            int32_t gain_index, double gp, double gc,
                            g729simd::SynthesisJob* target_job);
void encode_frame_end(g729_encoder_state* state);


}  // namespace g729
