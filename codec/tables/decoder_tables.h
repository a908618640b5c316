// SPDX-License-Identifier: BSD-2-Clause
// Tables of the decoder: inverse gain-code maps.
#pragma once

#include <cstdint>

namespace g729 {

// Received 3-bit gain code to row of gain_codebook_1.
inline constexpr int32_t gain_decode_map_1[8] = {
    5, 1, 7, 4, 2, 0, 6, 3,
};

// Received 4-bit gain code to row of gain_codebook_2.
inline constexpr int32_t gain_decode_map_2[16] = {
    2, 14, 3, 13, 0, 15, 1, 12,
    6, 10, 7, 9, 4, 11, 5, 8,
};

}  // namespace g729
