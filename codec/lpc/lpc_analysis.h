// SPDX-License-Identifier: BSD-2-Clause
// LPC analysis (window, autocorrelation, Levinson-Durbin) and LPC/LSP/LSF conversions.
#pragma once

namespace g729 {

// Windowed autocorrelation of the 240-sample analysis buffer, lags 0..m; r[0] >= 1.
void lpc_autocorrelation(const double x[240], int m, double* r);

// The last step of lpc_autocorrelation: a silent frame still yields a usable (flat)
// predictor.
inline void autocorrelation_floor(double* r) {
    if (r[0] < 1.0) r[0] = 1.0;
}

// r[k] *= lag_window_table[k] for k = 0..m (m <= 12).
void lpc_lag_window(int m, double* r);

// Order-10 recursion; returns the prediction-error energy.
double levinson_durbin(const double* r, double a[11], double rc[10]);

// Root search of A(z)'s sum and difference polynomials; falls back to old_lsp.
void lpc_to_lsp(const double a[11], double lsp[10], const double old_lsp[10]);

void lsp_to_lpc(const double lsp[10], double a[11]);

// Polynomial of 5 LSPs read at stride 2 from lsp.
void lsp_polynomial(const double* lsp, double f[6]);

// aq[0..10]: subframe 1 (midpoint LSPs), aq[11..21]: subframe 2 (new_lsp).
void lsp_interpolate_to_lpc(const double old_lsp[10], const double new_lsp[10], double aq[22]);

void lsf_to_lsp(const double* src, double* dst, int n);
void lsp_to_lsf(const double* src, double* dst, int n);

}  // namespace g729
