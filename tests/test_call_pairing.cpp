// SPDX-License-Identifier: BSD-2-Clause
// Calls from streams: the two directions of a call pair up by swapped addresses and ports,
// whatever their SSRCs and wherever they appear in the capture; nothing else pairs.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lib/rtp/call_pairing.h"

namespace {

using g729rtp::CallStreams;
using g729rtp::StreamInfo;

StreamInfo stream(const std::string& src, const std::string& dst, uint32_t ssrc) {
    StreamInfo s;
    s.ssrc = ssrc;
    EXPECT_TRUE(g729rtp::parse_endpoint(src, s.src)) << src;
    EXPECT_TRUE(g729rtp::parse_endpoint(dst, s.dst)) << dst;
    return s;
}

struct Case {
    const char* what;
    std::vector<StreamInfo> streams;
    // (first, second or -1) per call, in order.
    std::vector<std::pair<std::size_t, int>> calls;
};

TEST(CallPairing, DirectionsPairBySwappedAddressesAndPorts) {
    const std::string a = "10.0.0.1:4000", b = "10.0.0.2:5000", c = "10.0.0.3:4000", d = "10.0.0.4:5000";
    const Case cases[] = {
        {"one call", {stream(a, b, 1), stream(b, a, 2)}, {{0, 1}}},
        {"same SSRC both ways", {stream(a, b, 7), stream(b, a, 7)}, {{0, 1}}},
        {"one direction only", {stream(a, b, 1)}, {{0, -1}}},
        {"same direction twice (new SSRC) does not pair", {stream(a, b, 1), stream(a, b, 2)}, {{0, -1}, {1, -1}}},
        {"the SSRC change pairs with the later return stream",
         {stream(a, b, 1), stream(a, b, 2), stream(b, a, 3)}, {{0, 2}, {1, -1}}},
        {"two calls interleaved", {stream(a, b, 1), stream(c, d, 2), stream(d, c, 3), stream(b, a, 4)},
         {{0, 3}, {1, 2}}},
        {"a port differs: no call", {stream(a, b, 1), stream("10.0.0.2:5002", a, 2)}, {{0, -1}, {1, -1}}},
        {"an address differs: no call", {stream(a, b, 1), stream(b, "10.0.0.9:4000", 2)}, {{0, -1}, {1, -1}}},
        {"IPv6 pairs too", {stream("[fd00::1]:4000", "[fd00::2]:5000", 1), stream("[fd00::2]:5000", "[fd00::1]:4000", 2)},
         {{0, 1}}},
        {"a third stream the other way stays alone", {stream(a, b, 1), stream(b, a, 2), stream(b, a, 3)},
         {{0, 1}, {2, -1}}},
        {"no streams", {}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const std::vector<CallStreams> calls = g729rtp::pair_calls(k.streams);
        ASSERT_EQ(calls.size(), k.calls.size());
        std::vector<int> seen(k.streams.size(), 0);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].first, k.calls[i].first);
            EXPECT_EQ(calls[i].second ? static_cast<int>(*calls[i].second) : -1, k.calls[i].second);
            ++seen[calls[i].first];
            if (calls[i].second) {
                ++seen[*calls[i].second];
                EXPECT_TRUE(g729rtp::reverse_direction(k.streams[calls[i].first], k.streams[*calls[i].second]));
            }
        }
        for (const int n : seen) EXPECT_EQ(n, 1);  // every stream in exactly one call
    }
}

}  // namespace
