// SPDX-License-Identifier: BSD-2-Clause
// Table of the voice activity detector.
#pragma once

#include <cstdint>

namespace g729 {

// Autocorrelation of the low-band filter used for the low-band energy.
inline constexpr double vad_low_band_correlation[13] = {
    0.24017939691329, 0.21398822343783, 0.14767692339633, 0.07018811903116, 0.00980856433051, -0.02015934721195, -0.02388269958005, -0.01480076155002,
    -0.00503292155509, 0.00012141366508, 0.00119354245231, 0.00065908718613, 0.00015015782285,
};

}  // namespace g729
