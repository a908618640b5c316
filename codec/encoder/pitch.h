// SPDX-License-Identifier: BSD-2-Clause
// Pitch (adaptive-codebook) analysis: open-loop and closed-loop searches and lag coding. The
// interpolation and the sharpening factor, which the decoder shares, are in
// codec/common/adaptive_codebook.h; the adaptive-codebook gain in gain_quantizer.h.
#pragma once

#include <cstdint>

#include "codec/common/adaptive_codebook.h"

namespace g729 {

// Open-loop lag (20..143) of the frame starting at wsp; wsp[-143..-1] is read.
int32_t open_loop_pitch_search(const double* wsp, int length);

// The open-loop search's last step, for the batched encoder: from the best lag of 20..39,
// 40..79 and the even lags 80..142 (t) with their correlations (max; see
// open_loop_maxima_channels in lane_pitch.h), the open-loop lag.
int32_t open_loop_choose(const double* wsp, int length, const int t[3], const double max[3]);

// Integer lag and fraction of a subframe; leaves the adaptive-codebook vector at exc.
int32_t closed_loop_pitch_search(double* exc, const double x[40], const double h[40], int length,
                                 int t0_min, int t0_max, int subframe_offset, int32_t* frac);

// The lags the closed-loop search of subframe 1 tries: seven around the open-loop lag t_op,
// within 20..143.
void closed_loop_range(int t_op, int32_t* t0_min, int32_t* t0_max);

// Lag index of a subframe; in subframe 1 also sets the search range of subframe 2.
int32_t encode_pitch_lag(int t0, int frac, int32_t* t0_min, int32_t* t0_max, int lag_min,
                         int lag_max, int subframe_offset);

}  // namespace g729
