// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/call_pairing.h"

#include <map>
#include <tuple>

namespace g729rtp {

namespace {

// A direction-free key of a stream's two addresses: the same for both directions.
using Ends = std::tuple<bool, std::array<uint8_t, 16>, uint16_t>;
Ends ends_of(const Endpoint& e) { return {e.ipv6, e.address, e.port}; }

}  // namespace

bool reverse_direction(const StreamInfo& a, const StreamInfo& b) {
    return a.src == b.dst && a.dst == b.src;
}

std::vector<CallStreams> pair_calls(std::span<const StreamInfo> streams) {
    // Streams waiting for a partner, by (source, destination): looked up with the reverse.
    std::map<std::pair<Ends, Ends>, std::vector<std::size_t>> waiting;
    std::vector<CallStreams> calls;
    std::vector<std::size_t> call_of(streams.size());
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const Ends src = ends_of(streams[i].src), dst = ends_of(streams[i].dst);
        auto partner = waiting.find({dst, src});
        if (partner != waiting.end() && !partner->second.empty()) {
            // The earliest stream of the other direction still alone.
            const std::size_t first = partner->second.front();
            partner->second.erase(partner->second.begin());
            calls[call_of[first]].second = i;
            continue;
        }
        call_of[i] = calls.size();
        calls.push_back({i, std::nullopt});
        waiting[{src, dst}].push_back(i);
    }
    return calls;
}

}  // namespace g729rtp
