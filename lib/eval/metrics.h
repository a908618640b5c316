// SPDX-License-Identifier: BSD-2-Clause
// Signal and bitstream comparison measures.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace g729eval {

inline constexpr std::size_t frame_samples = 80;

// Segmental SNR: per-frame SNR clamped to this range; frames whose reference mean square is
// below seg_min_mean_square (RMS under 10, about -70 dB below full scale) are left out.
inline constexpr double seg_snr_floor_db = -10.0;
inline constexpr double seg_snr_ceiling_db = 60.0;
inline constexpr double seg_min_mean_square = 100.0;

// 10 log10(sum ref^2 / sum (ref - test)^2) over the common length; +inf when identical.
double snr_db(std::span<const int16_t> reference, std::span<const int16_t> test);

struct SegSnr {
    double db = 0.0;  // mean over the frames used; NaN when none qualifies
    std::size_t frames_used = 0;
    std::size_t frames_skipped = 0;
};
// Over the complete 80-sample frames of the common length.
SegSnr segmental_snr_db(std::span<const int16_t> reference, std::span<const int16_t> test);

// 10 log10(energy of test / energy of reference).
double level_difference_db(std::span<const int16_t> reference, std::span<const int16_t> test);

struct Alignment {
    int shift = 0;  // output[n + shift] lines up with input[n]
    double snr_db = 0.0;
};

// Energies of input[n] and of output[n + shift] - input[n] for every shift in 0..max_shift.
// Curves of several signals add up, so one delay can be chosen for all of them.
struct ShiftCurve {
    std::vector<double> signal;
    std::vector<double> noise;
    void add(const ShiftCurve& other);
};
ShiftCurve shift_curve(std::span<const int16_t> input, std::span<const int16_t> output,
                       int max_shift);
// The shift of highest SNR; ties keep the smallest shift.
Alignment best_alignment(const ShiftCurve& curve);
Alignment best_alignment(std::span<const int16_t> input, std::span<const int16_t> output,
                         int max_shift);
// SNR of output[n + shift] against input[n].
double snr_at_shift(std::span<const int16_t> input, std::span<const int16_t> output, int shift);
SegSnr segmental_snr_at_shift(std::span<const int16_t> input, std::span<const int16_t> output,
                              int shift);

// Parameter fields of a 10-byte speech frame, MSB first, in transmission order.
inline constexpr int speech_field_count = 11;
inline constexpr std::array<int, speech_field_count> speech_field_bits = {8, 10, 8, 1, 13, 4,
                                                                          7, 5,  13, 4, 7};
inline constexpr std::array<const char*, speech_field_count> speech_field_names = {
    "L0L1", "L2L3", "P1", "P0", "C1", "S1", "GA1GB1", "P2", "C2", "S2", "GA2GB2"};
std::array<int32_t, speech_field_count> speech_fields(const uint8_t bytes[10]);

// Parameter fields of a 2-byte SID frame.
inline constexpr int sid_field_count = 4;
inline constexpr std::array<int, sid_field_count> sid_field_bits = {1, 5, 4, 5};
inline constexpr std::array<const char*, sid_field_count> sid_field_names = {"L0", "L1", "L2",
                                                                             "gain"};
std::array<int32_t, sid_field_count> sid_fields(const uint8_t bytes[2]);

}  // namespace g729eval
