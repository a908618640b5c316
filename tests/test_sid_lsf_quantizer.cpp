// SPDX-License-Identifier: BSD-2-Clause
// SID LSF quantizer: encoder/decoder agreement, candidate search, output invariants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "codec/g729.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/lpc/sid_lsf_quantizer.h"
#include "codec/tables/lsp_quantizer_tables.h"
#include "codec/tables/sid_lsf_tables.h"

using namespace g729;

namespace {

// Random increasing LSF set in (0, pi) with a chosen minimum spacing, as LSPs.
void random_lsp(std::mt19937& rng, double spacing, double lsp[10]) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double lsf[10];
    double x = 0.02 + 0.2 * u(rng);
    for (int i = 0; i < 10; i++) {
        lsf[i] = x;
        x += spacing + 0.25 * u(rng);
    }
    const double top = lsf[9] > 3.1 ? 3.1 / lsf[9] : 1.0;
    for (int i = 0; i < 10; i++) lsp[i] = std::cos(lsf[i] * top);
}

// Memory as left by a few SID frames from the initial state.
void prime_memory(std::mt19937& rng, const double pred[2][4][10], double memory[4][10]) {
    for (int k = 0; k < 4; k++) {
        for (int i = 0; i < 10; i++) memory[k][i] = initial_lsf[i];
    }
    for (int f = 0; f < 3; f++) {
        double lsp[10], lsp_q[10];
        int32_t index[3];
        random_lsp(rng, 0.2, lsp);
        sid_lsf_quantize(pred, lsp, lsp_q, memory, index);
    }
}

}  // namespace

TEST(SidLsfQuantizer, DecoderReproducesEncoderBitExactly) {
    double pred[2][4][10];
    noise_ma_pred_init(pred);
    std::mt19937 rng(7);
    double enc_mem[4][10];
    prime_memory(rng, pred, enc_mem);
    double dec_mem[4][10];
    std::memcpy(dec_mem, enc_mem, sizeof enc_mem);
    bool used_mode[2] = {false, false};

    for (int f = 0; f < 200; f++) {
        double lsp[10], enc_lsp[10], dec_lsp[10];
        int32_t index[3];
        random_lsp(rng, f % 2 == 0 ? 0.01 : 0.15, lsp);
        double old_rows[3][10];
        std::memcpy(old_rows, enc_mem, sizeof old_rows);

        sid_lsf_quantize(pred, lsp, enc_lsp, enc_mem, index);
        ASSERT_GE(index[0], 0);
        ASSERT_LE(index[0], 1);
        ASSERT_GE(index[1], 0);
        ASSERT_LE(index[1], 31);
        ASSERT_GE(index[2], 0);
        ASSERT_LE(index[2], 15);
        used_mode[index[0]] = true;

        // The stored residual is the mapped codebook sum after one 0.0012 expansion pass.
        double buf[10];
        for (int j = 0; j < 10; j++) {
            buf[j] = lsp_codebook_1[sid_stage1_map[index[1]]][j] +
                     lsp_codebook_2[sid_stage2_map[j < 5 ? 0 : 1][index[2]]][j];
        }
        lsf_expand_all(buf, 0.0012);
        ASSERT_EQ(0, std::memcmp(buf, enc_mem[0], sizeof buf)) << "frame " << f;

        sid_lsf_decode(pred, index, dec_lsp, dec_mem);
        ASSERT_EQ(0, std::memcmp(enc_lsp, dec_lsp, sizeof enc_lsp)) << "frame " << f;
        ASSERT_EQ(0, std::memcmp(enc_mem, dec_mem, sizeof enc_mem)) << "frame " << f;

        // One new row; the older rows move down by one.
        ASSERT_EQ(0, std::memcmp(&enc_mem[1][0], &old_rows[0][0], sizeof old_rows));

        // Stabilized output: increasing, limited, spaced by 0.0392 up to the last pair.
        double lsf[10];
        lsp_to_lsf(enc_lsp, lsf, 10);
        EXPECT_GE(lsf[0], 0.005 - 1e-12);
        EXPECT_LE(lsf[9], 3.135 + 1e-12);
        for (int j = 0; j < 8; j++) EXPECT_GE(lsf[j + 1] - lsf[j], 0.0392 - 1e-9) << j;
    }
    EXPECT_TRUE(used_mode[0]);
    EXPECT_TRUE(used_mode[1]);
}

// The chosen triple is the best second-stage fit among the four best first-stage entries.
TEST(SidLsfQuantizer, ChoiceIsBestAmongFourFirstStageCandidates) {
    double pred[2][4][10];
    noise_ma_pred_init(pred);
    std::mt19937 rng(11);

    for (int f = 0; f < 150; f++) {
        double memory[4][10];
        prime_memory(rng, pred, memory);
        double lsp[10];
        random_lsp(rng, 0.1, lsp);
        if (f % 3 == 1) {
            lsp[8] = std::cos(3.13);  // LSF 9 is clamped, LSF 8 stays
            lsp[9] = std::cos(3.14);
        } else if (f % 3 == 2) {
            lsp[8] = std::cos(3.137);  // LSF 8 is pulled below the clamped LSF 9
            lsp[9] = std::cos(3.138);
        }

        // Conditioned input, weights and targets, built from the shared LSF helpers.
        double lsf[10];
        lsp_to_lsf(lsp, lsf, 10);
        if (lsf[0] < 0.005) lsf[0] = 0.005;
        for (int j = 0; j < 9; j++) {
            if (lsf[j + 1] - lsf[j] < 0.0784) lsf[j + 1] = lsf[j] + 0.0784;
        }
        if (lsf[9] > 3.135) lsf[9] = 3.135;
        if (lsf[8] > lsf[9]) lsf[8] = lsf[9] - 0.0392;
        double w[10], target[2][10];
        lsf_weights(lsf, w);
        for (int m = 0; m < 2; m++) lsf_residual_extract(lsf, target[m], pred[m], memory, noise_ma_sum_inv[m]);

        struct Entry { double d; int mode; int n; };
        Entry entries[64];
        for (int m = 0; m < 2; m++) {
            for (int n = 0; n < 32; n++) {
                double s = 0.0;
                for (int j = 0; j < 10; j++) {
                    const double d = target[m][j] - lsp_codebook_1[sid_stage1_map[n]][j];
                    s += d * d;
                }
                entries[m * 32 + n] = {sid_stage1_scale[m] * s, m, n};
            }
        }
        std::stable_sort(entries, entries + 64, [](const Entry& a, const Entry& b) { return a.d < b.d; });

        auto second_stage = [&](int m, int n, int k) {
            double e = 0.0;
            for (int j = 0; j < 10; j++) {
                const double r = target[m][j] - lsp_codebook_1[sid_stage1_map[n]][j];
                const double c = lsp_codebook_2[sid_stage2_map[j < 5 ? 0 : 1][k]][j];
                e += w[j] * (noise_ma_sum[m][j] * noise_ma_sum[m][j]) * ((r - c) * (r - c));
            }
            return e;
        };
        double best = 1e38;
        for (int c = 0; c < 4; c++) {
            for (int k = 0; k < 16; k++) best = std::min(best, second_stage(entries[c].mode, entries[c].n, k));
        }

        double lsp_q[10];
        int32_t index[3];
        sid_lsf_quantize(pred, lsp, lsp_q, memory, index);
        bool among = false;
        for (int c = 0; c < 4; c++) among |= entries[c].mode == index[0] && entries[c].n == index[1];
        EXPECT_TRUE(among) << "frame " << f;
        EXPECT_EQ(second_stage(index[0], index[1], index[2]), best) << "frame " << f;
    }
}

// Indices wider than their fields decode as their low bits, never outside the tables.
TEST(SidLsfQuantizer, DecodeMasksIndicesToTheirWidths) {
    double pred[2][4][10], mem[2][4][10], lsp[2][10];
    noise_ma_pred_init(pred);
    for (auto& m : mem) for (auto& row : m) std::memcpy(row, initial_lsf, sizeof row);
    const int32_t index[2][3] = {{3, 32 + 5, 16 + 9}, {1, 5, 9}};
    for (int k = 0; k < 2; k++) sid_lsf_decode(pred, index[k], lsp[k], mem[k]);
    EXPECT_EQ(0, std::memcmp(lsp[0], lsp[1], sizeof lsp[0]));
    EXPECT_EQ(0, std::memcmp(mem[0], mem[1], sizeof mem[0]));
}
