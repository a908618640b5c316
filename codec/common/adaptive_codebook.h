// SPDX-License-Identifier: BSD-2-Clause
// The adaptive-codebook vector and the pitch-sharpening factor, which the encoder, the decoder
// and the comfort-noise generator derive alike.
#pragma once

namespace g729 {

// Past excitation delayed by t0 + frac/3 samples (frac -1, 0 or 1), written at
// exc[0..length-1]; exc[-t0-10..] is read.
void adaptive_codebook_interpolate(double* exc, int t0, int frac, int length);

// Pitch-sharpening factor for the next subframe: the quantized pitch gain kept within
// [0.2, 0.7945].
inline double pitch_sharpening(double gain_pitch) {
    if (gain_pitch > 0.7945) return 0.7945;
    if (gain_pitch < 0.2) return 0.2;
    return gain_pitch;
}

}  // namespace g729
