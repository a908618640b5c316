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

// Filters `samples` in place. mem = {x[n-1], x[n-2], y[n-1], y[n-2]}; it is the filter's own
// record, never part of the samples, and is kept in registers while the loop runs. With
// FlushOutputs every output goes through flush_tiny before it is stored and emitted.
template <bool FlushOutputs>
G729_INLINE void second_order_section(const SecondOrderCoefficients& c, double mem[4],
                                      double* samples, int count) {
    double x1 = mem[0];
    double x2 = mem[1];
    double y1 = mem[2];
    double y2 = mem[3];
    for (int n = 0; n < count; ++n) {
        const double x = samples[n];
        double y = c.a1 * y1;
        y += c.a2 * y2;
        y += c.b0 * x;
        y += c.b1 * x1;
        y += c.b2 * x2;

        x2 = x1;
        x1 = x;
        if constexpr (FlushOutputs) {
            y2 = flush_tiny(y1);
            y1 = flush_tiny(y);
        } else {
            y2 = y1;
            y1 = y;
        }
        samples[n] = y1;
    }
    mem[0] = x1;
    mem[1] = x2;
    mem[2] = y1;
    mem[3] = y2;
}

}  // namespace g729
