// SPDX-License-Identifier: BSD-2-Clause
// Autocorrelation, lag window, Levinson-Durbin and the LPC/LSP conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/g729.h"
#include "codec/lpc/lpc_analysis.h"

using namespace g729;

namespace {

const double kPi = 3.14159265358979323846;

void lsp_from_lsf_rule(const double* lsf, double* lsp) {
    for (int i = 0; i < 10; ++i) lsp[i] = std::cos(lsf[i]);
}

}  // namespace

TEST(LpcAnalysis, SilentFrameGivesFlatPredictorAndUniformLsps) {
    const double x[240] = {};
    double r[13];
    lpc_autocorrelation(x, 12, r);
    EXPECT_EQ(r[0], 1.0);
    for (int k = 1; k <= 12; ++k) EXPECT_EQ(r[k], 0.0);

    lpc_lag_window(12, r);
    EXPECT_EQ(r[0], 1.0001);

    double a[11];
    double rc[10];
    const double err = levinson_durbin(r, a, rc);
    EXPECT_EQ(a[0], 1.0);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(a[i], 0.0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rc[i], 0.0);
    EXPECT_EQ(err, 1.0001);

    double lsp[10];
    const double old_lsp[10] = {};
    lpc_to_lsp(a, lsp, old_lsp);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(lsp[k], std::cos((k + 1) * kPi / 11), 1e-4);
}

TEST(LpcAnalysis, AutocorrelationUsesTheWindowAndFloor) {
    double x[240] = {};
    x[200] = 100.0;  // window 1.0
    x[201] = 100.0;  // window 0.9992193
    double r[13];
    lpc_autocorrelation(x, 2, r);
    EXPECT_NEAR(r[0], 10000.0 + 99.92193 * 99.92193, 1e-6);
    EXPECT_NEAR(r[1], 9992.193, 1e-6);
    EXPECT_EQ(r[2], 0.0);

    // Weak input: energy below 1 is raised to exactly 1.
    double weak[240];
    for (int n = 0; n < 240; ++n) weak[n] = 0.01;
    lpc_autocorrelation(weak, 1, r);
    EXPECT_EQ(r[0], 1.0);
    EXPECT_GT(r[1], 0.0);
    EXPECT_LT(r[1], 1.0);
}

TEST(LpcAnalysis, LagWindowRange) {
    double r[13];
    for (int k = 0; k < 13; ++k) r[k] = 2.0;
    lpc_lag_window(0, r);
    EXPECT_EQ(r[0], 2.0 * 1.0001);
    for (int k = 1; k < 13; ++k) EXPECT_EQ(r[k], 2.0);

    lpc_lag_window(-1, r);
    EXPECT_EQ(r[0], 2.0 * 1.0001);

    for (int k = 0; k < 13; ++k) r[k] = 1.0;
    lpc_lag_window(12, r);
    EXPECT_EQ(r[1], 0.99889028);
    EXPECT_EQ(r[10], 0.89490914);
    EXPECT_EQ(r[12], 0.8522135);
    // The Gaussian window falls monotonically.
    for (int k = 2; k <= 12; ++k) EXPECT_LT(r[k], r[k - 1]);
}

TEST(LpcAnalysis, LevinsonSolvesFirstOrderProcess) {
    // r[k] = rho^k is the autocorrelation of a first-order process: A(z) = 1 - rho z^-1.
    const double rho = 0.9;
    double r[11];
    for (int k = 0; k <= 10; ++k) r[k] = std::pow(rho, k);
    double a[11];
    double rc[10];
    const double err = levinson_durbin(r, a, rc);
    EXPECT_DOUBLE_EQ(a[1], -rho);
    EXPECT_DOUBLE_EQ(rc[0], -rho);
    for (int i = 2; i <= 10; ++i) {
        EXPECT_NEAR(a[i], 0.0, 1e-12) << "i=" << i;
        EXPECT_NEAR(rc[i - 1], 0.0, 1e-12) << "i=" << i;
    }
    EXPECT_NEAR(err, 1.0 - rho * rho, 1e-12);
}

TEST(LpcAnalysis, LevinsonFloorsANonPositiveError) {
    // |r[2]| > r[0] drives the order-2 error negative: it is floored, not propagated.
    double r[11] = {1.0, 0.0, 2.0, 0, 0, 0, 0, 0, 0, 0, 0};
    double a[11];
    double rc[10];
    const double err = levinson_durbin(r, a, rc);
    EXPECT_EQ(rc[1], -2.0);
    // Order 2 leaves err = 1 - 4 < 0, floored to 0.001; order 3 sees alpha = 0 and order 4
    // alpha = a[2] * r[2] = -4, so its coefficient is 4 / 0.001.
    EXPECT_EQ(rc[2], 0.0);
    EXPECT_EQ(rc[3], 4.0 / 0.001);
    EXPECT_TRUE(std::isfinite(err));
    EXPECT_GT(err, 0.0);
    for (int i = 0; i <= 10; ++i) EXPECT_TRUE(std::isfinite(a[i])) << "i=" << i;
}

TEST(LspConversion, UniformLspsGiveTheFlatPredictor) {
    double lsf[10];
    for (int k = 0; k < 10; ++k) lsf[k] = (k + 1) * kPi / 11;
    double lsp[10];
    lsp_from_lsf_rule(lsf, lsp);
    double a[11];
    lsp_to_lpc(lsp, a);
    EXPECT_EQ(a[0], 1.0);
    for (int i = 1; i <= 10; ++i) EXPECT_NEAR(a[i], 0.0, 1e-12) << "i=" << i;

    // lsp_polynomial alone: one LSP at stride 2 contributes a factor 1 - 2 lsp z^-1 + z^-2.
    const double one[9] = {0.5, 0, 0, 0, 0, 0, 0, 0, 0};
    double f[6];
    // Five LSPs of which four are cos(pi/2) = 0: (1 - z^-1 + z^-2)(1 + z^-2)^4 truncated to 6 terms.
    lsp_polynomial(one, f);
    const double expected[6] = {1, -1, 5, -4, 10, -6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f[i], expected[i]) << "i=" << i;
}

TEST(LspConversion, RoundTripWithinGridAccuracy) {
    const double sets[4][10] = {
        {0.285599, 0.571199, 0.856798, 1.142397, 1.427997, 1.713596, 1.999195, 2.284795, 2.570394, 2.855993},
        {0.20, 0.35, 0.60, 1.10, 1.30, 1.75, 2.00, 2.40, 2.60, 2.90},
        {0.10, 0.40, 0.45, 0.90, 1.00, 1.60, 2.10, 2.15, 2.70, 3.00},
        {0.30, 0.50, 0.80, 0.95, 1.45, 1.60, 1.85, 2.30, 2.45, 2.75},
    };
    for (const auto& lsf : sets) {
        double lsp[10];
        lsp_from_lsf_rule(lsf, lsp);
        double a[11];
        lsp_to_lpc(lsp, a);
        double back[10];
        const double old_lsp[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
        lpc_to_lsp(a, back, old_lsp);
        for (int i = 0; i < 10; ++i) EXPECT_NEAR(back[i], lsp[i], 4e-3) << "i=" << i;
    }
}

TEST(LspConversion, FallsBackToOldLspsWhenRootsAreMissed) {
    // Two LSFs below the first grid point: their roots are never bracketed.
    const double lsf[10] = {0.004, 0.008, 0.5, 0.9, 1.2, 1.6, 1.9, 2.3, 2.6, 2.9};
    double lsp[10];
    lsp_from_lsf_rule(lsf, lsp);
    double a[11];
    lsp_to_lpc(lsp, a);
    double out[10];
    lpc_to_lsp(a, out, initial_lsp);
    EXPECT_EQ(std::memcmp(out, initial_lsp, sizeof out), 0);

    // Only the last root beyond the final grid point: nine roots are not enough either.
    const double lsf9[10] = {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.13};
    lsp_from_lsf_rule(lsf9, lsp);
    lsp_to_lpc(lsp, a);
    lpc_to_lsp(a, out, initial_lsp);
    EXPECT_EQ(std::memcmp(out, initial_lsp, sizeof out), 0);

    // A NaN predictor shows no sign change at all: same fallback.
    double bad[11] = {1.0, std::nan(""), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    lpc_to_lsp(bad, out, lsp);
    EXPECT_EQ(std::memcmp(out, lsp, sizeof out), 0);
}

TEST(LspConversion, InterpolationOfEqualSetsGivesTwoEqualPredictors) {
    double aq[22];
    lsp_interpolate_to_lpc(initial_lsp, initial_lsp, aq);
    EXPECT_EQ(std::memcmp(aq, aq + 11, 11 * sizeof(double)), 0);

    const double lsf[10] = {0.20, 0.35, 0.60, 1.10, 1.30, 1.75, 2.00, 2.40, 2.60, 2.90};
    double lsp[10];
    lsp_from_lsf_rule(lsf, lsp);
    lsp_interpolate_to_lpc(initial_lsp, lsp, aq);
    double a_new[11];
    lsp_to_lpc(lsp, a_new);
    EXPECT_EQ(std::memcmp(aq + 11, a_new, sizeof a_new), 0);
    double mid[10];
    for (int i = 0; i < 10; ++i) mid[i] = 0.5 * initial_lsp[i] + 0.5 * lsp[i];
    double a_mid[11];
    lsp_to_lpc(mid, a_mid);
    EXPECT_EQ(std::memcmp(aq, a_mid, sizeof a_mid), 0);
}

TEST(LspConversion, LsfLspInPlace) {
    double v[10];
    for (int i = 0; i < 10; ++i) v[i] = initial_lsf[i];
    lsf_to_lsp(v, v, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(v[i], std::cos(initial_lsf[i]));
    lsp_to_lsf(v, v, 10);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(v[i], initial_lsf[i], 1e-12);
}
