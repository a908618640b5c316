// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/audio_writer.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <vector>

#include "lib/io/audio_kind.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"
#include "lib/io/safe_output.h"

namespace g729io {

namespace {

class RawPcmWriter final : public AudioWriter {
public:
    explicit RawPcmWriter(const std::string& path) : out_(path) {}
    void write(std::span<const int16_t> samples) override {
        bytes_.resize(2 * samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto u = static_cast<uint16_t>(samples[i]);
            bytes_[2 * i] = static_cast<uint8_t>(u & 0xff);
            bytes_[2 * i + 1] = static_cast<uint8_t>(u >> 8);
        }
        out_.write(bytes_.data(), bytes_.size());
        // A pipe reader gets each block as it is made.
        if (!out_.seekable()) out_.flush();
    }
    void commit() override { out_.commit(); }
    const char* format_name() const override { return "raw PCM"; }

private:
    SafeOutput out_;
    std::vector<uint8_t> bytes_;
};

class WavWriter final : public AudioWriter {
public:
    explicit WavWriter(const std::string& path) : out_(path) {
        SF_INFO info{};
        info.samplerate = pcm_sample_rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        out_.flush();
        sf_ = sf_open_fd(fileno(out_.file()), SFM_WRITE, &info, SF_FALSE);
        if (sf_ == nullptr) {
            const std::string name = display_name(out_.path(), true);
            struct stat st{};
            if (!out_.seekable() && ::fstat(fileno(out_.file()), &st) == 0 &&
                (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
                throw IoError(name + ": is a pipe, and libsndfile writes WAV only where it can "
                                     "go back to complete the header; write raw PCM there "
                                     "instead (a name without .wav, or -)");
            }
            throw IoError(name + ": cannot write a WAV file there (" + sf_strerror(nullptr) + ")");
        }
    }
    ~WavWriter() override {
        if (sf_ != nullptr) sf_close(sf_);
    }
    void write(std::span<const int16_t> samples) override {
        const auto n = static_cast<sf_count_t>(samples.size());
        if (n > 0 && sf_writef_short(sf_, samples.data(), n) != n) {
            throw IoError(display_name(out_.path(), true) + ": write error (" + sf_strerror(sf_) + ")");
        }
    }
    void commit() override {
        SNDFILE* f = sf_;
        sf_ = nullptr;
        if (sf_close(f) != 0) {
            throw IoError(display_name(out_.path(), true) + ": write error while finishing the WAV file");
        }
        out_.commit();
    }
    const char* format_name() const override { return "WAV"; }

private:
    SafeOutput out_;
    SNDFILE* sf_ = nullptr;
};

}  // namespace

bool writes_wav(const std::string& path) {
    return has_extension(path, ".wav") || has_extension(path, ".wave");
}

void refuse_unwritten_audio_name(const std::string& path) {
    if (!is_std_stream(path) && has_audio_extension(path) && !writes_wav(path)) {
        throw IoError(path + ": audio is written as WAV (.wav) or raw PCM (any other name); "
                             "this extension names a format that is not written");
    }
}

std::unique_ptr<AudioWriter> AudioWriter::create(const std::string& path) {
    refuse_unwritten_audio_name(path);
    if (writes_wav(path)) return create_wav(path);
    return create_raw(path);
}

std::unique_ptr<AudioWriter> AudioWriter::create_wav(const std::string& path) {
    return std::make_unique<WavWriter>(path);
}

std::unique_ptr<AudioWriter> AudioWriter::create_raw(const std::string& path) {
    return std::make_unique<RawPcmWriter>(path);
}

}  // namespace g729io
