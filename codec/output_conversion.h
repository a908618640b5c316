// SPDX-License-Identifier: BSD-2-Clause
// Conversion of the decoder's double samples to 16-bit PCM.
#pragma once

#include <cmath>
#include <cstdint>

namespace g729 {

// Rounds half away from zero and saturates to the 16-bit range. A non-finite value can only
// come from a corrupted state; it is emitted as silence rather than converted undefinedly.
inline int16_t double_to_pcm16(double x) {
    if (!std::isfinite(x)) return 0;
    const double rounded = (x >= 0.0) ? x + 0.5 : x - 0.5;
    if (rounded > 32767.0) return 32767;
    if (rounded < -32768.0) return -32768;
    return static_cast<int16_t>(rounded);
}

// double_to_pcm16 of count samples, on the best instruction set.
void pcm16_from_doubles(const double* x, int16_t* out, int count);

}  // namespace g729
