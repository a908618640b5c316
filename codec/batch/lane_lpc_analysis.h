// SPDX-License-Identifier: BSD-2-Clause
// The LPC analysis's autocorrelation, Levinson-Durbin recursion, LSP root search and
// LSP-to-LPC conversion of many channels at once (lane_lpc_analysis.cpp; single-channel:
// lpc_analysis.h).
#pragma once

#include "codec/batch/lane_kernels.h"

namespace g729 {

// lpc_autocorrelation(x[i], 12, r[i]) for count channels side by side, without its floor
// (autocorrelation_floor, lpc_analysis.h).
void autocorrelation_channels(const double* const x[], int count, double (*r)[13],
                              int kernels = -1);

// levinson_durbin(r[i], a[i], rc[i]) (lpc_analysis.h) of count lag-windowed autocorrelations
// side by side.
void levinson_channels(const double (*r)[13], int count, double (*a)[11], double (*rc)[10],
                       int kernels = -1);

// lpc_to_lsp(a[i], lsp[i], old_lsp[i]) (lpc_analysis.h) of count LPC filters side by side.
void lsp_channels(const double (*a)[11], const double* const old_lsp[], int count,
                  double (*lsp)[10], int kernels = -1);

// lsp_interpolate_to_lpc(old_lsp[i], new_lsp[i], aq[i]) (lpc_analysis.h) of count channels
// side by side.
void lsp_interpolate_channels(const double* const old_lsp[], const double* const new_lsp[],
                              int count, double* const aq[], int kernels = -1);

}  // namespace g729
