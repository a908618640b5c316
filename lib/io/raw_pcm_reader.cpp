// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/raw_pcm_reader.h"

#include <algorithm>

#include "lib/io/pcm_io.h"

namespace g729io {

namespace {
constexpr std::size_t block_samples = 8192;
}

RawPcmReader::RawPcmReader(const std::string& path)
    : AudioReader(display_name(path, false)), in_(path) {}

std::size_t RawPcmReader::read_some(std::span<int16_t> out) {
    const std::size_t want = std::min(out.size(), block_samples);
    bytes_.resize(2 * want);
    const std::size_t got = in_.read(bytes_.data(), bytes_.size());
    const std::size_t samples = got / 2;
    for (std::size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes_[2 * i] | (bytes_[2 * i + 1] << 8)));
    }
    if (got % 2 != 0) stray_bytes_ = 1;  // only the last read can end on an odd byte
    return samples;
}

}  // namespace g729io
