// SPDX-License-Identifier: BSD-2-Clause
// Speech/SID frame packing, unpacking and the pitch parity bit.
#include <gtest/gtest.h>

#include <random>

#include "codec/g729.h"

namespace {

constexpr int kWidths[12] = {0, 8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};

}  // namespace

TEST(PitchParity, TopSixBitsOnly) {
    EXPECT_EQ(g729_pitch_parity(0), 1);
    EXPECT_EQ(g729_pitch_parity(255), 1);  // six ones in the top bits
    EXPECT_EQ(g729_pitch_parity(4), 0);    // one top bit set
    EXPECT_EQ(g729_pitch_parity(3), 1);    // only the two ignored bits set
    for (int p1 = 0; p1 < 256; ++p1) {
        // The six top bits plus the parity bit always hold an odd number of ones.
        int ones = g729_pitch_parity(p1);
        for (int b = 2; b < 8; ++b) ones += (p1 >> b) & 1;
        EXPECT_EQ(ones % 2, 1) << p1;
        EXPECT_EQ(g729_pitch_parity_check(p1, g729_pitch_parity(p1)), 0);
        EXPECT_EQ(g729_pitch_parity_check(p1, 1 - g729_pitch_parity(p1)), 1);
    }
}

TEST(Bitstream, UnpackReportsParityCheckResult) {
    g729_params params = {G729_FRAME_SPEECH, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    uint8_t bytes[10];
    int32_t count = -1;
    g729_decoded_params decoded;

    params[4] = 0;  // P1 = 0 needs P0 = 1: a zero bit is a parity error
    g729_pack_frame(params, bytes, &count);
    g729_unpack_frame(decoded, bytes, G729_FRAME_SPEECH);
    EXPECT_EQ(decoded[5], 1);

    params[4] = 1;
    g729_pack_frame(params, bytes, &count);
    g729_unpack_frame(decoded, bytes, G729_FRAME_SPEECH);
    EXPECT_EQ(decoded[5], 0);
}

TEST(Bitstream, AllMaximumParametersFillTenBytes) {
    const g729_params params = {G729_FRAME_SPEECH, 255, 1023, 255, 1, 8191, 15, 127, 31, 8191, 15, 127};
    uint8_t bytes[10] = {};
    int32_t count = 0;
    g729_pack_frame(params, bytes, &count);
    ASSERT_EQ(count, 10);
    for (uint8_t b : bytes) EXPECT_EQ(b, 0xff);
}

TEST(Bitstream, SidLayout) {
    const g729_params params = {G729_FRAME_SID, 1, 31, 15, 31, 0, 0, 0, 0, 0, 0, 0};
    uint8_t bytes[2] = {};
    int32_t count = 0;
    g729_pack_frame(params, bytes, &count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(bytes[0], 0xff);
    EXPECT_EQ(bytes[1], 0xfe);

    g729_decoded_params decoded;
    g729_unpack_frame(decoded, bytes, G729_FRAME_SID);
    EXPECT_EQ(decoded[0], 0);
    EXPECT_EQ(decoded[1], G729_FRAME_SID);
    EXPECT_EQ(decoded[2], 1);
    EXPECT_EQ(decoded[3], 31);
    EXPECT_EQ(decoded[4], 15);
    EXPECT_EQ(decoded[5], 31);
}

TEST(Bitstream, SingleFieldsLandOnTheirBits) {
    // Each parameter set to 1 alone must set exactly the last bit of its field.
    const int last_bit[12] = {0, 7, 17, 25, 26, 39, 43, 50, 55, 68, 72, 79};
    for (int e = 1; e < 12; ++e) {
        g729_params params = {G729_FRAME_SPEECH};
        params[e] = 1;
        uint8_t bytes[10];
        int32_t count = 0;
        g729_pack_frame(params, bytes, &count);
        for (int bit = 0; bit < 80; ++bit) {
            const int value = (bytes[bit / 8] >> (7 - bit % 8)) & 1;
            EXPECT_EQ(value, bit == last_bit[e] ? 1 : 0) << "element " << e << " bit " << bit;
        }
    }
}

TEST(Bitstream, RandomRoundTrips) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        g729_params params = {G729_FRAME_SPEECH};
        for (int e = 1; e < 12; ++e) params[e] = static_cast<int32_t>(rng() & ((1u << kWidths[e]) - 1));
        params[4] = g729_pitch_parity(params[3]);
        uint8_t bytes[10];
        int32_t count = 0;
        g729_pack_frame(params, bytes, &count);
        ASSERT_EQ(count, 10);
        g729_decoded_params decoded;
        g729_unpack_frame(decoded, bytes, G729_FRAME_SPEECH);
        EXPECT_EQ(decoded[0], 0);
        EXPECT_EQ(decoded[1], G729_FRAME_SPEECH);
        for (int e = 1; e < 12; ++e) {
            if (e == 4) {
                EXPECT_EQ(decoded[5], 0);
            } else {
                EXPECT_EQ(decoded[e + 1], params[e]) << "element " << e;
            }
        }
    }
}

TEST(Bitstream, OutOfWidthValuesKeepTheirLowBits) {
    g729_params wide = {G729_FRAME_SPEECH, 0x1AB, 0x7FF, 0x1FF, 3, 0x3FFF, 0x1F, 0xFF, 0x3F, 0x2001, 0x13, 0x80};
    g729_params masked = {G729_FRAME_SPEECH};
    for (int e = 1; e < 12; ++e) masked[e] = wide[e] & ((1 << kWidths[e]) - 1);
    uint8_t a[10], b[10];
    int32_t count = 0;
    g729_pack_frame(wide, a, &count);
    g729_pack_frame(masked, b, &count);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a[i], b[i]);
}

TEST(Bitstream, OtherFrameTypes) {
    uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    int32_t count = 99;
    for (int32_t type : {0, 3, -1, 7}) {
        g729_params params = {type, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
        g729_pack_frame(params, bytes, &count);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(bytes[0], 1);  // nothing written

        g729_decoded_params decoded;
        g729_unpack_frame(decoded, bytes, type);
        EXPECT_EQ(decoded[0], 1) << "erased";
        EXPECT_EQ(decoded[1], G729_FRAME_NO_TRANSMISSION);
    }
}
