// SPDX-License-Identifier: BSD-2-Clause
// The open-loop and closed-loop pitch searches of many channels at once (lane_pitch.cpp;
// single-channel: pitch.h).
#pragma once

#include "codec/batch/lane_kernels.h"

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

}  // namespace g729
