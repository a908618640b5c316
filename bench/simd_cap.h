// SPDX-License-Identifier: BSD-2-Clause
// The instruction-set cap the measuring programs take (--simd avx3|avx2|scalar): the codec's
// kernels limited to that Highway target and those below it, so that one machine measures
// the kernels another would run.
#pragma once

#include <hwy/targets.h>

#include <cstdint>
#include <string>

namespace g729bench {

// The Highway target of a cap's name, or 0 for any other name.
inline int64_t simd_cap_target(const std::string& name) {
    return name == "avx3"     ? HWY_AVX3
           : name == "avx2"   ? HWY_AVX2
           : name == "scalar" ? HWY_SCALAR
                              : 0;
}

// The cap set (0: none): targets are bits, better ones lower, so every target better than the
// cap is disabled. Returns the best target the kernels were built for that may run here
// within the cap, the one they dispatch to (0: none), asked before the cap is set: Highway
// (1.0) answers by detecting the targets again and choosing among all of them, which would
// undo the cap.
inline int64_t apply_simd_cap(int64_t cap) {
    int64_t used = 0;
    for (const int64_t t : hwy::SupportedAndGeneratedTargets()) {
        if (t >= cap && (used == 0 || t < used)) used = t;
    }
    if (cap != 0) hwy::DisableTargets(cap - 1);
    return used;
}

}  // namespace g729bench
