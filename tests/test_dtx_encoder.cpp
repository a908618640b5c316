// SPDX-License-Identifier: BSD-2-Clause
// DTX encoder: SID scheduling, autocorrelation bookkeeping, and agreement with the
// comfort-noise decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "codec/dtx/comfort_noise.h"
#include "codec/dtx/dtx_encoder.h"
#include "codec/g729.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/sid_lsf_quantizer.h"
#include "codec/tables/comfort_noise_tables.h"

using namespace g729;

namespace {

// Autocorrelation of a first-order process: energy * rho^k.
void ar1(double energy, double rho, double r[11]) {
    double p = 1.0;
    for (int k = 0; k < 11; k++) {
        r[k] = energy * p;
        p *= rho;
    }
}

// The encoder's DTX side as the frame driver runs it (memory worked on in place).
struct DtxEncoder {
    g729_dtx_state dtx;
    double exc[234];
    double lsp_prev_q[10];
    double memory[4][10];
    double pred[2][4][10];
    double exc_err[4] = {1.0, 1.0, 1.0, 1.0};
    double lpc[22];
    int16_t seed = 11111;
    int32_t vad_prev = 1;
    int32_t params[G729_PARAMS_SIZE];

    DtxEncoder() {
        dtx_init(&dtx);
        std::mt19937 rng(5);
        std::normal_distribution<double> g(0.0, 200.0);
        for (double& x : exc) x = g(rng);
        std::memcpy(lsp_prev_q, initial_lsp, sizeof lsp_prev_q);
        for (auto& row : memory) std::memcpy(row, initial_lsf, sizeof row);
        noise_ma_pred_init(pred);
    }

    // Returns the frame type (1 for a voice frame).
    int32_t frame(const double r[11], int32_t voice) {
        update_autocorr_history(&dtx, r, voice);
        int32_t type = G729_FRAME_SPEECH;
        if (voice) {
            seed = 11111;
        } else {
            encode_inactive_frame(&dtx, exc + 154, vad_prev, lsp_prev_q, lpc, params, memory, &seed,
                                  pred, exc_err);
            type = params[0];
        }
        vad_prev = voice;
        std::memmove(exc, exc + 80, 154 * sizeof(double));
        return type;
    }
};

std::vector<int32_t> run_noise(DtxEncoder& enc, const double r[11], int frames) {
    std::vector<int32_t> types;
    for (int f = 0; f < frames; f++) types.push_back(enc.frame(r, 0));
    return types;
}

}  // namespace

TEST(DtxEncoder, AutocorrelationSumsEverySecondFrame) {
    DtxEncoder enc;
    g729_dtx_state& dtx = enc.dtx;
    double r[4][11];
    for (int f = 0; f < 4; f++) ar1(1.0e5 * (f + 1), 0.5, r[f]);
    enc.frame(r[0], 1);
    EXPECT_EQ(dtx.autocorr_frame, 1);
    EXPECT_EQ(dtx.autocorr_sums[0][0], 0.0);
    enc.frame(r[1], 1);
    EXPECT_EQ(dtx.autocorr_frame, 0);
    EXPECT_EQ(dtx.autocorr_history[0][3], r[1][3]);
    EXPECT_EQ(dtx.autocorr_history[1][3], r[0][3]);
    for (int i = 0; i < 11; i++) EXPECT_EQ(dtx.autocorr_sums[0][i], r[1][i] + r[0][i]);

    // On noise, the pair is summed by the inactive-frame coder, not by the history update.
    update_autocorr_history(&dtx, r[2], 0);
    update_autocorr_history(&dtx, r[3], 0);
    EXPECT_EQ(dtx.autocorr_sums[0][0], r[1][0] + r[0][0]);
    EXPECT_EQ(dtx.autocorr_sums[1][0], 0.0);
    encode_inactive_frame(&dtx, enc.exc + 154, 1, enc.lsp_prev_q, enc.lpc, enc.params,
                          enc.memory, &enc.seed, enc.pred, enc.exc_err);
    for (int i = 0; i < 11; i++) {
        EXPECT_EQ(dtx.autocorr_sums[0][i], r[3][i] + r[2][i]);
        EXPECT_EQ(dtx.autocorr_sums[1][i], r[1][i] + r[0][i]);
    }
}

// The SID filter is the long-term average unless the current frames' residual through it
// exceeds their own residual energy by the factor 1.0966466.
TEST(DtxEncoder, SidFilterSwitchesToCurrentFilterOnPoorFit) {
    double old_r[11];
    ar1(4.0e6, 0.8, old_r);
    auto filter_acf = [](const double a[11], double out[11]) {
        for (int i = 0; i < 11; i++) {
            double s = 0.0;
            for (int j = 0; j + i < 11; j++) s += a[j] * a[j + i];
            out[i] = i == 0 ? s : 2.0 * s;
        }
    };
    int seen[2] = {0, 0};
    for (double rho = 0.8; rho > 0.5; rho -= 0.004) {
        double new_r[11];
        ar1(4.0e6, rho, new_r);
        DtxEncoder enc;
        for (int f = 0; f < 10; f++) enc.frame(old_r, 1);
        enc.frame(new_r, 1);
        ASSERT_EQ(enc.frame(new_r, 0), G729_FRAME_SID);

        double sums[11], acf[11], past[11], curr[11], rc[10], ref_past[11], ref_curr[11];
        for (int i = 0; i < 11; i++) {
            sums[i] = (old_r[i] + old_r[i]) + (old_r[i] + old_r[i]) + (old_r[i] + old_r[i]);
            acf[i] = new_r[i] + new_r[i];
        }
        levinson_durbin(sums, past, rc);
        const double err = levinson_durbin(acf, curr, rc);
        filter_acf(past, ref_past);
        filter_acf(curr, ref_curr);
        double fit = 0.0;
        for (int i = 0; i < 11; i++) fit += ref_past[i] * acf[i];
        const double ratio = fit / err;
        if (ratio > 1.0966466 * 1.001 && ratio < 1.1481628) {
            EXPECT_EQ(0, std::memcmp(enc.dtx.ref_autocorr, ref_curr, sizeof ref_curr)) << rho;
            seen[1]++;
        } else if (ratio < 1.0966466 * 0.999) {
            EXPECT_EQ(0, std::memcmp(enc.dtx.ref_autocorr, ref_past, sizeof ref_past)) << rho;
            seen[0]++;
        }
    }
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

TEST(DtxEncoder, StationaryNoiseSendsOneSidPerNoisePeriod) {
    DtxEncoder enc;
    double r[11];
    ar1(4.0e6, 0.8, r);
    for (int f = 0; f < 10; f++) ASSERT_EQ(enc.frame(r, 1), G729_FRAME_SPEECH);
    std::vector<int32_t> types = run_noise(enc, r, 20);
    EXPECT_EQ(types[0], G729_FRAME_SID);
    for (int f = 1; f < 20; f++) EXPECT_EQ(types[f], G729_FRAME_NO_TRANSMISSION) << f;
    EXPECT_EQ(enc.dtx.frames_since_sid, 3);

    // The first noise frame after voice is a SID even when nothing changed.
    for (int f = 0; f < 4; f++) enc.frame(r, 1);
    types = run_noise(enc, r, 10);
    EXPECT_EQ(types[0], G729_FRAME_SID);
    for (int f = 1; f < 10; f++) EXPECT_EQ(types[f], G729_FRAME_NO_TRANSMISSION) << f;
}

TEST(DtxEncoder, ChangeRightAfterSidWaitsForThirdFrame) {
    for (int kind = 0; kind < 2; kind++) {
        DtxEncoder enc;
        double r[11], changed[11];
        ar1(4.0e6, 0.8, r);
        if (kind == 0) {
            ar1(4.0e7, 0.8, changed);   // level change
        } else {
            ar1(4.0e6, -0.6, changed);  // spectral change
        }
        for (int f = 0; f < 10; f++) enc.frame(r, 1);
        EXPECT_EQ(enc.frame(r, 0), G729_FRAME_SID);
        const std::vector<int32_t> types = run_noise(enc, changed, 8);
        const int32_t expected[8] = {0, 0, 2, 0, 0, 0, 0, 0};
        for (int f = 0; f < 8; f++) EXPECT_EQ(types[f], expected[f]) << "kind " << kind << " frame " << f;
    }
}

TEST(DtxEncoder, EnergyDifferenceOfExactlyTwoDbIsNoChange) {
    for (int c = 0; c < 4; c++) {
        DtxEncoder enc;
        double r[11];
        ar1(4.0e6, 0.8, r);
        for (int f = 0; f < 10; f++) enc.frame(r, 1);
        ASSERT_EQ(enc.frame(r, 0), G729_FRAME_SID);
        // The level of the following frames stays q; move the reference level around it.
        const double q = enc.dtx.sid_energy;
        const double refs[4] = {q + 2.0, q - 2.0, std::nextafter(q + 2.0, 1e300),
                                std::nextafter(q - 2.0, -1e300)};
        enc.dtx.sid_energy = refs[c];
        const std::vector<int32_t> types = run_noise(enc, r, 4);
        EXPECT_EQ(types[0], 0);
        EXPECT_EQ(types[1], 0);
        EXPECT_EQ(types[2], c < 2 ? 0 : 2) << "case " << c;
    }
}

TEST(DtxEncoder, SilentStartFallsBackToFlatFilter) {
    DtxEncoder enc;  // empty autocorrelation history and sums
    encode_inactive_frame(&enc.dtx, enc.exc + 154, 1, enc.lsp_prev_q, enc.lpc, enc.params,
                          enc.memory, &enc.seed, enc.pred, enc.exc_err);
    const g729_dtx_state& d = enc.dtx;
    EXPECT_EQ(enc.params[0], G729_FRAME_SID);
    EXPECT_EQ(enc.params[4], 0);
    EXPECT_EQ(d.sid_energy, -12.0);
    EXPECT_EQ(d.residual_energy[0], 0.0);
    EXPECT_EQ(d.past_coeff[0], 1.0);
    for (int i = 1; i < 11; i++) EXPECT_EQ(d.past_coeff[i], 0.0);
    EXPECT_EQ(d.noise_gain, sid_gain_table[0]);
}

// The comfort-noise decoder fed with the encoder's frames reproduces the encoder's
// excitation, filters and predictor memory bit for bit.
TEST(DtxEncoder, DecoderFollowsEncoderBitExactly) {
    DtxEncoder enc;
    double quiet[11], loud[11], other[11];
    ar1(4.0e6, 0.8, quiet);
    ar1(9.0e7, 0.8, loud);
    ar1(2.0e7, -0.5, other);
    for (int f = 0; f < 10; f++) enc.frame(quiet, 1);

    g729_cng_state cng{};
    cng.sid_gain = 0.502;
    for (double& e : cng.exc_err) e = 1.0;
    double dec_exc[234];
    std::memcpy(dec_exc, enc.exc, sizeof dec_exc);
    double dec_lsp_prev[10];
    std::memcpy(dec_lsp_prev, initial_lsp, sizeof dec_lsp_prev);
    double dec_memory[4][10];
    std::memcpy(dec_memory, enc.memory, sizeof dec_memory);
    int16_t dec_seed = 11111;
    int32_t prev_type = 1;

    int sids = 0;
    for (int f = 0; f < 40; f++) {
        const double* r = f < 10 ? quiet : (f < 25 ? loud : other);
        const int32_t type = enc.frame(r, 0);
        sids += type == G729_FRAME_SID;
        const int32_t params[5] = {type, enc.params[1], enc.params[2], enc.params[3], enc.params[4]};
        double dec_lpc[22];
        decode_comfort_noise(&cng, prev_type, params, dec_exc + 154, dec_lsp_prev, dec_lpc, 0.0,
                             &dec_seed, dec_memory, enc.pred);
        prev_type = type;
        // enc.exc was already shifted; the frame just made sits at 74..153.
        ASSERT_EQ(0, std::memcmp(enc.exc + 74, dec_exc + 154, 80 * sizeof(double))) << f;
        ASSERT_EQ(0, std::memcmp(enc.lpc, dec_lpc, sizeof dec_lpc)) << f;
        ASSERT_EQ(0, std::memcmp(enc.lsp_prev_q, dec_lsp_prev, sizeof dec_lsp_prev)) << f;
        ASSERT_EQ(0, std::memcmp(enc.memory, dec_memory, sizeof dec_memory)) << f;
        ASSERT_EQ(enc.seed, dec_seed);
        ASSERT_EQ(enc.dtx.noise_gain, cng.noise_gain);
        std::memmove(dec_exc, dec_exc + 80, 154 * sizeof(double));
    }
    EXPECT_GE(sids, 3);
}
