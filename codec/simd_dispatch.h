// SPDX-License-Identifier: BSD-2-Clause
// The codec's vector kernels and the choice of instruction set at run time.
//
// The hot routines, and the encoder and decoder frames that call them, are compiled with
// Highway for every instruction set it targets (HWY_TARGET_INCLUDE + foreach_target; see
// simd_kernels-inl.h) and chosen at run time with HWY_DYNAMIC_DISPATCH: the public routines
// choose once per call, the frames once per frame. A vector lane only ever holds an
// independent sum (one lag, one output, one codebook entry, one filter), whose terms are added
// in the same order, from the same starting value, as in the scalar loop; comparisons are made
// in the scalar order too. Every instruction set therefore gives bit-identical results, the
// vector ones only do several of those sums per instruction. No product is ever fused into
// a sum: the codec is compiled with -ffp-contract=off, and the one fused operation a kernel
// calls, on x86-64 only, multiplies by exactly 1.0 (a difference taken on the multipliers, the
// same value); the Arm build has no fused instruction at all.
//
// Tests run a routine on each instruction set by limiting Highway's choice
// (hwy::SetSupportedTargetsForTest) and calling it as the codec does.
#pragma once

#include <cstdint>

#include "codec/g729.h"

// A helper that must be inlined into the routine it serves (and into its instruction set).
#define G729_INLINE inline __attribute__((always_inline))

namespace g729 {
namespace g729simd {

// One lpc_synthesis_filter call: coefficients, input, output, memory, update flag.
struct SynthesisJob {
    const double* a;
    const double* x;
    double* y;
    double* mem;
    int update;
};

}  // namespace g729simd
}  // namespace g729
