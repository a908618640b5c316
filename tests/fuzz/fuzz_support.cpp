// SPDX-License-Identifier: BSD-2-Clause
#include "tests/fuzz/fuzz_support.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "codec/g729.h"
#include "lib/io/pcm_io.h"

namespace g729_fuzz {

namespace {

constexpr std::size_t kCleanFrameCount = 400;  // 4 s

std::vector<int16_t> synthetic_speech() {
    // Pitch-modulated pulse train through a resonance, with pauses: voiced and silent parts.
    std::vector<int16_t> s(kCleanFrameCount * 80);
    double y1 = 0.0;
    double y2 = 0.0;
    double phase = 0.0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const double pitch = 120.0 + 40.0 * std::sin(2.0 * 3.14159265358979 * 0.7 * t);
        phase += pitch / 8000.0;
        double x = 0.0;
        if (phase >= 1.0) {
            phase -= 1.0;
            x = 4000.0;
        }
        const bool voiced = std::fmod(t, 0.8) < 0.55;
        const double y = (voiced ? x : 0.0) + 1.6 * y1 - 0.9 * y2;
        y2 = y1;
        y1 = y;
        const double v = std::fmax(-32768.0, std::fmin(32767.0, y));
        s[n] = static_cast<int16_t>(v);
    }
    return s;
}

}  // namespace

const std::vector<int16_t>& speech_samples() {
    static const std::vector<int16_t> samples = [] {
        try {
            std::vector<int16_t> s = g729io::read_wav(G729_FUZZ_SPEECH_WAV);
            if (s.size() >= kCleanFrameCount * 80) return s;
        } catch (const std::exception&) {
        }
        return synthetic_speech();
    }();
    return samples;
}

const std::vector<std::array<uint8_t, 10>>& clean_frames() {
    static const std::vector<std::array<uint8_t, 10>> frames = [] {
        const std::vector<int16_t>& s = speech_samples();
        g729_encoder_state enc;
        g729_encoder_init(&enc, 0);
        std::vector<std::array<uint8_t, 10>> out;
        for (std::size_t f = 0; f < kCleanFrameCount && (f + 1) * 80 <= s.size(); ++f) {
            std::array<uint8_t, 10> b{};
            int32_t n = 0;
            g729_encode_frame(&enc, s.data() + f * 80, b.data(), &n);
            out.push_back(b);
        }
        return out;
    }();
    return frames;
}

void fail(const char* format, ...) {
    std::va_list ap;
    va_start(ap, format);
    std::fputs("INVARIANT VIOLATED: ", stderr);
    std::vfprintf(stderr, format, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::abort();
}

}  // namespace g729_fuzz
