// SPDX-License-Identifier: BSD-2-Clause
// The channel-parallel kernels (codec/batch/lane_*.h): filters, searches and sums of many
// channels at once, one channel per vector lane. Each channel's results and memory come out
// exactly as its own single-channel step leaves them: every lane does the single-channel
// operations in the same order.
//
// kernels chooses the instruction set: -1 (the default) the best this processor runs, as
// HWY_DYNAMIC_DISPATCH chooses it, else a choice from lane_kernels. The kernels' own arrays on
// the stack grow with the lanes of a vector: at most about 27 KB with 8 lanes (AVX-512), 14 KB
// with 4, 7 KB with 2 (the codebook search's scratch aside).
#pragma once

#include <type_traits>  // the block helpers of lane_common-inl.h

#include "codec/simd_dispatch.h"
#include "codec/simd_targets.h"

namespace g729 {

// The number of channels a vector holds on this processor (the group size above).
int highpass_lanes();

// The best kernels this processor runs whose vectors hold at most max_lanes channels (the
// scalar ones when none does), for the kernels argument above.
int lane_kernels(int max_lanes);
// The number of channels a vector of those kernels holds.
int lane_kernels_lanes(int kernels);

}  // namespace g729
