// SPDX-License-Identifier: BSD-2-Clause
// Discontinuous transmission: decides between a SID frame and no transmission for each
// noise frame, quantizes the SID parameters and produces the comfort-noise excitation and
// filters that the decoder will reproduce.
#include "codec/dtx/dtx_encoder.h"

#include <cmath>

#include "codec/dtx/comfort_noise.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/sid_lsf_quantizer.h"
#include "codec/tables/comfort_noise_tables.h"

namespace g729 {

namespace {

constexpr int kSize = 11;             // autocorrelation lags 0..10, filter 1, a1..a10
constexpr double kSpectralChange = 1.1481628;
constexpr double kStationary = 1.0966466;

// Pushes the sum of the two latest autocorrelations into the 3-slot sum history.
void update_autocorr_sums(g729_dtx_state* dtx) {
    for (int i = 0; i < kSize; i++) {
        dtx->autocorr_sums[2][i] = dtx->autocorr_sums[1][i];
        dtx->autocorr_sums[1][i] = dtx->autocorr_sums[0][i];
    }
    for (int i = 0; i < kSize; i++) {
        dtx->autocorr_sums[0][i] = dtx->autocorr_history[0][i] + dtx->autocorr_history[1][i];
    }
}

// Autocorrelation of filter coefficients; its product with a signal autocorrelation gives
// the residual energy of that signal through the filter.
void filter_autocorr(const double a[11], double out[11]) {
    double sum = 0.0;
    for (int j = 0; j < kSize; j++) sum += a[j] * a[j];
    out[0] = sum;
    for (int i = 1; i < kSize; i++) {
        sum = 0.0;
        for (int j = 0; j < kSize - i; j++) sum += a[j] * a[j + i];
        out[i] = 2.0 * sum;
    }
}

double filter_residual_energy(const double ref[11], const double r[11]) {
    double sum = 0.0;
    for (int i = 0; i < kSize; i++) sum += ref[i] * r[i];
    return sum;
}

void flat_filter(double a[11]) {
    a[0] = 1.0;
    for (int i = 1; i < kSize; i++) a[i] = 0.0;
}

}  // namespace

void dtx_init(g729_dtx_state* dtx) {
    *dtx = g729_dtx_state{};
}

void update_autocorr_history(g729_dtx_state* dtx, const double r[11], int32_t voice) {
    for (int i = 0; i < kSize; i++) {
        dtx->autocorr_history[1][i] = dtx->autocorr_history[0][i];
        dtx->autocorr_history[0][i] = r[i];
    }
    if (dtx->autocorr_frame == 0) {
        dtx->autocorr_frame = 1;
        return;
    }
    dtx->autocorr_frame = 0;
    if (voice != 0) update_autocorr_sums(dtx);
}

void encode_inactive_frame(g729_dtx_state* dtx, double exc[80], int32_t vad_prev,
                           double lsp_prev_q[10], double lpc[22], int32_t params[G729_PARAMS_SIZE],
                           double memory[4][10], int16_t* cng_seed,
                           const double noise_ma_pred[2][4][10], double exc_err[4]) {
    dtx->residual_energy[1] = dtx->residual_energy[0];

    // Current filter from the autocorrelation of the last two frames.
    double acf[kSize];
    for (int i = 0; i < kSize; i++) {
        acf[i] = dtx->autocorr_history[0][i] + dtx->autocorr_history[1][i];
    }
    double curr_coeff[kSize];
    double rc[10];
    if (acf[0] != 0.0) {
        dtx->residual_energy[0] = levinson_durbin(acf, curr_coeff, rc);
    } else {
        flat_filter(curr_coeff);
        dtx->residual_energy[0] = 0.0;
    }

    int32_t frame_type;
    double level;
    int32_t gain_index;
    if (vad_prev != 0) {
        // First noise frame after voice: always described.
        frame_type = G729_FRAME_SID;
        dtx->frames_since_sid = 0;
        dtx->energy_count = 1;
        quantize_sid_gain(dtx->residual_energy, dtx->energy_count, &level, &gain_index);
    } else {
        dtx->energy_count = dtx->energy_count + 1 < 2 ? dtx->energy_count + 1 : 2;
        quantize_sid_gain(dtx->residual_energy, dtx->energy_count, &level, &gain_index);

        if (kSpectralChange * dtx->residual_energy[0] <
            filter_residual_energy(dtx->ref_autocorr, acf)) {
            dtx->filter_changed = 1;
        }
        if (std::fabs(dtx->sid_energy - level) > 2.0) dtx->filter_changed = 1;

        dtx->frames_since_sid++;
        if (dtx->frames_since_sid <= 2) {
            frame_type = G729_FRAME_NO_TRANSMISSION;
        } else {
            frame_type = dtx->filter_changed == 1 ? G729_FRAME_SID : G729_FRAME_NO_TRANSMISSION;
            dtx->frames_since_sid = 3;
        }
    }
    params[0] = frame_type;

    if (frame_type == G729_FRAME_SID) {
        dtx->frames_since_sid = 0;
        dtx->filter_changed = 0;

        // Average filter over the last sums.
        double sums[kSize];
        for (int i = 0; i < kSize; i++) {
            sums[i] = dtx->autocorr_sums[0][i] + dtx->autocorr_sums[1][i] +
                      dtx->autocorr_sums[2][i];
        }
        if (sums[0] != 0.0) {
            levinson_durbin(sums, dtx->past_coeff, rc);
        } else {
            flat_filter(dtx->past_coeff);
        }
        filter_autocorr(dtx->past_coeff, dtx->ref_autocorr);

        // Keep the average filter unless it fits the current frames clearly worse.
        const double* sid_filter = dtx->past_coeff;
        if (kStationary * dtx->residual_energy[0] <
            filter_residual_energy(dtx->ref_autocorr, acf)) {
            sid_filter = curr_coeff;
            filter_autocorr(curr_coeff, dtx->ref_autocorr);
        }

        double lsp_new[10];
        lpc_to_lsp(sid_filter, lsp_new, lsp_prev_q);
        sid_lsf_quantize(noise_ma_pred, lsp_new, dtx->lsp_sid_q, memory, &params[1]);

        dtx->sid_energy = level;
        params[4] = gain_index;
        dtx->sid_gain = sid_gain_table[gain_index];
    }

    if (vad_prev != 0) {
        dtx->noise_gain = dtx->sid_gain;
    } else {
        dtx->noise_gain = 0.875 * dtx->noise_gain + 0.125 * dtx->sid_gain;
    }

    generate_comfort_excitation(exc_err, exc, cng_seed, 1, dtx->noise_gain);

    lsp_interpolate_to_lpc(lsp_prev_q, dtx->lsp_sid_q, lpc);
    for (int i = 0; i < 10; i++) lsp_prev_q[i] = dtx->lsp_sid_q[i];

    if (dtx->autocorr_frame == 0) update_autocorr_sums(dtx);
}

}  // namespace g729
