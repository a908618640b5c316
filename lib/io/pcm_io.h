// SPDX-License-Identifier: BSD-2-Clause
// Whole-buffer audio helpers over AudioReader and AudioWriter, for inputs known to be small
// (test vectors, the project's recording, test data). The tools stream instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace g729io {

inline constexpr int pcm_sample_rate = 8000;

struct Pcm {
    std::vector<int16_t> samples;
    std::size_t stray_bytes = 0;  // a trailing odd byte of a raw file (0 or 1)
};

std::vector<int16_t> pcm_from_le_bytes(std::span<const uint8_t> bytes);
std::vector<uint8_t> pcm_to_le_bytes(std::span<const int16_t> samples);

Pcm read_raw_pcm(const std::string& path);
void write_raw_pcm(const std::string& path, std::span<const int16_t> samples);

// Any audio file libsndfile reads, converted to 8000 Hz mono 16-bit (see AudioReader).
std::vector<int16_t> read_wav(const std::string& path);
// 16-bit PCM, mono, 8000 Hz WAV.
void write_wav(const std::string& path, std::span<const int16_t> samples);

// Dispatch as AudioReader::open and AudioWriter::create do.
bool is_wav_name(const std::string& path);
Pcm read_audio(const std::string& path);
void write_audio(const std::string& path, std::span<const int16_t> samples);

}  // namespace g729io
