// SPDX-License-Identifier: BSD-2-Clause
// Comfort noise: decoding of inactive frames, the random excitation generator shared with
// the DTX encoder, and the SID energy quantizer.
#include "codec/dtx/comfort_noise.h"

#include <cmath>

#include "codec/common/adaptive_codebook.h"
#include "codec/common/taming.h"
#include "codec/frame_constants.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/primitives.h"
#include "codec/lpc/sid_lsf_quantizer.h"
#include "codec/tables/comfort_noise_tables.h"

namespace g729 {

namespace {

// One subframe of comfort excitation: scaled Gaussian noise plus a random adaptive
// contribution, then four pulses whose amplitude brings the energy to 40 * gain^2.
void comfort_subframe(double exc_err[4], double* exc, int16_t* seed, int encoder_mode,
                      double gain) {
    // Adaptive lag and fraction, positions and signs of the four pulses.
    const int16_t r1 = random_next(seed);
    int frac = (r1 & 3) - 1;
    if (frac == 2) frac = 0;
    const int lag = ((r1 >> 2) & 63) + 40;

    int pos[4];
    double sign[4];
    pos[0] = 5 * ((r1 >> 8) & 7);
    sign[0] = (r1 & 0x0800) != 0 ? 1.0 : -1.0;
    pos[1] = 5 * ((r1 >> 12) & 7) + 1;
    sign[1] = (r1 & 0x8000) != 0 ? 1.0 : -1.0;

    const int16_t r2 = random_next(seed);
    pos[2] = 5 * (r2 & 7) + 1;
    sign[2] = (r2 & 0x0008) != 0 ? 1.0 : -1.0;
    pos[3] = 5 * ((r2 >> 5) & 7) + 3 + ((r2 >> 4) & 1);
    sign[3] = (r2 & 0x0100) != 0 ? 1.0 : -1.0;

    const int16_t r3 = random_next(seed);
    double gp = (r3 & 0x1FFF) * 0.00006103515625;

    // Gaussian vector: sum of 12 uniform draws per sample.
    double gauss[kSubframeLength];
    double eg = 0.0;
    for (int i = 0; i < kSubframeLength; i++) {
        int32_t acc = 0;
        for (int k = 0; k < 12; k++) acc += random_next(seed);
        gauss[i] = (acc >> 7) * 0.001953125;
        eg += gauss[i] * gauss[i];
    }
    const double scale = (3.16227766 * gain) / std::sqrt(eg);
    for (int i = 0; i < kSubframeLength; i++) gauss[i] *= scale;

    adaptive_codebook_interpolate(exc, lag, frac, kSubframeLength);

    double energy = 0.0;
    for (int i = 0; i < kSubframeLength; i++) {
        exc[i] = gp * exc[i] + gauss[i];
        energy += exc[i] * exc[i];
    }

    double b = 0.0;
    for (int k = 0; k < 4; k++) b += sign[k] * exc[pos[k]];

    const double gain2 = gain * gain;
    double delta = b * b - 4.0 * (energy - 40.0 * gain2);
    if (delta < 0.0) {
        // No real pulse amplitude reaches the target energy: drop the adaptive part.
        for (int i = 0; i < kSubframeLength; i++) exc[i] = gauss[i];
        gp = 0.0;
        b = 0.0;
        for (int k = 0; k < 4; k++) b += sign[k] * exc[pos[k]];
        delta = b * b + 3.0 * 40.0 * gain2;
    }

    const double root = std::sqrt(delta);
    const double x1 = (root - b) * 0.25;
    const double x2 = -(b + root) * 0.25;
    double x = std::fabs(x1) < std::fabs(x2) ? x1 : x2;
    if (x > 5000.0) x = 5000.0;
    if (x < -5000.0) x = -5000.0;

    for (int k = 0; k < 4; k++) exc[pos[k]] += sign[k] * x;

    if (encoder_mode != 0) taming_update(exc_err, lag, gp);
}

}  // namespace

void generate_comfort_excitation(double exc_err[4], double* exc, int16_t* seed, int encoder_mode,
                                 double gain) {
    if (gain == 0.0) {
        for (int i = 0; i < kFrameLength; i++) exc[i] = 0.0;
        if (encoder_mode != 0) {
            taming_update(exc_err, 41, 0.0);
            taming_update(exc_err, 41, 0.0);
        }
        return;
    }
    comfort_subframe(exc_err, exc, seed, encoder_mode, gain);
    comfort_subframe(exc_err, exc + kSubframeLength, seed, encoder_mode, gain);
}

void quantize_sid_gain(const double* energies, int count, double* level, int32_t* index) {
    double e;
    if (count == 0) {
        e = energies[0] * sid_gain_energy_factors[0];
    } else {
        double sum = 0.0;
        for (int i = 0; i < count; i++) sum += energies[i];
        e = sum * sid_gain_energy_factors[count];
    }

    if (e <= 0.1588489319) {
        *level = -12.0;
        *index = 0;
        return;
    }
    const double l = 10.0 * std::log10(e);
    if (l <= -8.0) {
        *level = -12.0;
        *index = 0;
    } else if (l >= 65.0) {
        *level = 66.0;
        *index = 31;
    } else if (l <= 14.0) {
        int32_t i = static_cast<int32_t>((l + 10.0) * 0.25);
        if (i <= 0) {
            *index = 1;
            *level = -4.0;
        } else {
            *index = i;
            *level = 4.0 * i - 8.0;
        }
    } else {
        int32_t i = static_cast<int32_t>((l - 3.0) * 0.5);
        if (i <= 5) {
            *index = 6;
            *level = 16.0;
        } else {
            *index = i;
            *level = 2.0 * i + 4.0;
        }
    }
}

void decode_comfort_noise(g729_cng_state* cng, int32_t prev_frame_type, const int32_t* params,
                          double exc[80], double lsp_prev[10], double lpc[22], double exc_energy,
                          int16_t* cng_seed, double memory[4][10],
                          const double noise_ma_pred[2][4][10]) {
    double gain;
    if (params[0] != 0) {
        // SID frame: new spectrum and level.
        cng->sid_gain = sid_gain_table[params[4] & 31];
        sid_lsf_decode(noise_ma_pred, &params[1], cng->lsp_sid, memory);
        if (prev_frame_type == 1) {
            gain = cng->sid_gain;
        } else {
            gain = 0.875 * cng->noise_gain + 0.125 * cng->sid_gain;
        }
    } else if (prev_frame_type == 1) {
        // First untransmitted frame after speech: level from the last speech excitation.
        double level;
        int32_t index;
        quantize_sid_gain(&exc_energy, 0, &level, &index);
        cng->sid_gain = sid_gain_table[index];
        gain = cng->sid_gain;
    } else {
        gain = 0.875 * cng->noise_gain + 0.125 * cng->sid_gain;
    }
    cng->noise_gain = gain;

    generate_comfort_excitation(cng->exc_err, exc, cng_seed, 0, gain);

    lsp_interpolate_to_lpc(lsp_prev, cng->lsp_sid, lpc);
    for (int i = 0; i < 10; i++) lsp_prev[i] = cng->lsp_sid[i];
}

}  // namespace g729
