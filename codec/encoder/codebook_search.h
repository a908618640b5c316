// SPDX-License-Identifier: BSD-2-Clause
// Algebraic codebook search over the correlations: one pulse per track (tracks 3 and 4 share
// the fourth pulse), chosen by a fixed depth-first tree of 320 candidates. The vector search
// (codebook_search-inl.h) tests 4 candidates per comparison; the scalar search here makes the
// same comparisons one at a time.
#pragma once

#include "codec/encoder/codebook_correlations.h"

namespace g729::codebook {

// Blocks whose cross terms hold the signs of both positions once the search starts: the two
// the search reads whole (see fold_signs).
constexpr bool kSignsFolded[kTracks][kTracks] = {
    {false, true, false, false, false},
    {false, false, true, false, false},
    {false, false, false, false, false},
    {false, false, false, false, false},
    {false, false, false, false, false},
};

// Slot of a track in the chosen positions: tracks 0, 1, 2, then 3 or 4.
constexpr int slot(int track) { return track < 3 ? track : 3; }

// Position of the largest d of a track, skipping `excluded`; the lowest position wins a tie.
inline int track_maximum(const double* d, int track, int excluded) {
    double best = -1.0;
    int pos = track;
    for (int p = track; p < kLen; p += kTracks) {
        if (p == excluded) {
            continue;
        }
        if (d[p] > best) {
            best = d[p];
            pos = p;
        }
    }
    return pos;
}

// (ps2^2, alp2) beats (sq, alp) of the stage.
inline bool better(double ps2, double alp2, double sq, double alp) {
    return ps2 * ps2 * alp - alp2 * sq > 0.0;
}

// Best of a stage so far.
struct Best {
    double sq;
    double alp;
    double ps;
    int a;  // index into the first list
    int b;  // index along the second track
};

struct Choice {
    double sq;
    double alp;
    int pos[4];  // by track: 0, 1, 2, 3/4
};

// Keeps the better of the four trees' choices, the earliest on a tie.
inline void keep_better(const Choice& c, double* psk, double* alpk, int pos[4]) {
    if (*alpk * c.sq - *psk * c.alp > 0.0) {
        *psk = c.sq;
        *alpk = c.alp;
        for (int k = 0; k < 4; k++) {
            pos[k] = c.pos[k];
        }
    }
}

// The scalar search: the same sums and comparisons, one at a time.
namespace scalar {

// Cross term of row ri on track ti and row rj on track tj (ti != tj), read from the block
// that stores the pair.
template <int Ti, int Tj>
inline double cross(const double* rr, int ri, int rj) {
    if constexpr (Ti < Tj) {
        return rr[kBlock[Ti][Tj] + kPerTrack * ri + rj];
    } else {
        return rr[kBlock[Tj][Ti] + kPerTrack * rj + ri];
    }
}

// The two best positions of track A, each paired with every position of track B; on top of
// the best pair, every pair of positions of tracks C and D.
template <int A, int B, int C, int D>
inline Choice search_pairs(const double* d, const double* rr) {
    const double* diag_a = rr + kDiag[A];
    const double* diag_b = rr + kDiag[B];
    const double* diag_c = rr + kDiag[C];
    const double* diag_d = rr + kDiag[D];

    int cand[2];
    cand[0] = track_maximum(d, A, -1);
    cand[1] = track_maximum(d, A, cand[0]);

    double sq = -1.0;
    double alp = 1.0;
    double ps = 0.0;
    int i0 = cand[0];
    int i1 = B;
    for (int c = 0; c < 2; c++) {
        const int a0 = cand[c];
        const int ra = a0 / kTracks;
        for (int k = 0; k < kPerTrack; k++) {
            const int a1 = B + kTracks * k;
            const double ps2 = d[a1] + d[a0];
            const double alp2 = (cross<A, B>(rr, ra, k) + 0.5 * diag_a[ra]) + 0.5 * diag_b[k];
            if (better(ps2, alp2, sq, alp)) {
                sq = ps2 * ps2;
                alp = alp2;
                ps = ps2;
                i0 = a0;
                i1 = a1;
            }
        }
    }

    const int r0 = i0 / kTracks;
    const int r1 = i1 / kTracks;
    double tmp[kPerTrack];
    for (int k = 0; k < kPerTrack; k++) {
        tmp[k] = (cross<D, A>(rr, k, r0) + cross<D, B>(rr, k, r1)) + 0.5 * diag_d[k];
    }

    double sq_b = -1.0;
    double alp_b = 1.0;
    int i2 = C;
    int i3 = D;
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        const int a2 = C + kTracks * k2;
        const double ps1 = d[a2] + ps;
        const double alp1 =
            ((cross<C, A>(rr, k2, r0) + alp) + cross<C, B>(rr, k2, r1)) + 0.5 * diag_c[k2];
        for (int k3 = 0; k3 < kPerTrack; k3++) {
            const int a3 = D + kTracks * k3;
            const double ps2 = d[a3] + ps1;
            const double alp2 = (cross<C, D>(rr, k2, k3) + alp1) + tmp[k3];
            if (better(ps2, alp2, sq_b, alp_b)) {
                sq_b = ps2 * ps2;
                alp_b = alp2;
                i2 = a2;
                i3 = a3;
            }
        }
    }
    Choice choice{sq_b, alp_b, {0, 0, 0, 0}};
    choice.pos[slot(A)] = i0;
    choice.pos[slot(B)] = i1;
    choice.pos[slot(C)] = i2;
    choice.pos[slot(D)] = i3;
    return choice;
}

// For track t (3 or 4): first the pair of track 2 and track t, then tracks 0 and 1; second
// the pair of track t and track 0, then tracks 1 and 2.
template <int T>
inline void search_variants(const double* d, const double* rr, Choice out[2]) {
    out[0] = search_pairs<2, T, 0, 1>(d, rr);
    out[1] = search_pairs<T, 0, 1, 2>(d, rr);
}

// Pulse positions by slot (tracks 0, 1, 2, 3/4) from the magnitudes d and the signed matrix.
inline void search_positions(const double* d, const double* rr, int pos[4]) {
    double psk = -1.0;
    double alpk = 1.0;
    pos[0] = 0;
    pos[1] = 1;
    pos[2] = 2;
    pos[3] = 3;
    Choice choices[4];
    search_variants<3>(d, rr, choices);
    search_variants<4>(d, rr, choices + 2);
    for (const Choice& c : choices) {
        keep_better(c, &psk, &alpk, pos);
    }
}

}  // namespace scalar

}  // namespace g729::codebook
