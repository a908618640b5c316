// SPDX-License-Identifier: BSD-2-Clause
// The open-loop and closed-loop pitch searches of many channels at once (lane_pitch.cpp;
// single-channel: pitch.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_subframe.h"

namespace g729 {

// The open-loop pitch search's correlations for count frames of 80 weighted-speech samples
// (wsp[i][-143..79] read) side by side: the best lag of 20..39, of 40..79 and of the even
// lags 80..142 into t[i] and their correlations into max[i], as the single search finds them
// (then open_loop_choose_channels).
void open_loop_maxima_channels(const double* const wsp[], int count, int (*t)[3],
                               double (*max)[3], int kernels = -1);

// The open-loop lags of those frames from their maxima, side by side: lag[i] as
// open_loop_choose(wsp[i], 80, t[i], max[i]) (pitch.h) gives it.
void open_loop_choose_channels(const double* const wsp[], int count, const int (*t)[3],
                               const double (*max)[3], int lag[], int kernels = -1);

// The closed-loop pitch searches of count subframes side by side, each as
// closed_loop_pitch_search(exc[i], x[i], h[i], 40, t0_min[i], t0_max[i], subframe_offset,
// &frac[i]) (pitch.h) gives it: the lag into t0[i], the fraction into frac[i], the
// adaptive-codebook vector at exc[i][0..39]. Every range holds at most 10 lags within 20..143.
void closed_loop_channels(double* const exc[], const double* const x[], const double* const h[],
                          const int t0_min[], const int t0_max[], int subframe_offset, int count,
                          int t0[], int frac[], int kernels = -1);

// A subframe's pitch steps of many channels, as pitch_channels takes them.
struct PitchChannels {
    double* const* exc;          // the excitation at the subframe
    const double* const* x;      // the target
    const double* const* h;      // the impulse response
    const int* t0_min;           // the lag ranges
    const int* t0_max;
    int subframe_offset;         // 0 or 40
    const double* const* ap;     // the subframe's weighted filter (11)
    double* const* y1;           // out: the filtered adaptive-codebook vector's last ten
    double* const* correlations; // out: the gain's correlations c[0], c[1]
    double* gain;                // out: the adaptive-codebook gain
    int* t0;                     // out: the lag and its fraction
    int* frac;
    // Where the target is filtered here: the residual at the subframe (40), the weighted
    // error's memory (10) and the target's place (x); else null, and the targets are in the
    // lanes' area already (targets_in_lanes) or in x.
    const double* const* residual;
    const double* const* error_memory;
    double* const* target;
    bool targets_in_lanes;

    PitchChannels from(int first) const {
        const auto at = [first](auto* p) { return p == nullptr ? p : p + first; };
        return {exc + first,    x + first,  h + first,   t0_min + first,
                t0_max + first, subframe_offset, ap + first, y1 + first,
                correlations + first, gain + first, t0 + first, frac + first,
                at(residual), at(error_memory), at(target), targets_in_lanes};
    }
};

// For count subframes side by side: with residual, each target first, through 1/ap[i] from
// the residual and error_memory[i] (lpc_synthesis_filter, the memory not kept); then
// closed_loop_channels' searches; then each adaptive-codebook vector through 1/ap[i] from zero
// memory (lpc_synthesis_filter), and its gain as adaptive_codebook_gain gives it
// (correlations[i][0..1], gain[i]). lanes: the subframe's area (lane_subframe.h,
// subframe_lanes_size(count) doubles, 64-byte aligned), where the targets and filtered vectors
// are left whole; the channels' records take only their last ten samples (target[i][30..39],
// y1[i][30..39]: the weighted error's memory is made of them).
void pitch_channels(const PitchChannels& p, int count, double* lanes, int kernels = -1);

// The algebraic codebook's targets x2 = x - gp[i] y1 (subframe_gain's, encoder_frame.cpp) of
// count channels, from the targets and filtered vectors pitch_channels left in lanes, into
// the same area.
void codebook_targets_channels(const double gp[], int count, double* lanes, int kernels = -1);

}  // namespace g729
