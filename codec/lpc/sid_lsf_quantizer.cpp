// SPDX-License-Identifier: BSD-2-Clause
// LSF quantizer of SID frames: switched MA prediction with the two noise predictors, a
// 32-entry first stage mapped onto lsp_codebook_1 and a 16-entry second stage mapped onto
// the two halves of lsp_codebook_2, searched over the 4 best first-stage candidates.
#include "codec/lpc/sid_lsf_quantizer.h"

#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/tables/lsp_quantizer_tables.h"
#include "codec/tables/sid_lsf_tables.h"

namespace g729 {

namespace {

constexpr int kOrder = 10;
constexpr int kStage1Size = 32;
constexpr int kStage2Size = 16;
constexpr int kCandidates = 4;
constexpr double kBig = 1e38;

// Rebuilds the quantized LSFs from an index triple and pushes the residual into memory.
void sid_lsf_rebuild(const double pred[2][4][10], int mode, int stage1, int stage2,
                     double lsf_q[10], double memory[4][10]) {
    const double* row1 = lsp_codebook_1[sid_stage1_map[stage1]];
    const double* low = lsp_codebook_2[sid_stage2_map[0][stage2]];
    const double* high = lsp_codebook_2[sid_stage2_map[1][stage2]];

    double buf[kOrder];
    for (int j = 0; j < kOrder; j++) buf[j] = row1[j];
    for (int j = 0; j < 5; j++) buf[j] += low[j];
    for (int j = 5; j < kOrder; j++) buf[j] += high[j];
    lsf_expand_all(buf, 0.0012);

    lsf_compose(buf, lsf_q, pred[mode], memory, noise_ma_sum[mode]);
    lsf_predictor_push(buf, memory);
    lsf_stabilize(lsf_q);
}

}  // namespace

void noise_ma_pred_init(double pred[2][4][10]) {
    for (int k = 0; k < 4; k++) {
        for (int i = 0; i < kOrder; i++) {
            pred[0][k][i] = lsf_ma_predictor[0][k][i];
            pred[1][k][i] = 0.6 * lsf_ma_predictor[0][k][i] + 0.4 * lsf_ma_predictor[1][k][i];
        }
    }
}

void sid_lsf_quantize(const double pred[2][4][10], const double lsp[10], double lsp_q[10],
                      double memory[4][10], int32_t index[3]) {
    double lsf[kOrder];
    lsp_to_lsf(lsp, lsf, kOrder);

    // Condition the input: lower limit, double spacing, upper limit.
    if (lsf[0] < 0.005) lsf[0] = 0.005;
    for (int j = 0; j < kOrder - 1; j++) {
        if (lsf[j + 1] - lsf[j] < 0.0784) lsf[j + 1] = lsf[j] + 0.0784;
    }
    if (lsf[9] > 3.135) lsf[9] = 3.135;
    if (lsf[8] > lsf[9]) lsf[8] = lsf[9] - 0.0392;

    double w[kOrder];
    lsf_weights(lsf, w);

    double target[2][kOrder];
    for (int mode = 0; mode < 2; mode++) {
        lsf_residual_extract(lsf, target[mode], pred[mode], memory, noise_ma_sum_inv[mode]);
    }

    // First stage: unweighted distances for both modes.
    double dist[2][kStage1Size];
    for (int mode = 0; mode < 2; mode++) {
        for (int n = 0; n < kStage1Size; n++) {
            const double* row = lsp_codebook_1[sid_stage1_map[n]];
            double sum = 0.0;
            for (int j = 0; j < kOrder; j++) {
                const double d = target[mode][j] - row[j];
                sum += d * d;
            }
            dist[mode][n] = sid_stage1_scale[mode] * sum;
        }
    }

    // Keep the 4 best (mode, index) pairs; ties go to mode 0, then to the lower index.
    int cand_mode[kCandidates];
    int cand_index[kCandidates];
    for (int k = 0; k < kCandidates; k++) {
        double best = kBig;
        int best_mode = 0;
        int best_n = 0;
        for (int mode = 0; mode < 2; mode++) {
            for (int n = 0; n < kStage1Size; n++) {
                if (dist[mode][n] < best) {
                    best = dist[mode][n];
                    best_mode = mode;
                    best_n = n;
                }
            }
        }
        cand_mode[k] = best_mode;
        cand_index[k] = best_n;
        dist[best_mode][best_n] = kBig;
    }

    // Second stage: weighted search of both halves together for each candidate.
    double best = kBig;
    int best_k = 0;
    int best_m = 0;
    for (int k = 0; k < kCandidates; k++) {
        const int mode = cand_mode[k];
        const double* row = lsp_codebook_1[sid_stage1_map[cand_index[k]]];
        double r[kOrder];
        double v[kOrder];
        for (int j = 0; j < kOrder; j++) {
            r[j] = target[mode][j] - row[j];
            v[j] = w[j] * (noise_ma_sum[mode][j] * noise_ma_sum[mode][j]);
        }
        for (int m = 0; m < kStage2Size; m++) {
            const double* low = lsp_codebook_2[sid_stage2_map[0][m]];
            const double* high = lsp_codebook_2[sid_stage2_map[1][m]];
            double e = 0.0;
            for (int j = 0; j < 5; j++) {
                const double d = r[j] - low[j];
                e += v[j] * (d * d);
            }
            for (int j = 5; j < kOrder; j++) {
                const double d = r[j] - high[j];
                e += v[j] * (d * d);
            }
            if (e < best) {
                best = e;
                best_k = k;
                best_m = m;
            }
        }
    }

    index[0] = cand_mode[best_k];
    index[1] = cand_index[best_k];
    index[2] = best_m;

    double lsf_q[kOrder];
    sid_lsf_rebuild(pred, index[0], index[1], index[2], lsf_q, memory);
    lsf_to_lsp(lsf_q, lsp_q, kOrder);
}

void sid_lsf_decode(const double pred[2][4][10], const int32_t index[3], double lsp_q[10],
                    double memory[4][10]) {
    // The fields are 1, 5 and 4 bits wide; masking keeps any caller's value inside the tables.
    const int mode = index[0] & 1;
    const int stage1 = index[1] & 31;
    const int stage2 = index[2] & 15;

    double lsf_q[kOrder];
    sid_lsf_rebuild(pred, mode, stage1, stage2, lsf_q, memory);
    lsf_to_lsp(lsf_q, lsp_q, kOrder);
}

}  // namespace g729
