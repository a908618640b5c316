// SPDX-License-Identifier: BSD-2-Clause
// Correlations of the algebraic codebook search: the layout of the correlation matrix of the
// impulse response, in the blocks the search reads, and its main diagonal. The matrix, the
// signs and the target correlation written once for one channel and for lanes are in
// codebook_matrix-inl.h and target_correlation-inl.h; the single channel's vector kernels
// (four sums at a time) in codebook_correlations-inl.h. Every sum has the same terms, order and
// start in all of them.
#pragma once

#include <cstdint>

namespace g729::codebook {

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
inline void main_diagonal(const double* h, double* rr) {
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

}  // namespace g729::codebook
