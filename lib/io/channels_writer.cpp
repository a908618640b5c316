// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/channels_writer.h"

#include <sndfile.h>

#include <stdexcept>
#include <vector>

#include "lib/io/audio_writer.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"

namespace g729io {

ChannelsWav::ChannelsWav(std::FILE* file, int channels, std::string name)
    : name_(std::move(name)), channels_(channels) {
    SF_INFO info{};
    info.samplerate = pcm_sample_rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    if (std::fflush(file) != 0) throw IoError(name_ + ": write error");
    sf_ = sf_open_fd(fileno(file), SFM_WRITE, &info, SF_FALSE);
    if (sf_ == nullptr) {
        throw IoError(name_ + ": cannot write a WAV file there (" + sf_strerror(nullptr) +
                      "); WAV needs a file, not a pipe: write raw PCM there instead");
    }
}

ChannelsWav::~ChannelsWav() {
    if (sf_ != nullptr) sf_close(sf_);
}

void ChannelsWav::write(std::span<const int16_t> interleaved) {
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels_));
    if (frames > 0 && sf_writef_short(sf_, interleaved.data(), frames) != frames) {
        throw IoError(name_ + ": write error (" + sf_strerror(sf_) + ")");
    }
}

void ChannelsWav::finish() {
    SNDFILE* f = sf_;
    sf_ = nullptr;
    if (f != nullptr && sf_close(f) != 0) throw IoError(name_ + ": write error while finishing the WAV file");
}

ChannelsWriter::ChannelsWriter(const std::string& path, int channels) : out_(path), channels_(channels) {
    if (writes_wav(path)) wav_ = std::make_unique<ChannelsWav>(out_.file(), channels, display_name(path, true));
}

ChannelsWriter::~ChannelsWriter() = default;

void ChannelsWriter::write(std::span<const int16_t> interleaved) {
    if (interleaved.size() % static_cast<std::size_t>(channels_) != 0) {
        throw std::invalid_argument("ChannelsWriter::write: not a whole number of sample frames");
    }
    if (wav_) {
        wav_->write(interleaved);
        return;
    }
    std::vector<uint8_t> bytes(2 * interleaved.size());
    for (std::size_t i = 0; i < interleaved.size(); ++i) {
        const auto u = static_cast<uint16_t>(interleaved[i]);
        bytes[2 * i] = static_cast<uint8_t>(u & 0xff);
        bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    out_.write(bytes.data(), bytes.size());
}

void ChannelsWriter::commit() {
    if (wav_) wav_->finish();
    out_.commit();
}

}  // namespace g729io
