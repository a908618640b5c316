// SPDX-License-Identifier: BSD-2-Clause
#include "tests/gst/gst_test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "lib/eval/codec_runner.h"
#include "lib/io/pcm_io.h"

namespace fs = std::filesystem;

namespace g729gst_test {

void init_gstreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Our own registry file: the user's registry is neither read nor written. Only the
        // built plugin and the system plugins the tests use are seen, scanned in this process.
        setenv("GST_REGISTRY", G729_GST_REGISTRY, 1);
        setenv("GST_PLUGIN_PATH", G729_GST_PLUGIN_DIR, 1);
        setenv("GST_PLUGIN_SYSTEM_PATH_1_0", G729_GST_SYSTEM_PLUGINS, 1);
        setenv("GST_REGISTRY_FORK", "no", 1);
        gst_init(nullptr, nullptr);
    });
    for (const char* name : {"g729enc", "g729dec"}) {
        GstElementFactory* factory = gst_element_factory_find(name);
        ASSERT_NE(factory, nullptr) << name << " not found in " << G729_GST_PLUGIN_DIR;
        gst_object_unref(factory);
    }
}

const std::vector<int16_t>& speech() {
    static const std::vector<int16_t> samples = g729io::read_wav(speech_wav().string());
    return samples;
}

fs::path speech_wav() { return fs::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav"; }

Pipeline::Pipeline(const std::string& description) {
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
        const std::string message = error->message;
        g_error_free(error);
        if (pipeline_ != nullptr) {
            gst_object_unref(pipeline_);
        }
        throw std::runtime_error("cannot build '" + description + "': " + message);
    }
}

Pipeline::~Pipeline() {
    stop();
    gst_object_unref(pipeline_);
}

GstElement* Pipeline::element(const char* name) const {
    return gst_bin_get_by_name(GST_BIN(pipeline_), name);
}

void Pipeline::start() { gst_element_set_state(pipeline_, GST_STATE_PLAYING); }

void Pipeline::stop() { gst_element_set_state(pipeline_, GST_STATE_NULL); }

std::string Pipeline::run(std::chrono::milliseconds limit,
                          const std::function<bool()>& stream_complete) {
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return "the pipeline refused to play";
    }
    GstBus* bus = gst_element_get_bus(pipeline_);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string outcome = "no EOS within " + std::to_string(limit.count()) + " ms";
    bool eos_sent = false;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            break;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, static_cast<GstClockTime>(wait),
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT));
        if (msg == nullptr) {
            break;
        }
        const GstMessageType type = GST_MESSAGE_TYPE(msg);
        if (type == GST_MESSAGE_EOS) {
            outcome.clear();
        } else if (type == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(msg, &error, nullptr);
            outcome = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))) + ": " + error->message;
            g_error_free(error);
        } else if (stream_complete && !eos_sent &&
                   gst_message_has_name(msg, "GstUDPSrcTimeout") && stream_complete()) {
            eos_sent = true;
            gst_element_send_event(pipeline_, gst_event_new_eos());
            gst_message_unref(msg);
            continue;
        } else {
            gst_message_unref(msg);
            continue;
        }
        gst_message_unref(msg);
        break;
    }
    gst_object_unref(bus);
    stop();
    return outcome;
}

std::vector<int16_t> pad_to_frames(std::span<const int16_t> samples) {
    std::vector<int16_t> padded(samples.begin(), samples.end());
    padded.resize((samples.size() + frame_samples - 1) / frame_samples * frame_samples, 0);
    return padded;
}

std::vector<g729io::CodedFrame> library_encode(std::span<const int16_t> samples, bool dtx) {
    return g729eval::encode_samples(pad_to_frames(samples), dtx);
}

std::vector<int16_t> library_decode(std::vector<g729io::CodedFrame> frames,
                                    const std::set<std::size_t>& lost) {
    for (const std::size_t f : lost) {
        frames.at(f) = g729io::CodedFrame::lost();
    }
    const g729eval::Decoded decoded = g729eval::decode_frames(frames);
    EXPECT_TRUE(decoded.ok()) << decoded.error;
    return decoded.samples;
}

int run_tool(const std::string& arguments) {
    const std::string command = std::string(G729_TOOL_PATH) + " " + arguments;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long first_difference(std::span<const int16_t> a, std::span<const int16_t> b) {
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (ia == a.end() && ib == b.end()) {
        return -1;
    }
    return static_cast<long>(ia - a.begin());
}

}  // namespace g729gst_test
