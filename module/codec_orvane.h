// SPDX-License-Identifier: BSD-2-Clause
// Records of the codec_orvane translator module that outlive a single call: the per-instance
// private records and the example frames. The host sees the private records only as opaque
// storage of the declared size.
#pragma once

#include <cstdint>

#include <g729/g729.h>

namespace orvane {

inline constexpr int buffer_samples = 8000;     // pending input / decoded output capacity
inline constexpr int output_buffer_bytes = 16000;
inline constexpr int frame_samples = 80;        // one codec frame, 10 ms
inline constexpr int speech_frame_bytes = 10;
inline constexpr int sid_frame_bytes = 2;

}  // namespace orvane

// Encoder instance: the codec state and the samples not yet coded, oldest first from index 0.
// Their number is the instance's sample counter.
struct lintog729_pvt {
    g729_encoder_state encoder;
    int16_t pcm_buffer[orvane::buffer_samples];
};

// Decoder instance: the codec state only; decoded samples go to the host's output buffer.
struct g729tolin_pvt {
    g729_decoder_state decoder;
};

// Example input frames offered to the host: 30 ms of speech, and five 10-byte speech frames.
extern const int16_t slin_example_samples[240];
extern const uint8_t g729_example_frames[50];
