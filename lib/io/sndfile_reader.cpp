// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/sndfile_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"

namespace g729io {

namespace {

// Frames decoded per block: about half a second of 8 kHz output whatever the input rate,
// and never more than 64 Ki samples of all channels.
sf_count_t block_frames_for(const SF_INFO& info) {
    const double per_output = static_cast<double>(info.samplerate) / pcm_sample_rate;
    const sf_count_t by_rate = static_cast<sf_count_t>(4096.0 * std::min(1.0, per_output));
    const sf_count_t by_channels = 65536 / std::max(1, info.channels);
    return std::max<sf_count_t>(16, std::min(by_rate, by_channels));
}

std::string sample_format_name(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8: return "8-bit";
    case SF_FORMAT_PCM_U8: return "8-bit unsigned";
    case SF_FORMAT_PCM_16: return "16-bit";
    case SF_FORMAT_PCM_24: return "24-bit";
    case SF_FORMAT_PCM_32: return "32-bit";
    case SF_FORMAT_FLOAT: return "float";
    case SF_FORMAT_DOUBLE: return "double";
    case SF_FORMAT_ULAW: return "u-law";
    case SF_FORMAT_ALAW: return "A-law";
    default: break;
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
        return info.name;
    }
    return "encoded";
}

std::string channels_name(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels";
}

}  // namespace

sf_count_t SndfileReader::vf_length(void* user) { return static_cast<VirtualFile*>(user)->length; }

sf_count_t SndfileReader::vf_seek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<VirtualFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = f->position;
    if (whence == SEEK_END) base = f->length;
    const sf_count_t to = base + offset;
    if (to < 0) return -1;
    f->position = to;
    return to;
}

sf_count_t SndfileReader::vf_read(void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<VirtualFile*>(user);
    if (count <= 0 || f->position >= f->length) return 0;
    count = std::min(count, f->length - f->position);
    const ssize_t got = ::pread(f->fd, ptr, static_cast<std::size_t>(count), static_cast<off_t>(f->position));
    if (got <= 0) return 0;
    auto* bytes = static_cast<uint8_t*>(ptr);
    auto overlay = [&](sf_count_t at, const uint8_t* with) {
        for (sf_count_t i = 0; i < 4; ++i) {
            const sf_count_t k = at + i - f->position;
            if (k >= 0 && k < got) bytes[k] = with[i];
        }
    };
    if (f->patch_offset >= 0) {
        overlay(f->patch_offset, f->patch);
        overlay(4, f->riff_size);
    }
    f->position += got;
    return got;
}

sf_count_t SndfileReader::vf_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t SndfileReader::vf_tell(void* user) { return static_cast<VirtualFile*>(user)->position; }

SndfileReader::SndfileReader(const std::string& path) : AudioReader(path) {
    file_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file_.fd < 0) throw IoError(path + ": cannot open: " + std::strerror(errno));
    struct stat st{};
    if (::fstat(file_.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(file_.fd);
        throw IoError(path + ": is a directory");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(file_.fd);
        throw IoError(path + ": audio files are read from regular files only (send raw PCM "
                             "through '-' instead)");
    }
    file_.length = st.st_size;

    const WavDataLength wav = inspect_wav_data_length(file_.fd, static_cast<uint64_t>(st.st_size));
    if (wav.disagrees()) {
        warnings_.push_back(path + ": " + describe(wav) + "; reading the " +
                            std::to_string(wav.actual) + " bytes there are");
        const uint64_t value = std::min<uint64_t>(wav.actual, 0xFFFFFFFFu);
        const uint64_t riff = std::min<uint64_t>(static_cast<uint64_t>(st.st_size) - 8, 0xFFFFFFFFu);
        for (int i = 0; i < 4; ++i) {
            file_.patch[i] = static_cast<uint8_t>(value >> (8 * i));
            file_.riff_size[i] = static_cast<uint8_t>(riff >> (8 * i));
        }
        file_.patch_offset = static_cast<sf_count_t>(wav.length_field);
    }

    SF_VIRTUAL_IO io{vf_length, vf_seek, vf_read, vf_write, vf_tell};
    sf_ = sf_open_virtual(&io, SFM_READ, &info_, &file_);
    if (sf_ == nullptr) {
        const std::string why = sf_strerror(nullptr);
        ::close(file_.fd);
        throw IoError(path + ": not an audio file libsndfile can read (" + why + ")");
    }
    if (info_.channels < 1 || info_.samplerate < 1) {
        sf_close(sf_);
        ::close(file_.fd);
        throw IoError(path + ": no channels or no sample rate in the header");
    }
    passthrough_ = info_.samplerate == pcm_sample_rate && info_.channels == 1 &&
                   (info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    if (!passthrough_) {
        conversion_note_ = "input: " + std::to_string(info_.samplerate) + " Hz " +
                           channels_name(info_.channels) + " " + sample_format_name(info_.format) +
                           ", converted to 8000 Hz mono 16-bit";
        // Float files are read as they are stored (full scale 1.0); integer formats come
        // normalized to the same scale.
        sf_command(sf_, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
        if (info_.samplerate != pcm_sample_rate) resampler_.emplace(info_.samplerate);
    }
    block_frames_ = block_frames_for(info_);
}

SndfileReader::~SndfileReader() {
    if (sf_ != nullptr) sf_close(sf_);
    if (file_.fd >= 0) ::close(file_.fd);
}

std::size_t SndfileReader::read_some(std::span<int16_t> out) {
    while (pending_pos_ == pending_.size()) {
        pending_.clear();
        pending_pos_ = 0;
        if (!refill()) return 0;
    }
    const std::size_t n = std::min(out.size(), pending_.size() - pending_pos_);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pending_pos_), n, out.begin());
    pending_pos_ += n;
    return n;
}

void SndfileReader::append_converted(const std::vector<float>& mono) {
    for (const float v : mono) {
        const long s = std::lrint(static_cast<double>(v) * 32768.0);
        if (s > 32768 || s < -32769) ++clipped_;
        pending_.push_back(static_cast<int16_t>(std::clamp<long>(s, -32768, 32767)));
    }
}

bool SndfileReader::refill() {
    if (ended_) return false;
    if (passthrough_) {
        pending_.resize(static_cast<std::size_t>(block_frames_));
        const sf_count_t got = sf_readf_short(sf_, pending_.data(), block_frames_);
        if (got < 0 || sf_error(sf_) != SF_ERR_NO_ERROR) {
            throw IoError(name_ + ": read error (" + sf_strerror(sf_) + ")");
        }
        pending_.resize(static_cast<std::size_t>(got));
        ended_ = got == 0;
        return got > 0;
    }
    const auto channels = static_cast<std::size_t>(info_.channels);
    block_.resize(static_cast<std::size_t>(block_frames_) * channels);
    const sf_count_t got = sf_readf_float(sf_, block_.data(), block_frames_);
    if (got < 0 || sf_error(sf_) != SF_ERR_NO_ERROR) {
        throw IoError(name_ + ": read error (" + sf_strerror(sf_) + ")");
    }
    mono_.resize(static_cast<std::size_t>(got));
    for (std::size_t i = 0; i < mono_.size(); ++i) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) sum += block_[i * channels + c];
        mono_[i] = sum / static_cast<float>(channels);
    }
    const std::vector<float>* result = &mono_;
    if (resampler_) {
        converted_.clear();
        if (got > 0) {
            resampler_->process(mono_.data(), mono_.size(), converted_);
        } else {
            resampler_->flush(converted_);
        }
        result = &converted_;
    }
    append_converted(*result);
    if (got == 0) {
        ended_ = true;
        if (clipped_ > 0) {
            warnings_.push_back(name_ + ": " + std::to_string(clipped_) +
                                " samples beyond full scale were clipped");
        }
    }
    return !pending_.empty() || !ended_;
}

}  // namespace g729io
