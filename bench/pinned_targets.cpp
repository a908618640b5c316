// SPDX-License-Identifier: BSD-2-Clause
// Highway's two run-time entry points the codec calls, for the instruction-counting driver
// (g729_frame_counter) only, which links this file instead of libhwy. libhwy's initializer
// calibrates a timer with RDTSCP when the library is loaded, before main; on virtual
// processors that hide RDTSCP, valgrind stops there with SIGILL. The codec's objects are the
// very ones every build links: only the choice of instruction set is made here, as libhwy makes
// it under valgrind (which offers no AVX-512): AVX2 where the processor has it, else the
// portable target.
#include <hwy/targets.h>

#include <cstdint>

namespace hwy {

HWY_DLLEXPORT int64_t SupportedTargets() {
    int64_t targets = HWY_EMU128 | HWY_SCALAR;
#if HWY_ARCH_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
        __builtin_cpu_supports("bmi2")) {
        targets |= HWY_AVX2;
    }
#endif
    return targets;
}

HWY_DLLEXPORT ChosenTarget& GetChosenTarget() {
    static ChosenTarget chosen;
    return chosen;
}

}  // namespace hwy
