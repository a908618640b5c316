// SPDX-License-Identifier: BSD-2-Clause
// The algebraic codebook search of many channels at once (lane_fixed_codebook.cpp;
// single-channel: fixed_codebook.h, codebook_search.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_subframe.h"

namespace g729 {

// Doubles of scratch a lane of the codebook search needs: its correlation matrix (616) and
// four 40-sample vectors. Scratch for codebook_search_channels holds this many times the lanes
// of the kernels chosen, 64-byte aligned; without it the search takes that much of the stack.
inline constexpr int kCodebookSearchScratch = 616 + 4 * 40;

// The algebraic codebook search of count channels side by side: from the
// sharpened impulse response h[i] and the target x[i] of channel i, its pulse positions by
// track (0, 1, 2, 3/4) into pos[i] and the signs of its target correlation at those positions
// into sign[i] (40; fixed_codebook_code_vectors reads no others, which are left as they are),
// exactly as the single-channel search finds them. With lanes, the targets are taken from
// there (lane_subframe.h: codebook_targets_channels left them) instead of x.
void codebook_search_channels(const double* const h[], const double* const x[], int count,
                              int (*pos)[4], double* const sign[], double* scratch = nullptr,
                              int kernels = -1, const double* lanes = nullptr);

}  // namespace g729
