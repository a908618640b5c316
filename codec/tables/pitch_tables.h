// SPDX-License-Identifier: BSD-2-Clause
// Table of the adaptive-codebook (pitch) analysis.
#pragma once

#include <cstdint>

namespace g729 {

// 1/3-sample interpolation filter of the past excitation.
inline constexpr double excitation_interpolation_filter[31] = {
    0.898517, 0.769271, 0.448635, 0.095915, -0.134333, -0.178528, -0.084919, 0.036952,
    0.095533, 0.068936, -0.000000, -0.050404, -0.050835, -0.014169, 0.023083, 0.033543,
    0.016774, -0.007466, -0.019340, -0.013755, 0.000000, 0.009400, 0.009029, 0.002381,
    -0.003658, -0.005027, -0.002405, 0.001050, 0.002780, 0.002145, 0.000000,
};

}  // namespace g729
