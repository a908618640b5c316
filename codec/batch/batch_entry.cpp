// Batched entry points: many channels' frames in one call. The frame-by-frame work is that of
// the single-channel entry points (entry_steps.h, and the steps of the encoder and decoder
// frames); between those steps, the serial filters (the fixed high-pass filters, the encoder's
// weighting, target and impulse-response filters, the decoder's speech and postfilter
// synthesis) and the searches and sums that every channel makes alike (LPC analysis, LSP
// quantizer, open-loop and closed-loop pitch, algebraic codebook, gains, the postfilter's gain
// control) run the channels side by side, one per vector lane (lane_filters.h). Every
// channel's output and state equal what the single-channel entry point gives it alone.
#include "codec/batch/lane_filters.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/frame_constants.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/entry_steps.h"
#include "codec/g729.h"

namespace g729 {
namespace {

// Channels handled per pass: bounds the work records on the stack (about 2 KB a channel).
constexpr int kGroup = 16;

// An active frame between the steps of the batched encoder.
struct EncodeWork {
    g729_encoder_state* st;
    EncoderWork frame;
    LspQuantizeWork lsp;
    double sign[G729_SUBFRAME_SIZE];  // signs of the codebook target correlation
};

// A channel's frame between the steps of the batched decoder.
struct DecodeWork {
    g729_decoder_state* st;
    int32_t erased;
    double* speech;
    double lpc[22];
    int32_t lags[2];
    int32_t frame_type;
    g729simd::SynthesisJob jobs[2];
    PostfilterWork post;
};

}  // namespace
}  // namespace g729

int g729_encode_frames(g729_encoder_state* const states[], int count,
                       const int16_t* const samples[], uint8_t* const bytes[],
                       int32_t byte_counts[]) {
    using namespace g729;
    if (count < 0 || (count > 0 && (states == nullptr || samples == nullptr || bytes == nullptr ||
                                     byte_counts == nullptr))) {
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (states[i] == nullptr || samples[i] == nullptr || bytes[i] == nullptr) return -1;
    }

    for (int first = 0; first < count; first += kGroup) {
        const int n = count - first < kGroup ? count - first : kGroup;
        double* mems[kGroup];
        double* blocks[kGroup];
        g729_params params[kGroup] = {};
        for (int k = 0; k < n; ++k) {
            g729_encoder_state* st = states[first + k];
            blocks[k] = encoder_take_samples(st, samples[first + k]);
            mems[k] = st->hpf_mem;
        }
        highpass_channels(Highpass::preprocess, mems, blocks, n, G729_FRAME_SIZE);

        // The active frames' serial filters side by side across channels, between the steps
        // of each channel's frame.
        EncodeWork work[kGroup];
        g729simd::SynthesisJob independent[4 * kGroup];
        g729simd::SynthesisJob chained[kGroup];
        int positions[kGroup][4];
        // The analysis windows' autocorrelations side by side.
        const double* windows[kGroup];
        double autocorrelations[kGroup][13];
        for (int k = 0; k < n; ++k) windows[k] = states[first + k]->speech_buf;
        autocorrelation_channels(windows, n, autocorrelations);

        // Their LPC filters (Levinson-Durbin of the lag-windowed autocorrelations) side by
        // side.
        double windowed[kGroup][13];
        double lpc_a[kGroup][11];
        double lpc_rc[kGroup][10];
        for (int k = 0; k < n; ++k) {
            autocorrelation_floor(autocorrelations[k]);
            for (int i = 0; i < 13; ++i) windowed[k][i] = autocorrelations[k][i];
            lpc_lag_window(12, windowed[k]);
        }
        levinson_channels(windowed, n, lpc_a, lpc_rc);

        int active = 0;
        for (int k = 0; k < n; ++k) {
            g729_encoder_state* st = states[first + k];
            EncodeWork& e = work[active];
            e.st = st;
            FrameLpc lpc;
            for (int i = 0; i < 11; ++i) lpc.a[i] = lpc_a[k][i];
            for (int i = 0; i < 10; ++i) lpc.rc[i] = lpc_rc[k][i];
            if (encode_frame_begin(st, params[k], st->frame_count, st->dtx_enabled, &e.frame,
                                   autocorrelations[k], &lpc)) {
                ++active;
            }
        }

        // The active frames' LSP quantizers, their searches side by side: two targets a
        // channel (the two predictor modes), the second stage on both halves.
        {
            const double* targets[2 * kGroup];
            const double* weights[2 * kGroup];
            int best[2 * kGroup];
            for (int a = 0; a < active; ++a) {
                LspQuantizeWork& q = work[a].lsp;
                lsp_quantize_targets(work[a].st->lsf_ma_memory, work[a].frame.lsp_new, &q);
                targets[2 * a] = q.target[0];
                targets[2 * a + 1] = q.target[1];
                weights[2 * a] = q.w;
                weights[2 * a + 1] = q.w;
            }
            lsp_first_stage_channels(targets, 2 * active, best);
            for (int a = 0; a < active; ++a) {
                LspQuantizeWork& q = work[a].lsp;
                q.i1[0] = best[2 * a];
                q.i1[1] = best[2 * a + 1];
                lsp_quantize_rests(&q);
                targets[2 * a] = q.rest[0];
                targets[2 * a + 1] = q.rest[1];
            }
            lsp_second_stage_channels(targets, weights, 2 * active, 0, 4, best);
            for (int a = 0; a < active; ++a) {
                work[a].lsp.i2[0] = best[2 * a];
                work[a].lsp.i2[1] = best[2 * a + 1];
            }
            lsp_second_stage_channels(targets, weights, 2 * active, 5, 9, best);
            for (int a = 0; a < active; ++a) {
                EncodeWork& e = work[a];
                e.lsp.i3[0] = best[2 * a];
                e.lsp.i3[1] = best[2 * a + 1];
                double lsp_q[10];
                int32_t index[2];
                lsp_quantize_finish(e.st->lsf_ma_memory, &e.lsp, lsp_q, index);
                g729simd::SynthesisJob jobs[5];
                encode_frame_active_begin(e.st, &e.frame, lsp_q, index, jobs);
                for (int j = 0; j < 4; ++j) independent[4 * a + j] = jobs[j];
                chained[a] = jobs[4];
            }
        }
        synthesis_channels(independent, 4 * active, G729_SUBFRAME_SIZE);
        synthesis_channels(chained, active, G729_SUBFRAME_SIZE);

        // The open-loop pitch searches' correlations side by side.
        {
            const double* wsp[kGroup];
            int lags[kGroup][3];
            double maxima[kGroup][3];
            for (int a = 0; a < active; ++a) wsp[a] = work[a].st->wsp_buf + kMaxPitchLag;
            open_loop_maxima_channels(wsp, active, lags, maxima);
            for (int a = 0; a < active; ++a) {
                work[a].frame.t_op = open_loop_choose(wsp[a], G729_FRAME_SIZE, lags[a], maxima[a]);
            }
        }

        for (int sf = 0; sf < 2; ++sf) {
            // The closed-loop pitch searches side by side; each channel's subframe step then
            // codes the lag it found.
            {
                double* exc[kGroup];
                const double* x[kGroup];
                const double* h[kGroup];
                int t0_min[kGroup];
                int t0_max[kGroup];
                int t0[kGroup];
                int frac[kGroup];
                for (int a = 0; a < active; ++a) {
                    EncoderWork& w = work[a].frame;
                    if (sf == 0) closed_loop_range(w.t_op, &w.t0_min, &w.t0_max);
                    exc[a] = work[a].st->exc_buf + kPastExcitation + G729_SUBFRAME_SIZE * sf;
                    x[a] = sf == 0 ? w.x_first : w.x;
                    h[a] = w.h_both[sf];
                    t0_min[a] = w.t0_min;
                    t0_max[a] = w.t0_max;
                }
                closed_loop_channels(exc, x, h, t0_min, t0_max, G729_SUBFRAME_SIZE * sf, active,
                                     t0, frac);
                for (int a = 0; a < active; ++a) {
                    EncoderWork& w = work[a].frame;
                    w.t0 = t0[a];
                    w.frac = frac[a];
                    w.pitch_given = true;
                }
            }
            for (int a = 0; a < active; ++a) {
                encode_subframe_search(work[a].st, &work[a].frame, sf, &chained[a]);
            }
            synthesis_channels(chained, active, G729_SUBFRAME_SIZE);
            // The pitch gains side by side.
            const double* xs[kGroup];
            const double* y1s[kGroup];
            const double* y2s[kGroup];
            double* correlations[kGroup];
            double gains[kGroup];
            for (int a = 0; a < active; ++a) {
                EncoderWork& w = work[a].frame;
                xs[a] = w.x;
                y1s[a] = w.y1;
                y2s[a] = w.y2;
                correlations[a] = w.gain_correlations;
            }
            pitch_gain_channels(xs, y1s, active, correlations, gains);
            // The algebraic codebook searches side by side.
            const double* h[kGroup];
            const double* target[kGroup];
            double* sign[kGroup];
            for (int a = 0; a < active; ++a) {
                EncoderWork& w = work[a].frame;
                w.gp = gains[a];
                w.gains_given = true;
                encode_subframe_gain(work[a].st, &w);
                fixed_codebook_sharpen_impulse(w.h_both[sf], w.t0, work[a].st->sharp);
                h[a] = w.h_both[sf];
                target[a] = w.x2;
                sign[a] = work[a].sign;
            }
            codebook_search_channels(h, target, active, positions, sign);
            for (int a = 0; a < active; ++a) {
                EncoderWork& w = work[a].frame;
                w.fcb_index = fixed_codebook_code_vectors(w.h_both[sf], w.t0, positions[a],
                                                          work[a].sign, w.code, w.y2,
                                                          &w.sign_index, work[a].st->sharp);
            }
            // The gain quantizers' correlations and codebook searches side by side.
            codebook_gain_correlations_channels(xs, y1s, y2s, active, correlations);
            {
                double g0[kGroup];
                int taming[kGroup];
                int row1[kGroup];
                int row2[kGroup];
                for (int a = 0; a < active; ++a) {
                    EncoderWork& w = work[a].frame;
                    gain_predictor_predict(work[a].st->gain_pred_mem, w.code, 40, &g0[a]);
                    taming[a] = w.taming;
                }
                gain_search_channels(correlations, g0, taming, active, row1, row2);
                for (int a = 0; a < active; ++a) {
                    EncoderWork& w = work[a].frame;
                    w.gain_rows[0] = row1[a];
                    w.gain_rows[1] = row2[a];
                    w.predicted_gain = g0[a];
                    w.gain_rows_given = true;
                }
            }
            for (int a = 0; a < active; ++a) {
                encode_subframe_finish(work[a].st, &work[a].frame, sf, &chained[a]);
            }
            if (sf == 0) synthesis_channels(chained, active, G729_SUBFRAME_SIZE);
        }

        for (int k = 0; k < n; ++k) {
            encode_frame_end(states[first + k]);
            encoder_pack(params[k], bytes[first + k], &byte_counts[first + k]);
        }
    }
    return 0;
}

int g729_decode_frames(g729_decoder_state* const states[], int count, int16_t* const samples[],
                       const uint8_t* const bytes[], const int32_t unit_lengths[],
                       int32_t results[]) {
    using namespace g729;
    if (count < 0 || (count > 0 && (states == nullptr || samples == nullptr ||
                                     unit_lengths == nullptr))) {
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (states[i] == nullptr || samples[i] == nullptr) return -1;
        const int32_t len = unit_lengths[i];
        const bool carries_bytes = len == G729_SPEECH_FRAME_BYTES || len == G729_SID_FRAME_BYTES;
        if (carries_bytes && (bytes == nullptr || bytes[i] == nullptr)) return -1;
    }

    int failed = 0;
    for (int first = 0; first < count; first += kGroup) {
        const int n = count - first < kGroup ? count - first : kGroup;
        double* mems[kGroup];
        double* speech[kGroup];
        int16_t* out[kGroup];
        DecodeWork work[kGroup];
        g729simd::SynthesisJob first_jobs[kGroup];
        g729simd::SynthesisJob second_jobs[kGroup];
        int synthesis_count = 0;
        int lanes = 0;  // the channels of this pass with a frame to decode
        for (int k = 0; k < n; ++k) {
            const int i = first + k;
            g729_decoded_params decoded;
            const int32_t len = unit_lengths[i];
            if (len == G729_SPEECH_FRAME_BYTES) {
                g729_unpack_frame(decoded, bytes[i], G729_FRAME_SPEECH);
            } else if (len == G729_SID_FRAME_BYTES) {
                g729_unpack_frame(decoded, bytes[i], G729_FRAME_SID);
            } else if (len == G729_UNIT_UNTRANSMITTED) {
                untransmitted_frame_params(decoded);
            } else if (len == G729_UNIT_LOST) {
                lost_frame_params(decoded);
            } else {
                // Like g729_decode_frame: nothing decoded or written, the state unchanged.
                if (results != nullptr) results[i] = -1;
                ++failed;
                continue;
            }
            if (results != nullptr) results[i] = 0;
            DecodeWork& w = work[lanes];
            w.st = states[i];
            w.erased = decoded[0];
            w.speech = w.st->synth_buf + 10;
            if (decode_frame_begin(w.st, decoded, w.speech, w.lpc, w.lags, &w.frame_type,
                                   w.jobs)) {
                first_jobs[synthesis_count] = w.jobs[0];
                second_jobs[synthesis_count] = w.jobs[1];
                ++synthesis_count;
            }
            mems[lanes] = w.st->post_hpf_mem;
            speech[lanes] = w.speech;
            out[lanes] = samples[i];
            ++lanes;
        }
        // The speech frames' synthesis, the channels side by side: subframe 1, then 2.
        synthesis_channels(first_jobs, synthesis_count, G729_SUBFRAME_SIZE);
        synthesis_channels(second_jobs, synthesis_count, G729_SUBFRAME_SIZE);
        // The postfilters' impulse responses (two independent filters a channel), then their
        // synthesis filters, side by side.
        g729simd::SynthesisJob impulse_jobs[2 * kGroup];
        for (int k = 0; k < lanes; ++k) {
            DecodeWork& w = work[k];
            decode_frame_end(w.st, w.erased, w.frame_type);
            postfilter_impulse_jobs(w.lpc, &w.post, impulse_jobs + 2 * k);
        }
        synthesis_channels(impulse_jobs, 2 * lanes, kPostfilterImpulseLength);
        for (int k = 0; k < lanes; ++k) {
            DecodeWork& w = work[k];
            postfilter_prepare(&w.st->postfilter, w.speech, w.lags, w.frame_type, &w.post,
                               w.jobs);
            first_jobs[k] = w.jobs[0];
            second_jobs[k] = w.jobs[1];
        }
        synthesis_channels(first_jobs, lanes, G729_SUBFRAME_SIZE);
        synthesis_channels(second_jobs, lanes, G729_SUBFRAME_SIZE);
        g729_postfilter_state* postfilters[kGroup];
        PostfilterWork* post[kGroup];
        for (int k = 0; k < lanes; ++k) {
            postfilters[k] = &work[k].st->postfilter;
            post[k] = &work[k].post;
        }
        postfilter_finish_channels(postfilters, speech, post, lanes);
        highpass_channels(Highpass::output, mems, speech, lanes, G729_FRAME_SIZE);
        for (int k = 0; k < lanes; ++k) decoder_emit(speech[k], out[k]);
    }
    return failed == 0 ? 0 : -1;
}
