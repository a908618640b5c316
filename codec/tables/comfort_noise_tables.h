// SPDX-License-Identifier: BSD-2-Clause
// Tables of the comfort-noise generator and SID gain quantizer.
#pragma once

#include <cstdint>

namespace g729 {

// Linear comfort-noise gain of each 5-bit SID energy index.
inline constexpr double sid_gain_table[32] = {
    0.502, 1.262, 2.000, 3.170, 5.024, 7.962, 12.619, 15.887,
    20.000, 25.179, 31.698, 39.905, 50.238, 63.246, 79.621, 100.237,
    126.191, 158.866, 200.000, 251.785, 316.979, 399.052, 502.377, 632.456,
    796.214, 1002.374, 1261.915, 1588.656, 2000.000, 2517.851, 3169.786, 3990.525,
};

// Energy normalisation per number of averaged energies.
inline constexpr double sid_gain_energy_factors[3] = {
    0.003125, 0.00078125, 0.000390625,
};

}  // namespace g729
