// SPDX-License-Identifier: BSD-2-Clause
// g729enc and g729dec alone, under GStreamer's test harness: buffers, timestamps, DTX output,
// gaps, concealment and error counting, compared with the codec library frame by frame.

#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tests/gst/gst_test_support.h"
#include "lib/io/coded_io.h"

using g729gst_test::first_difference;
using g729gst_test::frame_samples;
using g729io::CodedFrame;
using g729io::FrameKind;

namespace {

constexpr GstClockTime frame_time = 10 * GST_MSECOND;
constexpr const char* raw_caps =
    "audio/x-raw,format=S16LE,rate=8000,channels=1,layout=interleaved";
constexpr const char* coded_caps = "audio/G729,rate=8000,channels=1";

// Owns a harness around one element made with the given properties.
class Harness {
public:
    // properties: "name=value" settings, applied before the element starts.
    Harness(const char* factory, const char* caps,
            std::initializer_list<std::string> properties = {}) {
        GstElement* element = gst_element_factory_make(factory, nullptr);
        for (const std::string& p : properties) {
            const std::size_t eq = p.find('=');
            gst_util_set_object_arg(G_OBJECT(element), p.substr(0, eq).c_str(),
                                    p.substr(eq + 1).c_str());
        }
        h_ = gst_harness_new_with_element(element, "sink", "src");
        gst_object_unref(element);
        gst_harness_set_src_caps_str(h_, caps);
    }
    ~Harness() { gst_harness_teardown(h_); }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;
    GstHarness* get() const { return h_; }
    GstElement* element() const { return h_->element; }

    GstFlowReturn push(const void* data, std::size_t size, GstClockTime pts,
                       GstClockTime duration) {
        GstBuffer* buffer = gst_buffer_new_memdup(data, size);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = duration;
        return gst_harness_push(h_, buffer);
    }
    void push_event(GstEvent* event) { ASSERT_TRUE(gst_harness_push_event(h_, event)); }

    // Every buffer the element has sent so far.
    std::vector<GstBuffer*> pull_all() {
        std::vector<GstBuffer*> out;
        while (GstBuffer* b = gst_harness_try_pull(h_)) {
            out.push_back(b);
        }
        return out;
    }

private:
    GstHarness* h_;
};

std::vector<uint8_t> bytes_of(GstBuffer* buffer) {
    std::vector<uint8_t> bytes(gst_buffer_get_size(buffer));
    gst_buffer_extract(buffer, 0, bytes.data(), bytes.size());
    return bytes;
}

std::vector<int16_t> samples_of(const std::vector<GstBuffer*>& buffers) {
    std::vector<int16_t> samples;
    for (GstBuffer* b : buffers) {
        const std::vector<uint8_t> bytes = bytes_of(b);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
        }
    }
    return samples;
}

void unref_all(std::vector<GstBuffer*>& buffers) {
    for (GstBuffer* b : buffers) {
        gst_buffer_unref(b);
    }
    buffers.clear();
}

std::vector<uint8_t> payload_of(const CodedFrame& f) {
    return {f.bytes.begin(), f.bytes.begin() + f.payload_bytes()};
}

// Pushes samples in chunks of `chunk` samples, timestamped by position (or not at all), then
// EOS.
void push_pcm(Harness& h, std::span<const int16_t> samples, std::size_t chunk,
              bool stamped = true) {
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        const std::size_t n = std::min(chunk, samples.size() - at);
        ASSERT_EQ(h.push(samples.data() + at, n * 2,
                         stamped ? gst_util_uint64_scale(at, GST_SECOND, 8000) : GST_CLOCK_TIME_NONE,
                         stamped ? gst_util_uint64_scale(n, GST_SECOND, 8000) : GST_CLOCK_TIME_NONE),
                  GST_FLOW_OK);
    }
    h.push_event(gst_event_new_eos());
}

class GstElementTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g729gst_test::init_gstreamer(); }
};

// ---- encoder: buffers, timestamps, the padded last frame ----

struct EncoderCase {
    int frames_per_buffer;
    std::size_t samples;  // input length
    std::size_t chunk;    // input buffer size, in samples
};

void PrintTo(const EncoderCase& c, std::ostream* os) {
    *os << c.frames_per_buffer << " per buffer, " << c.samples << " samples in chunks of "
        << c.chunk;
}

class EncoderBuffers : public GstElementTest,
                       public ::testing::WithParamInterface<EncoderCase> {};

TEST_P(EncoderBuffers, CarryTheLibrarysFramesWithExactTimes) {
    const EncoderCase& c = GetParam();
    const std::span<const int16_t> input(g729gst_test::speech().data(), c.samples);
    Harness h("g729enc", raw_caps, {"frames-per-buffer=" + std::to_string(c.frames_per_buffer)});
    push_pcm(h, input, c.chunk);
    std::vector<GstBuffer*> out = h.pull_all();

    const std::vector<CodedFrame> expected = g729gst_test::library_encode(input, false);
    std::size_t frame = 0;
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t n = std::min<std::size_t>(c.frames_per_buffer, expected.size() - frame);
        std::vector<uint8_t> want;
        for (std::size_t f = frame; f < frame + n; ++f) {
            const auto p = payload_of(expected[f]);
            want.insert(want.end(), p.begin(), p.end());
        }
        EXPECT_EQ(bytes_of(out[k]), want) << "buffer " << k;
        EXPECT_EQ(GST_BUFFER_PTS(out[k]), frame * frame_time) << "buffer " << k;
        EXPECT_EQ(GST_BUFFER_DURATION(out[k]), n * frame_time) << "buffer " << k;
        frame += n;
    }
    EXPECT_EQ(frame, expected.size());  // every frame, the padded last one included
    unref_all(out);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EncoderBuffers,
                         ::testing::Values(EncoderCase{1, 800, 80}, EncoderCase{1, 837, 111},
                                           EncoderCase{2, 43, 43}, EncoderCase{3, 1000, 77},
                                           EncoderCase{5, 4001, 1024}, EncoderCase{4, 960, 960}));

// ---- encoder: DTX ----

struct DtxCase {
    int frames_per_buffer;
    bool stamped;  // input buffers with timestamps, or none (times counted from the segment)
};

void PrintTo(const DtxCase& c, std::ostream* os) {
    *os << c.frames_per_buffer << " per buffer, " << (c.stamped ? "stamped" : "unstamped");
}

class EncoderDtx : public GstElementTest, public ::testing::WithParamInterface<DtxCase> {};

// Each buffer carries consecutive transmitted frames of the library's DTX stream, at their own
// time; a SID frame ends its buffer; the buffer after untransmitted frames carries DISCONT; the
// time of every untransmitted frame is announced downstream as a gap, also when the input
// carries no timestamps.
TEST_P(EncoderDtx, SendsTransmittedFramesAtTheirTimesAndAnnouncesGaps) {
    const int per_buffer = GetParam().frames_per_buffer;
    const std::span<const int16_t> input(g729gst_test::speech().data(), 4 * 8000);
    Harness h("g729enc", raw_caps,
              {"dtx=true", "frames-per-buffer=" + std::to_string(per_buffer)});
    push_pcm(h, input, 320, GetParam().stamped);
    std::vector<GstBuffer*> out = h.pull_all();

    const std::vector<CodedFrame> expected = g729gst_test::library_encode(input, true);
    std::set<std::size_t> untransmitted;
    for (std::size_t f = 0; f < expected.size(); ++f) {
        if (expected[f].kind == FrameKind::untransmitted) {
            untransmitted.insert(f);
        }
    }
    ASSERT_GT(untransmitted.size(), 10u) << "the input should hold pauses";

    std::vector<bool> covered(expected.size(), false);
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t first = GST_BUFFER_PTS(out[k]) / frame_time;
        ASSERT_EQ(GST_BUFFER_PTS(out[k]) % frame_time, 0u);
        const std::vector<uint8_t> bytes = bytes_of(out[k]);
        std::size_t at = 0;
        std::size_t f = first;
        while (at < bytes.size()) {
            ASSERT_LT(f, expected.size());
            ASSERT_NE(expected[f].kind, FrameKind::untransmitted) << "buffer " << k;
            const auto p = payload_of(expected[f]);
            ASSERT_LE(at + p.size(), bytes.size());
            EXPECT_TRUE(std::equal(p.begin(), p.end(), bytes.begin() + at)) << "frame " << f;
            if (expected[f].kind == FrameKind::sid) {
                EXPECT_EQ(at + p.size(), bytes.size()) << "a SID frame ends its buffer";
            }
            EXPECT_FALSE(covered[f]);
            covered[f] = true;
            at += p.size();
            ++f;
        }
        EXPECT_LE(f - first, static_cast<std::size_t>(per_buffer));
        EXPECT_EQ(GST_BUFFER_DURATION(out[k]), (f - first) * frame_time);
        if (k > 0) {
            EXPECT_EQ(GST_BUFFER_FLAG_IS_SET(out[k], GST_BUFFER_FLAG_DISCONT),
                      untransmitted.contains(first - 1))
                << "buffer " << k << " at frame " << first;
        }
    }
    for (std::size_t f = 0; f < expected.size(); ++f) {
        EXPECT_EQ(covered[f], !untransmitted.contains(f)) << "frame " << f;
    }

    std::set<std::size_t> gaps;
    while (GstEvent* event = gst_harness_try_pull_event(h.get())) {
        if (GST_EVENT_TYPE(event) == GST_EVENT_GAP) {
            GstClockTime start = 0;
            GstClockTime duration = 0;
            gst_event_parse_gap(event, &start, &duration);
            EXPECT_EQ(duration, frame_time);
            gaps.insert(start / frame_time);
        }
        gst_event_unref(event);
    }
    EXPECT_EQ(gaps, untransmitted);
    unref_all(out);
}

INSTANTIATE_TEST_SUITE_P(FramesPerBuffer, EncoderDtx,
                         ::testing::Values(DtxCase{1, true}, DtxCase{3, true}, DtxCase{1, false},
                                           DtxCase{3, false}));

// ---- decoder: units, pauses, losses and bad buffers ----

// How one coded frame reaches the decoder.
enum class Delivery {
    in_buffer,        // inside a buffer of frames, at its time
    timestamp_hole,   // not at all: the next buffer's time shows the hole
    gap_event,        // a gap event of its duration
    bad_buffer,       // a 7-byte buffer at its time
};

struct DecoderCase {
    const char* name;
    bool dtx;
    int frames_per_buffer;
    Delivery missing;                // how lost (non-DTX) or untransmitted (DTX) frames arrive
    std::set<std::size_t> lost;      // non-DTX: frames that do not arrive
};

void PrintTo(const DecoderCase& c, std::ostream* os) { *os << c.name; }

class DecoderInput : public GstElementTest, public ::testing::WithParamInterface<DecoderCase> {};

// Pushes the frames as the case says: runs of up to frames_per_buffer frames per buffer (a SID
// frame ends its buffer), and the missing frames as holes, gap events or bad buffers.
void deliver(Harness& h, const std::vector<CodedFrame>& frames, const DecoderCase& c) {
    std::vector<uint8_t> run;
    std::size_t run_start = 0;
    std::size_t run_frames = 0;
    auto flush = [&] {
        if (run_frames > 0) {
            EXPECT_EQ(h.push(run.data(), run.size(), run_start * frame_time, run_frames * frame_time),
                      GST_FLOW_OK);
        }
        run.clear();
        run_frames = 0;
    };
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const bool missing = c.lost.contains(f) || frames[f].kind == FrameKind::untransmitted;
        if (missing) {
            flush();
            if (c.missing == Delivery::gap_event) {
                h.push_event(gst_event_new_gap(f * frame_time, frame_time));
            } else if (c.missing == Delivery::bad_buffer) {
                const uint8_t junk[7] = {1, 2, 3, 4, 5, 6, 7};
                EXPECT_EQ(h.push(junk, sizeof junk, f * frame_time, frame_time), GST_FLOW_OK);
            }
            continue;
        }
        if (run_frames == 0) {
            run_start = f;
        }
        const auto p = payload_of(frames[f]);
        run.insert(run.end(), p.begin(), p.end());
        ++run_frames;
        if (frames[f].kind == FrameKind::sid ||
            run_frames == static_cast<std::size_t>(c.frames_per_buffer)) {
            flush();
        }
    }
    flush();
    h.push_event(gst_event_new_eos());
}

GstFlowReturn push_bytes(Harness& h, std::size_t bytes, GstClockTime pts) {
    const std::vector<uint8_t> junk(bytes, 0x55);
    return h.push(junk.data(), junk.size(), pts, frame_time);
}

TEST_P(DecoderInput, DecodesConcealsAndFillsLikeTheLibrary) {
    const DecoderCase& c = GetParam();
    const std::span<const int16_t> input(g729gst_test::speech().data(), 4 * 8000);
    std::vector<CodedFrame> frames = g729gst_test::library_encode(input, c.dtx);
    if (c.missing == Delivery::timestamp_hole) {
        // Only a later buffer shows a hole: the stream ends with its last transmitted frame.
        while (!frames.empty() && frames.back().kind == FrameKind::untransmitted) {
            frames.pop_back();
        }
    }
    Harness h("g729dec", coded_caps);
    deliver(h, frames, c);
    std::vector<GstBuffer*> out = h.pull_all();

    // The library decodes the same stream with lost frames concealed and untransmitted frames
    // as comfort noise; the element's output is the same, frame for frame, and runs on in time.
    const std::vector<int16_t> expected = g729gst_test::library_decode(frames, c.lost);
    const std::vector<int16_t> got = samples_of(out);
    EXPECT_EQ(got.size(), frames.size() * frame_samples);
    EXPECT_EQ(first_difference(got, expected), -1);
    GstClockTime next = 0;
    for (GstBuffer* b : out) {
        EXPECT_EQ(GST_BUFFER_PTS(b), next);
        next = GST_BUFFER_PTS(b) + GST_BUFFER_DURATION(b);
    }
    EXPECT_EQ(next, frames.size() * frame_time);
    unref_all(out);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, DecoderInput,
    ::testing::Values(
        DecoderCase{"speech_one_per_buffer", false, 1, Delivery::timestamp_hole, {}},
        DecoderCase{"speech_seven_per_buffer", false, 7, Delivery::timestamp_hole, {}},
        DecoderCase{"losses_as_timestamp_holes", false, 1, Delivery::timestamp_hole,
                    {5, 17, 18, 19, 200}},
        DecoderCase{"losses_as_gap_events", false, 2, Delivery::gap_event,
                    {5, 17, 18, 19, 200, 398, 399}},
        DecoderCase{"losses_as_bad_buffers", false, 1, Delivery::bad_buffer, {9, 10, 300, 399}},
        DecoderCase{"dtx_pauses_as_timestamp_holes", true, 1, Delivery::timestamp_hole, {}},
        DecoderCase{"dtx_pauses_as_gap_events", true, 4, Delivery::gap_event, {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Bad buffers count as errors of weight 1: up to max-errors in a row are concealed, one more
// stops the stream with an error; a decoded buffer starts the count again.
TEST_F(GstElementTest, DecoderStopsAfterMoreBadBuffersInARowThanMaxErrors) {
    Harness h("g729dec", coded_caps, {"max-errors=3"});
    GstClockTime t = 0;
    for (const std::size_t bytes : {10u, 7u, 14u, 1u, 10u, 3u, 5u, 4u}) {
        EXPECT_EQ(push_bytes(h, bytes, t), GST_FLOW_OK) << bytes << " bytes at " << t;
        t += frame_time;
    }
    std::vector<GstBuffer*> out = h.pull_all();
    EXPECT_EQ(samples_of(out).size(), 5 * frame_samples);  // bad buffers concealed in place
    unref_all(out);
    EXPECT_EQ(push_bytes(h, 11, t), GST_FLOW_ERROR);
}

// ---- decoder: hostile buffer sequences ----

// One input of a hostile sequence: `bytes` bytes of junk (not a payload), `frames` speech
// frames of the library, or a gap event, with the given times.
struct HostileStep {
    enum Kind { junk, speech, gap } kind;
    std::size_t count;  // junk: bytes; speech: frames; gap: unused
    GstClockTime pts;
    GstClockTime duration;
    int repeat = 1;
};

struct HostileCase {
    const char* name;
    std::vector<HostileStep> steps;
    std::size_t frames;  // the output, in frames
    bool continuous = true;  // each output buffer starts where the one before ended
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class DecoderHostile : public GstElementTest, public ::testing::WithParamInterface<HostileCase> {};

constexpr GstClockTime none = GST_CLOCK_TIME_NONE;
constexpr GstClockTime claim = 1'000'000'000'000'000;  // 10^15 ns: 11.6 days
constexpr std::size_t max_fill_frames = 6000;            // 60 s
constexpr std::size_t max_buffer_frames = 100;           // 1 s
constexpr std::size_t max_held_inputs = 64;

// Whatever the times claim, no stretch filled exceeds 60 s, no output buffer 1 s, and the
// element holds at most 64 rejected input buffers.
TEST_P(DecoderHostile, FillsAtMostTheCapInBoundedBuffers) {
    const HostileCase& c = GetParam();
    Harness h("g729dec", coded_caps);
    const std::vector<CodedFrame> speech =
        g729gst_test::library_encode(std::span(g729gst_test::speech().data(), 8000), false);
    std::vector<GstBuffer*> pushed;  // a reference kept on every input buffer
    for (const HostileStep& step : c.steps) {
        for (int r = 0; r < step.repeat; ++r) {
            if (step.kind == HostileStep::gap) {
                h.push_event(gst_event_new_gap(step.pts, step.duration));
                continue;
            }
            std::vector<uint8_t> bytes(step.count, 0x5a);
            if (step.kind == HostileStep::speech) {
                bytes.clear();
                for (std::size_t f = 0; f < step.count; ++f) {
                    const auto p = payload_of(speech.at(f));
                    bytes.insert(bytes.end(), p.begin(), p.end());
                }
            }
            GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
            GST_BUFFER_PTS(buffer) = step.pts;
            GST_BUFFER_DURATION(buffer) = step.duration;
            pushed.push_back(gst_buffer_ref(buffer));
            ASSERT_EQ(gst_harness_push(h.get(), buffer), GST_FLOW_OK);
        }
    }
    const auto held = std::count_if(pushed.begin(), pushed.end(), [](GstBuffer* b) {
        return GST_MINI_OBJECT_REFCOUNT_VALUE(b) > 1;
    });
    EXPECT_LE(static_cast<std::size_t>(held), max_held_inputs);
    h.push_event(gst_event_new_eos());
    std::vector<GstBuffer*> out = h.pull_all();
    std::size_t frames = 0;
    std::size_t largest = 0;
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t n = gst_buffer_get_size(out[k]) / (2 * frame_samples);
        frames += n;
        largest = std::max(largest, n);
        EXPECT_TRUE(GST_BUFFER_PTS_IS_VALID(out[k])) << "buffer " << k;
        if (k > 0 && c.continuous) {
            EXPECT_EQ(GST_BUFFER_PTS(out[k]),
                      GST_BUFFER_PTS(out[k - 1]) + GST_BUFFER_DURATION(out[k - 1]))
                << "buffer " << k;
        }
    }
    EXPECT_EQ(frames, c.frames);
    EXPECT_LE(largest, max_buffer_frames);
    unref_all(out);
    unref_all(pushed);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, DecoderHostile,
    ::testing::Values(
        HostileCase{"five_3_byte_buffers_claiming_1e15_ns_without_times",
                    {{HostileStep::junk, 3, none, claim, 5}}, max_fill_frames},
        HostileCase{"five_3_byte_buffers_claiming_1e15_ns_from_0",
                    {{HostileStep::junk, 3, 0, claim},
                     {HostileStep::junk, 3, claim, claim},
                     {HostileStep::junk, 3, 2 * claim, claim},
                     {HostileStep::junk, 3, 3 * claim, claim},
                     {HostileStep::junk, 3, 4 * claim, claim}},
                    0},
        HostileCase{"one_claiming_1000_s_without_time",
                    {{HostileStep::junk, 3, none, 1000 * GST_SECOND}}, max_fill_frames},
        HostileCase{"one_claiming_1000_s_then_speech_20_ms_later",
                    {{HostileStep::junk, 3, 0, 1000 * GST_SECOND},
                     {HostileStep::speech, 2, 20 * GST_MSECOND, 20 * GST_MSECOND}},
                    4},
        HostileCase{"times_that_overflow",
                    {{HostileStep::junk, 3, G_MAXUINT64 - 2, G_MAXUINT64 - 2},
                     {HostileStep::junk, 3, none, G_MAXUINT64 - 1}},
                    max_fill_frames},
        HostileCase{"gap_event_of_1e15_ns_at_the_start",
                    {{HostileStep::gap, 0, 0, claim}}, max_fill_frames},
        HostileCase{"hole_of_59_99_s_between_buffers",
                    {{HostileStep::speech, 1, 0, frame_time},
                     {HostileStep::speech, 1, 5999 * frame_time, frame_time}},
                    max_fill_frames},
        HostileCase{"jump_of_61_s_left_unfilled",
                    {{HostileStep::speech, 1, 0, frame_time},
                     {HostileStep::speech, 1, 6100 * frame_time, frame_time}},
                    2, false},
        HostileCase{"500_untimed_7_byte_buffers",
                    {{HostileStep::junk, 7, none, none, 500}}, 500},
        HostileCase{"speech_then_200_timed_3_byte_buffers",
                    {{HostileStep::speech, 1, 0, frame_time},
                     {HostileStep::junk, 3, frame_time, 200 * frame_time, 200}},
                    201}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Rejected buffers held back beyond the element's bound still count towards max-errors.
TEST_F(GstElementTest, DecoderCountsLongRunsOfBadBuffersTowardsMaxErrors) {
    Harness h("g729dec", coded_caps, {"max-errors=150"});
    for (int i = 0; i < 150; ++i) {
        ASSERT_EQ(push_bytes(h, 7, none), GST_FLOW_OK) << "bad buffer " << i;
    }
    EXPECT_EQ(push_bytes(h, 7, none), GST_FLOW_ERROR);
}

// ---- instances ----

// Encoders and decoders in four threads at once, each over its own stretch of speech, each
// producing exactly what the library gives for that stretch alone.
TEST_F(GstElementTest, InstancesRunIndependentlyInParallel) {
    constexpr int threads = 4;
    std::vector<std::vector<int16_t>> outputs(threads);
    std::vector<std::thread> workers;
    const std::vector<int16_t>& speech = g729gst_test::speech();
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::span<const int16_t> input(speech.data() + t * 8000, 16000);
            Harness enc("g729enc", raw_caps, {t % 2 ? "dtx=true" : "dtx=false"});
            Harness dec("g729dec", coded_caps);
            push_pcm(enc, input, 400);
            std::vector<GstBuffer*> coded = enc.pull_all();
            for (GstBuffer* b : coded) {
                gst_harness_push(dec.get(), gst_buffer_ref(b));
            }
            unref_all(coded);
            dec.push_event(gst_event_new_eos());
            std::vector<GstBuffer*> pcm = dec.pull_all();
            outputs[t] = samples_of(pcm);
            unref_all(pcm);
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    for (int t = 0; t < threads; ++t) {
        const std::span<const int16_t> input(speech.data() + t * 8000, 16000);
        const std::vector<int16_t> expected =
            g729gst_test::library_decode(g729gst_test::library_encode(input, t % 2 == 1));
        EXPECT_EQ(first_difference(outputs[t], expected), -1) << "thread " << t;
    }
}

}  // namespace
