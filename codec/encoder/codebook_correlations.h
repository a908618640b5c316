// Correlations of the algebraic codebook search: the correlation matrix of the impulse
// response, stored in the blocks the search reads, the folding of the signs into it, and the
// correlation of the target with the impulse response. Vector kernels (four sums per
// instruction) and their scalar forms; every sum has the same terms, order and start in both.
// Included only by the search driver, whose two builds inline these kernels.
#pragma once

#include <cstdint>

#include "codec/simd_dispatch.h"

namespace g729::codebook {

using g729simd::Isa;
using g729simd::load4;
using g729simd::store4;
using g729simd::v4d;
using g729simd::v4l;

constexpr int kLen = 40;
constexpr int kTracks = 5;
constexpr int kPerTrack = 8;

// Layout of the correlation matrix: five diagonal blocks of 8, then nine 8x8 blocks, row
// track first.
constexpr int kDiag[kTracks] = {0, 8, 16, 24, 32};
constexpr int k01 = 40;
constexpr int k02 = k01 + 64;
constexpr int k03 = k02 + 64;
constexpr int k04 = k03 + 64;
constexpr int k12 = k04 + 64;
constexpr int k13 = k12 + 64;
constexpr int k14 = k13 + 64;
constexpr int k23 = k14 + 64;
constexpr int k24 = k23 + 64;
constexpr int kMatrixSize = k24 + 64;
static_assert(kMatrixSize == 616);
constexpr int kScratch = -1;  // no entry: a sum of two positions of tracks 3 and 4, never read

// Offset of the block (row track, column track) with row < column; -1 when not stored.
constexpr int kBlock[kTracks][kTracks] = {
    {-1, k01, k02, k03, k04},
    {-1, -1, k12, k13, k14},
    {-1, -1, -1, k23, k24},
    {-1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1},
};

// Where the running sum of the diagonal at distance delta (1..39) lands after its first 1 + u
// terms (u = 0..4). Every further 5 terms move both positions of the pair one row up their
// tracks, that is 9 entries back in the block, whichever of the two tracks is the row.
struct DiagonalTargets {
    int16_t first[kLen][5];
};

constexpr DiagonalTargets make_diagonal_targets() {
    DiagonalTargets t{};
    for (int delta = 1; delta < kLen; delta++) {
        for (int u = 0; u < 5; u++) {
            const int j = kLen - 1 - u;  // later position of the pair
            const int i = j - delta;     // earlier position
            int target = kScratch;
            if (i >= 0) {
                const int ti = i % kTracks;
                const int tj = j % kTracks;
                if (ti < tj && kBlock[ti][tj] >= 0) {
                    target = kBlock[ti][tj] + kPerTrack * (i / kTracks) + j / kTracks;
                } else if (tj < ti && kBlock[tj][ti] >= 0) {
                    target = kBlock[tj][ti] + kPerTrack * (j / kTracks) + i / kTracks;
                }
            }
            t.first[delta][u] = static_cast<int16_t>(target);
        }
    }
    return t;
}

constexpr DiagonalTargets kTargets = make_diagonal_targets();

// The main diagonal: positions 39, 38, ... fall on tracks 4, 3, ..., one row up every 5.
G729_INLINE void main_diagonal(const double* h, double* rr) {
    double cor = 0.0;
    for (int k = 0; k < kLen; k += kTracks) {
        const int row = kPerTrack - 1 - k / kTracks;
        cor += h[k] * h[k];
        rr[kDiag[4] + row] = cor;
        cor += h[k + 1] * h[k + 1];
        rr[kDiag[3] + row] = cor;
        cor += h[k + 2] * h[k + 2];
        rr[kDiag[2] + row] = cor;
        cor += h[k + 3] * h[k + 3];
        rr[kDiag[1] + row] = cor;
        cor += h[k + 4] * h[k + 4];
        rr[kDiag[0] + row] = cor;
    }
}

// Running sums of the diagonals at distance D..D+3 (one per lane), stored as they pass their
// entries. Term k of lane l is h[k] * h[k + D + l]; step U of each group of 5 terms writes to
// the U-th target, moved back 9 entries per group. Lanes [Lanes, 4) have ended already.
template <int D, int U, int Lanes>
G729_INLINE void diagonal_step(const double* hp, int k, v4d& cor, double* base) {
    cor += G729_SPLAT(hp[k + U]) * load4(hp + k + U + D);
    if constexpr (kTargets.first[D][U] != kScratch) base[kTargets.first[D][U]] = cor[0];
    if constexpr (Lanes > 1 && kTargets.first[D + 1][U] != kScratch) {
        base[kTargets.first[D + 1][U]] = cor[1];
    }
    if constexpr (Lanes > 2 && kTargets.first[D + 2][U] != kScratch) {
        base[kTargets.first[D + 2][U]] = cor[2];
    }
    if constexpr (Lanes > 3 && kTargets.first[D + 3][U] != kScratch) {
        base[kTargets.first[D + 3][U]] = cor[3];
    }
}

// Diagonals 5G+1 .. 5G+4. Diagonal 5G+1 has 39-5G terms: 7-G full groups of 5, then one
// step for all four lanes and three steps as the longer diagonals finish one by one.
template <int G>
G729_INLINE void diagonal_group(const double* hp, double* rr) {
    constexpr int D = kTracks * G + 1;
    v4d cor = G729_SPLAT(0.0);
    double* base = rr;
    int k = 0;
    for (int group = 0; group < 7 - G; group++) {
        diagonal_step<D, 0, 4>(hp, k, cor, base);
        diagonal_step<D, 1, 4>(hp, k, cor, base);
        diagonal_step<D, 2, 4>(hp, k, cor, base);
        diagonal_step<D, 3, 4>(hp, k, cor, base);
        diagonal_step<D, 4, 4>(hp, k, cor, base);
        k += kTracks;
        base -= kPerTrack + 1;
    }
    diagonal_step<D, 0, 4>(hp, k, cor, base);
    diagonal_step<D, 1, 3>(hp, k, cor, base);
    diagonal_step<D, 2, 2>(hp, k, cor, base);
    diagonal_step<D, 3, 1>(hp, k, cor, base);
}

// Correlations of the impulse response at the positions the search reads. Each diagonal is a
// running sum that starts at the end of the subframe, so every entry adds its products in
// ascending order of the impulse-response index; the sum is stored as it passes each entry.
// Four diagonals run side by side, one per vector lane. Other differences that are a multiple
// of 5 join positions of one track: never stored.
G729_INLINE void correlation_matrix(const double* h, double* rr) {
    main_diagonal(h, rr);

    // The last lanes read up to 3 samples past the end: zeros, their sums are not stored.
    alignas(32) double hp[kLen + 8];
    for (int k = 0; k < kLen; k += 4) {
        store4(hp + k, load4(h + k));
    }
    store4(hp + kLen, G729_SPLAT(0.0));
    store4(hp + kLen + 4, G729_SPLAT(0.0));
    diagonal_group<0>(hp, rr);
    diagonal_group<1>(hp, rr);
    diagonal_group<2>(hp, rr);
    diagonal_group<3>(hp, rr);
    diagonal_group<4>(hp, rr);
    diagonal_group<5>(hp, rr);
    diagonal_group<6>(hp, rr);
    diagonal_group<7>(hp, rr);
}

// Multiplies the cross terms rr[i][j] of the blocks (0, 1) and (1, 2) by sign[i] * sign[j], a
// row at a time: the row's own sign chooses the signs or the negated signs of the column
// track. The search reads these two blocks whole, twice; of the others it reads single rows
// and columns, and applies the signs as it reads them.
G729_INLINE void fold_signs(const double track_sign[kTracks][kPerTrack],
                            const double track_negsign[kTracks][kPerTrack], double* rr) {
    const int blocks[2][3] = {{0, 1, k01}, {1, 2, k12}};
    for (const auto& b : blocks) {
        const int ti = b[0];
        const int tj = b[1];
        const v4d pos_lo = load4(track_sign[tj]);
        const v4d pos_hi = load4(track_sign[tj] + 4);
        const v4d neg_lo = load4(track_negsign[tj]);
        const v4d neg_hi = load4(track_negsign[tj] + 4);
        for (int r = 0; r < kPerTrack; r++) {
            const bool positive = track_sign[ti][r] > 0.0;
            double* row = rr + b[2] + kPerTrack * r;
            store4(row, load4(row) * (positive ? pos_lo : neg_lo));
            store4(row + 4, load4(row + 4) * (positive ? pos_hi : neg_hi));
        }
    }
}

// d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0. Eight outputs at a
// time in two vectors a (n0..n0+3) and b (n0+4..n0+7). Output n has 40 - n terms, so in the
// last seven steps the lanes that have ended keep their value (they read the zeros behind x).
G729_INLINE void correlate(const double* h, const double* x, double* d) {
    alignas(32) double xp[kLen + 8];
    for (int n = 0; n < kLen; n++) {
        xp[n] = x[n];
    }
    for (int n = kLen; n < kLen + 8; n++) {
        xp[n] = 0.0;
    }
    // Lanes 0..2, 0..1 and 0 alone: the lanes with one, two and three terms left.
    const v4l first3 = {-1, -1, -1, 0};
    const v4l first2 = {-1, -1, 0, 0};
    const v4l first1 = {-1, 0, 0, 0};
    for (int n0 = 0; n0 < kLen; n0 += 8) {
        const double* xa = xp + n0;
        const double* xb = xp + n0 + 4;
        v4d a = G729_SPLAT(0.0);
        v4d b = G729_SPLAT(0.0);
        int j = 0;
        for (; j < kLen - 7 - n0; j++) {
            const v4d hj = G729_SPLAT(h[j]);
            a += load4(xa + j) * hj;
            b += load4(xb + j) * hj;
        }
        v4d hj = G729_SPLAT(h[j]);
        a += load4(xa + j) * hj;
        b = first3 ? b + load4(xb + j) * hj : b;
        j++;
        hj = G729_SPLAT(h[j]);
        a += load4(xa + j) * hj;
        b = first2 ? b + load4(xb + j) * hj : b;
        j++;
        hj = G729_SPLAT(h[j]);
        a += load4(xa + j) * hj;
        b = first1 ? b + load4(xb + j) * hj : b;
        j++;
        a += load4(xa + j) * G729_SPLAT(h[j]);
        j++;
        a = first3 ? a + load4(xa + j) * G729_SPLAT(h[j]) : a;
        j++;
        a = first2 ? a + load4(xa + j) * G729_SPLAT(h[j]) : a;
        j++;
        a = first1 ? a + load4(xa + j) * G729_SPLAT(h[j]) : a;
        store4(d + n0, a);
        store4(d + n0 + 4, b);
    }
}

// The scalar forms of the baseline build.
namespace scalar {

// Running sums of the diagonals, stored as they pass their entries (see correlation_matrix);
// the sums that are never read go to a scratch area.
inline void correlation_matrix(const double* h, double* rr) {
    main_diagonal(h, rr);

    double scratch[kPerTrack * kPerTrack];  // walks down by 9 at most 7 times from its end
    for (int delta = 1; delta < kLen; delta++) {
        if (delta % kTracks == 0) {
            continue;
        }
        double* p[5];
        for (int u = 0; u < 5; u++) {
            const int target = kTargets.first[delta][u];
            p[u] = target == kScratch ? scratch + kPerTrack * kPerTrack - 1 : rr + target;
        }
        const int len = kLen - delta;
        const double* hd = h + delta;
        double cor = 0.0;
        int k = 0;
        for (; k + 5 <= len; k += 5) {
            for (int u = 0; u < 5; u++) {
                cor += h[k + u] * hd[k + u];
                *p[u] = cor;
                p[u] -= kPerTrack + 1;
            }
        }
        for (int u = 0; k < len; k++, u++) {
            cor += h[k] * hd[k];
            *p[u] = cor;
        }
    }
}

// Multiplies every stored cross term rr[i][j] by sign[i] * sign[j].
inline void fold_signs(const double* sign, const double* negsign, double* rr) {
    for (int ti = 0; ti < kTracks; ti++) {
        for (int tj = ti + 1; tj < kTracks; tj++) {
            const int block = kBlock[ti][tj];
            if (block < 0) {
                continue;
            }
            for (int r = 0; r < kPerTrack; r++) {
                const int i = ti + kTracks * r;
                const double* s = sign[i] > 0.0 ? sign : negsign;
                double* row = rr + block + kPerTrack * r;
                for (int c = 0; c < kPerTrack; c++) {
                    row[c] = row[c] * s[tj + kTracks * c];
                }
            }
        }
    }
}

// d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0.
inline void correlate(const double* h, const double* x, double* d) {
    for (int n = 0; n < kLen; n++) {
        double s = 0.0;
        for (int j = 0; j < kLen - n; j++) {
            s += x[n + j] * h[j];
        }
        d[n] = s;
    }
}

}  // namespace scalar

}  // namespace g729::codebook
