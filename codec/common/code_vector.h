// SPDX-License-Identifier: BSD-2-Clause
// The algebraic codebook's code vector as the encoder and the decoder build it: four signed
// pulses, pitch-sharpened.
#pragma once

namespace g729 {

// code[0..39]: code[pos[k]] = sign[k] (+1.0 or -1.0; the positions differ), then, when
// t0 < 40, code[i] += sharp * code[i - t0] for i = t0..39 in that order. With a lag of 20 or
// more every sample read is a pulse or zero, never one already sharpened, and a zero adds
// nothing: so only the samples t0 after each pulse change, each by sharp times that pulse's
// sign. A pulse whose sample would lie past the end adds sharp times 0.0 to the last sample,
// which leaves it as it is (it is +0.0 or a pulse), instead of taking a branch. Shorter lags
// sharpen samples already sharpened: they take the loop.
inline void sharpened_code_vector(const int pos[4], const double sign[4], int t0, double sharp,
                                  double code[40]) {
    constexpr int kLength = 40;
    for (int i = 0; i < kLength; i++) code[i] = 0.0;
    for (int k = 0; k < 4; k++) code[pos[k]] = sign[k];
    if (t0 >= kLength) return;
    if (t0 >= kLength / 2) {
        for (int k = 0; k < 4; k++) {
            const bool inside = pos[k] + t0 < kLength;
            const int at = inside ? pos[k] + t0 : kLength - 1;
            code[at] = code[at] + (inside ? sharp : 0.0) * sign[k];
        }
        return;
    }
    for (int i = t0; i < kLength; i++) code[i] = code[i] + sharp * code[i - t0];
}

}  // namespace g729
