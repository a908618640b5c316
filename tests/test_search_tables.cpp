// SPDX-License-Identifier: BSD-2-Clause
// The structure the gain search relies on (the tables' entries are checked against the
// published tables in test_standard_tables.cpp).
#include <gtest/gtest.h>

#include <set>

#include "codec/tables/gain_tables.h"

using namespace g729;

TEST(SearchTables, GainMapsArePermutations) {
    // Both maps are permutations, so the decoder can invert them.
    EXPECT_EQ(std::set<int32_t>(gain_map_1, gain_map_1 + 8).size(), 8u);
    EXPECT_EQ(std::set<int32_t>(gain_map_2, gain_map_2 + 16).size(), 16u);
}

TEST(SearchTables, GainCodebookOrderingAndTamingReach) {
    for (int k = 1; k < 8; k++) EXPECT_GT(gain_codebook_1[k][1], gain_codebook_1[k - 1][1]);
    for (int k = 1; k < 16; k++) EXPECT_GT(gain_codebook_2[k][0], gain_codebook_2[k - 1][0]);
    // Every preselected window holds at least one pair below the tamed pitch-gain limit.
    for (int c1 = 0; c1 <= 4; c1++) {
        for (int c2 = 0; c2 <= 8; c2++) {
            bool found = false;
            for (int r1 = c1; r1 < c1 + 4; r1++) {
                for (int r2 = c2; r2 < c2 + 8; r2++) {
                    if (gain_codebook_2[r2][0] + gain_codebook_1[r1][0] < 0.9999) found = true;
                }
            }
            EXPECT_TRUE(found) << c1 << " " << c2;
        }
    }
}
