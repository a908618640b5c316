// SPDX-License-Identifier: BSD-2-Clause
// The LSP quantizer's codebook searches of many channels at once (lane_lsp_quantizer.cpp;
// single-channel: lsp_quantizer.h).
#pragma once

#include "codec/batch/lane_kernels.h"

namespace g729 {

// The LSP quantizer's searches (lsp_quantizer.h, LspQuantizeWork) for count targets side by
// side: the first stage (unweighted, 10 dimensions, 128 entries) of target[i] into best[i];
// the second stage (weighted by w[i], dimensions lo..hi, 32 entries) of rest[i] into best[i].
void lsp_first_stage_channels(const double* const target[], int count, int best[],
                              int kernels = -1);
void lsp_second_stage_channels(const double* const rest[], const double* const w[], int count,
                               int lo, int hi, int best[], int kernels = -1);

}  // namespace g729
