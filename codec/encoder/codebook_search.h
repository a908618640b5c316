// Algebraic codebook search over the correlations: one pulse per track (tracks 3 and 4 share
// the fourth pulse), chosen by a fixed depth-first tree of 320 candidates. The vector search
// tests 4 candidates per comparison; the scalar search of the baseline build makes the same
// comparisons one at a time. Included only by the search driver.
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
G729_INLINE int track_maximum(const double* d, int track, int excluded) {
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
G729_INLINE bool better(double ps2, double alp2, double sq, double alp) {
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

// Four candidates b0..b0+3 with sums ps2 and energies alp2, tried in order. The vector test
// is the scalar test of every lane against the best before the group. Lanes before the first
// winner lose against that same best in the scalar order too; from the first winner on, the
// lanes are taken one by one against the updated best.
G729_INLINE void try_four(const v4d& ps2, const v4d& alp2, int a, int b0, Best* best) {
    const v4d crit = ps2 * ps2 * G729_SPLAT(best->alp) - alp2 * G729_SPLAT(best->sq);
    const v4l wins = crit > G729_SPLAT(0.0);
    if (!g729simd::any4(wins)) {
        return;
    }
    alignas(32) double p[4];
    alignas(32) double e[4];
    store4(p, ps2);
    store4(e, alp2);
    int l = __builtin_ctz(g729simd::mask4(wins));
    best->sq = p[l] * p[l];
    best->alp = e[l];
    best->ps = p[l];
    best->a = a;
    best->b = b0 + l;
    for (l++; l < 4; l++) {
        if (better(p[l], e[l], best->sq, best->alp)) {
            best->sq = p[l] * p[l];
            best->alp = e[l];
            best->ps = p[l];
            best->b = b0 + l;
        }
    }
}

struct Choice {
    double sq;
    double alp;
    int pos[4];  // by track: 0, 1, 2, 3/4
};

// Inputs of the search, arranged by track.
struct Search {
    const double* d;                         // by position
    alignas(32) double dt[kTracks][kPerTrack];         // d by track
    alignas(32) double half_diag[kTracks][kPerTrack];  // 0.5 * rr[i][i] by track
    alignas(32) double sign[kTracks][kPerTrack];       // sign of d by track
    const double* rr;  // blocks (0, 1) and (1, 2) with the signs applied, the others without
};

// Row r of the block (track ta, track tb) with the signs of both positions applied. Products
// with +-1 are exact in any order: these are the values the fully signed matrix holds.
G729_INLINE void signed_row(const Search& s, const double* block, int ta, int r, int tb,
                            double out[kPerTrack]) {
    const v4d sa = G729_SPLAT(s.sign[ta][r]);
    store4(out, load4(block + kPerTrack * r) * sa * load4(s.sign[tb]));
    store4(out + 4, load4(block + kPerTrack * r + 4) * sa * load4(s.sign[tb] + 4));
}

// Rows 4h..4h+3 of column c of a block, gathered in registers (a vector load of values just
// stored one by one would wait for the stores).
G729_INLINE v4d column_half(const double* block, int c, int h) {
    const double* p = block + kPerTrack * 4 * h + c;
    return v4d{p[0], p[kPerTrack], p[2 * kPerTrack], p[3 * kPerTrack]};
}

// Column c of the block (track ta, track tb), signs applied.
G729_INLINE void signed_column(const Search& s, const double* block, int ta, int c, int tb,
                               double out[kPerTrack]) {
    const v4d sb = G729_SPLAT(s.sign[tb][c]);
    store4(out, column_half(block, c, 0) * load4(s.sign[ta]) * sb);
    store4(out + 4, column_half(block, c, 1) * load4(s.sign[ta] + 4) * sb);
}

// Column c of the block (row track, column track): rr[row r][c] for r = 0..7.
G729_INLINE void column(const double* block, int c, double out[kPerTrack]) {
    store4(out, column_half(block, c, 0));
    store4(out + 4, column_half(block, c, 1));
}

// First stage: the two candidates `cand` of track A against all 8 positions of track B.
// ps2 = d[b] + d[a]; alp2 = (cross(a, b) + 0.5 rr[a][a]) + 0.5 rr[b][b].
// cross(c, k) gives the 8 cross terms of candidate c.
struct StageOne {
    int a;     // winning candidate position (track A)
    int b;     // winning row along track B
    double ps;
    double alp;
};

G729_INLINE StageOne stage_one(const Search& s, const int cand[2], int track_a, int track_b,
                               const double* const cross[2]) {
    Best best{-1.0, 1.0, 0.0, 0, 0};
    const v4d db_lo = load4(s.dt[track_b]);
    const v4d db_hi = load4(s.dt[track_b] + 4);
    const v4d hb_lo = load4(s.half_diag[track_b]);
    const v4d hb_hi = load4(s.half_diag[track_b] + 4);
    for (int c = 0; c < 2; c++) {
        const int a0 = cand[c];
        const double da = s.d[a0];
        const double ha = s.half_diag[track_a][a0 / kTracks];
        const v4d sa = G729_SPLAT(da);
        const v4d ea = G729_SPLAT(ha);
        try_four(db_lo + sa, (load4(cross[c]) + ea) + hb_lo, c, 0, &best);
        try_four(db_hi + sa, (load4(cross[c] + 4) + ea) + hb_hi, c, 4, &best);
    }
    return StageOne{cand[best.a], best.b, best.ps, best.alp};
}

// Second stage: all 8 x 8 pairs of tracks B and C on top of the first stage's two pulses.
// ps1 = d[b] + ps; alp1 = ((p[b] + alp) + q[b]) + 0.5 rr[b][b];
// ps2 = d[c] + ps1; alp2 = (bc[b][c] + alp1) + tmp[c].
G729_INLINE Best stage_two(const Search& s, double ps, double alp, int track_b, int track_c,
                           const double p[kPerTrack], const double q[kPerTrack],
                           const double* bc, const double tmp[kPerTrack], int first_b,
                           int first_c) {
    Best best{-1.0, 1.0, 0.0, first_b, first_c};
    const v4d dc_lo = load4(s.dt[track_c]);
    const v4d dc_hi = load4(s.dt[track_c] + 4);
    const v4d tmp_lo = load4(tmp);
    const v4d tmp_hi = load4(tmp + 4);
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        const double ps1 = s.dt[track_b][k2] + ps;
        const double alp1 = ((p[k2] + alp) + q[k2]) + s.half_diag[track_b][k2];
        const double* row = bc + kPerTrack * k2;
        const v4d s1 = G729_SPLAT(ps1);
        const v4d e1 = G729_SPLAT(alp1);
        try_four(dc_lo + s1, (load4(row) + e1) + tmp_lo, k2, 0, &best);
        try_four(dc_hi + s1, (load4(row + 4) + e1) + tmp_hi, k2, 4, &best);
    }
    return best;
}

// Cross terms of position r of track Ti with the 8 positions of track Tj, both signs applied:
// a row of the block (Ti, Tj) or a column of the block (Tj, Ti). The blocks (0, 1) and (1, 2)
// already hold their signs; their rows are returned in place, anything else through out.
template <int Ti, int Tj>
G729_INLINE const double* track_cross(const Search& s, int r, double out[kPerTrack]) {
    static_assert(Ti != Tj && kBlock[Ti < Tj ? Ti : Tj][Ti < Tj ? Tj : Ti] >= 0);
    if constexpr (Ti < Tj) {
        const double* block = s.rr + kBlock[Ti][Tj];
        if constexpr (kSignsFolded[Ti][Tj]) {
            return block + kPerTrack * r;
        } else {
            signed_row(s, block, Ti, r, Tj, out);
        }
    } else {
        const double* block = s.rr + kBlock[Tj][Ti];
        if constexpr (kSignsFolded[Tj][Ti]) {
            column(block, r, out);
        } else {
            signed_column(s, block, Tj, r, Ti, out);
        }
    }
    return out;
}

// The two best positions of track A, each paired with every position of track B; on top of
// the best pair, every pair of positions of tracks C and D (the same tree as
// scalar::search_pairs).
template <int A, int B, int C, int D>
G729_INLINE Choice search_pairs(const Search& s) {
    static_assert(C < D && kSignsFolded[C][D], "stage two reads the block (C, D) whole");
    int cand[2];
    cand[0] = track_maximum(s.d, A, -1);
    cand[1] = track_maximum(s.d, A, cand[0]);

    alignas(32) double cross_buf[2][kPerTrack];
    const double* const cross[2] = {track_cross<A, B>(s, cand[0] / kTracks, cross_buf[0]),
                                    track_cross<A, B>(s, cand[1] / kTracks, cross_buf[1])};
    const StageOne one = stage_one(s, cand, A, B, cross);
    const int i0 = one.a;
    const int i1 = B + kTracks * one.b;
    const int r0 = i0 / kTracks;
    const int r1 = one.b;

    // tmp[k] = (cross(D k, A r0) + cross(D k, B r1)) + 0.5 rr[D k][D k]
    alignas(32) double da_buf[kPerTrack];
    alignas(32) double db_buf[kPerTrack];
    alignas(32) double tmp[kPerTrack];
    const double* da = track_cross<A, D>(s, r0, da_buf);
    const double* db = track_cross<B, D>(s, r1, db_buf);
    for (int k = 0; k < kPerTrack; k += 4) {
        store4(tmp + k, (load4(da + k) + load4(db + k)) + load4(s.half_diag[D] + k));
    }
    alignas(32) double p_buf[kPerTrack];
    alignas(32) double q_buf[kPerTrack];
    const double* p = track_cross<A, C>(s, r0, p_buf);
    const double* q = track_cross<B, C>(s, r1, q_buf);
    const Best two = stage_two(s, one.ps, one.alp, C, D, p, q, s.rr + kBlock[C][D], tmp, 0, 0);
    Choice choice{two.sq, two.alp, {0, 0, 0, 0}};
    choice.pos[slot(A)] = i0;
    choice.pos[slot(B)] = i1;
    choice.pos[slot(C)] = C + kTracks * two.a;
    choice.pos[slot(D)] = D + kTracks * two.b;
    return choice;
}

// Keeps the better of the four trees' choices, the earliest on a tie.
G729_INLINE void keep_better(const Choice& c, double* psk, double* alpk, int pos[4]) {
    if (*alpk * c.sq - *psk * c.alp > 0.0) {
        *psk = c.sq;
        *alpk = c.alp;
        for (int k = 0; k < 4; k++) {
            pos[k] = c.pos[k];
        }
    }
}

// For track t = 3 and then 4: first the pair of track 2 and track t, then tracks 0 and 1;
// second the pair of track t and track 0, then tracks 1 and 2. Pulse positions by slot into
// pos (tracks 0, 1, 2, 3/4).
G729_INLINE void search_positions(const Search& s, int pos[4]) {
    double psk = -1.0;
    double alpk = 1.0;
    pos[0] = 0;
    pos[1] = 1;
    pos[2] = 2;
    pos[3] = 3;
    keep_better(search_pairs<2, 3, 0, 1>(s), &psk, &alpk, pos);
    keep_better(search_pairs<3, 0, 1, 2>(s), &psk, &alpk, pos);
    keep_better(search_pairs<2, 4, 0, 1>(s), &psk, &alpk, pos);
    keep_better(search_pairs<4, 0, 1, 2>(s), &psk, &alpk, pos);
}

// The scalar search of the baseline build: the same sums and comparisons, one at a time.
namespace scalar {

// Cross term of row ri on track ti and row rj on track tj (ti != tj), read from the block
// that stores the pair.
template <int Ti, int Tj>
G729_INLINE double cross(const double* rr, int ri, int rj) {
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
