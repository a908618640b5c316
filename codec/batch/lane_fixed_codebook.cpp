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

// Doubles a lane needs for the codebook search: the correlation matrix and five vectors.
constexpr int kSearchScratch = kCodebookSearchScratch;
static_assert(kSearchScratch == kMatrixSize + 5 * kLen);

#include "codec/batch/lane_common-inl.h"
#include "codec/encoder/codebook_matrix-inl.h"

// A row of each lane's own, as the offsets of its elements in interleaved arrays when the row
// steps by 1, 5 or 8 elements: lane l's element offset + stride * row[l] is at
// (offset * n) + s<stride>[l].
struct RowLanes {
    RowLanes() {}  // written out: an implicit constructor would miss the target's attributes
    Index s1;
    Index s5;
    Index s8;
};

// The rows are small whole numbers, so every product below is exact.
RowLanes row_lanes(const Lanes& L, Vec rows) {
    const IndexTag di;
    const Vec lane = hn::Iota(L.d, 0.0);
    const Vec per_row = rows * L.set(L.n);
    RowLanes out;
    out.s1 = hn::ConvertTo(di, per_row + lane);
    out.s5 = hn::ConvertTo(di, per_row * L.set(kTracks) + lane);
    out.s8 = hn::ConvertTo(di, per_row * L.set(kPerTrack) + lane);
    return out;
}

// Cross term of row ri of track Ti and row rj of track Tj (Ti != Tj), from the stored block:
// the element index of the pair.
template <int Ti, int Tj>
constexpr int cross_index(int ri, int rj) {
    if constexpr (Ti < Tj) {
        return kBlock[Ti][Tj] + kPerTrack * ri + rj;
    } else {
        return kBlock[Tj][Ti] + kPerTrack * rj + ri;
    }
}

// The cross term (Ti row ri[l], Tj row rj) per lane, ri a lane's own row.
template <int Ti, int Tj>
Vec cross_gather(const Lanes& L, const double* rr, const RowLanes& ri, int rj) {
    if constexpr (Ti < Tj) {
        return L.gather(rr, kBlock[Ti][Tj] + rj, ri.s8);
    } else {
        return L.gather(rr, kBlock[Tj][Ti] + kPerTrack * rj, ri.s1);
    }
}

struct Choice {
    Choice() {}  // written out: an implicit constructor would miss the target's attributes
    Vec sq;
    Vec alp;
    Vec pos[4];  // positions by slot: tracks 0, 1, 2, 3/4
};

// Best position (as a row) of a track, skipping the row `excluded` (-1: none) of each lane;
// the lowest position wins a tie.
Vec track_maximum(const Lanes& L, const double* d, int track, Vec excluded) {
    Vec best = L.set(-1.0);
    Vec row = L.set(0.0);
    for (int r = 0; r < kPerTrack; ++r) {
        const Vec dp = L.load(d, track + kTracks * r);
        const auto take = hn::AndNot(hn::Eq(excluded, L.set(r)), hn::Gt(dp, best));
        best = hn::IfThenElse(take, dp, best);
        row = hn::IfThenElse(take, L.set(r), row);
    }
    return row;
}

constexpr int slot(int track) { return track < 3 ? track : 3; }

// (ps2^2, alp2) beats (sq, alp): ps2 * ps2 * alp - alp2 * sq > 0.
auto better(Vec ps2, Vec alp2, Vec sq, Vec alp, const Lanes& L) {
    return hn::Gt(ps2 * ps2 * alp - alp2 * sq, L.set(0.0));
}

// scalar::search_pairs, lane by lane, cut into its steps: the four searches of a subframe are
// independent until their results are compared, so search_group runs them step by step side
// by side and the running-best chains of the four overlap.
template <int A, int B, int C, int D>
struct PairSearch {
    PairSearch() {}  // written out: an implicit constructor would miss the target's attributes

    // The two best positions of track A and the start of the (A, B) pass.
    void start(const Lanes& L, const double* d, const double* rr) {
        c[0] = track_maximum(L, d, A, L.set(-1.0));
        c[1] = track_maximum(L, d, A, c[0]);
        for (int i = 0; i < 2; ++i) {
            const RowLanes rows = row_lanes(L, c[i]);
            cand[i] = rows;
            d_a[i] = L.gather(d, A, rows.s5);
            diag_a[i] = L.gather(rr, kDiag[A], rows.s1);
        }
        sq = L.set(-1.0);
        alp = L.set(1.0);
        ps = L.set(0.0);
        r0 = c[0];
        r1 = L.set(0.0);
    }

    // Candidate i of track A with row k of track B.
    HWY_INLINE void pair_step(const Lanes& L, const double* d, const double* rr, int i, int k) {
        const Vec half = L.set(0.5);
        const Vec ps2 = L.load(d, B + kTracks * k) + d_a[i];
        const Vec alp2 = (cross_gather<A, B>(L, rr, cand[i], k) + half * diag_a[i]) +
                         half * L.load(rr, kDiag[B] + k);
        const auto win = better(ps2, alp2, sq, alp, L);
        sq = hn::IfThenElse(win, ps2 * ps2, sq);
        alp = hn::IfThenElse(win, alp2, alp);
        ps = hn::IfThenElse(win, ps2, ps);
        r0 = hn::IfThenElse(win, c[i], r0);
        r1 = hn::IfThenElse(win, L.set(k), r1);
    }

    // The (C, D) pass's terms that do not depend on track C's row.
    void middle(const Lanes& L, const double* rr) {
        const Vec half = L.set(0.5);
        row0 = row_lanes(L, r0);
        row1 = row_lanes(L, r1);
        for (int k = 0; k < kPerTrack; k++) {
            tmp[k] = (cross_gather<A, D>(L, rr, row0, k) + cross_gather<B, D>(L, rr, row1, k)) +
                     half * L.load(rr, kDiag[D] + k);
        }
        sq_b = L.set(-1.0);
        alp_b = L.set(1.0);
        k2_best = L.set(0.0);
        k3_best = L.set(0.0);
    }

    // Row k2 of track C: the terms its pass over track D shares.
    HWY_INLINE void outer_step(const Lanes& L, const double* d, const double* rr, int k2) {
        ps1 = L.load(d, C + kTracks * k2) + ps;
        alp1 = ((cross_gather<A, C>(L, rr, row0, k2) + alp) + cross_gather<B, C>(L, rr, row1, k2)) +
               L.set(0.5) * L.load(rr, kDiag[C] + k2);
    }

    HWY_INLINE void inner_step(const Lanes& L, const double* d, const double* rr, int k2,
                               int k3) {
        const Vec ps2 = L.load(d, D + kTracks * k3) + ps1;
        const Vec alp2 = (L.load(rr, cross_index<C, D>(k2, k3)) + alp1) + tmp[k3];
        const auto win = better(ps2, alp2, sq_b, alp_b, L);
        sq_b = hn::IfThenElse(win, ps2 * ps2, sq_b);
        alp_b = hn::IfThenElse(win, alp2, alp_b);
        k2_best = hn::IfThenElse(win, L.set(k2), k2_best);
        k3_best = hn::IfThenElse(win, L.set(k3), k3_best);
    }

    Choice result(const Lanes& L) const {
        const Vec five = L.set(kTracks);
        Choice choice;
        choice.sq = sq_b;
        choice.alp = alp_b;
        choice.pos[slot(A)] = L.set(A) + five * r0;
        choice.pos[slot(B)] = L.set(B) + five * r1;
        choice.pos[slot(C)] = L.set(C) + five * k2_best;
        choice.pos[slot(D)] = L.set(D) + five * k3_best;
        return choice;
    }

    Vec c[2];
    RowLanes cand[2];
    Vec d_a[2];
    Vec diag_a[2];
    Vec sq, alp, ps, r0, r1;
    RowLanes row0, row1;
    Vec tmp[kPerTrack];
    Vec sq_b, alp_b, k2_best, k3_best;
    Vec ps1, alp1;
};

void keep_better(const Lanes& L, const Choice& c, Vec* psk, Vec* alpk, Vec pos[4]) {
    const auto win = hn::Gt(*alpk * c.sq - *psk * c.alp, L.set(0.0));
    *psk = hn::IfThenElse(win, c.sq, *psk);
    *alpk = hn::IfThenElse(win, c.alp, *alpk);
    for (int k = 0; k < 4; k++) pos[k] = hn::IfThenElse(win, c.pos[k], pos[k]);
}

// One group of up to Lanes(d) channels. scratch: kSearchScratch * kLanes doubles, 64-byte
// aligned (the interleaved correlation matrix and vectors live there, not on the stack).
void search_group(const double* const h[], const double* const x[], int n, int (*pos)[4],
                  double* const sign[], double* scratch) {
    Lanes L;
    double* rr = scratch;
    double* hb = rr + kMatrixSize * kLanes;
    double* xb = hb + kLen * kLanes;
    double* db = xb + kLen * kLanes;
    double* sb = db + kLen * kLanes;
    double* nsb = sb + kLen * kLanes;
    interleave_rows(h, n, kLen, hb);
    interleave_rows(x, n, kLen, xb);
    const LaneOps o;
    correlation_matrix_sums<Vec>(o, hb, rr);

    // d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0 (into db); its sign
    // and magnitude; the signs folded into the matrix.
    target_correlation(hb, xb, db);
    correlation_signs<Vec>(o, db, sb, nsb);
    fold_signs<Vec>(o, sb, nsb, rr);

    Vec psk = L.set(-1.0);
    Vec alpk = L.set(1.0);
    Vec best[4] = {L.set(0.0), L.set(1.0), L.set(2.0), L.set(3.0)};
    PairSearch<2, 3, 0, 1> s0;
    PairSearch<3, 0, 1, 2> s1;
    PairSearch<2, 4, 0, 1> s2;
    PairSearch<4, 0, 1, 2> s3;
    s0.start(L, db, rr);
    s1.start(L, db, rr);
    s2.start(L, db, rr);
    s3.start(L, db, rr);
    for (int i = 0; i < 2; i++) {
        for (int k = 0; k < kPerTrack; k++) {
            s0.pair_step(L, db, rr, i, k);
            s1.pair_step(L, db, rr, i, k);
            s2.pair_step(L, db, rr, i, k);
            s3.pair_step(L, db, rr, i, k);
        }
    }
    s0.middle(L, rr);
    s1.middle(L, rr);
    s2.middle(L, rr);
    s3.middle(L, rr);
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        s0.outer_step(L, db, rr, k2);
        s1.outer_step(L, db, rr, k2);
        s2.outer_step(L, db, rr, k2);
        s3.outer_step(L, db, rr, k2);
        for (int k3 = 0; k3 < kPerTrack; k3++) {
            s0.inner_step(L, db, rr, k2, k3);
            s1.inner_step(L, db, rr, k2, k3);
            s2.inner_step(L, db, rr, k2, k3);
            s3.inner_step(L, db, rr, k2, k3);
        }
    }
    // Compared in the scalar order.
    keep_better(L, s0.result(L), &psk, &alpk, best);
    keep_better(L, s1.result(L), &psk, &alpk, best);
    keep_better(L, s2.result(L), &psk, &alpk, best);
    keep_better(L, s3.result(L), &psk, &alpk, best);

    alignas(64) double out[4][kLanes];
    for (int k = 0; k < 4; ++k) hn::Store(best[k], L.d, out[k]);
    for (int l = 0; l < n && l < L.n; ++l) {
        for (int k = 0; k < 4; ++k) pos[l][k] = static_cast<int>(out[k][l]);
    }
    deinterleave_rows(sb, n, kLen, sign);
}

// The searches with the caller's scratch (kSearchScratch * kLanes doubles, 64-byte aligned),
// or with scratch of their own on the stack when it is null.
HWY_NOINLINE void search_groups(const double* const* h, const double* const* x, int count,
                                int (*pos)[4], double* const* sign, double* scratch) {
    for_each_group(count, [&](int first, int n) {
        search_group(h + first, x + first, n, pos + first, sign + first, scratch);
    });
}

HWY_NOINLINE void search_groups_own_scratch(const double* const* h, const double* const* x,
                                            int count, int (*pos)[4], double* const* sign) {
    alignas(64) double scratch[kSearchScratch * kLanes];
    search_groups(h, x, count, pos, sign, scratch);
}

void CodebookSearchChannels(const double* const* h, const double* const* x, int count,
                            int (*pos)[4], double* const* sign, double* scratch) {
    if (scratch == nullptr) {
        search_groups_own_scratch(h, x, count, pos, sign);
    } else {
        search_groups(h, x, count, pos, sign, scratch);
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
                              int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(CodebookSearchChannels), kernels)(h, x, count, pos, sign,
                                                                     scratch);
}
}  // namespace g729
#endif  // HWY_ONCE
