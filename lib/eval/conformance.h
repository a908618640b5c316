// SPDX-License-Identifier: BSD-2-Clause
// Measurements against the ITU test vectors: our decoder against the reference output, our
// encoder against the reference bitstream. Every function throws std::runtime_error when a
// file is missing or malformed, the lengths disagree, or the decoder refuses a frame.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "lib/eval/metrics.h"

namespace g729eval {

// Delay of encoder plus decoder: the encoder codes its frame 40 samples behind the newest input
// (its look-ahead), so decoded output n lines up with input n - 40. Measured: over the annex-a
// vectors pooled, the SNR of decoded against input peaks at this shift for both our bitstream
// and the reference one.
inline constexpr int codec_delay_samples = 40;
// Largest shift searched when measuring the delay.
inline constexpr int max_alignment_shift = 120;

// X.bit decoded by our decoder against X.pst.
struct DecodeFigures {
    std::size_t frames = 0;
    double snr_db = 0.0;
    SegSnr seg;
};
DecodeFigures measure_decode(const std::string& bit_path, const std::string& pst_path);

// X.in encoded by our encoder (DTX off) and decoded by our decoder ("ours"), and X.bit decoded
// by our decoder ("ref"), both against X.in, with the decoded output shifted by `shift`.
struct EncodeFigures {
    std::size_t frames = 0;
    ShiftCurve ours_curve;  // SNR terms of every shift 0..max_alignment_shift
    ShiftCurve ref_curve;
    Alignment ours_best;  // best shift of our stream on its own
    Alignment ref_best;   // best shift of the reference stream
    int shift = 0;        // shift used for the figures below
    double snr_ours_db = 0.0;
    double snr_ref_db = 0.0;
    SegSnr seg_ours;
    SegSnr seg_ref;
    std::size_t compared = 0;  // frames that are speech frames in both streams
    std::array<std::size_t, speech_field_count> field_equal{};
    std::size_t all_equal = 0;  // frames whose 80 bits are identical
};
EncodeFigures measure_encode(const std::string& in_path, const std::string& bit_path,
                             int shift = codec_delay_samples);

// A DTX stream decoded by our decoder against the reference output, split by the reference
// stream's frame types: speech frames, noise frames (SID or untransmitted) and lost frames.
struct DtxDecodeFigures {
    std::size_t frames = 0;
    std::size_t speech_frames = 0;
    std::size_t noise_frames = 0;
    std::size_t lost_frames = 0;
    double speech_snr_db = 0.0;
    SegSnr speech_seg;
    double noise_level_diff_db = 0.0;  // 10 log10(our noise energy / reference noise energy)
};
DtxDecodeFigures measure_dtx_decode(const std::string& bit_path, const std::string& pst_path);

// X.in encoded with DTX on against the reference DTX bitstream X.bit.
struct DtxEncodeFigures {
    std::size_t frames = 0;
    std::size_t type_equal = 0;
    std::array<std::size_t, 3> ours_counts{};  // speech, SID, untransmitted
    std::array<std::size_t, 3> ref_counts{};
    std::size_t both_sid = 0;
    std::size_t sid_equal = 0;  // SID frames identical in all four fields
    std::array<std::size_t, sid_field_count> sid_field_equal{};
};
DtxEncodeFigures measure_dtx_encode(const std::string& in_path, const std::string& bit_path);

// Percentage, NaN when the total is 0.
double percent(std::size_t part, std::size_t total);

}  // namespace g729eval
