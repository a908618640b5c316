// SPDX-License-Identifier: BSD-2-Clause
// The codec's own view of the public header include/g729/g729.h: the same state records,
// constants and entry points, plus the starting values the codec's initialisations share.
// Code inside this repository includes "codec/g729.h"; programs using the installed library
// include <g729/g729.h>.
#pragma once

#include "../include/g729/g729.h"

namespace g729 {

// Starting values shared by both initialisations.
inline constexpr double initial_lsp[10] = {0.9595, 0.8413, 0.6549, 0.4154, 0.1423,
                                           -0.1423, -0.4154, -0.6549, -0.8413, -0.9595};
inline constexpr double initial_lsf[10] = {0.285599, 0.571199, 0.856798, 1.142397, 1.427997,
                                           1.713596, 1.999195, 2.284795, 2.570394, 2.855993};

}  // namespace g729
