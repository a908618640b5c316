// SPDX-License-Identifier: BSD-2-Clause
// Spot checks of the pitch and gain tables, and the structure the gain search relies on.
#include <gtest/gtest.h>

#include <set>

#include "codec/tables/gain_tables.h"
#include "codec/tables/pitch_tables.h"

using namespace g729;

TEST(SearchTables, InterpolationFilterEntries) {
    const double* w = excitation_interpolation_filter;
    const double head[6] = {0.898517, 0.769271, 0.448635, 0.095915, -0.134333, -0.178528};
    for (int k = 0; k < 6; k++) EXPECT_EQ(w[k], head[k]) << k;
    EXPECT_EQ(w[10], 0.0);
    EXPECT_EQ(w[20], 0.0);
    EXPECT_EQ(w[30], 0.0);
    EXPECT_EQ(w[27], 0.001050);
    EXPECT_EQ(w[28], 0.002780);
    EXPECT_EQ(w[29], 0.002145);
}

TEST(SearchTables, GainCodebookRowsAndMaps) {
    EXPECT_EQ(gain_codebook_1[0][0], 0.000010);
    EXPECT_EQ(gain_codebook_1[0][1], 0.185084);
    EXPECT_EQ(gain_codebook_1[3][0], 0.003516);
    EXPECT_EQ(gain_codebook_1[3][1], 0.659780);
    EXPECT_EQ(gain_codebook_1[7][0], 0.163457);
    EXPECT_EQ(gain_codebook_1[7][1], 3.315700);
    EXPECT_EQ(gain_codebook_2[0][0], 0.050466);
    EXPECT_EQ(gain_codebook_2[0][1], 0.244769);
    EXPECT_EQ(gain_codebook_2[1][0], 0.121711);
    EXPECT_EQ(gain_codebook_2[1][1], 0.000010);
    EXPECT_EQ(gain_codebook_2[15][0], 1.158039);
    EXPECT_EQ(gain_codebook_2[15][1], 0.724592);

    const int32_t map1[8] = {5, 1, 4, 7, 3, 0, 6, 2};
    const int32_t map2[16] = {4, 6, 0, 2, 12, 14, 8, 10, 15, 11, 9, 13, 7, 3, 1, 5};
    for (int k = 0; k < 8; k++) EXPECT_EQ(gain_map_1[k], map1[k]);
    for (int k = 0; k < 16; k++) EXPECT_EQ(gain_map_2[k], map2[k]);
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
