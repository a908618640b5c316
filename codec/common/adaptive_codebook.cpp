// SPDX-License-Identifier: BSD-2-Clause
// The adaptive-codebook interpolation, compiled for every instruction set Highway targets.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/common/adaptive_codebook.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include "codec/common/adaptive_codebook.h"
#include "codec/tables/pitch_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
namespace adaptive_codebook_kernels {

#include "codec/common/interpolation-inl.h"

}  // namespace adaptive_codebook_kernels

void adaptive_codebook_interpolate(double* exc, int t0, int frac, int length) {
    adaptive_codebook_kernels::interpolate_excitation(exc, t0, frac, length);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(adaptive_codebook_interpolate);

void adaptive_codebook_interpolate(double* exc, int t0, int frac, int length) {
    HWY_DYNAMIC_DISPATCH(adaptive_codebook_interpolate)(exc, t0, frac, length);
}

}  // namespace g729
#endif  // HWY_ONCE
