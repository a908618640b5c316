// SPDX-License-Identifier: BSD-2-Clause
// Running a routine on a chosen instruction set: the entry of a Highway dispatch table
// (HWY_EXPORT) for one target, the way HWY_DYNAMIC_DISPATCH finds the best one. Used by the
// explicit-target routines of simd_dispatch.h, which the tests run on every target.
#pragma once

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

namespace g729 {
namespace g729simd {

// The entry of `table` for `target` (one Highway target bit, e.g. HWY_AVX2). A target that
// was not compiled gets the scalar entry, the last one.
template <typename Fn, size_t N>
Fn target_entry(Fn const (&table)[N], int64_t target) {
    if constexpr (N == 1) {
        return table[0];  // one target compiled: the table is that target alone
    } else {
        const int64_t bit = (target & (HWY_EMU128 | HWY_SCALAR)) != 0
                                ? HWY_CHOSEN_TARGET_MASK_SCALAR
                                : HWY_CHOSEN_TARGET_SHIFT(target);
        if (bit == 0) return table[N - 1];
        const size_t index = hwy::Num0BitsBelowLS1Bit_Nonzero64(static_cast<uint64_t>(bit));
        return index < N && table[index] != nullptr ? table[index] : table[N - 1];
    }
}

// The entry of `table` at a dispatch-table index (lane_kernels, lane_filters.h), or, for a
// negative index, the one HWY_DYNAMIC_DISPATCH calls.
template <typename Fn, size_t N>
Fn kernel_entry(Fn const (&table)[N], int index) {
    if constexpr (N == 1) {
        (void)index;
        return table[0];
    } else {
        if (index < 0) return table[hwy::GetChosenTarget().GetIndex()];
        const size_t i = static_cast<size_t>(index);
        return i < N && table[i] != nullptr ? table[i] : table[N - 1];
    }
}

}  // namespace g729simd
}  // namespace g729
