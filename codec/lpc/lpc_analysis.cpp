// SPDX-License-Identifier: BSD-2-Clause
// LPC analysis (window, autocorrelation, Levinson-Durbin) and LPC/LSP/LSF conversions. The
// autocorrelation and the LSP root search are compiled for every instruction set Highway
// targets (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/lpc/lpc_analysis.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include <cmath>

#include "codec/common/scalar_ops.h"
#include "codec/lpc/lpc_analysis.h"

#include "codec/frame_constants.h"
#include "codec/simd_dispatch.h"
#include "codec/tables/lpc_analysis_tables.h"

// What every instruction set shares, compiled once.
#ifndef G729_LPC_ANALYSIS_SHARED
#define G729_LPC_ANALYSIS_SHARED
namespace g729 {

namespace {

constexpr int kWindowLength = kLpcWindowLength;
constexpr int kVectorLags = 16;  // lags the vector form computes at once
constexpr int kGridIntervals = 50;

// The search grid with one more point, so that it divides into groups of four.
constexpr int kGridPadded = 52;
struct PaddedGrid {
    double x[kGridPadded];
};
constexpr PaddedGrid make_padded_grid() {
    PaddedGrid g{};
    for (int i = 0; i <= kGridIntervals; ++i) g.x[i] = lsp_search_grid[i];
    g.x[kGridPadded - 1] = lsp_search_grid[kGridIntervals];
    return g;
}
constexpr PaddedGrid kGrid = make_padded_grid();

#include "codec/lpc/autocorrelation_sums-inl.h"

// The plain sums, one lag at a time in each step.
inline void autocorrelate_baseline(const double* x, int m, double* r) {
    double y[kWindowLength];
    for (int n = 0; n < kWindowLength; ++n) y[n] = x[n] * lpc_analysis_window[n];
    autocorrelation_sums(ScalarOps(), y, m, r);
}

}  // namespace

void lpc_lag_window(int m, double* r) {
    if (m > kMaxAutocorrelationLag) m = kMaxAutocorrelationLag;
    for (int k = 0; k <= m; ++k) r[k] = r[k] * lag_window_table[k];
}

#include "codec/lpc/levinson_step-inl.h"

double levinson_durbin(const double* r, double a[11], double rc[10]) {
    return levinson_recursion(
        r, a, rc, 0.0, 1.0, [](double x) { return -x; },
        [](double e) { return e <= 0.0 ? 0.001 : e; });
}

#include "codec/lpc/lsp_to_lpc-inl.h"

void lsp_polynomial(const double* lsp, double f[6]) { lsp_polynomial_of(ScalarOps(), lsp, 0, f); }

void lsp_to_lpc(const double lsp[10], double a[11]) { lsp_to_lpc_of(ScalarOps(), lsp, a); }

void lsp_interpolate_to_lpc(const double old_lsp[10], const double new_lsp[10], double aq[22]) {
    double mid[10];
    lsp_interpolate_to_lpc_of(ScalarOps(), old_lsp, new_lsp, mid, aq);
}

void lsf_to_lsp(const double* src, double* dst, int n) {
    for (int i = 0; i < n; ++i) dst[i] = std::cos(src[i]);
}

void lsp_to_lsf(const double* src, double* dst, int n) {
    for (int i = 0; i < n; ++i) dst[i] = std::acos(src[i]);
}

}  // namespace g729
#endif  // G729_LPC_ANALYSIS_SHARED

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
// Helpers of this file's routines, some used only by the vector instruction sets: named
// rather than anonymous, so that the scalar ones do not have them as unused internal
// functions, and apart from the helpers of other files of the same instruction set.
namespace lpc_kernels {

#include "codec/lpc/lsp_root_search-inl.h"
static_assert(kLspGridIntervals == kGridIntervals);

HWY_INLINE void grid_values_baseline(const double f1[6], const double f2[6],
                                     double values[2][kGridPadded]) {
    for (int g = 0; g <= kGridIntervals; ++g) {
        values[0][g] = chebyshev_value(ScalarOps(), f1, lsp_search_grid[g]);
        values[1][g] = chebyshev_value(ScalarOps(), f2, lsp_search_grid[g]);
    }
}

// chebyshev_value of both polynomials at every grid point, four points per vector; every
// lane does the scalar routine's operations in its order.
HWY_INLINE void grid_values(const double f1[6], const double f2[6],
                            double values[2][kGridPadded]) {
    const double* poly[2] = {f1, f2};
    for (int p = 0; p < 2; ++p) {
        const double* f = poly[p];
        for (int g = 0; g < kGridPadded; g += 4) {
            const Quad x = quad_load(kGrid.x + g);
            const Quad x2 = quad_set(2.0) * x;
            Quad b2 = quad_set(1.0);
            Quad b1 = x2 + quad_set(f[1]);
            for (int k = 2; k <= 4; ++k) {
                const Quad b0 = x2 * b1 - b2 + quad_set(f[k]);
                b2 = b1;
                b1 = b0;
            }
            quad_store(x * b1 - b2 + quad_set(0.5) * quad_set(f[5]), values[p] + g);
        }
    }
}

// The windowed signal y[n] = x[n] * window[n], followed by 16 zeros.
HWY_INLINE void apply_window(const double* x, double* y) {
    for (int n = 0; n < kWindowLength; n += 4) {
        quad_store(quad_load(x + n) * quad_load(lpc_analysis_window + n), y + n);
    }
    for (int n = kWindowLength; n < kWindowLength + kVectorLags; n += 4) {
        quad_store(quad_set(0.0), y + n);
    }
}

// r[k] = sum over j = 0..239-k of y[j] * y[j + k], ascending from 0.0, for k = 0..m (m < 16),
// lags 4g..4g+3 in the lanes of vector g. While j + m < 240 every lag has its term; in the last
// m steps a lane adds only while its lag still has one. y has 16 readable zeros at the end.
HWY_INLINE void autocorrelate(const double* x, int m, double* r) {
    alignas(32) double y[kWindowLength + kVectorLags];
    apply_window(x, y);

    const int groups = m / 4 + 1;
    Quad acc[kVectorLags / 4];
    Quad lag[kVectorLags / 4];
    for (int g = 0; g < kVectorLags / 4; ++g) {
        acc[g] = quad_set(0.0);
        lag[g] = quad_of(4 * g, 4 * g + 1, 4 * g + 2, 4 * g + 3);
    }
    int j = 0;
    if (groups == 4) {
        for (; j + m < kWindowLength; ++j) {
            const Quad yj = quad_set(y[j]);
            acc[0] += yj * quad_load(y + j);
            acc[1] += yj * quad_load(y + j + 4);
            acc[2] += yj * quad_load(y + j + 8);
            acc[3] += yj * quad_load(y + j + 12);
        }
    } else {
        for (; j + m < kWindowLength; ++j) {
            const Quad yj = quad_set(y[j]);
            for (int g = 0; g < groups; ++g) acc[g] += yj * quad_load(y + j + 4 * g);
        }
    }
    for (; j < kWindowLength; ++j) {
        const Quad yj = quad_set(y[j]);
        const Quad limit = quad_set(kWindowLength - 1 - j);  // largest lag with a term at j
        for (int g = 0; g < groups; ++g) {
            acc[g] = quad_select(quad_le(lag[g], limit), acc[g] + yj * quad_load(y + j + 4 * g),
                                 acc[g]);
        }
    }
    alignas(32) double sums[kVectorLags];
    for (int g = 0; g < groups; ++g) quad_store(acc[g], sums + 4 * g);
    for (int k = 0; k <= m; ++k) r[k] = sums[k];
}

}  // namespace lpc_kernels
using namespace lpc_kernels;

void lpc_autocorrelation(const double x[240], int m, double* r) {
    if (kVectors && m >= 0 && m < kVectorLags) {
        autocorrelate(x, m, r);
    } else {
        autocorrelate_baseline(x, m, r);
    }
    if (m >= 0) autocorrelation_floor(r);
}

void lpc_to_lsp(const double a[11], double lsp[10], const double old_lsp[10]) {
    double f[2][6];
    lsp_polynomials<double>(ScalarOps(), a, f);

    // Both polynomials at every grid point first; the search reads them there.
    alignas(32) double on_grid[2][kGridPadded];
    if constexpr (kVectors) {
        grid_values(f[0], f[1], on_grid);
    } else {
        grid_values_baseline(f[0], f[1], on_grid);
    }

    const int found = lsp_root_search<double>(
        ScalarOps(), [&](int p) { return f[p]; }, [](int g) { return lsp_search_grid[g]; },
        [&](int p, int g) { return on_grid[p][g]; },
        [&](bool root, int k, double x) {
            if (root) lsp[k] = x;
        },
        [](bool, int, int, double, double) {});

    if (found < 10) {
        for (int i = 0; i < 10; ++i) lsp[i] = old_lsp[i];
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(lpc_autocorrelation);
HWY_EXPORT(lpc_to_lsp);

void lpc_autocorrelation(const double x[240], int m, double* r) {
    HWY_DYNAMIC_DISPATCH(lpc_autocorrelation)(x, m, r);
}

void lpc_to_lsp(const double a[11], double lsp[10], const double old_lsp[10]) {
    HWY_DYNAMIC_DISPATCH(lpc_to_lsp)(a, lsp, old_lsp);
}

}  // namespace g729
#endif  // HWY_ONCE
