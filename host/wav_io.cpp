#include "host/wav_io.h"

#include <sndfile.h>

#include <stdexcept>

namespace pelhost {

namespace {

struct SndFile {
    SNDFILE* f = nullptr;
    ~SndFile() {
        if (f != nullptr) sf_close(f);
    }
};

}  // namespace

std::vector<int16_t> read_wav(const std::string& path) {
    SF_INFO info{};
    SndFile file;
    file.f = sf_open(path.c_str(), SFM_READ, &info);
    if (file.f == nullptr) {
        throw std::runtime_error(path + ": " + sf_strerror(nullptr));
    }
    if (info.channels != 1 || info.samplerate != 8000) {
        throw std::runtime_error(path + ": need mono 8000 Hz audio, found " +
                                 std::to_string(info.channels) + " channel(s) at " +
                                 std::to_string(info.samplerate) + " Hz");
    }
    std::vector<int16_t> samples(static_cast<std::size_t>(info.frames));
    const sf_count_t got = sf_read_short(file.f, samples.data(), info.frames);
    if (got < 0) throw std::runtime_error(path + ": " + sf_strerror(file.f));
    samples.resize(static_cast<std::size_t>(got));
    return samples;
}

void write_wav(const std::string& path, std::span<const int16_t> samples) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFile file;
    file.f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file.f == nullptr) {
        throw std::runtime_error(path + ": " + sf_strerror(nullptr));
    }
    const auto n = static_cast<sf_count_t>(samples.size());
    if (sf_write_short(file.f, samples.data(), n) != n) {
        throw std::runtime_error(path + ": " + sf_strerror(file.f));
    }
    if (sf_close(file.f) != 0) {
        file.f = nullptr;
        throw std::runtime_error(path + ": cannot finish writing");
    }
    file.f = nullptr;
}

}  // namespace pelhost
