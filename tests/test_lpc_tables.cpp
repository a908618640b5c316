// SPDX-License-Identifier: BSD-2-Clause
// Constant tables of the LPC analysis and the LSP quantizer: the rules they follow (their
// entries are checked against the published tables in test_standard_tables.cpp).
#include <gtest/gtest.h>

#include <cmath>

#include "codec/g729.h"
#include "codec/tables/lpc_analysis_tables.h"
#include "codec/tables/lsp_quantizer_tables.h"

using namespace g729;

namespace {
const double kPi = 3.14159265358979323846;
}

TEST(LpcTables, AnalysisWindow) {
    // Hamming half up to 199, quarter cosine after.
    for (int n = 0; n < 240; ++n) {
        const double rule = (n < 200) ? 0.54 - 0.46 * std::cos(2 * kPi * n / 399)
                                      : std::cos(2 * kPi * (n - 200) / 159);
        EXPECT_NEAR(lpc_analysis_window[n], rule, 9e-7) << "n=" << n;
    }
}

TEST(LpcTables, LagWindow) {
    // A Gaussian of 60 Hz bandwidth for lags 1..10 (11 and 12, used by DTX, are as the text
    // gives them); entry 0 is the white-noise correction.
    EXPECT_EQ(lag_window_table[0], 1.0001);
    for (int k = 1; k <= 10; ++k) {
        const double g = 2 * kPi * 60 * k / 8000;
        EXPECT_NEAR(lag_window_table[k], std::exp(-0.5 * g * g), 5e-8) << "k=" << k;
    }
}

TEST(LpcTables, SearchGrid) {
    // Cosines of 51 equally spaced frequencies, the ends pulled in; descending.
    EXPECT_EQ(lsp_search_grid[25], 0.0);
    EXPECT_EQ(lsp_search_grid[50], -lsp_search_grid[0]);
    for (int k = 1; k < 50; ++k) {
        EXPECT_NEAR(lsp_search_grid[k], std::cos(kPi * k / 50), 1e-7) << "k=" << k;
        EXPECT_LT(lsp_search_grid[k], lsp_search_grid[k - 1]);
    }
}

TEST(LspTables, PredictorsAndTheirSums) {
    // The sums are 1 minus the four predictor coefficients, and the inverses their inverses.
    for (int m = 0; m < 2; ++m) {
        for (int i = 0; i < 10; ++i) {
            double s = 1.0;
            for (int k = 0; k < 4; ++k) s -= lsf_ma_predictor[m][k][i];
            EXPECT_NEAR(lsf_ma_predictor_sum[m][i], s, 1e-7) << m << "," << i;
            EXPECT_NEAR(lsf_ma_predictor_sum_inv[m][i], 1.0 / lsf_ma_predictor_sum[m][i], 2e-7)
                << m << "," << i;
        }
    }
}

TEST(LspTables, InitialSets) {
    for (int k = 0; k < 10; ++k) {
        EXPECT_NEAR(initial_lsf[k], (k + 1) * kPi / 11, 5e-7) << "k=" << k;
        EXPECT_NEAR(initial_lsp[k], std::cos((k + 1) * kPi / 11), 5e-5) << "k=" << k;
    }
}
