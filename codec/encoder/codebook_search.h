// SPDX-License-Identifier: BSD-2-Clause
// Algebraic codebook search over the correlations: one pulse per track (tracks 3 and 4 share
// the fourth pulse), chosen by a fixed depth-first tree of 320 candidates. What the vector
// search (codebook_search-inl.h, 4 candidates per comparison) needs; the search written once
// for one channel and for lanes is codebook_pairs-inl.h.
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

// (ps2^2, alp2) beats (sq, alp) of the stage: ps2^2 alp - alp2 sq > 0, compared without the
// difference. A rounded difference of two doubles is positive exactly when the first is the
// larger (with gradual underflow a difference too small to round is exact), so the choice is
// the same and the comparison waits on one operation less.
inline bool better(double ps2, double alp2, double sq, double alp) {
    return ps2 * ps2 * alp > alp2 * sq;
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

}  // namespace g729::codebook
