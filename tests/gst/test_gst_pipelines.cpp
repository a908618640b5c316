// SPDX-License-Identifier: BSD-2-Clause
// Whole pipelines with GStreamer's own RTP elements: g729enc ! rtpg729pay ! (UDP) !
// rtpg729depay ! g729dec, compared sample for sample with the codec library.
//
// Alignment: g729enc pads a final partial frame with silence and sends it, so the pipeline's
// output is the input padded with zeros to whole 80-sample frames, encoded and decoded: the
// library reference is the same run over the same padded samples. (The g729 tool instead
// drops a partial final frame: its output is the pipeline's without the last frame.)

#include <gst/rtp/gstrtpbuffer.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/gst/gst_test_support.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"

using namespace std::chrono_literals;
using g729gst_test::first_difference;

namespace {

class GstPipelineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g729gst_test::init_gstreamer(); }
    g729gst_test::TempDir dir_;
};

// ---- file to file through the payloader and depayloader ----

struct FileCase {
    const char* name;
    std::size_t samples;  // of the speech recording; 0 for all of it
    int frames_per_buffer;
    bool dtx;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class FilePipeline : public GstPipelineTest, public ::testing::WithParamInterface<FileCase> {};

// The reference of a DTX run is the g729 tool itself: encode --dtx --format itu, then decode.
std::vector<int16_t> tool_dtx_reference(const g729gst_test::TempDir& dir,
                                        const std::vector<int16_t>& input) {
    const auto padded = dir.path("padded.wav");
    const auto coded = dir.path("dtx.bit");
    const auto decoded = dir.path("tool.wav");
    g729io::write_wav(padded.string(), g729gst_test::pad_to_frames(input));
    EXPECT_EQ(g729gst_test::run_tool("encode --dtx --format itu " + padded.string() + " " +
                                     coded.string()),
              0);
    EXPECT_EQ(g729gst_test::run_tool("decode " + coded.string() + " " + decoded.string()), 0);
    return g729io::read_wav(decoded.string());
}

TEST_P(FilePipeline, DecodesToTheLibrarysSamples) {
    const FileCase& c = GetParam();
    const std::vector<int16_t>& speech = g729gst_test::speech();
    const std::vector<int16_t> input(speech.begin(),
                                     c.samples == 0 ? speech.end() : speech.begin() + c.samples);
    const auto in_path = dir_.path("in.wav");
    const auto out_path = dir_.path("out.wav");
    g729io::write_wav(in_path.string(), input);

    g729gst_test::Pipeline pipeline(
        "filesrc location=" + in_path.string() + " ! wavparse ! g729enc dtx=" +
        (c.dtx ? "true" : "false") + " frames-per-buffer=" + std::to_string(c.frames_per_buffer) +
        " ! rtpg729pay ! rtpg729depay ! g729dec ! wavenc ! filesink location=" +
        out_path.string());
    ASSERT_EQ(pipeline.run(10s), "");

    const std::vector<int16_t> output = g729io::read_wav(out_path.string());
    const std::vector<int16_t> expected =
        c.dtx ? tool_dtx_reference(dir_, input)
              : g729gst_test::library_decode(g729gst_test::library_encode(input, false));
    EXPECT_EQ(output.size(), g729gst_test::pad_to_frames(input).size());
    EXPECT_EQ(first_difference(output, expected), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilePipeline,
    ::testing::Values(FileCase{"all_speech_partial_last_frame", 0, 1, false},
                      FileCase{"whole_frames_two_per_buffer", 16000, 2, false},
                      FileCase{"partial_frame_three_per_buffer", 12345, 3, false},
                      FileCase{"dtx_one_per_buffer", 0, 1, true},
                      FileCase{"dtx_three_per_buffer", 0, 3, true}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- a file of raw frames read as it is ----

// filesrc hands g729dec a byte stream, in which frame boundaries and SID frames cannot be
// found: the decoder stops the pipeline with an error of its own that names the fault (rather
// than the source's "Internal data stream error").
TEST_F(GstPipelineTest, DecoderRefusesAByteStreamWithItsOwnError) {
    std::vector<uint8_t> bytes;
    for (const g729io::CodedFrame& f : g729gst_test::library_encode(
             std::span(g729gst_test::speech().data(), 16000), true)) {
        bytes.insert(bytes.end(), f.bytes.begin(), f.bytes.begin() + f.payload_bytes());
    }
    const auto path = dir_.path("speech.g729");
    g729io::write_file(path.string(), bytes);
    g729gst_test::Pipeline pipeline("filesrc location=" + path.string() +
                                    " ! audio/G729,rate=8000,channels=1 ! g729dec name=dec"
                                    " ! fakesink");
    const std::string outcome = pipeline.run(10s);
    EXPECT_EQ(outcome.rfind("dec: ", 0), 0u) << outcome;
    EXPECT_NE(outcome.find("not a byte stream"), std::string::npos) << outcome;
}

// ---- the README's two lines: an RTP stream stored in a file and played back ----

class RtpStreamFile : public GstPipelineTest, public ::testing::WithParamInterface<bool> {};

// With DTX the stored RTP timestamps carry the pauses (rtpjitterbuffer mode=none turns them into
// buffer times); a pause at the very end of the stream leaves no packet, so the playback ends
// with the last transmitted frame.
TEST_P(RtpStreamFile, PlaysBackTheLibrarysSamples) {
    const bool dtx = GetParam();
    const std::vector<int16_t>& input = g729gst_test::speech();
    const auto in_path = dir_.path("in.wav");
    const auto rtp_path = dir_.path("speech.rtp");
    const auto out_path = dir_.path("out.wav");
    g729io::write_wav(in_path.string(), input);

    g729gst_test::Pipeline encode("filesrc location=" + in_path.string() +
                                  " ! wavparse ! g729enc dtx=" + (dtx ? "true" : "false") +
                                  " ! rtpg729pay ! rtpstreampay ! filesink location=" +
                                  rtp_path.string() + " buffer-mode=unbuffered");
    ASSERT_EQ(encode.run(10s), "");
    g729gst_test::Pipeline play(
        "filesrc location=" + rtp_path.string() +
        " ! application/x-rtp-stream,media=audio,clock-rate=8000,encoding-name=G729,payload=18"
        " ! rtpstreamdepay ! rtpjitterbuffer mode=none ! rtpg729depay ! g729dec ! wavenc"
        " ! filesink location=" +
        out_path.string());
    ASSERT_EQ(play.run(10s), "");

    const std::vector<g729io::CodedFrame> frames = g729gst_test::library_encode(input, dtx);
    std::size_t sent = frames.size();
    while (sent > 0 && frames[sent - 1].kind == g729io::FrameKind::untransmitted) {
        --sent;
    }
    std::vector<int16_t> expected = dtx ? tool_dtx_reference(dir_, input)
                                        : g729gst_test::library_decode(frames);
    expected.resize(sent * 80);
    EXPECT_EQ(first_difference(g729io::read_wav(out_path.string()), expected), -1);
}

INSTANTIATE_TEST_SUITE_P(Dtx, RtpStreamFile, ::testing::Bool());

// ---- UDP on the loopback interface, through a jitter buffer, with packets dropped ----

struct UdpCase {
    const char* name;
    int frames_per_buffer;
    std::set<guint16> dropped_packets;  // by position in the stream (sequence number - first)
};

void PrintTo(const UdpCase& c, std::ostream* os) { *os << c.name; }

class UdpPipeline : public GstPipelineTest, public ::testing::WithParamInterface<UdpCase> {};

constexpr guint16 first_seqnum = 1000;

struct DropProbe {
    std::set<guint16> dropped;
    int seen = 0;  // written by the sender's streaming thread, read after the sender's EOS
};

GstPadProbeReturn drop_packets(GstPad*, GstPadProbeInfo* info, gpointer user) {
    auto* probe = static_cast<DropProbe*>(user);
    GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
    if (!gst_rtp_buffer_map(GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ, &rtp)) {
        return GST_PAD_PROBE_OK;
    }
    const guint16 position = static_cast<guint16>(gst_rtp_buffer_get_seq(&rtp) - first_seqnum);
    gst_rtp_buffer_unmap(&rtp);
    ++probe->seen;
    return probe->dropped.contains(position) ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// Records the decoder's output times, to check that they run on without a break.
struct OutputTimes {
    std::vector<std::pair<GstClockTime, GstClockTime>> buffers;  // pts, duration
};

GstPadProbeReturn record_times(GstPad*, GstPadProbeInfo* info, gpointer user) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    static_cast<OutputTimes*>(user)->buffers.emplace_back(GST_BUFFER_PTS(buffer),
                                                          GST_BUFFER_DURATION(buffer));
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn count_packets(GstPad*, GstPadProbeInfo*, gpointer user) {
    ++*static_cast<std::atomic<int>*>(user);
    return GST_PAD_PROBE_OK;
}

void add_probe(GstElement* element, const char* pad_name, GstPadProbeCallback callback,
               gpointer user) {
    GstPad* pad = gst_element_get_static_pad(element, pad_name);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, callback, user, nullptr);
    gst_object_unref(pad);
    gst_object_unref(element);
}

TEST_P(UdpPipeline, KeepsLengthTimingAndConcealsLostPackets) {
    const UdpCase& c = GetParam();
    const std::vector<int16_t>& speech = g729gst_test::speech();
    const std::vector<int16_t> input(speech.begin(), speech.begin() + 8000 - 37);  // ~1 s
    const auto in_path = dir_.path("in.wav");
    const auto out_path = dir_.path("out.wav");
    g729io::write_wav(in_path.string(), input);

    // Port 0: the receiver binds a free port, which the sender then uses.
    g729gst_test::Pipeline receiver(
        "udpsrc name=src address=127.0.0.1 port=0 timeout=300000000 "
        "caps=\"application/x-rtp,media=audio,clock-rate=8000,encoding-name=G729,payload=18\" "
        "! rtpjitterbuffer mode=none do-lost=true latency=40 ! rtpg729depay "
        "! g729dec name=dec ! wavenc ! filesink location=" +
        out_path.string());
    OutputTimes times;
    add_probe(receiver.element("dec"), "src", record_times, &times);
    std::atomic<int> received{0};
    add_probe(receiver.element("src"), "src", count_packets, &received);
    ASSERT_NE(gst_element_set_state(receiver.get(), GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    GstElement* src = receiver.element("src");
    gint port = 0;
    g_object_get(src, "port", &port, nullptr);
    gst_object_unref(src);
    ASSERT_GT(port, 0);
    receiver.start();

    g729gst_test::Pipeline sender(
        "filesrc location=" + in_path.string() + " ! wavparse ! g729enc frames-per-buffer=" +
        std::to_string(c.frames_per_buffer) + " ! rtpg729pay seqnum-offset=" +
        std::to_string(first_seqnum) + " ! udpsink name=sink host=127.0.0.1 port=" +
        std::to_string(port) + " sync=false");
    DropProbe drops{c.dropped_packets};
    add_probe(sender.element("sink"), "sink", drop_packets, &drops);
    ASSERT_EQ(sender.run(5s), "");
    const int expected_packets = drops.seen - static_cast<int>(c.dropped_packets.size());
    ASSERT_EQ(receiver.run(5s, [&] { return received.load() >= expected_packets; }), "");

    const std::size_t frames = g729gst_test::pad_to_frames(input).size() / 80;
    ASSERT_EQ(static_cast<std::size_t>(drops.seen) * c.frames_per_buffer, frames);
    std::set<std::size_t> lost;
    for (const guint16 p : c.dropped_packets) {
        for (int f = 0; f < c.frames_per_buffer; ++f) {
            lost.insert(static_cast<std::size_t>(p) * c.frames_per_buffer + f);
        }
    }
    const std::vector<int16_t> output = g729io::read_wav(out_path.string());
    const std::vector<int16_t> expected =
        g729gst_test::library_decode(g729gst_test::library_encode(input, false), lost);
    EXPECT_EQ(output.size(), frames * 80);
    EXPECT_EQ(first_difference(output, expected), -1);

    // The output runs on without breaks or overlaps: each buffer starts where the last ended.
    ASSERT_FALSE(times.buffers.empty());
    for (std::size_t i = 1; i < times.buffers.size(); ++i) {
        const auto [pts, duration] = times.buffers[i - 1];
        EXPECT_EQ(times.buffers[i].first, pts + duration) << "output buffer " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UdpPipeline,
    ::testing::Values(UdpCase{"no_loss", 1, {}},
                      UdpCase{"single_and_double_losses", 1, {12, 40, 41, 77}},
                      UdpCase{"two_frames_per_packet", 2, {10, 30, 31}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
