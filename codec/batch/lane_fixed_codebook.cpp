// SPDX-License-Identifier: BSD-2-Clause
// Highway kernel of the algebraic codebook search for many channels at once, one channel per
// vector lane, making lane by lane the computations of the single-channel search
// (codebook_correlations.h, codebook_search.h, namespace scalar): the same sums in the same
// order from the same start, the same comparisons in the same order. The candidates are the
// same for every channel, so most reads are at the same index in every lane; the few that
// depend on a lane's choices (the best positions of a track) are gathered lane by lane, and a
// lane's running best is kept with per-lane selects.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_fixed_codebook.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_fixed_codebook.h"
#include "codec/encoder/codebook_correlations.h"
#include "codec/frame_constants.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using codebook::kBlock;
using codebook::kDiag;
using codebook::kLen;
using codebook::kMatrixSize;
using codebook::kPerTrack;
using codebook::kScratch;
using codebook::kTargets;
using codebook::kTracks;

// Doubles a lane needs for the codebook search: the correlation matrix and four vectors.
constexpr int kSearchScratch = kCodebookSearchScratch;
static_assert(kSearchScratch == kMatrixSize + 4 * kLen);

#include "codec/batch/lane_common-inl.h"
#include "codec/encoder/target_correlation-inl.h"
#include "codec/encoder/codebook_matrix-inl.h"
#include "codec/encoder/codebook_pairs-inl.h"

// One group of up to kLanes channels. scratch: kSearchScratch * kLanes doubles, 64-byte
// aligned (the interleaved correlation matrix and vectors live there, not on the stack).
// x_lanes: the targets interleaved already, or null.
void search_group(const double* const h[], const double* const x[], int n, int (*pos)[4],
                  double* const sign[], double* scratch, const double* x_lanes) {
    const LaneOps L;
    double* rr = scratch;
    double* hb = rr + kMatrixSize * kLanes;
    double* x_rows = hb + kLen * kLanes;
    double* db = x_rows + kLen * kLanes;
    double* sb = db + kLen * kLanes;
    interleave_rows(h, n, kLen, hb);
    const double* xb = x_lanes;
    if (xb == nullptr) {
        interleave_rows(x, n, kLen, x_rows);
        xb = x_rows;
    }
    const LaneOps o;

    // d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0 (into db); its sign
    // and magnitude; then the matrix, its cross terms signed.
    target_correlation<Vec>(o, hb, xb, db);
    correlation_signs<Vec>(o, db, sb);
    correlation_matrix_sums<Vec>(o, hb, sb, rr);

    Vec best[4];
    search_pulse_positions(o, db, rr, best);

    // The positions, and the signs there (the code vectors read no others).
    alignas(64) double out[4][kLanes];
    for (int k = 0; k < 4; ++k) hn::Store(best[k], L.d, out[k]);
    for (int l = 0; l < n && l < L.n; ++l) {
        for (int k = 0; k < 4; ++k) {
            const int p = static_cast<int>(out[k][l]);
            pos[l][k] = p;
            sign[l][p] = sb[p * kLanes + l];
        }
    }
}

// The searches with the caller's scratch (kSearchScratch * kLanes doubles, 64-byte aligned),
// or with scratch of their own on the stack when it is null.
HWY_NOINLINE void search_groups(const double* const* h, const double* const* x, int count,
                                int (*pos)[4], double* const* sign, double* scratch,
                                const double* lanes) {
    for_each_group(count, [&](int first, int n) {
        const double* x_lanes =
            lanes == nullptr
                ? nullptr
                : subframe_lanes_of(lanes, first / kLanes, kLanes) + kCodebookTargetRows * kLanes;
        search_group(h + first, x + first, n, pos + first, sign + first, scratch, x_lanes);
    });
}

HWY_NOINLINE void search_groups_own_scratch(const double* const* h, const double* const* x,
                                            int count, int (*pos)[4], double* const* sign,
                                            const double* lanes) {
    alignas(64) double scratch[kSearchScratch * kLanes];
    search_groups(h, x, count, pos, sign, scratch, lanes);
}

void CodebookSearchChannels(const double* const* h, const double* const* x, int count,
                            int (*pos)[4], double* const* sign, double* scratch,
                            const double* lanes) {
    if (scratch == nullptr) {
        search_groups_own_scratch(h, x, count, pos, sign, lanes);
    } else {
        search_groups(h, x, count, pos, sign, scratch, lanes);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(CodebookSearchChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void codebook_search_channels(const double* const h[], const double* const x[], int count,
                              int (*pos)[4], double* const sign[], double* scratch,
                              int kernels, const double* lanes) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(CodebookSearchChannels), kernels)(h, x, count, pos, sign,
                                                                     scratch, lanes);
}
}  // namespace g729
#endif  // HWY_ONCE
