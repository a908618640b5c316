// SPDX-License-Identifier: BSD-2-Clause
#include "lib/eval/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace g729eval {

namespace {

double ratio_db(double num, double den) {
    if (den == 0.0) {
        return num == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
    }
    if (num == 0.0) {
        return -std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(num / den);
}

// Reads width bits starting at bit position pos (bit 0 = MSB of byte 0).
int32_t read_bits(const uint8_t* bytes, int pos, int width) {
    int32_t v = 0;
    for (int k = pos; k < pos + width; ++k) {
        v = (v << 1) | ((bytes[k / 8] >> (7 - k % 8)) & 1);
    }
    return v;
}

}  // namespace

double snr_db(std::span<const int16_t> reference, std::span<const int16_t> test) {
    const std::size_t n = std::min(reference.size(), test.size());
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = reference[i];
        const double d = r - test[i];
        signal += r * r;
        noise += d * d;
    }
    return ratio_db(signal, noise);
}

SegSnr segmental_snr_db(std::span<const int16_t> reference, std::span<const int16_t> test) {
    const std::size_t frames = std::min(reference.size(), test.size()) / frame_samples;
    SegSnr out;
    double sum = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        double signal = 0.0;
        double noise = 0.0;
        for (std::size_t i = f * frame_samples; i < (f + 1) * frame_samples; ++i) {
            const double r = reference[i];
            const double d = r - test[i];
            signal += r * r;
            noise += d * d;
        }
        if (signal < seg_min_mean_square * static_cast<double>(frame_samples)) {
            ++out.frames_skipped;
            continue;
        }
        const double db = noise == 0.0 ? seg_snr_ceiling_db : 10.0 * std::log10(signal / noise);
        sum += std::clamp(db, seg_snr_floor_db, seg_snr_ceiling_db);
        ++out.frames_used;
    }
    out.db = out.frames_used ? sum / static_cast<double>(out.frames_used)
                             : std::numeric_limits<double>::quiet_NaN();
    return out;
}

double level_difference_db(std::span<const int16_t> reference, std::span<const int16_t> test) {
    const std::size_t n = std::min(reference.size(), test.size());
    double e_ref = 0.0;
    double e_test = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        e_ref += static_cast<double>(reference[i]) * reference[i];
        e_test += static_cast<double>(test[i]) * test[i];
    }
    return ratio_db(e_test, e_ref);
}

namespace {

// input[0 .. n - shift) against output[shift .. n).
std::span<const int16_t> shifted_output(std::span<const int16_t> input,
                                        std::span<const int16_t> output, int shift,
                                        std::span<const int16_t>* input_part) {
    const std::size_t s = static_cast<std::size_t>(shift);
    const std::size_t n = std::min(input.size(), output.size());
    const std::size_t len = n > s ? n - s : 0;
    *input_part = input.subspan(0, len);
    return output.subspan(std::min(s, output.size()), len);
}

}  // namespace

double snr_at_shift(std::span<const int16_t> input, std::span<const int16_t> output, int shift) {
    std::span<const int16_t> in_part;
    const auto out_part = shifted_output(input, output, shift, &in_part);
    return snr_db(in_part, out_part);
}

SegSnr segmental_snr_at_shift(std::span<const int16_t> input, std::span<const int16_t> output,
                              int shift) {
    std::span<const int16_t> in_part;
    const auto out_part = shifted_output(input, output, shift, &in_part);
    return segmental_snr_db(in_part, out_part);
}

void ShiftCurve::add(const ShiftCurve& other) {
    if (signal.empty()) {
        *this = other;
        return;
    }
    for (std::size_t i = 0; i < signal.size() && i < other.signal.size(); ++i) {
        signal[i] += other.signal[i];
        noise[i] += other.noise[i];
    }
}

ShiftCurve shift_curve(std::span<const int16_t> input, std::span<const int16_t> output,
                       int max_shift) {
    ShiftCurve curve;
    for (int shift = 0; shift <= max_shift; ++shift) {
        std::span<const int16_t> in_part;
        const auto out_part = shifted_output(input, output, shift, &in_part);
        double signal = 0.0;
        double noise = 0.0;
        for (std::size_t i = 0; i < in_part.size(); ++i) {
            const double r = in_part[i];
            const double d = r - out_part[i];
            signal += r * r;
            noise += d * d;
        }
        curve.signal.push_back(signal);
        curve.noise.push_back(noise);
    }
    return curve;
}

Alignment best_alignment(const ShiftCurve& curve) {
    Alignment best{0, -std::numeric_limits<double>::infinity()};
    for (std::size_t shift = 0; shift < curve.signal.size(); ++shift) {
        const double s = ratio_db(curve.signal[shift], curve.noise[shift]);
        if (s > best.snr_db) {
            best = {static_cast<int>(shift), s};
        }
    }
    return best;
}

Alignment best_alignment(std::span<const int16_t> input, std::span<const int16_t> output,
                         int max_shift) {
    return best_alignment(shift_curve(input, output, max_shift));
}

std::array<int32_t, speech_field_count> speech_fields(const uint8_t bytes[10]) {
    std::array<int32_t, speech_field_count> out{};
    int pos = 0;
    for (int i = 0; i < speech_field_count; ++i) {
        out[i] = read_bits(bytes, pos, speech_field_bits[i]);
        pos += speech_field_bits[i];
    }
    return out;
}

std::array<int32_t, sid_field_count> sid_fields(const uint8_t bytes[2]) {
    std::array<int32_t, sid_field_count> out{};
    int pos = 0;
    for (int i = 0; i < sid_field_count; ++i) {
        out[i] = read_bits(bytes, pos, sid_field_bits[i]);
        pos += sid_field_bits[i];
    }
    return out;
}

}  // namespace g729eval
