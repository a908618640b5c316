// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: g729dec's timing decisions (gst/dec_timeline.h), the part of the element that
// hostile buffers reach: rejected buffers, payloads and gaps with any times, durations and
// lengths. No decision may fill more than max_fill_frames, the rejected buffers waiting stay
// at most max_pending_rejects, every plan finishes exactly the buffers waiting (plus the
// current one), and the output time never wraps around.
//
// Input: operations, each an operation byte then its operands.
//   op % 5 = 0  rejected buffer: time, duration, a size selector byte (bit 7: 8 size bytes)
//            1  payload: time, a frame count byte (255: 8 count bytes)
//            2  gap: time, duration
//            3  drain
//            4  reset (hard flush)
// A time or duration is a selector byte s and, by s % 8: 0 unknown; 1 a byte of frames after
// the output's end; 2 a byte of frames before it; 3 a byte of seconds; 4 8 raw bytes;
// 5 a byte below the largest time; 6 zero; 7 a byte of hours.
#include <cstdint>

#include "gst/dec_timeline.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using g729_fuzz::ByteReader;
using g729_fuzz::fail;
using g729gst::no_time;

uint64_t raw64(ByteReader& in) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | in.byte();
    return v;
}

uint64_t time_operand(ByteReader& in, uint64_t output_end) {
    const uint8_t s = in.byte();
    const uint64_t base = output_end == no_time ? 0 : output_end;
    const uint64_t b = in.byte();
    switch (s % 8) {
    case 0: return no_time;
    case 1: return base + b * g729gst::frame_ns < base ? no_time - 1 : base + b * g729gst::frame_ns;
    case 2: return base > b * g729gst::frame_ns ? base - b * g729gst::frame_ns : 0;
    case 3: return b * 1'000'000'000;
    case 4: return raw64(in);
    case 5: return no_time - 1 - b;
    case 6: return 0;
    default: return b * 3'600'000'000'000;
    }
}

void check_plan(const g729gst::OutputPlan& plan, uint32_t waiting, bool current,
                const char* what) {
    if (plan.missing > g729gst::max_fill_frames) {
        fail("%s fills %llu frames, more than %llu", what,
             static_cast<unsigned long long>(plan.missing),
             static_cast<unsigned long long>(g729gst::max_fill_frames));
    }
    if (plan.finished != waiting + (current ? 1u : 0u)) {
        fail("%s finishes %u input buffers, %u were waiting", what, plan.finished, waiting);
    }
    if (plan.finished == 0 && plan.missing + plan.decoded != 0) {
        fail("%s sends output without an input buffer to finish", what);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    g729gst::DecoderTimeline timeline;
    for (int ops = 0; !in.empty() && ops < 10000; ++ops) {
        const uint8_t op = in.byte();
        const uint32_t waiting = timeline.pending_rejects();
        const uint64_t end_before = timeline.next_time();
        switch (op % 5) {
        case 0: {
            const uint64_t pts = time_operand(in, end_before);
            const uint64_t duration = time_operand(in, end_before);
            const uint8_t s = in.byte();
            const uint64_t bytes = s & 0x80 ? raw64(in) : s;
            const uint32_t released = timeline.reject(pts, duration, bytes);
            if (released > waiting + 1 || timeline.pending_rejects() != waiting + 1 - released) {
                fail("reject: %u waiting, %u released, %u left", waiting, released,
                     timeline.pending_rejects());
            }
            if (timeline.pending_rejects() == 0 ||
                timeline.pending_rejects() > g729gst::max_pending_rejects) {
                fail("%u rejected buffers waiting", timeline.pending_rejects());
            }
            break;
        }
        case 1: {
            const uint64_t pts = time_operand(in, end_before);
            const uint8_t n = in.byte();
            const uint64_t frames = n == 255 ? raw64(in) / 10 : n;
            const g729gst::OutputPlan plan = timeline.payload(pts, frames);
            check_plan(plan, waiting, true, "payload");
            if (plan.decoded != frames) fail("payload of %llu frames decodes %llu",
                                             static_cast<unsigned long long>(frames),
                                             static_cast<unsigned long long>(plan.decoded));
            if (pts != no_time && timeline.next_time() < pts) {
                fail("output end wraps around after a payload");
            }
            break;
        }
        case 2: {
            const uint64_t pts = time_operand(in, end_before);
            const uint64_t duration = time_operand(in, end_before);
            check_plan(timeline.gap(pts, duration), waiting, true, "gap");
            break;
        }
        case 3: {
            const g729gst::OutputPlan plan = timeline.drain();
            check_plan(plan, waiting, false, "drain");
            if (!plan.jump && end_before != no_time && timeline.next_time() < end_before) {
                fail("output end goes back at a drain");
            }
            break;
        }
        default:
            timeline.reset();
            break;
        }
        if (timeline.pending_rejects() > g729gst::max_pending_rejects) {
            fail("%u rejected buffers waiting", timeline.pending_rejects());
        }
    }
    return 0;
}
