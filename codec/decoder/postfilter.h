// Adaptive postfilter and output high-pass filter of the decoder.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {

// speech points at the frame (synth_buf + 10); speech[-10..-1] is the previous frame's
// unfiltered synthesis and is refreshed for the next frame.
void postfilter_frame(g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type);

void post_highpass_filter(double mem[4], double* samples, int count);

}  // namespace g729
