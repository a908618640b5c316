// SPDX-License-Identifier: BSD-2-Clause
// Runs the codec frame by frame (FrameEncoder, FrameDecoder) and over whole streams.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "lib/eval/metrics.h"
#include "lib/io/coded_io.h"

struct g729_encoder_state;
struct g729_decoder_state;

namespace g729eval {


// One encoder stream.
class FrameEncoder {
public:
    explicit FrameEncoder(bool dtx);
    ~FrameEncoder();
    // Codes 80 samples. Throws std::runtime_error when the encoder gives a frame of an
    // unexpected size (any non-speech frame with DTX off).
    g729io::CodedFrame encode(const int16_t* samples);

private:
    std::unique_ptr<g729_encoder_state> state_;
    bool dtx_;
    std::size_t frames_ = 0;
};

// One decoder stream: speech and SID frames go to the frame decoder, untransmitted frames to
// the comfort-noise path, lost frames to erasure concealment.
class FrameDecoder {
public:
    FrameDecoder();
    ~FrameDecoder();
    // Writes 80 samples. Returns false when the decoder refused the frame.
    bool decode(const g729io::CodedFrame& frame, int16_t* samples);

private:
    std::unique_ptr<g729_decoder_state> state_;
};

// Encodes every complete 80-sample frame (a trailing partial frame is ignored).
std::vector<g729io::CodedFrame> encode_samples(std::span<const int16_t> samples, bool dtx);

struct Decoded {
    std::vector<int16_t> samples;  // 80 per decoded frame
    std::string error;             // set when the decoder refused a frame; decoding stops there
    bool ok() const { return error.empty(); }
};

Decoded decode_frames(std::span<const g729io::CodedFrame> frames);

// "frame N: the decoder refused the KIND frame"
std::string refused_message(std::size_t frame_index, const g729io::CodedFrame& frame);

}  // namespace g729eval
