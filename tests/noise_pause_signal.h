// SPDX-License-Identifier: BSD-2-Clause
// A made-up test signal for the voice activity detector, DTX and comfort noise: background
// noise, two voiced bursts, a jump in the noise level and a stretch of digital silence. Built
// with integer arithmetic only, so it is the same on every machine and compiler.
#pragma once

#include <cstdint>
#include <vector>

namespace g729test {

// White noise from a 32-bit linear congruential generator, scaled to about +-level.
class NoiseSource {
public:
    explicit NoiseSource(uint32_t seed) : state_(seed) {}
    int32_t next(int32_t level) {
        state_ = state_ * 1664525u + 1013904223u;
        const int32_t white = static_cast<int32_t>((state_ >> 16) & 0xFFFFu) - 32768;
        return white * level / 32768;
    }

private:
    uint32_t state_;
};

// A buzz at 8000/period Hz: a sawtooth through two one-pole low-pass stages (coefficient
// 3/4 each), loudness rising and falling over the burst, plus the background noise.
inline void append_voiced_burst(std::vector<int16_t>& out, NoiseSource& noise, int samples,
                                int period, int32_t amplitude, int32_t noise_level) {
    int32_t stage1 = 0;
    int32_t stage2 = 0;
    for (int n = 0; n < samples; ++n) {
        const int32_t saw = (n % period) * 2 * amplitude / period - amplitude;
        stage1 += (saw - stage1) / 4;
        stage2 += (stage1 - stage2) / 4;
        const int32_t envelope = n < samples / 2 ? n : samples - n;  // 0 .. samples/2
        const int32_t voiced = stage2 * envelope / (samples / 2);
        out.push_back(static_cast<int16_t>(voiced + noise.next(noise_level)));
    }
}

inline void append_noise(std::vector<int16_t>& out, NoiseSource& noise, int samples,
                         int32_t level) {
    for (int n = 0; n < samples; ++n) out.push_back(static_cast<int16_t>(noise.next(level)));
}

// 4.5 s at 8 kHz (450 frames of 80 samples).
inline std::vector<int16_t> noise_pause_signal() {
    NoiseSource noise(20261208u);
    std::vector<int16_t> s;
    s.reserve(36000);
    append_noise(s, noise, 4000, 200);                      // 0.5 s quiet background
    append_voiced_burst(s, noise, 5600, 57, 12000, 200);    // 0.7 s buzz near 140 Hz
    append_noise(s, noise, 9600, 200);                      // 1.2 s background: DTX
    append_noise(s, noise, 4000, 900);                      // 0.5 s louder background
    s.insert(s.end(), 4000, 0);                             // 0.5 s digital silence
    append_voiced_burst(s, noise, 4000, 40, 9000, 200);     // 0.5 s buzz at 200 Hz
    append_noise(s, noise, 4800, 200);                      // 0.6 s background
    return s;
}

}  // namespace g729test
