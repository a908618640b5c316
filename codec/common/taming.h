// SPDX-License-Identifier: BSD-2-Clause
// Taming: the encoder limits the pitch gain where the excitation's error could grow through
// the long-term loop. The error of the past four zones of 40 samples (exc_err) is kept by the
// encoder and moved on by the comfort-noise generator alike.
#pragma once

#include <algorithm>
#include <cstdint>

namespace g729 {

namespace taming_detail {
inline int32_t truncate_toward_zero(double v) { return static_cast<int32_t>(v); }
}  // namespace taming_detail

// 1 when the pitch gain must be limited to keep the excitation loop stable.
inline int32_t taming_check(const double exc_err[4], int t0, int frac) {
    using taming_detail::truncate_toward_zero;
    const int t1 = (frac > 0) ? t0 + 1 : t0;
    const int32_t zone1 = truncate_toward_zero(static_cast<double>(std::max(t1 - 50, 0)) * 0.025);
    const int32_t zone2 = truncate_toward_zero(static_cast<double>(t1 + 8) * 0.025);
    if (zone1 > zone2) return 0;
    double worst = -1.0;
    for (int32_t i = zone2; i >= zone1; --i) worst = std::max(worst, exc_err[i]);
    return worst > 60000.0 ? 1 : 0;
}

// The error moved on by a subframe of lag t0 and pitch gain gain_pitch.
inline void taming_update(double exc_err[4], int t0, double gain_pitch) {
    using taming_detail::truncate_toward_zero;
    double worst;
    if (t0 < 40) {
        const double c1 = exc_err[0] * gain_pitch + 1.0;
        worst = std::max(c1 * gain_pitch + 1.0, std::max(c1, -1.0));
    } else {
        const int32_t zone1 = truncate_toward_zero(static_cast<double>(t0 - 40) * 0.025);
        const int32_t zone2 = truncate_toward_zero(static_cast<double>(t0 - 1) * 0.025);
        worst = -1.0;
        for (int32_t j = zone1; j <= zone2; ++j)
            worst = std::max(exc_err[j] * gain_pitch + 1.0, worst);
    }
    exc_err[3] = exc_err[2];
    exc_err[2] = exc_err[1];
    exc_err[1] = exc_err[0];
    exc_err[0] = worst;
}

}  // namespace g729
