// SPDX-License-Identifier: BSD-2-Clause
// The postfilter's last step of many channels at once (lane_postfilter.cpp; single-channel:
// postfilter.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/decoder/postfilter.h"

namespace g729 {

// postfilter_finish(pf[i], speech[i], work[i]) (postfilter.h) of count channels side by side.
void postfilter_finish_channels(g729_postfilter_state* const pf[], double* const speech[],
                                PostfilterWork* const work[], int count, int kernels = -1);

}  // namespace g729
