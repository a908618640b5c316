// SPDX-License-Identifier: BSD-2-Clause
// Raw 16-bit little-endian PCM from a file or standard input.
#pragma once

#include "lib/io/audio_reader.h"
#include "lib/io/file_io.h"

namespace g729io {

class RawPcmReader final : public AudioReader {
public:
    explicit RawPcmReader(const std::string& path);
    // The first bytes, still to be read as samples.
    std::span<const uint8_t> peek(std::size_t n) { return in_.peek(n); }

private:
    std::size_t read_some(std::span<int16_t> out) override;

    InputStream in_;
    std::vector<uint8_t> bytes_;
};

}  // namespace g729io
