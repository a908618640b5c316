#include "tools/io/pcm_io.h"

#include <sndfile.h>

#include <memory>

#include "tools/io/file_io.h"

namespace g729io {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

std::string subtype_name(int format) {
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
        return info.name;
    }
    return "unknown encoding";
}

std::string major_name(int format) {
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.name) {
        return info.name;
    }
    return "unknown container";
}

}  // namespace

std::vector<int16_t> pcm_from_le_bytes(std::span<const uint8_t> bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        samples[i] = static_cast<int16_t>(u);
    }
    return samples;
}

std::vector<uint8_t> pcm_to_le_bytes(std::span<const int16_t> samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<uint8_t>(u & 0xff);
        bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    return bytes;
}

Pcm read_raw_pcm(const std::string& path) {
    const std::vector<uint8_t> bytes = read_file(path);
    Pcm pcm;
    pcm.samples = pcm_from_le_bytes(bytes);
    pcm.stray_bytes = bytes.size() % 2;
    return pcm;
}

void write_raw_pcm(const std::string& path, std::span<const int16_t> samples) {
    write_file(path, pcm_to_le_bytes(samples));
}

std::vector<int16_t> read_wav(const std::string& path) {
    // Opening through stdio first gives the system's reason for a missing or unreadable file.
    check_readable(path);

    SF_INFO info{};
    SndfilePtr f(sf_open(path.c_str(), SFM_READ, &info));
    if (!f) {
        throw IoError(path + ": not a readable WAV file (" + sf_strerror(nullptr) + ")");
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    std::string problems;
    auto add = [&problems](const std::string& p) {
        problems += problems.empty() ? p : ", " + p;
    };
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) {
        add("container " + major_name(info.format) + ", expected WAV");
    }
    if (subtype != SF_FORMAT_PCM_16) {
        add("sample format " + subtype_name(info.format) + ", expected 16-bit PCM");
    }
    if (info.channels != 1) {
        add(std::to_string(info.channels) + " channels, expected mono");
    }
    if (info.samplerate != pcm_sample_rate) {
        add("sample rate " + std::to_string(info.samplerate) + " Hz, expected " +
            std::to_string(pcm_sample_rate) + " Hz");
    }
    if (!problems.empty()) {
        throw IoError(path + ": " + problems);
    }
    std::vector<int16_t> samples(static_cast<std::size_t>(info.frames));
    const sf_count_t got = sf_readf_short(f.get(), samples.data(), info.frames);
    if (got != info.frames) {
        throw IoError(path + ": read error after " + std::to_string(got) + " of " +
                      std::to_string(info.frames) + " samples (" + sf_strerror(f.get()) + ")");
    }
    return samples;
}

void write_wav(const std::string& path, std::span<const int16_t> samples) {
    SF_INFO info{};
    info.samplerate = pcm_sample_rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndfilePtr f(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!f) {
        throw IoError(path + ": cannot create WAV file (" + sf_strerror(nullptr) + ")");
    }
    const auto count = static_cast<sf_count_t>(samples.size());
    if (count > 0 && sf_writef_short(f.get(), samples.data(), count) != count) {
        throw IoError(path + ": write error (" + std::string(sf_strerror(f.get())) + ")");
    }
    if (sf_close(f.release()) != 0) {
        throw IoError(path + ": write error while closing");
    }
}

bool is_wav_name(const std::string& path) { return has_extension(path, ".wav"); }

Pcm read_audio(const std::string& path) {
    if (is_wav_name(path)) {
        Pcm pcm;
        pcm.samples = read_wav(path);
        return pcm;
    }
    return read_raw_pcm(path);
}

void write_audio(const std::string& path, std::span<const int16_t> samples) {
    if (is_wav_name(path)) {
        write_wav(path, samples);
    } else {
        write_raw_pcm(path, samples);
    }
}

}  // namespace g729io
