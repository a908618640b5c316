// Encoder frame driver: LPC analysis and quantization, perceptual weighting, open-loop and
// closed-loop pitch, algebraic codebook and gains per subframe; the inactive-frame branch
// when discontinuous transmission is on; pre-processing and taming.
#include "codec/encoder/encoder_frame.h"

#include <algorithm>
#include <cmath>

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

namespace g729 {

namespace {

using g729simd::Isa;

constexpr double kWeightingGamma = 0.75;
constexpr double kTiltFactor = 0.7;

// Weighting filter of the weighted speech: ap(z) times the fixed tilt (1 - 0.7 z^-1).
G729_INLINE void tilted_weighting_filter(const double ap[11], double ap1[11]) {
    ap1[0] = 1.0;
    for (int i = 1; i <= 10; ++i) ap1[i] = ap[i] - kTiltFactor * ap[i - 1];
}

int32_t truncate_toward_zero(double v) { return static_cast<int32_t>(v); }

// The unit impulse: the impulse response of a filter is its output for this input from zero
// memory.
constexpr double kImpulse[40] = {1.0};

// An active frame is coded in steps separated by its serial filters, so that the batched
// encoder can run those filters for many channels side by side (EncoderWork carries the frame
// between the steps). The single-channel encoder runs the same steps with the filters in
// between: active_begin, the four filters of jobs[0..3] side by side, then jobs[4]; then for
// each subframe: subframe_search, the filter it returns, subframe_gain, the algebraic
// codebook search, subframe_finish (and for subframe 1 the filter it returns).
template <Isa I>
G729_INLINE void active_begin(g729_encoder_state* st, EncoderWork* w, const double lsp_new[10],
                              const double lsp_new_q[10], const int32_t lsp_index[2],
                              g729simd::SynthesisJob jobs[5]) {
    int32_t* params = w->params;
    double* s = st->speech_buf + 120;
    double* wsp = st->wsp_buf + kMaxPitchLag;
    double* e = st->exc_buf + kPastExcitation;

    params[0] = G729_FRAME_SPEECH;
    st->vad_prev2 = st->vad_prev;
    st->vad_prev = 1;
    st->cng_seed = 11111;

    params[1] = lsp_index[0];
    params[2] = lsp_index[1];

    double aq[22];
    lsp_interpolate_to_lpc(st->lsp_prev_q, lsp_new_q, aq);
    double* ap = w->ap;
    lpc_weight(aq, 10, ap, kWeightingGamma);
    lpc_weight(aq + 11, 10, ap + 11, kWeightingGamma);

    g729simd::copy_doubles(I, lsp_new, st->lsp_prev, 10);
    g729simd::copy_doubles(I, lsp_new_q, st->lsp_prev_q, 10);

    // LPC residual of the frame, written where the excitation will be built.
    g729simd::lpc_residual_filter(I, aq, s, e, 40);
    g729simd::lpc_residual_filter(I, aq + 11, s + 40, e + 40, 40);

    // Four independent filters: the weighted speech of subframe 1, the target of subframe 1
    // (it needs only the residual and the weighted-error memory, both unchanged until its
    // search) and the impulse responses of both subframes' 1/ap(z). Then the weighted speech
    // of subframe 2, which continues the memory of subframe 1's.
    tilted_weighting_filter(ap, w->ap1[0]);
    tilted_weighting_filter(ap + 11, w->ap1[1]);
    for (double& m : w->zero_memory[0]) m = 0.0;
    for (double& m : w->zero_memory[1]) m = 0.0;
    jobs[0] = {w->ap1[0], e, wsp, st->mem_wsp, 1};
    jobs[1] = {ap, e, w->x_first, st->mem_err_w, 0};
    jobs[2] = {ap, kImpulse, w->h_both[0], w->zero_memory[0], 0};
    jobs[3] = {ap + 11, kImpulse, w->h_both[1], w->zero_memory[1], 0};
    jobs[4] = {w->ap1[1], e + 40, wsp + 40, st->mem_wsp, 1};
}

// Subframe k up to its adaptive-codebook contribution: the open-loop lag first (k = 0), the
// target (k = 0: the one filtered in active_begin; k = 1: the one subframe_finish(0)
// returned), the closed-loop lag; returns in y1_job the filter of the adaptive-codebook
// vector, to run before subframe_finish(k).
template <Isa I>
G729_INLINE void subframe_search(g729_encoder_state* st, EncoderWork* w, int k,
                                 g729simd::SynthesisJob* y1_job) {
    double* e = st->exc_buf + kPastExcitation;
    int32_t* params = w->params;
    if (k == 0) {
        closed_loop_range(w->t_op, &w->t0_min, &w->t0_max);
        w->p = 3;
        g729simd::copy_doubles(I, w->x_first, w->x, 40);
    }
    const int i = 40 * k;

    if (!w->pitch_given) {
        w->frac = 0;
        w->t0 = g729simd::closed_loop_pitch_search(I, e + i, w->x, w->h_both[k], 40, w->t0_min,
                                                   w->t0_max, i, &w->frac);
    }
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

// Subframe k's adaptive-codebook gain and the target of its algebraic codebook (w->x2).
template <Isa I>
G729_INLINE void subframe_gain(g729_encoder_state* st, EncoderWork* w) {
    const double* x = w->x;
    const double* y1 = w->y1;
    double gp = w->gains_given ? w->gp
                               : g729simd::adaptive_codebook_gain(I, x, y1, w->gain_correlations, 40);
    w->taming = taming_check(st->exc_err, w->t0, w->frac);
    if (w->taming == 1 && gp > 0.95) gp = 0.95;
    w->gp = gp;

    for (int n = 0; n < 40; ++n) w->x2[n] = x[n] - gp * y1[n];
}

// Subframe k from its algebraic codebook vector (w->code, w->y2, w->fcb_index,
// w->sign_index) on: gains, the excitation and the filter memories. For k = 0 returns in
// target_job the filter of subframe 2's target, to run before subframe_search(1).
template <Isa I>
G729_INLINE void subframe_finish(g729_encoder_state* st, EncoderWork* w, int k,
                                 g729simd::SynthesisJob* target_job) {
    double* e = st->exc_buf + kPastExcitation;
    int32_t* params = w->params;
    const int i = 40 * k;
    const double* x = w->x;
    const double* y1 = w->y1;
    const double* code = w->code;
    const double* y2 = w->y2;
    int p = w->p;
    double gp = w->gp;

    params[p] = w->fcb_index;
    params[p + 1] = w->sign_index;
    p += 2;

    if (!w->gains_given) g729simd::fixed_codebook_correlations(I, x, y1, y2, w->gain_correlations);
    double gc = 0.0;
    if (w->gain_rows_given) {
        params[p] = quantized_gains(st->gain_pred_mem, w->gain_rows[0], w->gain_rows[1],
                                    w->predicted_gain, &gp, &gc);
    } else {
        params[p] = g729simd::quantize_gains(I, st->gain_pred_mem, code, w->gain_correlations,
                                             40, &gp, &gc, w->taming);
    }
    p += 1;
    w->p = p;

    st->sharp = pitch_sharpening(gp);

    for (int n = 0; n < 40; ++n) e[i + n] = gp * e[i + n] + gc * code[n];

    taming_update(st->exc_err, w->t0, gp);

    for (int j = 0; j < 10; ++j) st->mem_err_w[j] = x[30 + j] - gp * y1[30 + j] - gc * y2[30 + j];

    if (k == 0) *target_job = {w->ap + 11, e + 40, w->x, st->mem_err_w, 0};
}

G729_INLINE void run_job(Isa isa, const g729simd::SynthesisJob& job) {
    g729simd::lpc_synthesis_filter(isa, job.a, job.x, job.y, 40, job.mem, job.update);
}

template <Isa I>
G729_INLINE void encode_active_frame(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                                     const double lsp_new[10]) {
    EncoderWork w;
    w.params = params;
    w.pitch_given = false;
    w.gains_given = false;
    w.gain_rows_given = false;
    g729simd::SynthesisJob jobs[5];
    double lsp_new_q[10];
    int32_t lsp_index[2];
    g729simd::lsp_quantize(I, st->lsf_ma_memory, lsp_new, lsp_new_q, lsp_index);
    active_begin<I>(st, &w, lsp_new, lsp_new_q, lsp_index, jobs);
    g729simd::lpc_synthesis_filters(I, jobs, 4, 40);
    run_job(I, jobs[4]);
    w.t_op = g729simd::open_loop_pitch_search(I, st->wsp_buf + kMaxPitchLag, 80);
    g729simd::SynthesisJob job;
    for (int k = 0; k < 2; ++k) {
        subframe_search<I>(st, &w, k, &job);
        run_job(I, job);
        subframe_gain<I>(st, &w);
        w.fcb_index = g729simd::fixed_codebook_search(I, w.x2, w.h_both[k], w.t0, w.code, w.y2,
                                                      &w.sign_index, st->sharp);
        subframe_finish<I>(st, &w, k, &job);
        if (k == 0) run_job(I, job);
    }
}

template <Isa I>
G729_INLINE void encode_inactive(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE]) {
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
        g729simd::lpc_residual_filter(I, aqk, s + i, xr, 40);
        double ap[11];
        lpc_weight(aqk, 10, ap, kWeightingGamma);
        double ap1[11];
        tilted_weighting_filter(ap, ap1);
        g729simd::lpc_synthesis_filter(I, ap1, xr, w + i, 40, st->mem_wsp, 1);
        for (int n = 0; n < 40; ++n) xr[n] = xr[n] - e[i + n];
        g729simd::lpc_synthesis_filter(I, ap, xr, xr, 40, st->mem_err_w, 1);
    }

    st->sharp = 0.2;
}

}  // namespace

void preprocess_highpass(double hpf_mem[4], double* samples, int count) {
    g729simd::preprocess_highpass(g729simd::best_isa(), hpf_mem, samples, count);
}

namespace {

G729_INLINE void highpass_impl(double hpf_mem[4], double* samples, int count) {
    second_order_section<true>(kPreprocessFilter, hpf_mem, samples, count);
}

void highpass_baseline(double hpf_mem[4], double* samples, int count) {
    highpass_impl(hpf_mem, samples, count);
}

// Scalar; the AVX encoding only saves register copies.
G729_TARGET_AVX2 void highpass_avx2(double hpf_mem[4], double* samples, int count) {
    highpass_impl(hpf_mem, samples, count);
}

}  // namespace

void g729simd::preprocess_highpass(Isa isa, double hpf_mem[4], double* samples, int count) {
    if (isa == Isa::avx2) {
        highpass_avx2(hpf_mem, samples, count);
    } else {
        highpass_baseline(hpf_mem, samples, count);
    }
}

namespace {

// LPC analysis and, with DTX, the voice decision of the frame: true for an active frame.
// r_given: the frame's autocorrelation computed already (batched encoder), or null.
template <Isa I>
G729_INLINE bool frame_analysis(g729_encoder_state* st, int32_t frame_count, int32_t dtx_enabled,
                                double lsp_new[10], const double* r_given = nullptr,
                                const FrameLpc* lpc_given = nullptr) {
    double r[13];
    if (r_given != nullptr) {
        for (int k = 0; k <= 12; ++k) r[k] = r_given[k];
    } else {
        g729simd::lpc_autocorrelation(I, st->speech_buf, 12, r);
    }
    double r_raw[11];
    g729simd::copy_doubles(I, r, r_raw, 11);
    lpc_lag_window(12, r);
    FrameLpc lpc;
    if (lpc_given != nullptr) {
        lpc = *lpc_given;
    } else {
        levinson_durbin(r, lpc.a, lpc.rc);
    }
    const double* rc = lpc.rc;
    g729simd::lpc_to_lsp(I, lpc.a, lsp_new, st->lsp_prev);

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
template <Isa I>
G729_INLINE void frame_end(g729_encoder_state* st) {
    g729simd::copy_doubles(I, st->speech_buf + 80, st->speech_buf, 160);
    g729simd::copy_doubles(I, st->wsp_buf + kFrameLength, st->wsp_buf, kMaxPitchLag);
    g729simd::copy_doubles(I, st->exc_buf + kFrameLength, st->exc_buf, kPastExcitation);
}

template <Isa I>
G729_INLINE void encode_impl(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled) {
    double lsp_new[10];
    if (frame_analysis<I>(st, frame_count, dtx_enabled, lsp_new)) {
        encode_active_frame<I>(st, params, lsp_new);
    } else {
        encode_inactive<I>(st, params);
    }
    frame_end<I>(st);
}

void encode_baseline(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                     int32_t frame_count, int32_t dtx_enabled) {
    encode_impl<Isa::baseline>(st, params, frame_count, dtx_enabled);
}

G729_TARGET_AVX2 void encode_avx2(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                                  int32_t frame_count, int32_t dtx_enabled) {
    encode_impl<Isa::avx2>(st, params, frame_count, dtx_enabled);
}

// The steps for the batched encoder, in both builds.
template <Isa I>
G729_INLINE bool begin_impl(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                            int32_t frame_count, int32_t dtx_enabled, EncoderWork* w,
                            const double r[13], const FrameLpc* lpc) {
    w->params = params;
    w->pitch_given = false;
    w->gains_given = false;
    w->gain_rows_given = false;
    if (frame_analysis<I>(st, frame_count, dtx_enabled, w->lsp_new, r, lpc)) return true;
    encode_inactive<I>(st, params);
    return false;
}

bool begin_baseline(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                    int32_t frame_count, int32_t dtx_enabled, EncoderWork* w,
                    const double r[13], const FrameLpc* lpc) {
    return begin_impl<Isa::baseline>(st, params, frame_count, dtx_enabled, w, r, lpc);
}

G729_TARGET_AVX2 bool begin_avx2(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                                 int32_t frame_count, int32_t dtx_enabled, EncoderWork* w,
                                 const double r[13], const FrameLpc* lpc) {
    return begin_impl<Isa::avx2>(st, params, frame_count, dtx_enabled, w, r, lpc);
}

void active_baseline(g729_encoder_state* st, EncoderWork* w, const double lsp_q[10],
                     const int32_t index[2], g729simd::SynthesisJob jobs[5]) {
    active_begin<Isa::baseline>(st, w, w->lsp_new, lsp_q, index, jobs);
}

G729_TARGET_AVX2 void active_avx2(g729_encoder_state* st, EncoderWork* w, const double lsp_q[10],
                                  const int32_t index[2], g729simd::SynthesisJob jobs[5]) {
    active_begin<Isa::avx2>(st, w, w->lsp_new, lsp_q, index, jobs);
}

void search_baseline(g729_encoder_state* st, EncoderWork* w, int k, g729simd::SynthesisJob* j) {
    subframe_search<Isa::baseline>(st, w, k, j);
}

G729_TARGET_AVX2 void search_avx2(g729_encoder_state* st, EncoderWork* w, int k,
                                  g729simd::SynthesisJob* j) {
    subframe_search<Isa::avx2>(st, w, k, j);
}

void gain_baseline(g729_encoder_state* st, EncoderWork* w) { subframe_gain<Isa::baseline>(st, w); }

G729_TARGET_AVX2 void gain_avx2(g729_encoder_state* st, EncoderWork* w) {
    subframe_gain<Isa::avx2>(st, w);
}

void finish_baseline(g729_encoder_state* st, EncoderWork* w, int k, g729simd::SynthesisJob* j) {
    subframe_finish<Isa::baseline>(st, w, k, j);
}

G729_TARGET_AVX2 void finish_avx2(g729_encoder_state* st, EncoderWork* w, int k,
                                  g729simd::SynthesisJob* j) {
    subframe_finish<Isa::avx2>(st, w, k, j);
}

void end_baseline(g729_encoder_state* st) { frame_end<Isa::baseline>(st); }

G729_TARGET_AVX2 void end_avx2(g729_encoder_state* st) { frame_end<Isa::avx2>(st); }

}  // namespace

bool encode_frame_begin(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                        int32_t frame_count, int32_t dtx_enabled, EncoderWork* work,
                        const double r[13], const FrameLpc* lpc) {
    return g729simd::best_isa() == Isa::avx2
               ? begin_avx2(st, params, frame_count, dtx_enabled, work, r, lpc)
               : begin_baseline(st, params, frame_count, dtx_enabled, work, r, lpc);
}

void encode_frame_active_begin(g729_encoder_state* st, EncoderWork* work,
                               const double lsp_new_q[10], const int32_t lsp_index[2],
                               g729simd::SynthesisJob jobs[5]) {
    if (g729simd::best_isa() == Isa::avx2) {
        active_avx2(st, work, lsp_new_q, lsp_index, jobs);
    } else {
        active_baseline(st, work, lsp_new_q, lsp_index, jobs);
    }
}

void encode_subframe_search(g729_encoder_state* st, EncoderWork* work, int k,
                            g729simd::SynthesisJob* y1_job) {
    if (g729simd::best_isa() == Isa::avx2) {
        search_avx2(st, work, k, y1_job);
    } else {
        search_baseline(st, work, k, y1_job);
    }
}

void encode_subframe_gain(g729_encoder_state* st, EncoderWork* work) {
    if (g729simd::best_isa() == Isa::avx2) {
        gain_avx2(st, work);
    } else {
        gain_baseline(st, work);
    }
}

void encode_subframe_finish(g729_encoder_state* st, EncoderWork* work, int k,
                            g729simd::SynthesisJob* target_job) {
    if (g729simd::best_isa() == Isa::avx2) {
        finish_avx2(st, work, k, target_job);
    } else {
        finish_baseline(st, work, k, target_job);
    }
}

void encode_frame_end(g729_encoder_state* st) {
    if (g729simd::best_isa() == Isa::avx2) {
        end_avx2(st);
    } else {
        end_baseline(st);
    }
}

void g729simd::encode_frame_parameters(Isa isa, g729_encoder_state* st,
                                       int32_t params[G729_PARAMS_SIZE], int32_t frame_count,
                                       int32_t dtx_enabled) {
    if (isa == Isa::avx2) {
        encode_avx2(st, params, frame_count, dtx_enabled);
    } else {
        encode_baseline(st, params, frame_count, dtx_enabled);
    }
}

void encode_frame_parameters(g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled) {
    g729simd::encode_frame_parameters(g729simd::best_isa(), st, params, frame_count,
                                      dtx_enabled);
}

int32_t taming_check(const double exc_err[4], int t0, int frac) {
    const int t1 = (frac > 0) ? t0 + 1 : t0;
    const int32_t zone1 = truncate_toward_zero(static_cast<double>(std::max(t1 - 50, 0)) * 0.025);
    const int32_t zone2 = truncate_toward_zero(static_cast<double>(t1 + 8) * 0.025);
    if (zone1 > zone2) return 0;
    double worst = -1.0;
    for (int32_t i = zone2; i >= zone1; --i) worst = std::max(worst, exc_err[i]);
    return worst > 60000.0 ? 1 : 0;
}

void taming_update(double exc_err[4], int t0, double gain_pitch) {
    double worst;
    if (t0 < 40) {
        const double c1 = exc_err[0] * gain_pitch + 1.0;
        worst = std::max(c1 * gain_pitch + 1.0, std::max(c1, -1.0));
    } else {
        const int32_t zone1 = truncate_toward_zero(static_cast<double>(t0 - 40) * 0.025);
        const int32_t zone2 = truncate_toward_zero(static_cast<double>(t0 - 1) * 0.025);
        worst = -1.0;
        for (int32_t j = zone1; j <= zone2; ++j)
            worst = std::max(exc_err[j] * gain_pitch + 1.0, worst);
    }
    exc_err[3] = exc_err[2];
    exc_err[2] = exc_err[1];
    exc_err[1] = exc_err[0];
    exc_err[0] = worst;
}

}  // namespace g729
