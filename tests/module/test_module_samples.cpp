// SPDX-License-Identifier: BSD-2-Clause
// The example frames the module offers the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "module_test_support.h"

namespace {

using orvane_test::Instance;

class SampleFrames : public orvane_test::ModuleTest {};

TEST_F(SampleFrames, SlinSampleIsThirtyMillisecondsOfTheRecordedSpeech) {
    pel_frame* f = encoder()->sample();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->frametype, 2);
    EXPECT_EQ(f->format, pel_format_slin);
    EXPECT_EQ(f->datalen, 480);
    EXPECT_EQ(f->samples, 240);
    EXPECT_STREQ(f->src, "lintog729_sample");
    EXPECT_EQ(f->mallocd, 0);
    EXPECT_EQ(f->offset, 0);
    const auto* s = static_cast<const int16_t*>(f->data);
    const std::vector<int16_t> opening = {2163, 1753, 908, 1416, 1033, 829, 785, -148};
    EXPECT_TRUE(std::equal(opening.begin(), opening.end(), s));
    EXPECT_EQ(*std::min_element(s, s + 240), -916);
    EXPECT_EQ(*std::max_element(s, s + 240), 2163);

    // Beyond the opening, the recording's samples 102945.. mapped from [-10254, 9627] onto
    // [-916, 2163].
    const std::vector<int16_t>& rec = orvane_test::speech();
    ASSERT_GE(rec.size(), 102937u + 240u);
    for (int i = 8; i < 240; ++i) {
        const double v = rec[102937 + static_cast<std::size_t>(i)];
        const long mapped = std::lround(-916.0 + (v - -10254.0) * (3079.0 / 19881.0));
        ASSERT_EQ(s[i], mapped) << i;
    }
}

TEST_F(SampleFrames, G729SampleIsFiveSpeechFrames) {
    pel_frame* f = decoder()->sample();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->frametype, 2);
    EXPECT_EQ(f->format, pel_format_g729);
    EXPECT_EQ(f->datalen, 50);
    EXPECT_EQ(f->samples, 400);
    EXPECT_STREQ(f->src, "g729tolin_sample");
    EXPECT_EQ(f->mallocd, 0);
    EXPECT_EQ(f->offset, 0);
    const std::vector<uint8_t> expected = {
        0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e, 0x0f, 0xb6, 0x73,
        0xb9, 0x33, 0x62, 0xb8, 0x2b, 0x1a, 0x57, 0x31, 0xf8, 0x37, 0xc4, 0xe0, 0x5a,
        0xf0, 0x8c, 0x8d, 0x50, 0xa3, 0xb7, 0xc1, 0x9d, 0xb5, 0x60, 0x70, 0x36, 0x39,
        0x1e, 0x09, 0x4c, 0x2f, 0xc2, 0xa7, 0xb7, 0xee, 0x37, 0x18, 0x52};
    const auto* b = static_cast<const uint8_t*>(f->data);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 50), expected);
}

TEST_F(SampleFrames, EachTranslatorTakesItsOwnSample) {
    Instance enc(encoder());
    EXPECT_EQ(pelhost::framein(enc.get(), encoder()->sample()), 0);
    pel_frame* coded = pelhost::frameout(enc.get());
    ASSERT_NE(coded, nullptr);
    EXPECT_EQ(coded->datalen, 30);
    EXPECT_EQ(coded->samples, 240);

    Instance dec(decoder());
    pel_frame* sample = decoder()->sample();
    EXPECT_EQ(pelhost::framein(dec.get(), sample), 0);
    pel_frame* decoded = pelhost::frameout(dec.get());
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->samples, 400);
    const int units[] = {10, 10, 10, 10, 10};
    const auto* s = static_cast<const int16_t*>(decoded->data);
    EXPECT_EQ(std::vector<int16_t>(s, s + 400),
              orvane_test::decode_direct({static_cast<const uint8_t*>(sample->data), 50}, units));
    EXPECT_TRUE(log_.lines().empty());
}

}  // namespace
