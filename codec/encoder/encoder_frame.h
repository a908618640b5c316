// Encoder frame driver: pre-processing, per-frame analysis-by-synthesis loop, taming.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

// Second-order 140 Hz high-pass filter, in place. mem: x[n-1], x[n-2], y[n-1], y[n-2].
void preprocess_highpass(double hpf_mem[4], double* samples, int count);

// Codes the frame at speech_buf[120..199] into params (element 0: frame type) and shifts
// every history of the state.
void encode_frame_parameters(g729_encoder_state* state, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled);

// 1 when the pitch gain must be limited to keep the excitation loop stable.
int32_t taming_check(const double exc_err[4], int t0, int frac);
void taming_update(double exc_err[4], int t0, double gain_pitch);

}  // namespace g729
