// SPDX-License-Identifier: BSD-2-Clause
// g729dec's timing decisions on their own (gst/dec_timeline.h): what the element's hostile
// sequences cannot show from outside, i.e. the stamps, the rejected buffers released early and
// times at the end of the clock.

#include "gst/dec_timeline.h"

#include <gtest/gtest.h>

namespace {

using g729gst::DecoderTimeline;
using g729gst::no_time;
using g729gst::OutputPlan;

constexpr uint64_t ms = 1'000'000;

TEST(DecoderTimeline, StampsTheOutputFromWhereItEnds) {
    DecoderTimeline t;
    EXPECT_EQ(t.reject(40 * ms, 1'000'000 * ms, 3), 0u);  // the first time seen
    const OutputPlan p = t.payload(60 * ms, 2);
    EXPECT_EQ(p.missing, 2u);
    EXPECT_EQ(p.finished, 2u);
    EXPECT_EQ(p.stamp, 40 * ms);
    EXPECT_EQ(t.next_time(), 80 * ms);
    const OutputPlan hole = t.payload(110 * ms, 1);  // 30 ms after the output's end
    EXPECT_EQ(hole.missing, 3u);
    EXPECT_EQ(hole.stamp, 80 * ms);
}

TEST(DecoderTimeline, ReleasesRejectedBuffersButKeepsTheirTimeOwed) {
    DecoderTimeline t;
    uint32_t released = 0;
    for (int i = 0; i < 200; ++i) {
        released += t.reject(no_time, 10 * ms, 7);
        ASSERT_LE(t.pending_rejects(), g729gst::max_pending_rejects);
    }
    const OutputPlan p = t.drain();
    EXPECT_EQ(p.finished + released, 200u);
    EXPECT_EQ(p.missing, 200u);
}

TEST(DecoderTimeline, TimesAtTheEndOfTheClockNeitherWrapNorOverfill) {
    DecoderTimeline t;
    t.reject(no_time - 2, no_time - 2, 3);
    t.reject(no_time, no_time - 1, 3);
    EXPECT_EQ(t.drain().missing, g729gst::max_fill_frames);
    const OutputPlan p = t.payload(no_time - 5, 1'000);
    EXPECT_EQ(p.decoded, 1'000u);
    EXPECT_EQ(t.next_time(), no_time - 1);
    EXPECT_EQ(t.gap(0, no_time - 1).missing, 0u);  // before the output's end: nothing to fill
}

}  // namespace
