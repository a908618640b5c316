// SPDX-License-Identifier: BSD-2-Clause
// The predictor memory entries of every pair of gain codebook rows.
#include "codec/common/gain_codebook.h"

namespace g729 {
namespace {

GainFactorDb gain_factors_db() {
    GainFactorDb t;
    for (int r1 = 0; r1 < 8; ++r1) {
        for (int r2 = 0; r2 < 16; ++r2) {
            t.db[r1][r2] = gain_factor_db(gain_codebook_1[r1][1] + gain_codebook_2[r2][1]);
        }
    }
    return t;
}

}  // namespace

// Filled before any other static initializer of a program that links the library statically
// runs (the highest priority a program may use): one that codes a frame finds it ready. A
// shared library's initializers run before those of whatever loads it.
__attribute__((init_priority(101))) const GainFactorDb kGainFactorDb = gain_factors_db();

}  // namespace g729
