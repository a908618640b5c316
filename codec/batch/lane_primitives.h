// SPDX-License-Identifier: BSD-2-Clause
// The fixed high-pass filters and the LPC synthesis filter of many channels at once
// (lane_primitives.cpp; single-channel: second_order_section.h, primitives.h).
#pragma once

#include "codec/batch/lane_kernels.h"

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

}  // namespace g729
