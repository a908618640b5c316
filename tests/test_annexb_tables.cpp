// SPDX-License-Identifier: BSD-2-Clause
// Spot checks of the SID, VAD and comfort-noise tables against their documented values.
#include <gtest/gtest.h>

#include <cmath>

#include "codec/lpc/sid_lsf_quantizer.h"
#include "codec/tables/comfort_noise_tables.h"
#include "codec/tables/lsp_quantizer_tables.h"
#include "codec/tables/sid_lsf_tables.h"
#include "codec/tables/vad_tables.h"

using namespace g729;

TEST(AnnexBTables, SidLsfTables) {
    EXPECT_EQ(sid_stage1_scale[0], 0.06594207137823105);
    EXPECT_EQ(sid_stage1_scale[1], 0.12644603848457336);

    const double sum0[10] = {0.237983301, 0.257789791, 0.250404388, 0.253089994, 0.247993395,
                             0.258705407, 0.257789791, 0.265602589, 0.275978893, 0.262581289};
    for (int i = 0; i < 10; i++) EXPECT_NEAR(noise_ma_sum[0][i], sum0[i], 1e-9) << i;
    EXPECT_NEAR(noise_ma_sum[1][0], 0.320883811, 1e-9);
    EXPECT_NEAR(noise_ma_sum[1][1], 0.378502697, 1e-9);

    // Both rows hold single-precision values.
    for (int m = 0; m < 2; m++) {
        for (int i = 0; i < 10; i++) {
            EXPECT_EQ(noise_ma_sum[m][i], static_cast<double>(static_cast<float>(noise_ma_sum[m][i])));
            EXPECT_EQ(noise_ma_sum_inv[m][i],
                      static_cast<double>(static_cast<float>(noise_ma_sum_inv[m][i])))
                << "mode " << m << " entry " << i;
        }
    }
    EXPECT_NEAR(noise_ma_sum_inv[0][0], 4.20178795, 1e-8);
    EXPECT_NEAR(noise_ma_sum_inv[0][1], 3.87902498, 1e-8);
    EXPECT_NEAR(noise_ma_sum_inv[1][0], 3.11639285, 1e-8);
    EXPECT_NEAR(noise_ma_sum_inv[1][1], 2.64198899, 1e-8);
    for (int m = 0; m < 2; m++) {
        for (int i = 0; i < 10; i++) EXPECT_NEAR(noise_ma_sum_inv[m][i] * noise_ma_sum[m][i], 1.0, 4e-4 * noise_ma_sum[m][i]);
    }

    const int32_t map1[32] = {96, 52, 20, 54, 86, 114, 82, 68, 36,  121, 48, 92, 18, 120, 94, 124,
                              50, 125, 4, 100, 28, 76, 12, 117, 81, 22, 90, 116, 127, 21, 108, 66};
    const int32_t map2[2][16] = {{31, 21, 9, 3, 10, 2, 19, 26, 4, 3, 11, 29, 15, 27, 21, 12},
                                 {16, 1, 0, 0, 8, 25, 22, 20, 19, 23, 20, 31, 4, 31, 20, 31}};
    for (int i = 0; i < 32; i++) EXPECT_EQ(sid_stage1_map[i], map1[i]) << i;
    for (int h = 0; h < 2; h++) {
        for (int i = 0; i < 16; i++) EXPECT_EQ(sid_stage2_map[h][i], map2[h][i]) << h << "," << i;
    }
}

TEST(AnnexBTables, NoisePredictorsFromSpeechPredictors) {
    double pred[2][4][10];
    noise_ma_pred_init(pred);
    const double row0[10] = {0.2570, 0.2780, 0.2800, 0.2736, 0.2757,
                             0.2764, 0.2675, 0.2678, 0.2779, 0.2647};
    for (int i = 0; i < 10; i++) EXPECT_EQ(pred[0][0][i], row0[i]);
    for (int k = 0; k < 4; k++) {
        for (int i = 0; i < 10; i++) {
            EXPECT_EQ(pred[0][k][i], lsf_ma_predictor[0][k][i]);
            EXPECT_EQ(pred[1][k][i], 0.6 * lsf_ma_predictor[0][k][i] + 0.4 * lsf_ma_predictor[1][k][i]);
        }
    }
    // The stored sums are close to, but not recomputed from, 1 - sum of the coefficients.
    for (int m = 0; m < 2; m++) {
        for (int i = 0; i < 10; i++) {
            double s = 1.0;
            for (int k = 0; k < 4; k++) s -= pred[m][k][i];
            EXPECT_NEAR(noise_ma_sum[m][i], s, 6e-5) << m << "," << i;
        }
    }
}

TEST(AnnexBTables, VadAndComfortNoiseTables) {
    EXPECT_EQ(vad_low_band_correlation[0], 0.24017939691329);
    EXPECT_EQ(vad_low_band_correlation[5], -0.02015934721195);
    EXPECT_EQ(vad_low_band_correlation[12], 0.00015015782285);

    EXPECT_EQ(sid_gain_table[0], 0.502);
    EXPECT_EQ(sid_gain_table[31], 3990.525);
    // entry i = 2 * 10^(q_i / 20) rounded to three decimals.
    for (int i = 0; i < 32; i++) {
        const double q = i == 0 ? -12.0 : (i <= 5 ? 4.0 * i - 8.0 : 2.0 * i + 4.0);
        EXPECT_NEAR(sid_gain_table[i], 2.0 * std::pow(10.0, q / 20.0), 0.0005 + 1e-12) << i;
    }
    EXPECT_EQ(sid_gain_energy_factors[0], 0.003125);
    EXPECT_EQ(sid_gain_energy_factors[1], 0.00078125);
    EXPECT_EQ(sid_gain_energy_factors[2], 0.000390625);
}
