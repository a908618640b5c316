// SPDX-License-Identifier: BSD-2-Clause
// A second-order recursive section, the shape of both fixed high-pass filters of the codec
// (input pre-processing and decoder output).
#pragma once

#include "codec/lpc/primitives.h"
#include "codec/simd_dispatch.h"

namespace g729 {

// y[n] = a1 y[n-1] + a2 y[n-2] + b0 x[n] + b1 x[n-1] + b2 x[n-2], added in that order.
struct SecondOrderCoefficients {
    double a1;
    double a2;
    double b0;
    double b1;
    double b2;
};

// High-pass at 140 Hz with the input scaled by 1/2, before the encoder; tiny outputs are
// flushed to zero.
inline constexpr SecondOrderCoefficients kPreprocessFilter = {1.9059465, -0.9114024, 0.92727435,
                                                              -1.8544941, 0.92727435};

// High-pass at 100 Hz with a gain of 2 on the decoder output.
inline constexpr SecondOrderCoefficients kOutputFilter = {1.9330735, -0.93589199, 0.93980581,
                                                          -1.8795834, 0.93980581};

#include "codec/lpc/second_order_step-inl.h"

// Filters `samples` in place. mem = {x[n-1], x[n-2], y[n-1], y[n-2]}; it is the filter's own
// record, never part of the samples, and is kept in registers while the loop runs. With
// FlushOutputs every output goes through flush_tiny before it is stored and emitted.
template <bool FlushOutputs>
G729_INLINE void second_order_section(const SecondOrderCoefficients& c, double mem[4],
                                      double* samples, int count) {
    SecondOrderMemory<double> m{mem[0], mem[1], mem[2], mem[3]};
    for (int n = 0; n < count; ++n) {
        samples[n] = second_order_step<FlushOutputs>(c, m, samples[n],
                                                     [](double v) { return flush_tiny(v); });
    }
    mem[0] = m.x1;
    mem[1] = m.x2;
    mem[2] = m.y1;
    mem[3] = m.y2;
}

}  // namespace g729
