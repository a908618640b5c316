// SPDX-License-Identifier: BSD-2-Clause
// Real speech for the benchmarks: the recording, our own bitstream of it, and the inputs of
// the codec's inner routines as the encoder and decoder meet them on that speech.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/g729.h"

namespace g729bench {

// 8 kHz mono speech cut to whole 80-sample frames, and where it came from.
struct Speech {
    std::string path;
    std::vector<int16_t> samples;
    int frames() const { return static_cast<int>(samples.size() / G729_FRAME_SIZE); }
};

// Any audio file the tools read (converted to 8000 Hz mono 16-bit), or raw 16-bit
// little-endian PCM (any other name, e.g. *.in). Throws std::runtime_error naming the file and
// the problem.
Speech load_speech(const std::string& path);

// The shared ITU speech sequence when present, otherwise the project's own recording.
std::string default_speech_path();

// 10 bytes per frame from one encoder stream with DTX off.
std::vector<uint8_t> encode_stream(const std::vector<int16_t>& samples);

// Inputs of one frame's routines, taken from the running encoder and decoder.
struct EncoderFrameInputs {
    double speech_window[240];     // pre-processed analysis window (autocorrelation input)
    double wsp[223];               // weighted speech: 143 past + 80 of the frame
    double lsp[10];                // unquantized LSPs of the frame
    double lsf_memory[4][10];      // quantizer memory before the frame
    double weighted_filter[11];    // tilted weighting filter of subframe 1
    double residual[40];           // LPC residual of subframe 1
    double wsp_memory[10];         // weighted-speech filter memory before the frame
    double exc[234];               // 154 past excitation + residual of the frame
    double target[40];             // adaptive-codebook target of subframe 1
    double impulse[40];            // impulse response of the weighted synthesis filter
    int32_t t0_min;
    int32_t t0_max;
    double fcb_target[40];         // fixed-codebook target of subframe 1
    int32_t t0;                    // chosen integer lag of subframe 1
    double sharp;                  // pitch sharpening before the frame
};

struct DecoderFrameInputs {
    double synthesis[80];          // unfiltered synthesis of the frame
    double lpc[22];
    int32_t lags[2];
    int32_t frame_type;
};

// Encodes the speech with one encoder and decodes the result with one decoder, recording
// the encoder inputs of every stride-th frame and the decoder inputs of every frame.
void capture_routine_inputs(const std::vector<int16_t>& samples, int stride,
                            std::vector<EncoderFrameInputs>* encoder,
                            std::vector<DecoderFrameInputs>* decoder);

}  // namespace g729bench
