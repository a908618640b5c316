// SPDX-License-Identifier: BSD-2-Clause
// Test audio written by hand (so the readers are checked against an independent writer), and
// programs run with their output captured. Shared by the tool and the host tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_audio {

namespace fs = std::filesystem;

// Two tones (440 and 1250 Hz) at 8 kHz: a signal the codec codes like voiced speech.
inline std::vector<int16_t> speechlike(std::size_t n) {
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        s[i] = static_cast<int16_t>(std::lround(4000.0 * std::sin(2 * std::numbers::pi * 440.0 * t) +
                                                2500.0 * std::sin(2 * std::numbers::pi * 1250.0 * t)));
    }
    return s;
}

inline std::vector<uint8_t> bytes_of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void put(const fs::path& p, const std::vector<uint8_t>& data) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void le16(std::vector<uint8_t>& v, unsigned x) {
    v.push_back(static_cast<uint8_t>(x & 0xff));
    v.push_back(static_cast<uint8_t>((x >> 8) & 0xff));
}

inline void le32(std::vector<uint8_t>& v, uint32_t x) {
    le16(v, x & 0xffff);
    le16(v, x >> 16);
}

// The header of a frame of the ITU serial format: sync word and length word.
inline std::vector<uint8_t> itu_header(unsigned sync, unsigned length) {
    std::vector<uint8_t> v;
    le16(v, sync);
    le16(v, length);
    return v;
}

// A speech frame of the ITU serial format whose 80 bits are all 0.
inline std::vector<uint8_t> itu_speech_frame_of_zero_bits() {
    std::vector<uint8_t> v = itu_header(0x6B21, 80);
    for (int k = 0; k < 80; ++k) le16(v, 0x007F);
    return v;
}

// Sample encodings a hand-made WAV file can carry.
enum class Sample { u8, s16, s24, f32 };

inline int bits_of(Sample s) {
    switch (s) {
    case Sample::u8: return 8;
    case Sample::s16: return 16;
    case Sample::s24: return 24;
    case Sample::f32: return 32;
    }
    return 0;
}

// Interleaved samples (full scale 1.0) in the given encoding, little-endian.
inline std::vector<uint8_t> encode_samples(const std::vector<double>& v, Sample s) {
    std::vector<uint8_t> out;
    for (const double x : v) {
        switch (s) {
        case Sample::u8: out.push_back(static_cast<uint8_t>(std::lround(x * 127.0) + 128)); break;
        case Sample::s16: le16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(x * 32767.0)))); break;
        case Sample::s24: {
            const auto i = static_cast<uint32_t>(static_cast<int32_t>(std::lround(x * 8388607.0)));
            out.push_back(static_cast<uint8_t>(i & 0xff));
            out.push_back(static_cast<uint8_t>((i >> 8) & 0xff));
            out.push_back(static_cast<uint8_t>((i >> 16) & 0xff));
            break;
        }
        case Sample::f32: {
            const float f = static_cast<float>(x);
            uint32_t u = 0;
            std::memcpy(&u, &f, 4);
            le32(out, u);
            break;
        }
        }
    }
    return out;
}

struct WavSpec {
    int channels = 1;
    int rate = 8000;
    Sample sample = Sample::s16;
    bool extensible = false;           // WAVE_FORMAT_EXTENSIBLE header
    int64_t declared = -1;             // data-chunk length field; -1: the true length
    std::vector<uint8_t> trailer;      // bytes after the data chunk (e.g. a LIST chunk)
};

inline WavSpec wav_spec(int channels, int rate, Sample sample, bool extensible = false,
                        int64_t declared = -1, std::vector<uint8_t> trailer = {}) {
    WavSpec w;
    w.channels = channels;
    w.rate = rate;
    w.sample = sample;
    w.extensible = extensible;
    w.declared = declared;
    w.trailer = std::move(trailer);
    return w;
}

// A WAV file with the interleaved samples given (full scale 1.0).
inline std::vector<uint8_t> wav_file(const WavSpec& w, const std::vector<double>& interleaved) {
    const std::vector<uint8_t> data = encode_samples(interleaved, w.sample);
    const int bits = bits_of(w.sample);
    const unsigned tag = w.sample == Sample::f32 ? 3 : 1;
    std::vector<uint8_t> fmt;
    le16(fmt, w.extensible ? 0xFFFE : tag);
    le16(fmt, static_cast<unsigned>(w.channels));
    le32(fmt, static_cast<uint32_t>(w.rate));
    le32(fmt, static_cast<uint32_t>(w.rate * w.channels * bits / 8));
    le16(fmt, static_cast<unsigned>(w.channels * bits / 8));
    le16(fmt, static_cast<unsigned>(bits));
    if (w.extensible) {
        le16(fmt, 22);
        le16(fmt, static_cast<unsigned>(bits));
        le32(fmt, w.channels == 2 ? 3u : 4u);  // front left+right, or front centre
        le16(fmt, tag);                         // the sub-format GUID's first field
        const uint8_t guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), guid_tail, guid_tail + 14);
    }
    std::vector<uint8_t> body = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    le32(body, static_cast<uint32_t>(fmt.size()));
    body.insert(body.end(), fmt.begin(), fmt.end());
    body.insert(body.end(), {'d', 'a', 't', 'a'});
    le32(body, static_cast<uint32_t>(w.declared >= 0 ? w.declared : static_cast<int64_t>(data.size())));
    body.insert(body.end(), data.begin(), data.end());
    body.insert(body.end(), w.trailer.begin(), w.trailer.end());
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F'};
    le32(v, static_cast<uint32_t>(body.size()));
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

// A tone of `amplitude` (full scale 1.0) at `hz`, `seconds` long, the same in every channel,
// interleaved.
inline std::vector<double> tone(double hz, double amplitude, int rate, int channels, double seconds) {
    const auto frames = static_cast<std::size_t>(std::lround(seconds * rate));
    std::vector<double> v;
    v.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double x = amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
        for (int c = 0; c < channels; ++c) v.push_back(x);
    }
    return v;
}

inline double rms(const std::vector<int16_t>& s, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, s.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command with stdout and stderr captured through files in dir.
inline RunResult run_captured(const std::string& command, const fs::path& dir) {
    const fs::path out = dir / "stdout.captured";
    const fs::path err = dir / "stderr.captured";
    const std::string cmd = command + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int rc = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    const auto o = bytes_of(out);
    const auto e = bytes_of(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    fs::remove(out);
    fs::remove(err);
    return r;
}

// A fresh folder under the system's temporary folder (mkdtemp: unique even across processes
// and runs), removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "g729_test_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder in " +
                                     fs::temp_directory_path().string());
        }
        dir_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& dir() const { return dir_; }
    fs::path path(const std::string& name) const { return dir_ / name; }

private:
    fs::path dir_;
};

// A test with a fresh temporary folder of its own.
class TempDirTest : public testing::Test {
protected:
    fs::path file(const std::string& name) const { return dir_ / name; }
    // The path in single quotes, for a shell command line.
    std::string q(const std::string& name) const {
        std::string quoted = file(name).string();
        quoted.insert(quoted.begin(), '\'');
        quoted.push_back('\'');
        return quoted;
    }

    TempDir temp_;
    const fs::path& dir_ = temp_.dir();
};

}  // namespace test_audio
