// SPDX-License-Identifier: BSD-2-Clause
// Constant tables of the LPC analysis and the LSP quantizer: spot values and their rules.
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
    EXPECT_EQ(lpc_analysis_window[0], 0.08);
    EXPECT_EQ(lpc_analysis_window[1], 0.08005703);
    EXPECT_EQ(lpc_analysis_window[199], 0.99998569);
    EXPECT_EQ(lpc_analysis_window[200], 1.0);
    EXPECT_EQ(lpc_analysis_window[201], 0.9992193);
    EXPECT_EQ(lpc_analysis_window[239], 0.02963307);
    // Hamming half up to 199, quarter cosine after.
    for (int n = 0; n < 240; ++n) {
        const double rule = (n < 200) ? 0.54 - 0.46 * std::cos(2 * kPi * n / 399)
                                      : std::cos(2 * kPi * (n - 200) / 159);
        EXPECT_NEAR(lpc_analysis_window[n], rule, 9e-7) << "n=" << n;
    }
}

TEST(LpcTables, LagWindow) {
    EXPECT_EQ(lag_window_table[0], 1.0001);
    const double printed[10] = {0.99889028, 0.99556851, 0.99005681, 0.9823916, 0.97262347,
                                0.96081644, 0.94704735, 0.93140495, 0.91398895, 0.89490914};
    for (int k = 1; k <= 10; ++k) {
        EXPECT_EQ(lag_window_table[k], printed[k - 1]) << "k=" << k;
        const double g = 2 * kPi * 60 * k / 8000;
        EXPECT_NEAR(lag_window_table[k], std::exp(-0.5 * g * g), 5e-8) << "k=" << k;
    }
    EXPECT_EQ(lag_window_table[11], 0.8742858);
    EXPECT_EQ(lag_window_table[12], 0.8522135);
}

TEST(LpcTables, SearchGrid) {
    EXPECT_EQ(lsp_search_grid[0], 0.9997559);
    EXPECT_EQ(lsp_search_grid[50], -0.9997559);
    EXPECT_EQ(lsp_search_grid[25], 0.0);
    for (int k = 1; k < 50; ++k) {
        EXPECT_NEAR(lsp_search_grid[k], std::cos(kPi * k / 50), 1e-7) << "k=" << k;
        EXPECT_LT(lsp_search_grid[k], lsp_search_grid[k - 1]);
    }
}

TEST(LspTables, CodebookRows) {
    const double cb1_0[10] = {0.1814, 0.2647, 0.4580, 1.1077, 1.4813,
                              1.7022, 2.1953, 2.3405, 2.5867, 2.6636};
    const double cb1_127[10] = {0.2101, 0.3146, 0.6779, 0.8783, 1.0561,
                                1.3045, 1.8395, 2.0695, 2.2831, 2.4328};
    const double cb2_0[10] = {-0.0532, -0.0995, -0.0906, 0.1261, -0.0633,
                              0.0711,  -0.1467, 0.1012,  0.0106, 0.0470};
    for (int j = 0; j < 10; ++j) {
        EXPECT_EQ(lsp_codebook_1[0][j], cb1_0[j]) << "j=" << j;
        EXPECT_EQ(lsp_codebook_1[127][j], cb1_127[j]) << "j=" << j;
        EXPECT_EQ(lsp_codebook_2[0][j], cb2_0[j]) << "j=" << j;
    }
}

TEST(LspTables, PredictorsAndTheirSums) {
    const double mode0[10] = {0.2570, 0.2780, 0.2800, 0.2736, 0.2757,
                              0.2764, 0.2675, 0.2678, 0.2779, 0.2647};
    const double mode1[10] = {0.2360, 0.2405, 0.2499, 0.2495, 0.2517,
                              0.2591, 0.2636, 0.2625, 0.2551, 0.2310};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(lsf_ma_predictor[0][0][i], mode0[i]) << "i=" << i;
        EXPECT_EQ(lsf_ma_predictor[1][0][i], mode1[i]) << "i=" << i;
    }
    EXPECT_NEAR(lsf_ma_predictor_sum[0][0], 0.238000005, 1e-9);
    EXPECT_NEAR(lsf_ma_predictor_sum[1][0], 0.445100009, 1e-9);
    EXPECT_NEAR(lsf_ma_predictor_sum_inv[0][0], 4.20168066, 5e-9);
    EXPECT_NEAR(lsf_ma_predictor_sum_inv[1][0], 2.24668598, 5e-9);

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
