// SPDX-License-Identifier: BSD-2-Clause
// Tables of the conjugate-structure gain quantizer and its MA gain predictor.
#pragma once

#include <cstdint>

namespace g729 {

// Stage A: (pitch-gain part, fixed-gain correction part).
inline constexpr double gain_codebook_1[8][2] = {
    {0.000010, 0.185084},
    {0.094719, 0.296035},
    {0.111779, 0.613122},
    {0.003516, 0.659780},
    {0.117258, 1.134277},
    {0.197901, 1.214512},
    {0.021772, 1.801288},
    {0.163457, 3.315700},
};

// Stage B: (pitch-gain part, fixed-gain correction part).
inline constexpr double gain_codebook_2[16][2] = {
    {0.050466, 0.244769},
    {0.121711, 0.000010},
    {0.313871, 0.072357},
    {0.375977, 0.292399},
    {0.493870, 0.593410},
    {0.556641, 0.064087},
    {0.645363, 0.362118},
    {0.706138, 0.146110},
    {0.809357, 0.397579},
    {0.866379, 0.199087},
    {0.923602, 0.599938},
    {0.925376, 1.742757},
    {0.942028, 0.029027},
    {0.983459, 0.414166},
    {1.055892, 0.227186},
    {1.158039, 0.724592},
};

// Transmitted 3-bit code of each stage-A row.
inline constexpr int32_t gain_map_1[8] = {
    5, 1, 4, 7, 3, 0, 6, 2,
};

// Transmitted 4-bit code of each stage-B row.
inline constexpr int32_t gain_map_2[16] = {
    4, 6, 0, 2, 12, 14, 8, 10,
    15, 11, 9, 13, 7, 3, 1, 5,
};

// Preselection coefficients a, b (row 0) and q, e (row 1).
inline constexpr double gain_preselection_coefficients[2][2] = {
    {31.134575, 1.612322},
    {0.481389, 0.053056},
};

// Stage-A preselection thresholds.
inline constexpr double gain_preselection_thresholds_1[4] = {
    0.659681, 0.755274, 1.207205, 1.987740,
};

// Stage-B preselection thresholds.
inline constexpr double gain_preselection_thresholds_2[8] = {
    0.429912, 0.494045, 0.618737, 0.650676, 0.717949, 0.770050, 0.850628, 0.932089,
};

// MA prediction coefficients of the fixed-codebook gain, newest first.
inline constexpr double gain_prediction_coefficients[4] = {
    0.68, 0.58, 0.34, 0.19,
};

}  // namespace g729
