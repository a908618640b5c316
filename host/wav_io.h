// WAV files for the host program: 16-bit mono 8 kHz audio, read and written with libsndfile.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelhost {

// Reads a mono 8000 Hz file of any format libsndfile knows, as 16-bit samples. Throws
// std::runtime_error naming the file and the problem.
std::vector<int16_t> read_wav(const std::string& path);

// Writes 16-bit PCM, mono, 8000 Hz. Throws std::runtime_error on failure.
void write_wav(const std::string& path, std::span<const int16_t> samples);

}  // namespace pelhost
