// SPDX-License-Identifier: BSD-2-Clause
// The gains' correlations and the gain codebook search of many channels at once
// (lane_gain_quantizer.cpp; single-channel: gain_quantizer.h, pitch.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_subframe.h"

namespace g729 {

// adaptive_codebook_gain(x[i], y[i], c[i], 40) (gain_quantizer.h) of count channels side by
// side: the gain into gain[i], c[i][0..1] written.
void pitch_gain_channels(const double* const x[], const double* const y[], int count,
                         double* const c[], double gain[], int kernels = -1);

// fixed_codebook_correlations(x[i], y[i], z[i], c[i]) (gain_quantizer.h) of count channels side
// by side: c[i][2..4] written. With lanes, x and y are taken from there (lane_subframe.h: the
// targets and filtered vectors pitch_channels left).
void codebook_gain_correlations_channels(const double* const x[], const double* const y[],
                                         const double* const z[], int count, double* const c[],
                                         int kernels = -1, const double* lanes = nullptr);

// The gain quantizer's codebook search (quantize_gains, gain_quantizer.h) of count channels side
// by side, from their correlations c[i], predicted code gains g0[i] (gain_predictor_predict)
// and taming flags: the chosen rows of both codebooks (then quantized_gains).
void gain_search_channels(const double* const c[], const double g0[], const int taming[],
                          int count, int row1[], int row2[], int kernels = -1);

}  // namespace g729
