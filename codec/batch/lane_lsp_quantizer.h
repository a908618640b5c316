// SPDX-License-Identifier: BSD-2-Clause
// The LSP quantizer's codebook searches and last step for many channels at once
// (lane_lsp_quantizer.cpp; single-channel: lsp_quantizer.h).
#pragma once

#include <cstdint>

#include "codec/batch/lane_kernels.h"
#include "codec/lpc/lsp_quantizer.h"

namespace g729 {

// The LSP quantizer's searches (lsp_quantizer.h, LspQuantizeWork) for count targets side by
// side: the first stage (unweighted, 10 dimensions, 128 entries) of target[i] into best[i];
// the second stage (weighted by w[i], dimensions lo..hi, 32 entries) of rest[i] into best[i].
void lsp_first_stage_channels(const double* const target[], int count, int best[],
                              int kernels = -1);
void lsp_second_stage_channels(const double* const rest[], const double* const w[], int count,
                               int lo, int hi, int best[], int kernels = -1);
// lsp_quantize_finish up to the conversion to LSPs for count channels side by side: from
// work[i] (its searches done), channel i's predictor mode and indices into index[i], its
// quantized LSFs into lsf_q[i], its predictor memory memory[i] moved on.
void lsp_finish_channels(double (*const memory[])[10], const LspQuantizeWork* const work[],
                         int count, double (*lsf_q)[10], int32_t (*index)[2],
                         int kernels = -1);

}  // namespace g729
