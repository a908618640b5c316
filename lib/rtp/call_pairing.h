// SPDX-License-Identifier: BSD-2-Clause
// The calls of a capture: the two directions of a call are two RTP streams whose addresses
// and ports are swapped (one's source is the other's destination and the reverse).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "lib/rtp/capture_decoder.h"

namespace g729rtp {

// Indices into the stream list: `first` appeared first in the capture; `second` is its
// partner, when the capture holds one.
struct CallStreams {
    std::size_t first = 0;
    std::optional<std::size_t> second;
};

// Pairs the streams in order of first appearance: each stream not yet taken is paired with
// the earliest later stream not yet taken that runs the other way between the same two
// addresses and ports. A stream is in exactly one call. A sender that changes its SSRC
// mid-call gives a second stream on the same addresses: it pairs with a later stream of the
// other direction if there is one, else it stands alone. The calls come in order of their
// first stream.
std::vector<CallStreams> pair_calls(std::span<const StreamInfo> streams);

// True when b runs the other way between the same addresses and ports as a.
bool reverse_direction(const StreamInfo& a, const StreamInfo& b);

}  // namespace g729rtp
