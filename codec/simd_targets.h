// SPDX-License-Identifier: BSD-2-Clause
// Running a lane kernel on a chosen instruction set: the entry of a Highway dispatch table
// (HWY_EXPORT) at an index of that table (lane_kernels, lane_kernels.h), the way
// HWY_DYNAMIC_DISPATCH finds the best one.
#pragma once

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

namespace g729 {
namespace g729simd {

// The entry of `table` at a dispatch-table index (lane_kernels, lane_kernels.h), or, for a
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
