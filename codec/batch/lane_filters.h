// SPDX-License-Identifier: BSD-2-Clause
// Filters, searches and sums of many channels at once, one channel per vector lane
// (lane_filters.cpp, lane_codebook.cpp, lane_pitch.cpp). Each channel's results and memory come
// out exactly as its own single-channel step leaves them: every lane does the single-channel
// operations in the same order.
//
// kernels chooses the instruction set: -1 (the default) the best this processor runs, as
// HWY_DYNAMIC_DISPATCH chooses it, else a choice from lane_kernels. The kernels' own arrays on
// the stack grow with the lanes of a vector: at most about 27 KB with 8 lanes (AVX-512), 14 KB
// with 4, 7 KB with 2 (the codebook search's scratch aside).
#pragma once

#include "codec/decoder/postfilter.h"
#include "codec/simd_dispatch.h"
#include "codec/simd_targets.h"

namespace g729 {

// The two fixed high-pass filters (see second_order_section.h).
enum class Highpass { preprocess, output };

// Runs the filter of every channel over its count (0..80) samples in place. mems[i] is
// channel i's {x[n-1], x[n-2], y[n-1], y[n-2]}; no two channels may share memory or samples.
// The channels go through the widest vectors the processor has while they fill four of them,
// the rest through four-lane vectors (more chains in flight).
void highpass_channels(Highpass filter, double* const mems[], double* const samples[],
                       int channels, int count, int kernels = -1);

// count lpc_synthesis_filter calls of L (0..40) samples each, side by side in vector lanes
// (grouped as the high-pass filters' channels); each gives exactly what its own call gives, provided that no job writes
// (y, mem) anything another job reads or writes. A job may filter in place.
void synthesis_channels(const g729simd::SynthesisJob* jobs, int count, int L, int kernels = -1);

// The algebraic codebook search of count channels side by side (lane_codebook.cpp): from the
// sharpened impulse response h[i] and the target x[i] of channel i, its pulse positions by
// track (0, 1, 2, 3/4) into pos[i] and the signs of its target correlation into sign[i] (40),
// exactly as the single-channel search finds them.
void codebook_search_channels(const double* const h[], const double* const x[], int count,
                              int (*pos)[4], double* const sign[], double* scratch = nullptr,
                              int kernels = -1);

// The closed-loop pitch searches of count subframes side by side (lane_pitch.cpp), each as
// closed_loop_pitch_search(exc[i], x[i], h[i], 40, t0_min[i], t0_max[i], subframe_offset,
// &frac[i]) (pitch.h) gives it: the lag into t0[i], the fraction into frac[i], the
// adaptive-codebook vector at exc[i][0..39]. Every range holds at most 10 lags within 20..143.
void closed_loop_channels(double* const exc[], const double* const x[], const double* const h[],
                          const int t0_min[], const int t0_max[], int subframe_offset, int count,
                          int t0[], int frac[], int kernels = -1);

// The LSP quantizer's searches (lsp_quantizer.h, LspQuantizeWork) for count targets side by
// side: the first stage (unweighted, 10 dimensions, 128 entries) of target[i] into best[i];
// the second stage (weighted by w[i], dimensions lo..hi, 32 entries) of rest[i] into best[i].
void lsp_first_stage_channels(const double* const target[], int count, int best[],
                              int kernels = -1);
void lsp_second_stage_channels(const double* const rest[], const double* const w[], int count,
                               int lo, int hi, int best[], int kernels = -1);

// The open-loop pitch search's correlations for count frames of 80 weighted-speech samples
// (wsp[i][-143..79] read) side by side: the best lag of 20..39, of 40..79 and of the even
// lags 80..142 into t[i] and their correlations into max[i], as the single search finds them
// (then open_loop_choose, pitch.h).
void open_loop_maxima_channels(const double* const wsp[], int count, int (*t)[3],
                               double (*max)[3], int kernels = -1);

// lpc_autocorrelation(x[i], 12, r[i]) for count channels side by side, without its floor
// (autocorrelation_floor, lpc_analysis.h).
void autocorrelation_channels(const double* const x[], int count, double (*r)[13],
                              int kernels = -1);

// levinson_durbin(r[i], a[i], rc[i]) (lpc_analysis.h) of count lag-windowed autocorrelations
// side by side.
void levinson_channels(const double (*r)[13], int count, double (*a)[11], double (*rc)[10],
                       int kernels = -1);

// adaptive_codebook_gain(x[i], y[i], c[i], 40) (pitch.h) of count channels side by side: the
// gain into gain[i], c[i][0..1] written.
void pitch_gain_channels(const double* const x[], const double* const y[], int count,
                         double* const c[], double gain[], int kernels = -1);

// fixed_codebook_correlations(x[i], y[i], z[i], c[i]) (gain_quantizer.h) of count channels side
// by side: c[i][2..4] written.
void codebook_gain_correlations_channels(const double* const x[], const double* const y[],
                                         const double* const z[], int count, double* const c[],
                                         int kernels = -1);

// postfilter_finish(pf[i], speech[i], work[i]) (postfilter.h) of count channels side by side.
void postfilter_finish_channels(g729_postfilter_state* const pf[], double* const speech[],
                                PostfilterWork* const work[], int count, int kernels = -1);

// The gain quantizer's codebook search (quantize_gains, gain_quantizer.h) of count channels side
// by side, from their correlations c[i], predicted code gains g0[i] (gain_predictor_predict)
// and taming flags: the chosen rows of both codebooks (then quantized_gains).
void gain_search_channels(const double* const c[], const double g0[], const int taming[],
                          int count, int row1[], int row2[], int kernels = -1);

// The number of channels a vector holds on this processor (the group size above).
int highpass_lanes();

// The best kernels this processor runs whose vectors hold at most max_lanes channels (the
// scalar ones when none does), for the kernels argument above.
int lane_kernels(int max_lanes);
// The number of channels a vector of those kernels holds.
int lane_kernels_lanes(int kernels);

// Doubles of scratch a lane of the codebook search needs: its correlation matrix (616) and
// five 40-sample vectors. Scratch for codebook_search_channels holds this many times the lanes
// of the kernels chosen, 64-byte aligned; without it the search takes that much of the stack.
inline constexpr int kCodebookSearchScratch = 616 + 5 * 40;

}  // namespace g729
