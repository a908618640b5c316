// SPDX-License-Identifier: BSD-2-Clause
// The postfilter's preparation and last step of many channels at once (lane_postfilter.cpp;
// single-channel: postfilter.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/decoder/postfilter.h"

namespace g729 {

// postfilter_prepare(pf[i], speech[i], lags[i], frame_types[i], work[i]) (postfilter.h) of
// count channels side by side, without the synthesis jobs (postfilter_synthesis_job).
void postfilter_prepare_channels(g729_postfilter_state* const pf[], const double* const speech[],
                                 const int32_t* const lags[], const int32_t frame_types[],
                                 PostfilterWork* const work[], int count, int kernels = -1);

// postfilter_finish(pf[i], speech[i], work[i]) (postfilter.h) of count channels side by side.
void postfilter_finish_channels(g729_postfilter_state* const pf[], double* const speech[],
                                PostfilterWork* const work[], int count, int kernels = -1);

// Doubles of scratch postfilter_output_channels needs: for four vectors of up to 8 lanes, their
// frames of 80 samples, the synthesis filters' coefficients (20), the numerators (22), the
// synthesis memories (10) and the high-pass filter's memories (4).
inline constexpr int kPostfilterOutputScratch = 4 * 8 * (80 + 20 + 22 + 10 + 4);

// For count channels side by side, what postfilter_frame(pf[i], speech[i], lpc[i], lags[i],
// frame_types[i]) and then post_highpass_filter(highpass_mems[i], speech[i], 80)
// (postfilter.h) do to each, with the frames kept in vector lanes from the first step to the
// last. scratch: kPostfilterOutputScratch doubles, 64-byte aligned.
void postfilter_output_channels(g729_postfilter_state* const pf[], double* const speech[],
                                const int32_t* const lags[], const int32_t frame_types[],
                                const double* const lpc[], double* const highpass_mems[],
                                int count, double* scratch, int kernels = -1);

}  // namespace g729
