// SPDX-License-Identifier: BSD-2-Clause
#include "gst/dec_timeline.h"

#include <algorithm>

namespace g729gst {

namespace {

constexpr bool known(uint64_t t) { return t != no_time; }

// t + frames * frame_ns, held below no_time.
uint64_t later(uint64_t t, uint64_t frames) {
    const uint64_t room = (no_time - 1 - t) / frame_ns;
    return frames > room ? no_time - 1 : t + frames * frame_ns;
}

uint64_t end_of(uint64_t pts, uint64_t duration) {
    return duration > no_time - 1 - pts ? no_time - 1 : pts + duration;
}

// owed (at most max_fill_frames) and more frames, at most max_fill_frames together.
uint64_t add_capped(uint64_t owed, uint64_t more) {
    return std::min(max_fill_frames, owed + std::min(more, max_fill_frames));
}

}  // namespace

uint32_t DecoderTimeline::reject(uint64_t pts, uint64_t duration, uint64_t size) {
    if (pending_++ == 0) {
        first_reject_time_ = pts;
    }
    if (known(pts) && !known(next_time_)) {
        next_time_ = pts;  // the first time seen: the output starts there
    }
    if (known(pts) && known(duration)) {
        const uint64_t end = end_of(pts, duration);
        if (!known(owed_until_) || end > owed_until_) {
            owed_until_ = end;
        }
    } else {
        // No time to measure from: the claimed duration, else 10 ms per started 10 bytes.
        owed_frames_ = add_capped(owed_frames_, known(duration) ? frames_in(duration)
                                                                : size / 10 + (size % 10 != 0));
    }
    if (pending_ < max_pending_rejects) {
        return 0;
    }
    // One stays, so that the owed time still has an input buffer to go out with.
    const uint32_t release = pending_ - 1;
    pending_ = 1;
    return release;
}

uint64_t DecoderTimeline::fill_until(uint64_t until, bool& jump) {
    if (!known(until) || !known(next_time_) || until <= next_time_) {
        return 0;
    }
    const uint64_t frames = frames_in(until - next_time_);
    if (frames > max_fill_frames) {
        jump = true;
        next_time_ = no_time;  // the output starts again from the next known time
        return 0;
    }
    return frames;
}

OutputPlan DecoderTimeline::payload(uint64_t pts, uint64_t frames) {
    bool jump = false;
    const uint64_t fill = fill_until(known(pts) ? pts : owed_until_, jump);
    return finish(add_capped(owed_frames_, fill), frames, true, pts, true, jump);
}

// Counted from where the output ends, so that the rounding of successive gaps does not add up.
OutputPlan DecoderTimeline::gap(uint64_t pts, uint64_t duration) {
    bool jump = false;
    uint64_t frames = 1;
    if (known(duration)) {
        frames = known(pts) && known(next_time_) ? fill_until(end_of(pts, duration), jump)
                                                 : frames_in(duration);
    }
    return finish(add_capped(owed_frames_, frames), 0, true, pts, false, jump);
}

OutputPlan DecoderTimeline::drain() {
    bool jump = false;
    const uint64_t fill = fill_until(owed_until_, jump);
    return finish(add_capped(owed_frames_, fill), 0, false, no_time, false, jump);
}

OutputPlan DecoderTimeline::finish(uint64_t missing, uint64_t decoded, bool current,
                                   uint64_t start, bool timed_payload, bool jump) {
    OutputPlan plan;
    plan.jump = jump;
    plan.finished = pending_ + (current ? 1 : 0);
    if (plan.finished == 0) {
        return plan;  // nothing owed
    }
    plan.missing = missing;
    plan.decoded = decoded;
    // The output starts where the output so far ends, or at the first input it finishes.
    const uint64_t first = pending_ > 0 ? first_reject_time_ : start;
    plan.stamp = known(next_time_) && (!known(first) || first > next_time_) ? next_time_ : first;
    if (timed_payload && known(start)) {
        next_time_ = later(start, decoded);
    } else if (known(next_time_)) {
        next_time_ = later(next_time_, missing + decoded);
    } else if (known(start)) {
        next_time_ = later(start, missing + decoded);
    }
    pending_ = 0;
    first_reject_time_ = no_time;
    owed_frames_ = 0;
    owed_until_ = no_time;
    return plan;
}

}  // namespace g729gst
