// SPDX-License-Identifier: BSD-2-Clause
// g729dec's timing decisions, free of GStreamer types: how many frames of concealment fill the
// time before each output, where that output starts and which input buffers it finishes.
// Times are in nanoseconds, with no_time (GST_CLOCK_TIME_NONE) for a time not known.
//
// Every decision fills at most max_fill_frames (60 s): a longer hole between known times is
// taken as a timestamp jump and left unfilled, a longer claimed duration is cut to it. Rejected
// buffers wait to be finished with the next output, at most max_pending_rejects of them.
#pragma once

#include <cstdint>

namespace g729gst {

inline constexpr uint64_t no_time = UINT64_MAX;
inline constexpr uint64_t frame_ns = 10'000'000;         // one 10 ms frame
inline constexpr uint64_t max_fill_frames = 60 * 100;    // 60 s
inline constexpr uint64_t max_piece_frames = 100;        // output buffers of 1 s at most
inline constexpr uint32_t max_pending_rejects = 64;

// Whole frames in a stretch of time, to the nearest frame.
constexpr uint64_t frames_in(uint64_t duration) {
    return duration / frame_ns + (duration % frame_ns >= frame_ns / 2 ? 1 : 0);
}

// What one input event sends: `missing` frames of concealment (or comfort noise), then
// `decoded` frames of the payload, finishing `finished` input buffers. Nothing is sent when
// finished is 0. `stamp` is the time of the first output sample (no_time: unknown).
struct OutputPlan {
    uint64_t missing = 0;
    uint64_t decoded = 0;
    uint32_t finished = 0;
    uint64_t stamp = no_time;
    bool jump = false;  // a hole beyond max_fill_frames was left unfilled
};

class DecoderTimeline {
public:
    void reset() { *this = DecoderTimeline{}; }

    // A buffer that is not a payload; its time is owed to the next output. Returns how many of
    // the rejected buffers waiting (the oldest) to finish now without output, which keeps the
    // waiting ones at most max_pending_rejects; their time stays owed.
    uint32_t reject(uint64_t pts, uint64_t duration, uint64_t size);
    // A payload of `frames` frames at `pts`, after what is owed before it.
    OutputPlan payload(uint64_t pts, uint64_t frames);
    // A gap (an empty input buffer from the base class), after what is owed before it.
    OutputPlan gap(uint64_t pts, uint64_t duration);
    // End of stream or discontinuity: what rejected buffers still owe.
    OutputPlan drain();

    uint64_t next_time() const { return next_time_; }
    uint32_t pending_rejects() const { return pending_; }

private:
    uint64_t fill_until(uint64_t until, bool& jump);
    OutputPlan finish(uint64_t missing, uint64_t decoded, bool current, uint64_t start,
                      bool timed_payload, bool jump);

    uint64_t next_time_ = no_time;       // input time at which the output so far ends
    uint32_t pending_ = 0;               // rejected buffers not finished yet
    uint64_t first_reject_time_ = no_time;  // time of the first rejected buffer owed
    uint64_t owed_frames_ = 0;           // frames owed for rejected buffers without times
    uint64_t owed_until_ = no_time;      // end of the timed rejected buffers
};

}  // namespace g729gst
