// SPDX-License-Identifier: BSD-2-Clause
// Where the batched encoder keeps a subframe's vectors in lanes from one lane kernel to the
// next (the target, the filtered adaptive-codebook vector, the algebraic codebook's target),
// so that the kernels after the first take them without moving them in from the channels'
// records again.
#pragma once

namespace g729 {

// Per vector of channels (channel i of a pass in vector i / lanes, lane i % lanes, lanes those
// of the kernels chosen), kSubframeLaneRows interleaved rows of the vector's lanes: from row
// kTargetRows the target (40), from kFilteredRows the filtered adaptive-codebook vector (40),
// from kCodebookTargetRows the algebraic codebook's target (40), then the pitch steps' filter
// coefficients (10) and memory (10).
inline constexpr int kSubframeLaneRows = 140;
inline constexpr int kTargetRows = 0;
inline constexpr int kFilteredRows = 40;
inline constexpr int kCodebookTargetRows = 80;
inline constexpr int kFilterRows = 120;
inline constexpr int kFilterMemoryRows = 130;

// Doubles of the area for count channels (whatever the lanes, when count is a multiple of
// them): its rows times the channels.
constexpr int subframe_lanes_size(int count) { return kSubframeLaneRows * count; }

// Vector v's rows in the area, for kernels of `lanes` lanes.
inline double* subframe_lanes_of(double* area, int v, int lanes) {
    return area + v * kSubframeLaneRows * lanes;
}
inline const double* subframe_lanes_of(const double* area, int v, int lanes) {
    return area + v * kSubframeLaneRows * lanes;
}

}  // namespace g729
