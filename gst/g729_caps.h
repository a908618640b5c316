// SPDX-License-Identifier: BSD-2-Clause
// Caps and timing shared by the two elements.
#pragma once

#include <gst/gst.h>

#include <g729/g729.h>

#define G729_RAW_CAPS \
    "audio/x-raw, format=(string)S16LE, rate=(int)8000, channels=(int)1, " \
    "layout=(string)interleaved"
#define G729_CODED_CAPS "audio/G729, rate=(int)8000, channels=(int)1"

inline constexpr int g729_sample_rate = 8000;
inline constexpr GstClockTime g729_frame_duration = 10 * GST_MSECOND;

// Frames carried by a payload of 10-byte speech frames and at most one trailing 2-byte SID.
inline guint64 g729_frames_in_payload(gsize bytes) {
    return bytes / G729_SPEECH_FRAME_BYTES +
           (bytes % G729_SPEECH_FRAME_BYTES == G729_SID_FRAME_BYTES ? 1 : 0);
}
