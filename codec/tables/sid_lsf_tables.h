// SPDX-License-Identifier: BSD-2-Clause
// Tables of the SID (comfort-noise descriptor) LSF quantizer.
#pragma once

#include <cstdint>

namespace g729 {

// First-stage distance scale per predictor mode.
inline constexpr double sid_stage1_scale[2] = {
    0.065942075f, 0.12644604f,
};

// Per-mode predictor sums of the SID quantizer.
inline constexpr double noise_ma_sum[2][10] = {
    {2.379833e-01f, 2.577898e-01f, 2.504044e-01f, 2.530900e-01f, 2.479934e-01f, 2.587054e-01f, 2.577898e-01f, 2.656026e-01f, 2.759789e-01f, 2.625813e-01f},
    {0.320883796f, 0.378502704f, 0.391650136f, 0.363609794f, 0.349357626f, 0.356157116f, 0.339738164f, 0.345200944f, 0.361461228f, 0.349363712f},
};

// Per-mode inverse predictor sums of the SID quantizer.
inline constexpr double noise_ma_sum_inv[2][10] = {
    {4.201788e+00f, 3.879025e+00f, 3.993530e+00f, 3.951048e+00f, 4.032350e+00f, 3.865596e+00f, 3.879025e+00f, 3.765007e+00f, 3.623157e+00f, 3.807978e+00f},
    {3.11639295117289f, 2.64198905168191f, 2.55329925380136f, 2.75020094755754f, 2.86239636858535f, 2.80774960003888f, 2.94344323353675f, 2.89686345701303f, 2.76654844983817f, 2.86234650495126f},
};

// SID first-stage index to row of lsp_codebook_1.
inline constexpr int32_t sid_stage1_map[32] = {
    96, 52, 20, 54, 86, 114, 82, 68,
    36, 121, 48, 92, 18, 120, 94, 124,
    50, 125, 4, 100, 28, 76, 12, 117,
    81, 22, 90, 116, 127, 21, 108, 66,
};

// SID second-stage index to rows of lsp_codebook_2 (low half, high half).
inline constexpr int32_t sid_stage2_map[2][16] = {
    {31, 21, 9, 3, 10, 2, 19, 26, 4, 3, 11, 29, 15, 27, 21, 12},
    {16, 1, 0, 0, 8, 25, 22, 20, 19, 23, 20, 31, 4, 31, 20, 31},
};

}  // namespace g729
