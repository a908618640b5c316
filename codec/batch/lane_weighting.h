// SPDX-License-Identifier: BSD-2-Clause
// The encoder's perceptual weighting of a frame for many channels at once (lane_weighting.cpp;
// single-channel: the filters encode_frame_active_begin returns, encoder_frame.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_subframe.h"

namespace g729 {

// Doubles of scratch a vector lane needs for encoder_filters_channels.
inline constexpr int kEncoderFiltersScratch = 4 * (90 + 40 + 22 + 20 + 10);

// Where each channel's frame is, as encoder_filters_channels takes it.
struct EncoderFilters {
    const double* const* aq;      // both subframes' quantized LPC filters (22)
    const double* const* speech;  // the frame's speech, speech[-10..79] read
    double* const* excitation;    // the frame's excitation (80): its residual goes there
    double* const* wsp;           // the frame's weighted speech (80)
    double* const* wsp_memory;    // its filter's memory (10), read and kept
    const double* const* error_memory;  // the weighted error's memory (10), read
    double* const* ap;            // the weighted filters of both subframes (22)
    double* const* target;        // the first subframe's target (40)
    double* const* impulse[2];    // each subframe's impulse response of 1/ap(z) (40)
    double* target_lanes;         // the subframe's area (lane_subframe.h) for the target too,
                                  // or null; with it, target takes only samples 30..39
};

// For count channels side by side, what encode_frame_active_begin (encoder_frame.h) makes with
// its five filters beyond encode_frame_active_records: the weighted filters ap (aq(z/0.75)),
// the residual of the frame through aq, the weighted speech through the tilted 1/ap (its
// memory kept), the first subframe's target through 1/ap from the weighted error's memory and
// the impulse responses of both subframes' 1/ap. scratch: count-independent,
// kEncoderFiltersScratch doubles a lane of the widest vectors, 64-byte aligned.
void encoder_filters_channels(const EncoderFilters& f, int count, double* scratch,
                              int kernels = -1);

}  // namespace g729
