// SPDX-License-Identifier: BSD-2-Clause
// Where a stream's decoded audio goes: one call per decoded 10 ms frame, in timeline order.
#pragma once

#include <cstdint>
#include <span>

namespace g729rtp {

enum class FrameKind {
    speech,  // a received speech frame
    sid,     // a received SID frame (comfort noise)
    lost,    // a frame that never arrived or arrived damaged (erasure concealment)
    pause,   // a frame the sender did not transmit in a DTX pause (comfort noise)
};

const char* frame_kind_name(FrameKind kind);

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // samples holds the frame's 80 samples, or fewer where the frame's end lies past the
    // stream's next timestamp (a gap that is not a whole number of frames) or its start lies
    // before the end of what was already written (overlapping timestamps). Never empty.
    virtual void frame(FrameKind kind, std::span<const int16_t> samples) = 0;
};

}  // namespace g729rtp
