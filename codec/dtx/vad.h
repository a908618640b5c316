// SPDX-License-Identifier: BSD-2-Clause
// Voice activity detector.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

void vad_init(g729_vad_state* vad);

// lsf is normalised in place (divided by 2 pi). speech_buf is the 240-sample analysis buffer.
void detect_voice_activity(g729_vad_state* vad, double lsf[10], const double r[13],
                           const double speech_buf[240], int32_t frame_count, int32_t vad_prev,
                           double rc1, int32_t vad_prev2, int32_t* decision);

void vector_subtract(const double* a, const double* b, double* out, int n);
double dot_product(const double* a, const double* b, int n);
void weighted_add(const double* x, double a, const double* y, double b, double* out, int n);
void scale_vector(const double* x, double a, double* out, int n);

}  // namespace g729
