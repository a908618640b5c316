// Algebraic codebook search: one pulse per track (tracks 3 and 4 share the fourth pulse),
// chosen by a fixed depth-first tree of 320 candidates.
#include "codec/encoder/fixed_codebook.h"

#include "codec/lpc/primitives.h"
#include "codec/simd_dispatch.h"

namespace g729 {

namespace {

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
                               const double cross[2][kPerTrack]) {
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

// The cross-term blocks a search with track t (3 or 4) reads.
struct CrossBlocks {
    const double* rr01;
    const double* rr02;
    const double* rr0t;
    const double* rr12;
    const double* rr1t;
    const double* rr2t;
};

G729_INLINE CrossBlocks cross_blocks(const double* rr, int t) {
    return {rr + k01, rr + k02, rr + kBlock[0][t], rr + k12, rr + kBlock[1][t], rr + kBlock[2][t]};
}

// Pair of track 2 and track t first, then tracks 0 and 1.
G729_INLINE Choice search_variant_1(const Search& s, int t) {
    const auto [rr01, rr02, rr0t, rr12, rr1t, rr2t] = cross_blocks(s.rr, t);

    int cand[2];
    cand[0] = track_maximum(s.d, 2, -1);
    cand[1] = track_maximum(s.d, 2, cand[0]);

    // Rows of block (2, t) of the two candidates.
    alignas(32) double cross[2][kPerTrack];
    for (int c = 0; c < 2; c++) {
        signed_row(s, rr2t, 2, cand[c] / kTracks, t, cross[c]);
    }
    const StageOne one = stage_one(s, cand, 2, t, cross);
    const int i0 = one.a;
    const int i1 = t + kTracks * one.b;
    const int r0 = i0 / kTracks;
    const int r1 = one.b;

    // tmp[k] = (rr12[k][r0] + rr1t[k][r1]) + 0.5 rr11[k]
    alignas(32) double x12[kPerTrack];
    alignas(32) double x1t[kPerTrack];
    alignas(32) double tmp[kPerTrack];
    column(rr12, r0, x12);
    signed_column(s, rr1t, 1, r1, t, x1t);
    for (int k = 0; k < kPerTrack; k += 4) {
        store4(tmp + k, (load4(x12 + k) + load4(x1t + k)) + load4(s.half_diag[1] + k));
    }
    alignas(32) double p[kPerTrack];
    alignas(32) double q[kPerTrack];
    signed_column(s, rr02, 0, r0, 2, p);
    signed_column(s, rr0t, 0, r1, t, q);
    const Best two = stage_two(s, one.ps, one.alp, 0, 1, p, q, rr01, tmp, 0, 0);
    const int i2 = kTracks * two.a;
    const int i3 = 1 + kTracks * two.b;
    return Choice{two.sq, two.alp, {i2, i3, i0, i1}};
}

// Pair of track t and track 0 first, then tracks 1 and 2.
G729_INLINE Choice search_variant_2(const Search& s, int t) {
    const auto [rr01, rr02, rr0t, rr12, rr1t, rr2t] = cross_blocks(s.rr, t);

    int cand[2];
    cand[0] = track_maximum(s.d, t, -1);
    cand[1] = track_maximum(s.d, t, cand[0]);

    // Columns of block (0, t) of the two candidates.
    alignas(32) double cross[2][kPerTrack];
    for (int c = 0; c < 2; c++) {
        signed_column(s, rr0t, 0, cand[c] / kTracks, t, cross[c]);
    }
    const StageOne one = stage_one(s, cand, t, 0, cross);
    const int i0 = one.a;
    const int i1 = kTracks * one.b;
    const int r0 = i0 / kTracks;
    const int r1 = one.b;

    // tmp[k] = (rr2t[k][r0] + rr02[r1][k]) + 0.5 rr22[k]
    alignas(32) double x2t[kPerTrack];
    alignas(32) double x02[kPerTrack];
    alignas(32) double tmp[kPerTrack];
    signed_column(s, rr2t, 2, r0, t, x2t);
    signed_row(s, rr02, 0, r1, 2, x02);
    for (int k = 0; k < kPerTrack; k += 4) {
        store4(tmp + k, (load4(x2t + k) + load4(x02 + k)) + load4(s.half_diag[2] + k));
    }
    alignas(32) double p[kPerTrack];
    signed_column(s, rr1t, 1, r0, t, p);
    const Best two = stage_two(s, one.ps, one.alp, 1, 2, p, rr01 + kPerTrack * r1, rr12, tmp,
                               0, 0);
    const int i2 = 1 + kTracks * two.a;
    const int i3 = 2 + kTracks * two.b;
    return Choice{two.sq, two.alp, {i1, i2, i3, i0}};
}

// d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0. Eight outputs at a
// time in two vectors a (n0..n0+3) and b (n0+4..n0+7). Output n has 40 - n terms, so in the
// last seven steps the lanes that have ended keep their value (they read the zeros behind x).
G729_INLINE void correlate_impl(const double* h, const double* x, double* d) {
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

// The vector search: signed pulse positions by track into pos (tracks 0, 1, 2, 3/4) and
// the sign of every d into sign.
G729_INLINE void vector_search(const double* h, const double* x, int pos[4], double* sign) {
    alignas(32) double rr[kMatrixSize];
    correlation_matrix(h, rr);

    alignas(32) double d[kLen];
    correlate_impl(h, x, d);

    // Sign of each d (non-negative: +1) and its magnitude, four positions at a time.
    for (int n = 0; n < kLen; n += 4) {
        const v4d dn = load4(d + n);
        const v4l nonnegative = dn >= G729_SPLAT(0.0);
        store4(sign + n, nonnegative ? G729_SPLAT(1.0) : G729_SPLAT(-1.0));
        store4(d + n, nonnegative ? dn : -dn);
    }

    // The same by track, and half the diagonal of the matrix (already by track).
    alignas(32) double track_negsign[kTracks][kPerTrack];
    Search s;
    s.d = d;
    s.rr = rr;
    for (int t = 0; t < kTracks; t++) {
        for (int r = 0; r < kPerTrack; r += 4) {
            const int n = t + kTracks * r;  // positions n, n+5, n+10, n+15, gathered in registers
            const v4d sg = v4d{sign[n], sign[n + 5], sign[n + 10], sign[n + 15]};
            store4(s.sign[t] + r, sg);
            store4(track_negsign[t] + r, -sg);
            store4(s.dt[t] + r, v4d{d[n], d[n + 5], d[n + 10], d[n + 15]});
            store4(s.half_diag[t] + r, G729_SPLAT(0.5) * load4(rr + kDiag[t] + r));
        }
    }
    fold_signs(s.sign, track_negsign, rr);

    double psk = -1.0;
    double alpk = 1.0;
    pos[0] = 0;
    pos[1] = 1;
    pos[2] = 2;
    pos[3] = 3;
    for (int t = 3; t <= 4; t++) {
        for (int variant = 1; variant <= 2; variant++) {
            const Choice c = variant == 1 ? search_variant_1(s, t) : search_variant_2(s, t);
            if (alpk * c.sq - psk * c.alp > 0.0) {
                psk = c.sq;
                alpk = c.alp;
                for (int k = 0; k < 4; k++) {
                    pos[k] = c.pos[k];
                }
            }
        }
    }
}

// The scalar search of the baseline build: the same sums and comparisons, one at a time.
namespace scalar {

// Running sums of the diagonals, stored as they pass their entries (see correlation_matrix);
// the sums that are never read go to a scratch area.
void correlation_matrix(const double* h, double* rr) {
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
void fold_signs(const double* sign, const double* negsign, double* rr) {
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

// Slot of a track in the chosen positions: tracks 0, 1, 2, then 3 or 4.
constexpr int slot(int track) { return track < 3 ? track : 3; }

// The two best positions of track A, each paired with every position of track B; on top of
// the best pair, every pair of positions of tracks C and D.
template <int A, int B, int C, int D>
Choice search_pairs(const double* d, const double* rr) {
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
void search_variants(const double* d, const double* rr, Choice out[2]) {
    out[0] = search_pairs<2, T, 0, 1>(d, rr);
    out[1] = search_pairs<T, 0, 1, 2>(d, rr);
}

// d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0.
void correlate(const double* h, const double* x, double* d) {
    for (int n = 0; n < kLen; n++) {
        double s = 0.0;
        for (int j = 0; j < kLen - n; j++) {
            s += x[n + j] * h[j];
        }
        d[n] = s;
    }
}

void search(const double* h, const double* x, int pos[4], double* sign) {
    double rr[kMatrixSize];
    correlation_matrix(h, rr);

    double d[kLen];
    correlate(h, x, d);

    double negsign[kLen];
    for (int n = 0; n < kLen; n++) {
        if (d[n] >= 0.0) {
            sign[n] = 1.0;
        } else {
            sign[n] = -1.0;
            d[n] = -d[n];
        }
        negsign[n] = -sign[n];
    }
    fold_signs(sign, negsign, rr);

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
        if (alpk * c.sq - psk * c.alp > 0.0) {
            psk = c.sq;
            alpk = c.alp;
            for (int k = 0; k < 4; k++) {
                pos[k] = c.pos[k];
            }
        }
    }
}

}  // namespace scalar

template <Isa I>
G729_INLINE int32_t search_impl(const double x[40], double h[40], int t0, double code[40],
                                double y[40], int32_t* sign_index, double sharp) {
    // Pitch sharpening of the impulse response; reads only h[0..19], never a changed sample.
    if (t0 < kLen) {
        for (int i = t0; i < kLen; i++) {
            h[i] = h[i] + sharp * h[i - t0];
        }
    }

    int pos[4];
    alignas(32) double sign[kLen];
    if constexpr (I == Isa::avx2) {
        vector_search(h, x, pos, sign);
    } else {
        scalar::search(h, x, pos, sign);
    }

    zero_doubles(code, kLen);
    for (int k = 0; k < 4; k++) {
        code[pos[k]] = sign[pos[k]];
    }

    // Filtered code vector: the signed, shifted sharpened impulse responses.
    const int p0 = pos[0];
    for (int n = 0; n < p0; n++) {
        y[n] = 0.0;
    }
    for (int n = p0; n < kLen; n++) {
        y[n] = sign[p0] * h[n - p0];
    }
    for (int k = 1; k < 4; k++) {
        const int p = pos[k];
        if (sign[p] > 0.0) {
            for (int n = p; n < kLen; n++) {
                y[n] = y[n] + h[n - p];
            }
        } else {
            for (int n = p; n < kLen; n++) {
                y[n] = y[n] - h[n - p];
            }
        }
    }

    int32_t signs = 0;
    for (int k = 0; k < 4; k++) {
        if (sign[pos[k]] > 0.0) {
            signs += 1 << k;
        }
    }
    *sign_index = signs;

    const int p3 = pos[3];
    const int j = p3 % kTracks == 4 ? 1 : 0;
    const int32_t index =
        pos[0] / kTracks + 8 * (pos[1] / kTracks) + 64 * (pos[2] / kTracks) +
        512 * (2 * (p3 / kTracks) + j);

    // Pitch sharpening of the code vector; y already holds its filtered form.
    if (t0 < kLen) {
        for (int i = t0; i < kLen; i++) {
            code[i] = code[i] + sharp * code[i - t0];
        }
    }
    return index;
}

int32_t search_baseline(const double x[40], double h[40], int t0, double code[40], double y[40],
                        int32_t* sign_index, double sharp) {
    return search_impl<Isa::baseline>(x, h, t0, code, y, sign_index, sharp);
}

G729_TARGET_AVX2 int32_t search_avx2(const double x[40], double h[40], int t0, double code[40],
                                     double y[40], int32_t* sign_index, double sharp) {
    return search_impl<Isa::avx2>(x, h, t0, code, y, sign_index, sharp);
}

void correlate_baseline(const double h[40], const double x[40], double d[40]) {
    scalar::correlate(h, x, d);
}

G729_TARGET_AVX2 void correlate_avx2(const double h[40], const double x[40], double d[40]) {
    correlate_impl(h, x, d);
}

}  // namespace

int32_t g729simd::fixed_codebook_search(Isa isa, const double x[40], double h[40], int t0,
                                        double code[40], double y[40], int32_t* sign_index,
                                        double sharp) {
    return isa == Isa::avx2 ? search_avx2(x, h, t0, code, y, sign_index, sharp)
                            : search_baseline(x, h, t0, code, y, sign_index, sharp);
}

void g729simd::correlate_target_impulse(Isa isa, const double h[40], const double x[40],
                                        double d[40]) {
    if (isa == Isa::avx2) {
        correlate_avx2(h, x, d);
    } else {
        correlate_baseline(h, x, d);
    }
}

void correlate_target_impulse(const double h[40], const double x[40], double d[40]) {
    g729simd::correlate_target_impulse(g729simd::best_isa(), h, x, d);
}

int32_t fixed_codebook_search(const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp) {
    return g729simd::fixed_codebook_search(g729simd::best_isa(), x, h, t0, code, y, sign_index,
                                           sharp);
}

}  // namespace g729
