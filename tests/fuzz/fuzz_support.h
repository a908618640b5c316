// SPDX-License-Identifier: BSD-2-Clause
// Helpers shared by the fuzz targets: a byte reader over the input, clean reference frames
// from the project's own encoder, and failure reporting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace g729_fuzz {

// Reads the fuzz input front to back; reads past the end give zeros.
class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::size_t left() const { return pos_ < size_ ? size_ - pos_ : 0; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Copies n bytes into out, zero-filled past the end of the input.
    void bytes(uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = byte();
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The project's speech recording (8 kHz), or a synthetic voiced signal when the recording
// cannot be read.
const std::vector<int16_t>& speech_samples();

// Speech frames coded by a fresh encoder with DTX off from the start of speech_samples().
const std::vector<std::array<uint8_t, 10>>& clean_frames();

// Reports an invariant violation and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace g729_fuzz
