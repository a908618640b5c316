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

}  // namespace g729
