// Runs the codec over whole streams.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/io/coded_io.h"

namespace g729eval {

// Encodes every complete 80-sample frame (a trailing partial frame is ignored).
std::vector<g729io::CodedFrame> encode_samples(std::span<const int16_t> samples, bool dtx);

struct Decoded {
    std::vector<int16_t> samples;  // 80 per decoded frame
    std::string error;             // set when the decoder refused a frame; decoding stops there
    bool ok() const { return error.empty(); }
};

// Speech and SID frames go to the frame decoder, untransmitted frames to the comfort-noise
// path, lost frames to erasure concealment.
Decoded decode_frames(std::span<const g729io::CodedFrame> frames);

}  // namespace g729eval
