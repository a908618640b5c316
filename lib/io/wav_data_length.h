// SPDX-License-Identifier: BSD-2-Clause
// The data-chunk length of a RIFF/WAVE file checked against what the file really holds.
// Recorders that die before fixing up the header leave 0 (or 0xFFFFFFFF) there; truncated
// copies leave a length beyond the end of the file.
#pragma once

#include <cstdint>
#include <string>

namespace g729io {

struct WavDataLength {
    bool found = false;          // a RIFF/WAVE file with a data chunk
    uint64_t length_field = 0;   // file offset of the data chunk's length field
    uint64_t data_offset = 0;    // first byte of the audio data
    uint64_t declared = 0;       // length the header declares
    uint64_t actual = 0;         // bytes of whole sample frames the file holds from data_offset
    bool disagrees() const { return found && declared != actual; }
};

// Reads the header of the open file fd of file_size bytes. A declared length that is 0,
// 0xFFFFFFFF, runs past the end of the file, or is followed by bytes that are no chunk, gives
// actual = the audio data the file really holds (whole sample frames).
WavDataLength inspect_wav_data_length(int fd, uint64_t file_size);

// "the WAV header declares D bytes of audio data but the file holds A"
std::string describe(const WavDataLength& w);

}  // namespace g729io
