// SPDX-License-Identifier: BSD-2-Clause
// Algebraic (fixed) codebook search: 4 pulses in 40 samples, 17 bits.
#pragma once

#include <cstdint>

namespace g729 {

// Returns the 13-bit position index; writes code, filtered code y and the sign index.
// h is left pitch-sharpened.
int32_t fixed_codebook_search(const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp);

// fixed_codebook_search in three steps, for the batched encoder: the pitch sharpening of h,
// the search proper (codebook_search_channels, lane_fixed_codebook.h: positions by track and the
// signs of the target correlation), then the code vectors and the indices.
void fixed_codebook_sharpen_impulse(double h[40], int t0, double sharp);
int32_t fixed_codebook_code_vectors(const double h[40], int t0, const int pos[4],
                                    const double sign[40], double code[40], double y[40],
                                    int32_t* sign_index, double sharp);

// d[n] = sum over i = n..39 of x[i] * h[i - n].
void correlate_target_impulse(const double h[40], const double x[40], double d[40]);

}  // namespace g729
