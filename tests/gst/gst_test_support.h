// SPDX-License-Identifier: BSD-2-Clause
// Shared helpers of the GStreamer plugin tests: GStreamer set up to load the built plugin,
// pipelines run to their end, and the codec library run directly for reference.
#pragma once

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "lib/io/coded_io.h"
#include "tests/audio_test_files.h"

namespace g729gst_test {

inline constexpr std::size_t frame_samples = 80;

// Initialises GStreamer once per process with the registry kept in the build tree and the
// built plugin on the plugin path; fails the calling test when g729enc/g729dec are missing.
void init_gstreamer();

// The project's speech recording (8 kHz mono, 16-bit).
const std::vector<int16_t>& speech();
std::filesystem::path speech_wav();

// A fresh directory for one test's files, removed with the object.
using test_audio::TempDir;

// Owns a pipeline built from a gst-launch description.
class Pipeline {
public:
    explicit Pipeline(const std::string& description);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    GstElement* get() const { return pipeline_; }
    // A named element of the pipeline (a new reference the caller drops with gst_object_unref).
    GstElement* element(const char* name) const;
    // Plays the pipeline until EOS; an error message, or no EOS within the limit, returns its
    // description (empty on success). With stream_complete, a udpsrc timeout message (no
    // packet for a while) sends EOS into the pipeline once stream_complete() is true, so that
    // a timeout before the first packets arrive does not end the stream.
    std::string run(std::chrono::milliseconds limit,
                    const std::function<bool()>& stream_complete = nullptr);
    void start();  // PLAYING without waiting; run() or stop() finishes it
    void stop();

private:
    GstElement* pipeline_ = nullptr;
};

// The samples padded with silence to whole frames, as g729enc does with the last frame.
std::vector<int16_t> pad_to_frames(std::span<const int16_t> samples);

// The library's own encode of padded samples, then its decode with the frames at the given
// positions lost (erasure concealment in their place).
std::vector<g729io::CodedFrame> library_encode(std::span<const int16_t> samples, bool dtx);
std::vector<int16_t> library_decode(std::vector<g729io::CodedFrame> frames,
                                    const std::set<std::size_t>& lost = {});

// Runs the g729 tool; returns its exit status.
int run_tool(const std::string& arguments);

// Index of the first differing sample, or -1 when both are equal (lengths included).
long first_difference(std::span<const int16_t> a, std::span<const int16_t> b);

}  // namespace g729gst_test
