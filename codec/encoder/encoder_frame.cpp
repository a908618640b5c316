// SPDX-License-Identifier: BSD-2-Clause
// Encoder frame driver: LPC analysis and quantization, perceptual weighting, open-loop and
// closed-loop pitch, algebraic codebook and gains per subframe; the inactive-frame branch
// when discontinuous transmission is on; pre-processing and taming. The frame is compiled for
// every instruction set Highway targets (simd_kernels-inl.h) and calls that instruction set's
// routines: the instruction set is chosen once per frame.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/encoder/encoder_frame.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include "codec/encoder/encoder_frame.h"

#include <algorithm>
#include <cmath>

#include "codec/common/taming.h"
#include "codec/dtx/dtx_encoder.h"
#include "codec/dtx/vad.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/frame_constants.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/lpc/primitives.h"
#include "codec/lpc/second_order_section.h"
#include "codec/simd_dispatch.h"

// What every instruction set shares, compiled once.
#ifndef G729_ENCODER_FRAME_SHARED
#define G729_ENCODER_FRAME_SHARED
namespace g729 {

namespace {

// Weighting filter of the weighted speech: ap(z) times the fixed tilt (1 - 0.7 z^-1).
inline void tilted_weighting_filter(const double ap[11], double ap1[11]) {
    ap1[0] = 1.0;
    for (int i = 1; i <= 10; ++i) ap1[i] = ap[i] - kTiltFactor * ap[i - 1];
}

// The unit impulse: the impulse response of a filter is its output for this input from zero
// memory.
constexpr double kImpulse[40] = {1.0};

}  // namespace

}  // namespace g729
#endif  // G729_ENCODER_FRAME_SHARED

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
namespace {

// An active frame is coded in steps separated by its serial filters, so that the batched
// encoder can run those filters for many channels side by side (EncoderWork carries the frame
// between the steps). The single-channel encoder runs the same steps with the filters in
// between: active_begin, the four filters of jobs[0..3] side by side, then jobs[4]; then for
// each subframe: subframe_range, the closed-loop search, subframe_lag, the filter it
// returns, the pitch gain and subframe_gain, the algebraic codebook search, the gain
// quantizer, subframe_finish (and for subframe 1 the filter it returns).
// aq: the subframes' quantized filters, lsp_interpolate_to_lpc of the previous quantized LSPs
// (st->lsp_prev_q, replaced here) and lsp_new_q.
// The frame's records: its first parameters, the DTX history, the LSPs kept for the next.
HWY_INLINE void active_records(g729_encoder_state* st, EncoderWork* w, const double lsp_new[10],
                               const double lsp_new_q[10], const int32_t lsp_index[2]) {
    int32_t* params = w->params;
    params[0] = G729_FRAME_SPEECH;
    st->vad_prev2 = st->vad_prev;
    st->vad_prev = 1;
    st->cng_seed = 11111;

    params[1] = lsp_index[0];
    params[2] = lsp_index[1];

    copy_doubles(lsp_new, st->lsp_prev, 10);
    copy_doubles(lsp_new_q, st->lsp_prev_q, 10);
}

HWY_INLINE void active_begin(g729_encoder_state* st, EncoderWork* w, const double lsp_new[10],
                             const double lsp_new_q[10], const int32_t lsp_index[2],
                             const double aq[22], g729simd::SynthesisJob jobs[5]) {
    double* s = st->speech_buf + 120;
    double* wsp = st->wsp_buf + kMaxPitchLag;
    double* e = st->exc_buf + kPastExcitation;

    active_records(st, w, lsp_new, lsp_new_q, lsp_index);
    double* ap = w->ap;
    lpc_weight(aq, 10, ap, kWeightingGamma);
    lpc_weight(aq + 11, 10, ap + 11, kWeightingGamma);

    // LPC residual of the frame, written where the excitation will be built.
    lpc_residual_filter(aq, s, e, 40);
    lpc_residual_filter(aq + 11, s + 40, e + 40, 40);

    // Four independent filters: the weighted speech of subframe 1, the target of subframe 1
    // (it needs only the residual and the weighted-error memory, both unchanged until its
    // search) and the impulse responses of both subframes' 1/ap(z). Then the weighted speech
    // of subframe 2, which continues the memory of subframe 1's.
    tilted_weighting_filter(ap, w->ap1[0]);
    tilted_weighting_filter(ap + 11, w->ap1[1]);
    for (double& m : w->zero_memory[0]) m = 0.0;
    for (double& m : w->zero_memory[1]) m = 0.0;
    jobs[0] = {w->ap1[0], e, wsp, st->mem_wsp, 1};
    jobs[1] = {ap, e, w->x, st->mem_err_w, 0};
    jobs[2] = {ap, kImpulse, w->h_both[0], w->zero_memory[0], 0};
    jobs[3] = {ap + 11, kImpulse, w->h_both[1], w->zero_memory[1], 0};
    jobs[4] = {w->ap1[1], e + 40, wsp + 40, st->mem_wsp, 1};
}

// Subframe k's closed-loop search range; the target is already in w->x (for k = 0 active_begin
// filtered it there, for k = 1 the filter subframe_finish(0) returned). For k = 0 the range
// lies around the open-loop lag; for k = 1 encode_pitch_lag set it.
HWY_INLINE void subframe_range(EncoderWork* w, int k) {
    if (k == 0) {
        closed_loop_range(w->t_op, &w->t0_min, &w->t0_max);
        w->p = 3;
    }
}

// Subframe k's closed-loop lag (w->t0, w->frac) coded; returns in y1_job the filter of the
// adaptive-codebook vector, to run before subframe_gain.
HWY_INLINE void subframe_lag(g729_encoder_state* st, EncoderWork* w, int k,
                             g729simd::SynthesisJob* y1_job) {
    double* e = st->exc_buf + kPastExcitation;
    int32_t* params = w->params;
    const int i = 40 * k;
    const int p = w->p;
    params[p] = encode_pitch_lag(w->t0, w->frac, &w->t0_min, &w->t0_max, kMinPitchLag,
                                 kMaxPitchLag, i);
    if (k == 0) {
        params[p + 1] = g729_pitch_parity(params[p]);
        w->p += 2;
    } else {
        w->p += 1;
    }
    *y1_job = {w->ap + 11 * k, e + i, w->y1, st->mem_zero, 0};
}

// Subframe k's adaptive-codebook gain gp, tamed, and the target of its algebraic codebook
// (w->x2).
// The taming decision and the adaptive-codebook gain it leaves.
HWY_INLINE void subframe_taming(g729_encoder_state* st, EncoderWork* w, double gp) {
    w->taming = taming_check(st->exc_err, w->t0, w->frac);
    if (w->taming == 1 && gp > 0.95) gp = 0.95;
    w->gp = gp;
}

HWY_INLINE void subframe_gain(g729_encoder_state* st, EncoderWork* w, double gp) {
    subframe_taming(st, w, gp);
    const double* x = w->x;
    const double* y1 = w->y1;
    for (int n = 0; n < 40; ++n) w->x2[n] = x[n] - w->gp * y1[n];
}

// Subframe k from its algebraic codebook vector (w->code, w->y2, w->fcb_index,
// w->sign_index) and quantized gains on: the parameters, the excitation and the filter
// memories. For k = 0 returns in target_job the filter of subframe 2's target, to run before
// subframe 2's pitch search.
HWY_INLINE void subframe_finish(g729_encoder_state* st, EncoderWork* w, int k,
                                int32_t gain_index, double gp, double gc,
                                g729simd::SynthesisJob* target_job) {
    double* e = st->exc_buf + kPastExcitation;
    int32_t* params = w->params;
    const int i = 40 * k;
    const double* x = w->x;
    const double* y1 = w->y1;
    const double* code = w->code;
    const double* y2 = w->y2;
    int p = w->p;

    params[p] = w->fcb_index;
    params[p + 1] = w->sign_index;
    params[p + 2] = gain_index;
    w->p = p + 3;

    st->sharp = pitch_sharpening(gp);

    for (int n = 0; n < 40; ++n) e[i + n] = gp * e[i + n] + gc * code[n];

    taming_update(st->exc_err, w->t0, gp);

    for (int j = 0; j < 10; ++j) st->mem_err_w[j] = x[30 + j] - gp * y1[30 + j] - gc * y2[30 + j];

    if (k == 0) *target_job = {w->ap + 11, e + 40, w->x, st->mem_err_w, 0};
}

HWY_INLINE void run_job(const g729simd::SynthesisJob& job) {
    lpc_synthesis_filter(job.a, job.x, job.y, 40, job.mem, job.update);
}

HWY_INLINE void encode_active_frame(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                                    const double lsp_new[10]) {
    EncoderWork w;
    w.params = params;
    g729simd::SynthesisJob jobs[5];
    double lsp_new_q[10];
    int32_t lsp_index[2];
    lsp_quantize(st->lsf_ma_memory, lsp_new, lsp_new_q, lsp_index);
    double aq[22];
    lsp_interpolate_to_lpc(st->lsp_prev_q, lsp_new_q, aq);
    active_begin(st, &w, lsp_new, lsp_new_q, lsp_index, aq, jobs);
    lpc_synthesis_filters(jobs, 4, 40);
    run_job(jobs[4]);
    w.t_op = open_loop_pitch_search(st->wsp_buf + kMaxPitchLag, 80);
    g729simd::SynthesisJob job;
    double* e = st->exc_buf + kPastExcitation;
    for (int k = 0; k < 2; ++k) {
        subframe_range(&w, k);
        w.frac = 0;
        w.t0 = closed_loop_pitch_search(e + 40 * k, w.x, w.h_both[k], 40, w.t0_min, w.t0_max,
                                        40 * k, &w.frac);
        subframe_lag(st, &w, k, &job);
        run_job(job);
        subframe_gain(st, &w, adaptive_codebook_gain(w.x, w.y1, w.gain_correlations, 40));
        w.fcb_index = fixed_codebook_search(w.x2, w.h_both[k], w.t0, w.code, w.y2,
                                            &w.sign_index, st->sharp);
        fixed_codebook_correlations(w.x, w.y1, w.y2, w.gain_correlations);
        double gp = 0.0;
        double gc = 0.0;
        const int32_t gain_index = quantize_gains(st->gain_pred_mem, w.code, w.gain_correlations,
                                                  40, &gp, &gc, w.taming);
        subframe_finish(st, &w, k, gain_index, gp, gc, &job);
        if (k == 0) run_job(job);
    }
}

HWY_INLINE void encode_inactive(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE]) {
    double* s = st->speech_buf + 120;
    double* w = st->wsp_buf + kMaxPitchLag;
    double* e = st->exc_buf + kPastExcitation;

    double ma_copy[4][10];
    lsf_ma_memory_save(st->lsf_ma_memory, ma_copy);
    double aq[22];
    encode_inactive_frame(&st->dtx, e, st->vad_prev, st->lsp_prev_q, aq, params, ma_copy,
                          &st->cng_seed, st->noise_ma_pred, st->exc_err);
    lsf_ma_memory_restore(st->lsf_ma_memory, ma_copy);

    st->vad_prev2 = st->vad_prev;
    st->vad_prev = 0;

    // Keep the weighting and target filters running on the comfort-noise excitation so that
    // the next speech frame starts from the decoder's state.
    for (int k = 0; k < 2; ++k) {
        const int i = 40 * k;
        const double* aqk = aq + 11 * k;
        double xr[40];
        lpc_residual_filter(aqk, s + i, xr, 40);
        double ap[11];
        lpc_weight(aqk, 10, ap, kWeightingGamma);
        double ap1[11];
        tilted_weighting_filter(ap, ap1);
        lpc_synthesis_filter(ap1, xr, w + i, 40, st->mem_wsp, 1);
        for (int n = 0; n < 40; ++n) xr[n] = xr[n] - e[i + n];
        lpc_synthesis_filter(ap, xr, xr, 40, st->mem_err_w, 1);
    }

    st->sharp = 0.2;
}

HWY_INLINE void highpass_impl(double hpf_mem[4], double* samples, int count) {
    second_order_section<true>(kPreprocessFilter, hpf_mem, samples, count);
}

// The frame's autocorrelation, lag-windowed copy, LPC filter and LSPs.
HWY_INLINE void frame_lpc_impl(const g729_encoder_state* st, double r[13], double r_windowed[13],
                               FrameLpc* lpc) {
    lpc_autocorrelation(st->speech_buf, 12, r);
    copy_doubles(r, r_windowed, 13);
    lpc_lag_window(12, r_windowed);
    levinson_durbin(r_windowed, lpc->a, lpc->rc);
    lpc_to_lsp(lpc->a, lpc->lsp, st->lsp_prev);
}

// With DTX, the voice decision of the frame from its autocorrelation r, the lag-windowed
// r_windowed and the LPC filter with its LSPs: true for an active frame.
HWY_INLINE bool frame_analysis(g729_encoder_state* st, int32_t frame_count, int32_t dtx_enabled,
                               const double r_raw[13], const double r[13], const FrameLpc& lpc) {
    const double* rc = lpc.rc;
    const double* lsp_new = lpc.lsp;

    int32_t voice = 1;
    if (dtx_enabled != 0) {
        double lsf_new[10];
        lsp_to_lsf(lsp_new, lsf_new, 10);
        detect_voice_activity(&st->vad, lsf_new, r, st->speech_buf, frame_count, st->vad_prev,
                              rc[1], st->vad_prev2, &voice);
        update_autocorr_history(&st->dtx, r_raw, voice);
    }
    return voice == 1;
}

// The histories move on by a frame.
HWY_INLINE void frame_end(g729_encoder_state* st) {
    copy_doubles(st->speech_buf + 80, st->speech_buf, 160);
    copy_doubles(st->wsp_buf + kFrameLength, st->wsp_buf, kMaxPitchLag);
    copy_doubles(st->exc_buf + kFrameLength, st->exc_buf, kPastExcitation);
}

HWY_INLINE void encode_impl(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                            int32_t frame_count, int32_t dtx_enabled) {
    double r[13];
    double r_windowed[13];
    FrameLpc lpc;
    frame_lpc_impl(st, r, r_windowed, &lpc);
    if (frame_analysis(st, frame_count, dtx_enabled, r, r_windowed, lpc)) {
        encode_active_frame(st, params, lpc.lsp);
    } else {
        encode_inactive(st, params);
    }
    frame_end(st);
}

// The first step for the batched encoder.
HWY_INLINE bool begin_impl(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                           int32_t frame_count, int32_t dtx_enabled, EncoderWork* w,
                           const double r[13], const double r_windowed[13], const FrameLpc& lpc) {
    w->params = params;
    if (frame_analysis(st, frame_count, dtx_enabled, r, r_windowed, lpc)) {
        copy_doubles(lpc.lsp, w->lsp_new, 10);
        return true;
    }
    encode_inactive(st, params);
    return false;
}

}  // namespace

// Scalar on every instruction set: each output needs the previous one.
void preprocess_highpass(double hpf_mem[4], double* samples, int count) {
    highpass_impl(hpf_mem, samples, count);
}

void encode_frame_parameters(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled) {
    encode_impl(st, params, frame_count, dtx_enabled);
}

bool encode_frame_begin(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                        int32_t frame_count, int32_t dtx_enabled, EncoderWork* work,
                        const double r[13], const double r_windowed[13], const FrameLpc& lpc) {
    return begin_impl(st, params, frame_count, dtx_enabled, work, r, r_windowed, lpc);
}

void encode_frame_active_begin(g729_encoder_state* st, EncoderWork* work,
                               const double lsp_new_q[10], const int32_t lsp_index[2],
                               const double aq[22], g729simd::SynthesisJob jobs[5]) {
    active_begin(st, work, work->lsp_new, lsp_new_q, lsp_index, aq, jobs);
}

void encode_frame_active_records(g729_encoder_state* st, EncoderWork* work,
                                 const double lsp_new_q[10], const int32_t lsp_index[2]) {
    active_records(st, work, work->lsp_new, lsp_new_q, lsp_index);
}

void encode_subframe_range(EncoderWork* work, int k) { subframe_range(work, k); }

void encode_subframe_lag(g729_encoder_state* st, EncoderWork* work, int k,
                         g729simd::SynthesisJob* y1_job) {
    subframe_lag(st, work, k, y1_job);
}

void encode_subframe_gain(g729_encoder_state* st, EncoderWork* work, double gp) {
    subframe_gain(st, work, gp);
}

void encode_subframe_taming(g729_encoder_state* st, EncoderWork* work, double gp) {
    subframe_taming(st, work, gp);
}

void encode_subframe_finish(g729_encoder_state* st, EncoderWork* w, int k, int32_t gain_index,
                            double gp, double gc, g729simd::SynthesisJob* target_job) {
    subframe_finish(st, w, k, gain_index, gp, gc, target_job);
}

void encode_frame_end(g729_encoder_state* st) { frame_end(st); }

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(preprocess_highpass);
HWY_EXPORT(encode_frame_parameters);
HWY_EXPORT(encode_frame_begin);
HWY_EXPORT(encode_frame_active_begin);
HWY_EXPORT(encode_frame_active_records);
HWY_EXPORT(encode_subframe_range);
HWY_EXPORT(encode_subframe_lag);
HWY_EXPORT(encode_subframe_gain);
HWY_EXPORT(encode_subframe_taming);
HWY_EXPORT(encode_subframe_finish);
HWY_EXPORT(encode_frame_end);

void preprocess_highpass(double hpf_mem[4], double* samples, int count) {
    HWY_DYNAMIC_DISPATCH(preprocess_highpass)(hpf_mem, samples, count);
}

void encode_frame_parameters(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled) {
    HWY_DYNAMIC_DISPATCH(encode_frame_parameters)(st, params, frame_count, dtx_enabled);
}

bool encode_frame_begin(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                        int32_t frame_count, int32_t dtx_enabled, EncoderWork* work,
                        const double r[13], const double r_windowed[13], const FrameLpc& lpc) {
    return HWY_DYNAMIC_DISPATCH(encode_frame_begin)(st, params, frame_count, dtx_enabled, work,
                                                    r, r_windowed, lpc);
}

void encode_frame_active_begin(g729_encoder_state* st, EncoderWork* work,
                               const double lsp_new_q[10], const int32_t lsp_index[2],
                               const double aq[22], g729simd::SynthesisJob jobs[5]) {
    HWY_DYNAMIC_DISPATCH(encode_frame_active_begin)(st, work, lsp_new_q, lsp_index, aq, jobs);
}

void encode_frame_active_records(g729_encoder_state* st, EncoderWork* work,
                                 const double lsp_new_q[10], const int32_t lsp_index[2]) {
    HWY_DYNAMIC_DISPATCH(encode_frame_active_records)(st, work, lsp_new_q, lsp_index);
}

void encode_subframe_range(EncoderWork* work, int k) {
    HWY_DYNAMIC_DISPATCH(encode_subframe_range)(work, k);
}

void encode_subframe_lag(g729_encoder_state* st, EncoderWork* work, int k,
                         g729simd::SynthesisJob* y1_job) {
    HWY_DYNAMIC_DISPATCH(encode_subframe_lag)(st, work, k, y1_job);
}

void encode_subframe_gain(g729_encoder_state* st, EncoderWork* work, double gp) {
    HWY_DYNAMIC_DISPATCH(encode_subframe_gain)(st, work, gp);
}

void encode_subframe_taming(g729_encoder_state* st, EncoderWork* work, double gp) {
    HWY_DYNAMIC_DISPATCH(encode_subframe_taming)(st, work, gp);
}

void encode_subframe_finish(g729_encoder_state* st, EncoderWork* work, int k,
                            int32_t gain_index, double gp, double gc,
                            g729simd::SynthesisJob* target_job) {
    HWY_DYNAMIC_DISPATCH(encode_subframe_finish)(st, work, k, gain_index, gp, gc, target_job);
}

void encode_frame_end(g729_encoder_state* st) { HWY_DYNAMIC_DISPATCH(encode_frame_end)(st); }

}  // namespace g729
#endif  // HWY_ONCE
