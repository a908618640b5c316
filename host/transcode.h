// SPDX-License-Identifier: BSD-2-Clause
// Running audio through the module's translators the way a call leg would, and measuring
// what that costs in CPU time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include <pellarion/pel_host.h>

namespace pelhost {

struct DirectionStats {
    long frames_in = 0;       // host frames handed to frame-in
    long frames_out = 0;      // host frames returned by frame-out
    long bytes_out = 0;       // data bytes of those frames
    long samples_out = 0;     // samples those frames stand for
    double cpu_seconds = 0;   // thread CPU time inside frame-in and frame-out
};

struct TranscodeResult {
    std::size_t input_samples = 0;
    std::size_t padding_samples = 0;  // silence added to complete the last 10 ms block
    int packet_samples = 0;
    // Host frames handed to the encoder in parts: with what it holds back from the frame
    // before (less than one 10 ms block), they would not fit its buffer.
    long split_frames = 0;
    DirectionStats encode;            // slin -> g729
    DirectionStats decode;            // g729 -> slin
    std::vector<int16_t> output;
};

struct pel_trans_pvt_deleter {
    void operator()(pel_trans_pvt* pvt) const;
};

// The streaming form of transcode(): input fed in pieces of any size, decoded audio handed to
// the sink as it comes out. Memory use is one host frame whatever the input's length.
class Transcoder {
public:
    using Sink = std::function<void(std::span<const int16_t>)>;
    // Throws std::runtime_error for a packet size that is not positive or when an instance
    // cannot be created.
    Transcoder(pel_translator* encoder, pel_translator* decoder, int packet_samples, Sink sink);
    void feed(std::span<const int16_t> samples);
    // Pads the input with silence to whole 80-sample blocks and sends the last host frame.
    void finish();
    // Counts and costs so far (output stays empty: it went to the sink).
    const TranscodeResult& result() const { return result_; }

private:
    void send(std::span<int16_t> packet);
    void send_part(std::span<int16_t> part);

    std::unique_ptr<pel_trans_pvt, pel_trans_pvt_deleter> enc_;
    std::unique_ptr<pel_trans_pvt, pel_trans_pvt_deleter> dec_;
    int packet_samples_;
    Sink sink_;
    std::vector<int16_t> packet_;
    TranscodeResult result_;
};

// Sends the input through one encoder instance in host frames of packet_samples (the last one
// may be shorter; a frame the encoder's buffer cannot take whole goes in as it has room), every G.729 frame it returns through one decoder instance, and collects the
// decoded samples. The input is first padded with silence to whole 80-sample blocks. Throws
// std::runtime_error when a translator refuses a frame.
TranscodeResult transcode(pel_translator* encoder, pel_translator* decoder,
                          std::span<const int16_t> input, int packet_samples);

// Milliseconds of CPU per second of 8 kHz audio.
double cpu_ms_per_audio_second(double cpu_seconds, long samples);

struct CostResult {
    long frames = 0;          // times the sample frame was fed
    long audio_samples = 0;   // samples of audio those frames stand for
    double cpu_seconds = 0;
};

// Feeds the translator's own sample frame to one instance, each followed by a frame-out,
// until at least audio_seconds of audio went through. Throws std::runtime_error on refusal.
CostResult measure_translation_cost(pel_translator* t, double audio_seconds);

}  // namespace pelhost
