// SPDX-License-Identifier: BSD-2-Clause
// Batched entry points: many channels' frames in one call. The frame-by-frame work is that of
// the single-channel entry points (entry_steps.h, and the steps of the encoder and decoder
// frames); between those steps, the serial filters (the fixed high-pass filters, the encoder's
// weighting, target and impulse-response filters, the decoder's speech and postfilter
// synthesis) and the searches and sums that every channel makes alike (LPC analysis, LSP
// quantizer, open-loop and closed-loop pitch, algebraic codebook, gains, the postfilter's gain
// control) run the channels side by side, one per vector lane (lane_*.h). Every
// channel's output and state equal what the single-channel entry point gives it alone.
//
// Stack: a pass's work records (about 3.7 KB a channel for the encoder, 3.2 KB for the decoder)
// and the codebook search's scratch (6.5 KB a vector lane) lie in a workspace: the caller's
// (the _ws calls: 32 channels a pass, the widest vectors; the encoder's also holds the area
// where a subframe's vectors stay in lanes, 1.1 KB a channel, the decoder's the frames it keeps
// in lanes from the synthesis to the output, 57 KB), or one on the stack (the plain
// calls: 4 channels a pass with vectors of at most 2 lanes for the encoder, 8 channels for
// the decoder, whose steps then move the frames through the channels' records). Where the
// processor has wider vectors, the plain encoder codes its channels one at a time instead
// (encode_each).
#include <cstddef>
#include <cstdint>
#include <new>

#include <hwy/base.h>

#include "codec/batch/lane_fixed_codebook.h"
#include "codec/batch/lane_gain_quantizer.h"
#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_lpc_analysis.h"
#include "codec/batch/lane_lsp_quantizer.h"
#include "codec/batch/lane_pitch.h"
#include "codec/batch/lane_postfilter.h"
#include "codec/batch/lane_primitives.h"
#include "codec/batch/lane_weighting.h"
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

// Channels per pass of the calls with the caller's workspace: enough for four full 8-lane
// vectors, so that the serial filters' chains (ten dependent subtractions an output) overlap
// on the widest vectors.
constexpr int kWorkspaceGroup = 32;
// The widest vectors the lane kernels use (8 doubles: AVX-512).
constexpr int kWidestLanes = 8;
// The plain calls: channels per pass, and the encoder's vectors at most two lanes wide, so
// that its work records, the codebook scratch and the kernels' arrays stay small.
constexpr int kPlainEncodeGroup = 4;
constexpr int kPlainEncodeLanes = 2;
constexpr int kPlainDecodeGroup = 8;

// Requests the cache lines of bytes at p: the frames' ends move each channel's histories,
// whose lines have left the nearest cache since the channel's steps, while the previous
// channel's are moved.
inline void prefetch_lines(const void* p, std::size_t bytes) {
    const char* c = static_cast<const char*>(p);
    for (std::size_t b = 0; b < bytes; b += 64) __builtin_prefetch(c + b);
    __builtin_prefetch(c + bytes - 1);
}

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
    double lsp[10];  // a speech frame's decoded LSPs
    g729_decoded_params params;
    bool speech_frame;
    int32_t lags[2];
    int32_t frame_type;
    SpeechCodes codes;
    g729simd::SynthesisJob jobs[2];
    PostfilterWork post;
};

// Where the vectors of each active channel of a pass are, as the lane kernels take them: set
// once a pass (bind_channel_vectors), since the work records stay in place during it. Only the
// first `active` entries are set and read.
template <int G>
struct ChannelVectors {
    const double* lsp_targets[2 * G];  // both predictor modes' targets, then their rests
    const double* lsp_rests[2 * G];
    const double* lsp_weights[2 * G];
    const double* wsp[G];              // the frame's weighted speech
    double* exc[2][G];                 // each subframe's excitation
    const double* h[2][G];             // each subframe's impulse response
    const double* x[G];                // the adaptive-codebook target
    const double* x2[G];               // the fixed-codebook target
    const double* y1[G];               // the filtered adaptive and fixed codebook vectors
    const double* y2[G];
    double* correlations[G];           // the gain quantizer's correlations
    double* sign[G];                   // the codebook target correlation's signs
};

// The records of an encoder pass of up to G channels.
template <int G>
struct EncodePass {
    g729_params params[G];
    EncodeWork work[G];
    ChannelVectors<G> v;
    int positions[G][4];
    double pitch_gains[G];
    double autocorrelations[G][13];
    double windowed[G][13];
    double lpc_a[G][11];
    double lpc_rc[G][10];
    double lsp[G][10];
    double lsf_q[G][10];  // the active frames' quantized LSFs and LSPs, their indices, filters
    double lsp_q[G][10];
    int32_t lsp_index[G][2];
    double aq[G][22];
};

// A pass, the codebook search's scratch for vectors of up to Lanes lanes, and the area where
// a subframe's vectors stay in lanes from one kernel to the next.
template <int G, int Lanes>
struct EncodeSpace {
    alignas(64) double codebook[kCodebookSearchScratch * Lanes];
    alignas(64) double subframe[subframe_lanes_size(G)];
    EncodePass<G> pass;
};
using EncodeWorkspace = EncodeSpace<kWorkspaceGroup, kWidestLanes>;
// The weighting filters use the codebook search's scratch before the search.
static_assert(kEncoderFiltersScratch <= kCodebookSearchScratch);

template <int G>
struct DecodePass {
    DecodeWork work[G];
    g729simd::SynthesisJob first_jobs[G];
    g729simd::SynthesisJob second_jobs[G];
    g729simd::SynthesisJob impulse_jobs[2 * G];
};
// The workspace's decoder pass, and the scratch where it keeps the frames in lanes from their
// synthesis to the output.
struct DecodeWorkspace {
    DecodePass<kWorkspaceGroup> pass;
    alignas(64) double output_scratch[kDecoderOutputScratch];
};

// Bytes a workspace needs: the record, and room to align its start to 64 bytes.
template <class Space>
constexpr size_t workspace_bytes() {
    return sizeof(Space) + 63;
}

// The workspace record at the first 64-byte boundary of the caller's memory, or null when
// the memory is missing or too small.
template <class Space>
Space* place_workspace(void* memory, size_t size) {
    if (memory == nullptr || size < workspace_bytes<Space>()) return nullptr;
    const uintptr_t at = (reinterpret_cast<uintptr_t>(memory) + 63) & ~static_cast<uintptr_t>(63);
    return new (reinterpret_cast<void*>(at)) Space;  // trivial: nothing is initialised
}

bool encode_arguments_ok(g729_encoder_state* const states[], int count,
                         const int16_t* const samples[], uint8_t* const bytes[],
                         int32_t byte_counts[]) {
    if (count < 0) return false;
    if (count == 0) return true;
    if (states == nullptr || samples == nullptr || bytes == nullptr || byte_counts == nullptr) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (states[i] == nullptr || samples[i] == nullptr || bytes[i] == nullptr) return false;
    }
    return true;
}

bool decode_arguments_ok(g729_decoder_state* const states[], int count,
                         int16_t* const samples[], const uint8_t* const bytes[],
                         const int32_t unit_lengths[]) {
    if (count < 0) return false;
    if (count == 0) return true;
    if (states == nullptr || samples == nullptr || unit_lengths == nullptr) return false;
    for (int i = 0; i < count; ++i) {
        if (states[i] == nullptr || samples[i] == nullptr) return false;
        const int32_t len = unit_lengths[i];
        const bool carries_bytes = len == G729_SPEECH_FRAME_BYTES || len == G729_SID_FRAME_BYTES;
        if (carries_bytes && (bytes == nullptr || bytes[i] == nullptr)) return false;
    }
    return true;
}

// The steps of a frame of n (1..G) channels, each for every channel side by side.
// kernels: the lane kernels' instruction set (lane_kernels); codebook: the codebook search's
// scratch for their lanes.

// The pre-processing high-pass and the LPC analysis, then each channel's frame begun; the
// active frames come first in p.work. Returns their number.
template <int G>
int encode_analysis(EncodePass<G>& p, int kernels, g729_encoder_state* const states[], int n,
                    const int16_t* const samples[]) {
    double* mems[G];
    double* blocks[G];
    for (int k = 0; k < n; ++k) {
        g729_encoder_state* st = states[k];
        for (int32_t& v : p.params[k]) v = 0;
        blocks[k] = encoder_take_samples(st, samples[k]);
        mems[k] = st->hpf_mem;
    }
    highpass_channels(Highpass::preprocess, mems, blocks, n, G729_FRAME_SIZE, kernels);

    EncodeWork* work = p.work;
    // The analysis windows' autocorrelations side by side.
    const double* windows[G];
    for (int k = 0; k < n; ++k) windows[k] = states[k]->speech_buf;
    autocorrelation_channels(windows, n, p.autocorrelations, kernels);

    // Their LPC filters (Levinson-Durbin of the lag-windowed autocorrelations) side by
    // side.
    for (int k = 0; k < n; ++k) {
        autocorrelation_floor(p.autocorrelations[k]);
        for (int i = 0; i < 13; ++i) p.windowed[k][i] = p.autocorrelations[k][i];
        lpc_lag_window(12, p.windowed[k]);
    }
    levinson_channels(p.windowed, n, p.lpc_a, p.lpc_rc, kernels);
    // Their LSPs (the root search) side by side.
    const double* old_lsp[G];
    for (int k = 0; k < n; ++k) old_lsp[k] = states[k]->lsp_prev;
    lsp_channels(p.lpc_a, old_lsp, n, p.lsp, kernels);

    int active = 0;
    for (int k = 0; k < n; ++k) {
        g729_encoder_state* st = states[k];
        EncodeWork& e = work[active];
        e.st = st;
        FrameLpc lpc;
        for (int i = 0; i < 11; ++i) lpc.a[i] = p.lpc_a[k][i];
        for (int i = 0; i < 10; ++i) lpc.rc[i] = p.lpc_rc[k][i];
        for (int i = 0; i < 10; ++i) lpc.lsp[i] = p.lsp[k][i];
        if (encode_frame_begin(st, p.params[k], st->frame_count, st->dtx_enabled, &e.frame,
                               p.autocorrelations[k], p.windowed[k], lpc)) {
            ++active;
        }
    }
    return active;
}

template <int G>
void bind_channel_vectors(EncodePass<G>& p, int active) {
    ChannelVectors<G>& v = p.v;
    for (int a = 0; a < active; ++a) {
        EncodeWork& e = p.work[a];
        EncoderWork& w = e.frame;
        for (int m = 0; m < 2; ++m) {
            v.lsp_targets[2 * a + m] = e.lsp.target[m];
            v.lsp_rests[2 * a + m] = e.lsp.rest[m];
            v.lsp_weights[2 * a + m] = e.lsp.w;
        }
        v.wsp[a] = e.st->wsp_buf + kMaxPitchLag;
        for (int sf = 0; sf < 2; ++sf) {
            v.exc[sf][a] = e.st->exc_buf + kPastExcitation + G729_SUBFRAME_SIZE * sf;
            v.h[sf][a] = w.h_both[sf];
        }
        v.x[a] = w.x;
        v.x2[a] = w.x2;
        v.y1[a] = w.y1;
        v.y2[a] = w.y2;
        v.correlations[a] = w.gain_correlations;
        v.sign[a] = e.sign;
    }
}

// The active frames' LSP quantizers, then their weighting, target and impulse-response
// filters (scratch: the codebook search's, free until its search; lanes: the subframe's area,
// where the first subframe's targets stay).
template <int G>
void encode_lsp(EncodePass<G>& p, double* scratch, double* lanes, int kernels, int active) {
    EncodeWork* work = p.work;
    // The active frames' LSP quantizers, their searches side by side: two targets a
    // channel (the two predictor modes), the second stage on both halves.
    {
        const ChannelVectors<G>& v = p.v;
        int best[2 * G];
        for (int a = 0; a < active; ++a) {
            lsp_quantize_targets(work[a].st->lsf_ma_memory, work[a].frame.lsp_new, &work[a].lsp);
        }
        lsp_first_stage_channels(v.lsp_targets, 2 * active, best, kernels);
        for (int a = 0; a < active; ++a) {
            LspQuantizeWork& q = work[a].lsp;
            q.i1[0] = best[2 * a];
            q.i1[1] = best[2 * a + 1];
            lsp_quantize_rests(&q);
        }
        lsp_second_stage_channels(v.lsp_rests, v.lsp_weights, 2 * active, 0, 4, best, kernels);
        for (int a = 0; a < active; ++a) {
            work[a].lsp.i2[0] = best[2 * a];
            work[a].lsp.i2[1] = best[2 * a + 1];
        }
        lsp_second_stage_channels(v.lsp_rests, v.lsp_weights, 2 * active, 5, 9, best, kernels);
        // The choices of both modes weighed and the better one reconstructed side by side.
        double (*memories[G])[10];
        const LspQuantizeWork* quantizers[G];
        for (int a = 0; a < active; ++a) {
            EncodeWork& e = work[a];
            e.lsp.i3[0] = best[2 * a];
            e.lsp.i3[1] = best[2 * a + 1];
            memories[a] = e.st->lsf_ma_memory;
            quantizers[a] = &e.lsp;
        }
        lsp_finish_channels(memories, quantizers, active, p.lsf_q, p.lsp_index, kernels);
        const double* old_q[G];
        const double* new_q[G];
        double* aq[G];
        for (int a = 0; a < active; ++a) {
            EncodeWork& e = work[a];
            lsf_to_lsp(p.lsf_q[a], p.lsp_q[a], 10);
            old_q[a] = e.st->lsp_prev_q;
            new_q[a] = p.lsp_q[a];
            aq[a] = p.aq[a];
        }
        // The subframes' quantized filters side by side.
        lsp_interpolate_channels(old_q, new_q, active, aq, kernels);
        for (int a = 0; a < active; ++a) {
            EncodeWork& e = work[a];
            encode_frame_active_records(e.st, &e.frame, p.lsp_q[a], p.lsp_index[a]);
        }
    }
    // The frames' weighting filters, residuals, weighted speech, targets and impulse
    // responses, side by side.
    const double* aq[G];
    const double* speech[G];
    double* excitation[G];
    double* wsp[G];
    double* wsp_memory[G];
    const double* error_memory[G];
    double* ap[G];
    double* target[G];
    double* impulse[2][G];
    for (int a = 0; a < active; ++a) {
        EncodeWork& e = work[a];
        aq[a] = p.aq[a];
        speech[a] = e.st->speech_buf + 120;
        excitation[a] = e.st->exc_buf + kPastExcitation;
        wsp[a] = e.st->wsp_buf + kMaxPitchLag;
        wsp_memory[a] = e.st->mem_wsp;
        error_memory[a] = e.st->mem_err_w;
        ap[a] = e.frame.ap;
        target[a] = e.frame.x;
        impulse[0][a] = e.frame.h_both[0];
        impulse[1][a] = e.frame.h_both[1];
    }
    const EncoderFilters filters{aq,     speech, excitation, wsp, wsp_memory, error_memory, ap,
                                 target, {impulse[0], impulse[1]},          lanes};
    encoder_filters_channels(filters, active, scratch, kernels);
}

// The active frames' open-loop lags.
template <int G>
void encode_open_loop(EncodePass<G>& p, int kernels, int active) {
    EncodeWork* work = p.work;
    // The open-loop pitch searches side by side: the correlations, then the choice of lag.
    const double* const* wsp = p.v.wsp;
    int lags[G][3];
    double maxima[G][3];
    open_loop_maxima_channels(wsp, active, lags, maxima, kernels);
    int chosen[G];
    open_loop_choose_channels(wsp, active, lags, maxima, chosen, kernels);
    for (int a = 0; a < active; ++a) work[a].frame.t_op = chosen[a];
}

// Subframe sf's closed-loop pitch searches, the adaptive-codebook vectors filtered and their
// gains, side by side (the targets and filtered vectors left in the subframe's area, lanes);
// then the lags coded.
template <int G>
void encode_pitch(EncodePass<G>& p, double* lanes, int kernels, int active, int sf) {
    EncodeWork* work = p.work;
    // Zeroed: only the first `active` are read, which the compiler cannot tell.
    int t0_min[G] = {};
    int t0_max[G] = {};
    int t0[G];
    int frac[G];
    const double* ap[G];
    double* y1[G];
    // The second subframe's target is filtered with its search, from the residual there and
    // the weighted error's memory the first left.
    const double* residual[G];
    const double* error_memory[G];
    double* target[G];
    for (int a = 0; a < active; ++a) {
        EncoderWork& w = work[a].frame;
        encode_subframe_range(&w, sf);
        t0_min[a] = w.t0_min;
        t0_max[a] = w.t0_max;
        ap[a] = w.ap + G729_LPC_SIZE * sf;
        y1[a] = w.y1;
        residual[a] = p.v.exc[sf][a];
        error_memory[a] = work[a].st->mem_err_w;
        target[a] = w.x;
    }
    const bool targets = sf == 1;
    const PitchChannels pitch{p.v.exc[sf], p.v.x,    p.v.h[sf],         t0_min,
                              t0_max,      G729_SUBFRAME_SIZE * sf,      ap,
                              y1,          p.v.correlations, p.pitch_gains, t0,
                              frac,        targets ? residual : nullptr,
                              targets ? error_memory : nullptr, targets ? target : nullptr,
                              !targets};
    pitch_channels(pitch, active, lanes, kernels);
    for (int a = 0; a < active; ++a) {
        EncoderWork& w = work[a].frame;
        w.t0 = t0[a];
        w.frac = frac[a];
        g729simd::SynthesisJob y1_job;  // made by pitch_channels
        encode_subframe_lag(work[a].st, &w, sf, &y1_job);
    }
}

// Subframe sf's adaptive-codebook gains and algebraic codebook searches (their targets made
// in the subframe's area, lanes).
template <int G>
void encode_codebook(EncodePass<G>& p, double* codebook, double* lanes, int kernels, int active,
                     int sf) {
    EncodeWork* work = p.work;
    const ChannelVectors<G>& v = p.v;
    // The algebraic codebook searches side by side, after the pitch gains (encode_pitch).
    double gains[G];
    for (int a = 0; a < active; ++a) {
        EncoderWork& w = work[a].frame;
        encode_subframe_taming(work[a].st, &w, p.pitch_gains[a]);
        gains[a] = w.gp;
        fixed_codebook_sharpen_impulse(w.h_both[sf], w.t0, work[a].st->sharp);
    }
    codebook_targets_channels(gains, active, lanes, kernels);
    codebook_search_channels(v.h[sf], v.x2, active, p.positions, v.sign, codebook, kernels,
                             lanes);
    for (int a = 0; a < active; ++a) {
        EncoderWork& w = work[a].frame;
        w.fcb_index = fixed_codebook_code_vectors(w.h_both[sf], w.t0, p.positions[a],
                                                  work[a].sign, w.code, w.y2,
                                                  &w.sign_index, work[a].st->sharp);
    }
}

// Subframe sf's gain quantizers (the targets and filtered vectors taken from the subframe's
// area, lanes) and the rest of the subframe.
template <int G>
void encode_gains(EncodePass<G>& p, const double* lanes, int kernels, int active, int sf) {
    EncodeWork* work = p.work;
    const ChannelVectors<G>& v = p.v;
    // The gain quantizers' correlations and codebook searches side by side.
    codebook_gain_correlations_channels(v.x, v.y1, v.y2, active, v.correlations, kernels, lanes);
    {
        double g0[G];
        int taming[G];
        int row1[G];
        int row2[G];
        // The code vectors' energies four channels side by side, then their predicted gains.
        const double* codes[G];
        for (int c = 0; c < active; ++c) codes[c] = work[c].frame.code;
        double energy[G];
        gain_predictor_energies(codes, active, G729_SUBFRAME_SIZE, energy);
        for (int c = 0; c < active; ++c) {
            g0[c] = gain_predictor_gain(work[c].st->gain_pred_mem, energy[c], G729_SUBFRAME_SIZE);
            taming[c] = work[c].frame.taming;
        }
        gain_search_channels(v.correlations, g0, taming, active, row1, row2, kernels);
        for (int a = 0; a < active; ++a) {
            double gp = 0.0;
            double gc = 0.0;
            const int32_t index = quantized_gains(work[a].st->gain_pred_mem, row1[a], row2[a],
                                                  g0[a], &gp, &gc);
            g729simd::SynthesisJob target_job;  // made by pitch_channels
            encode_subframe_finish(work[a].st, &work[a].frame, sf, index, gp, gc, &target_job);
        }
    }
}

// One frame of n (1..G) channels.
template <int G>
void encode_pass(EncodePass<G>& p, double* codebook, double* lanes, int kernels,
                 g729_encoder_state* const states[], int n, const int16_t* const samples[],
                 uint8_t* const bytes[], int32_t byte_counts[]) {
    const int active = encode_analysis(p, kernels, states, n, samples);
    bind_channel_vectors(p, active);
    encode_lsp(p, codebook, lanes, kernels, active);
    encode_open_loop(p, kernels, active);
    for (int sf = 0; sf < 2; ++sf) {
        encode_pitch(p, lanes, kernels, active, sf);
        encode_codebook(p, codebook, lanes, kernels, active, sf);
        encode_gains(p, lanes, kernels, active, sf);
    }
    for (int k = 0; k < n; ++k) {
        if (k + 1 < n) {
            const g729_encoder_state* next = states[k + 1];
            prefetch_lines(next->speech_buf, sizeof next->speech_buf);
            prefetch_lines(next->wsp_buf, sizeof next->wsp_buf);
            prefetch_lines(next->exc_buf, sizeof next->exc_buf);
        }
        encode_frame_end(states[k]);
        encoder_pack(p.params[k], bytes[k], &byte_counts[k]);
    }
}

// Every channel in passes of up to G.
template <int G, int Lanes>
void encode_all(EncodeSpace<G, Lanes>& space, int kernels, g729_encoder_state* const states[],
                int count, const int16_t* const samples[], uint8_t* const bytes[],
                int32_t byte_counts[]) {
    for (int first = 0; first < count; first += G) {
        const int n = count - first < G ? count - first : G;
        encode_pass(space.pass, space.codebook, space.subframe, kernels, states + first, n,
                    samples + first, bytes + first, byte_counts + first);
    }
}

// One frame of n (1..G) channels; the number of channels with an invalid unit length.
// output_scratch: the scratch of decoder_output_channels, or null for the synthesis and the
// postfilters' steps one by one (with the channels' records between them: less memory).
template <int G>
int decode_pass(DecodePass<G>& p, double* output_scratch, int kernels,
                g729_decoder_state* const states[], int n, int16_t* const samples[],
                const uint8_t* const bytes[], const int32_t unit_lengths[],
                int32_t results[]) {
    double* mems[G];
    double* speech[G];
    int16_t* out[G];
    DecodeWork* work = p.work;
    g729simd::SynthesisJob* first_jobs = p.first_jobs;
    g729simd::SynthesisJob* second_jobs = p.second_jobs;
    int failed = 0;
    int synthesis_count = 0;
    const double* old_lsp[G];
    const double* new_lsp[G];
    double* lpc[G];
    int lanes = 0;  // the channels of this pass with a frame to decode
    for (int i = 0; i < n; ++i) {
        int32_t* decoded = work[lanes].params;
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
            if (results != nullptr) results[i] = G729_ERROR;
            ++failed;
            continue;
        }
        if (results != nullptr) results[i] = G729_OK;
        DecodeWork& w = work[lanes];
        w.st = states[i];
        w.erased = decoded[0];
        w.speech = w.st->synth_buf + 10;
        w.speech_frame = decode_frame_begin(w.st, decoded, w.speech, w.lpc, w.lags,
                                            &w.frame_type, w.lsp);
        if (w.speech_frame) {
            old_lsp[synthesis_count] = w.st->lsp_prev;
            new_lsp[synthesis_count] = w.lsp;
            lpc[synthesis_count] = w.lpc;
            ++synthesis_count;
        }
        mems[lanes] = w.st->post_hpf_mem;
        speech[lanes] = w.speech;
        out[lanes] = samples[i];
        ++lanes;
    }
    // The speech frames' filters side by side, then their excitations.
    lsp_interpolate_channels(old_lsp, new_lsp, synthesis_count, lpc, kernels);
    // Their code vectors, the vectors' energies four at a time side by side, then their
    // excitations.
    const double* codes[2 * G];
    int code_count = 0;
    for (int k = 0; k < lanes; ++k) {
        DecodeWork& w = work[k];
        if (!w.speech_frame) continue;
        decode_frame_codes(w.st, w.params, &w.codes);
        codes[code_count++] = w.codes.code[0];
        codes[code_count++] = w.codes.code[1];
    }
    double energies[2 * G];
    gain_predictor_energies(codes, code_count, G729_SUBFRAME_SIZE, energies);
    for (int k = 0, j = 0; k < lanes; ++k) {
        DecodeWork& w = work[k];
        if (!w.speech_frame) continue;
        w.codes.energy[0] = energies[2 * j];
        w.codes.energy[1] = energies[2 * j + 1];
        decode_frame_excitation(w.st, w.params, w.lsp, w.codes, w.lpc, w.speech, w.lags,
                                w.jobs);
        first_jobs[j] = w.jobs[0];
        second_jobs[j] = w.jobs[1];
        ++j;
    }
    // The frames' excitation energies, kept by their ends.
    const double* excitations[G];
    for (int k = 0; k < lanes; ++k) excitations[k] = work[k].st->exc_buf + kPastExcitation;
    double energies_of_frames[G];
    squared_sums_of(excitations, lanes, G729_FRAME_SIZE, 0.0, energies_of_frames);
    g729_postfilter_state* postfilters[G];
    const int32_t* lags[G];
    int32_t frame_types[G];
    for (int k = 0; k < lanes; ++k) {
        DecodeWork& w = work[k];
        postfilters[k] = &w.st->postfilter;
        lags[k] = w.lags;
        frame_types[k] = w.frame_type;
    }
    if (output_scratch != nullptr) {
        // The speech frames' synthesis, the postfilters and the high-pass filters with the
        // frames kept in lanes; then the frames' ends (which move the excitation on).
        const double* filters[G];
        const double* speech_excitations[G];
        double* synthesis_memories[G];
        for (int k = 0; k < lanes; ++k) {
            DecodeWork& w = work[k];
            filters[k] = w.lpc;
            speech_excitations[k] = w.speech_frame ? excitations[k] : nullptr;
            synthesis_memories[k] = w.st->mem_syn;
        }
        const DecoderFrames frames{postfilters, speech, filters, speech_excitations,
                                   synthesis_memories, lags, frame_types, mems};
        decoder_output_channels(frames, lanes, output_scratch, kernels);
        for (int k = 0; k < lanes; ++k) {
            if (k + 1 < lanes) {
                const g729_decoder_state* next = work[k + 1].st;
                prefetch_lines(next->exc_buf, sizeof next->exc_buf);
            }
            DecodeWork& w = work[k];
            decode_frame_end(w.st, w.erased, w.frame_type, energies_of_frames[k]);
        }
    } else {
        // The speech frames' synthesis, the channels side by side: subframe 1, then 2.
        synthesis_channels(first_jobs, synthesis_count, G729_SUBFRAME_SIZE, kernels);
        synthesis_channels(second_jobs, synthesis_count, G729_SUBFRAME_SIZE, kernels);
        // The postfilters' impulse responses (two independent filters a channel), then their
        // preparation and synthesis filters, side by side.
        g729simd::SynthesisJob* impulse_jobs = p.impulse_jobs;
        PostfilterWork* post[G];
        const double* frames[G];
        for (int k = 0; k < lanes; ++k) {
            DecodeWork& w = work[k];
            decode_frame_end(w.st, w.erased, w.frame_type, energies_of_frames[k]);
            postfilter_impulse_jobs(w.lpc, &w.post, impulse_jobs + 2 * k);
            post[k] = &w.post;
            frames[k] = w.speech;
        }
        synthesis_channels(impulse_jobs, 2 * lanes, kPostfilterImpulseLength, kernels);
        postfilter_prepare_channels(postfilters, frames, lags, frame_types, post, lanes,
                                    kernels);
        for (int k = 0; k < lanes; ++k) {
            first_jobs[k] = postfilter_synthesis_job(postfilters[k], post[k], 0);
            second_jobs[k] = postfilter_synthesis_job(postfilters[k], post[k], 1);
        }
        synthesis_channels(first_jobs, lanes, G729_SUBFRAME_SIZE, kernels);
        synthesis_channels(second_jobs, lanes, G729_SUBFRAME_SIZE, kernels);
        postfilter_finish_channels(postfilters, speech, post, lanes, kernels);
        highpass_channels(Highpass::output, mems, speech, lanes, G729_FRAME_SIZE, kernels);
    }
    for (int k = 0; k < lanes; ++k) decoder_emit(speech[k], out[k]);
    return failed;
}

template <int G>
int decode_all(DecodePass<G>& pass, double* output_scratch, int kernels,
               g729_decoder_state* const states[], int count, int16_t* const samples[],
               const uint8_t* const bytes[], const int32_t unit_lengths[], int32_t results[]) {
    int failed = 0;
    for (int first = 0; first < count; first += G) {
        const int n = count - first < G ? count - first : G;
        failed += decode_pass(pass, output_scratch, kernels, states + first, n,
                              samples + first, bytes == nullptr ? nullptr : bytes + first,
                              unit_lengths + first,
                              results == nullptr ? nullptr : results + first);
    }
    return failed == 0 ? G729_OK : G729_ERROR;
}

// The plain encoder's channels in small groups on vectors of at most kPlainEncodeLanes lanes,
// their records on the stack.
HWY_NOINLINE void encode_plain_groups(g729_encoder_state* const states[], int count,
                                      const int16_t* const samples[], uint8_t* const bytes[],
                                      int32_t byte_counts[]) {
    EncodeSpace<kPlainEncodeGroup, kPlainEncodeLanes> space;
    encode_all(space, lane_kernels(kPlainEncodeLanes), states, count, samples, bytes,
               byte_counts);
}

// The plain encoder's channels one at a time through the single-channel entry point, whose
// frame runs on the widest vectors. Where the processor has vectors wider than the plain
// groups may use (AVX2, AVX-512), this is the faster of the two: the groups' two-lane kernels
// and the steps between them cost more than a channel's own frame (about 1.6 times the time on
// a Xeon, family 6 model 207). Apart from the plain groups' frame, so that each path's stack is
// only its own.
HWY_NOINLINE void encode_each(g729_encoder_state* const states[], int count,
                              const int16_t* const samples[], uint8_t* const bytes[],
                              int32_t byte_counts[]) {
    for (int i = 0; i < count; ++i) {
        g729_encode_frame(states[i], samples[i], bytes[i], &byte_counts[i]);
    }
}

}  // namespace
}  // namespace g729

int g729_encode_frames(g729_encoder_state* const states[], int count,
                       const int16_t* const samples[], uint8_t* const bytes[],
                       int32_t byte_counts[]) {
    using namespace g729;
    if (!encode_arguments_ok(states, count, samples, bytes, byte_counts)) return G729_ERROR;
    if (count == 0) return G729_OK;
    if (lane_kernels_lanes(lane_kernels(kWidestLanes)) > kPlainEncodeLanes) {
        encode_each(states, count, samples, bytes, byte_counts);
    } else {
        encode_plain_groups(states, count, samples, bytes, byte_counts);
    }
    return G729_OK;
}

size_t g729_encode_frames_workspace_size(int count) {
    using namespace g729;
    return count < 0 ? 0 : workspace_bytes<EncodeWorkspace>();
}

int g729_encode_frames_ws(g729_encoder_state* const states[], int count,
                          const int16_t* const samples[], uint8_t* const bytes[],
                          int32_t byte_counts[], void* workspace, size_t workspace_size) {
    using namespace g729;
    if (!encode_arguments_ok(states, count, samples, bytes, byte_counts)) return G729_ERROR;
    EncodeWorkspace* space = place_workspace<EncodeWorkspace>(workspace, workspace_size);
    if (space == nullptr) return G729_ERROR;
    if (count == 0) return G729_OK;
    encode_all(*space, lane_kernels(kWidestLanes), states, count, samples, bytes, byte_counts);
    return G729_OK;
}

int g729_decode_frames(g729_decoder_state* const states[], int count, int16_t* const samples[],
                       const uint8_t* const bytes[], const int32_t unit_lengths[],
                       int32_t results[]) {
    using namespace g729;
    if (!decode_arguments_ok(states, count, samples, bytes, unit_lengths)) return G729_ERROR;
    if (count == 0) return G729_OK;
    DecodePass<kPlainDecodeGroup> pass;
    return decode_all(pass, nullptr, lane_kernels(kWidestLanes), states, count, samples, bytes,
                      unit_lengths, results);
}

size_t g729_decode_frames_workspace_size(int count) {
    using namespace g729;
    return count < 0 ? 0 : workspace_bytes<DecodeWorkspace>();
}

int g729_decode_frames_ws(g729_decoder_state* const states[], int count,
                          int16_t* const samples[], const uint8_t* const bytes[],
                          const int32_t unit_lengths[], int32_t results[], void* workspace,
                          size_t workspace_size) {
    using namespace g729;
    if (!decode_arguments_ok(states, count, samples, bytes, unit_lengths)) return G729_ERROR;
    DecodeWorkspace* space = place_workspace<DecodeWorkspace>(workspace, workspace_size);
    if (space == nullptr) return G729_ERROR;
    if (count == 0) return G729_OK;
    return decode_all(space->pass, space->output_scratch, lane_kernels(kWidestLanes), states,
                      count, samples, bytes, unit_lengths, results);
}
