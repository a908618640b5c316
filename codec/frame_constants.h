// SPDX-License-Identifier: BSD-2-Clause
// Sizes and ranges shared by the encoder, the decoder and the comfort-noise generator.
#pragma once

namespace g729 {

inline constexpr int kSubframeLength = 40;
inline constexpr int kFrameLength = 80;

// The LPC analysis: its window, and the autocorrelation lags it uses (0..12).
inline constexpr int kLpcWindowLength = 240;
inline constexpr int kMaxAutocorrelationLag = 12;

// Pitch lags of speech frames, in whole samples.
inline constexpr int kMinPitchLag = 20;
inline constexpr int kMaxPitchLag = 143;

// Past excitation kept for the adaptive codebook: the longest lag plus the interpolation taps.
inline constexpr int kPastExcitation = kMaxPitchLag + 11;

}  // namespace g729
