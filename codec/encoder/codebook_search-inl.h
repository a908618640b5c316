// SPDX-License-Identifier: BSD-2-Clause
// Vector form of the algebraic codebook search (codebook_search.h), four candidates per
// comparison in Quads (simd_kernels-inl.h). No include guard: included into the
// instruction-set namespace of the search driver, once per instruction set.

// Four candidates b0..b0+3 with sums ps2 and energies alp2, tried in order. The vector test
// is the scalar test of every lane against the best before the group. Lanes before the first
// winner lose against that same best in the scalar order too; from the first winner on, the
// lanes are taken one by one against the updated best.
HWY_INLINE void try_four(const Quad& ps2, const Quad& alp2, int a, int b0, Best* best) {
    int l = quad_first(quad_gt(ps2 * ps2 * quad_set(best->alp), alp2 * quad_set(best->sq)));
    if (l < 0) {
        return;
    }
    alignas(32) double p[4];
    alignas(32) double e[4];
    quad_store(ps2, p);
    quad_store(alp2, e);
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
HWY_INLINE void signed_row(const Search& s, const double* block, int ta, int r, int tb,
                           double out[kPerTrack]) {
    const Quad sa = quad_set(s.sign[ta][r]);
    quad_store(quad_load(block + kPerTrack * r) * sa * quad_load(s.sign[tb]), out);
    quad_store(quad_load(block + kPerTrack * r + 4) * sa * quad_load(s.sign[tb] + 4), out + 4);
}

// Rows 4h..4h+3 of column c of a block, gathered in registers (a vector load of values just
// stored one by one would wait for the stores).
HWY_INLINE Quad column_half(const double* block, int c, int h) {
    const double* p = block + kPerTrack * 4 * h + c;
    return quad_of(p[0], p[kPerTrack], p[2 * kPerTrack], p[3 * kPerTrack]);
}

// Column c of the block (track ta, track tb), signs applied.
HWY_INLINE void signed_column(const Search& s, const double* block, int ta, int c, int tb,
                              double out[kPerTrack]) {
    const Quad sb = quad_set(s.sign[tb][c]);
    quad_store(column_half(block, c, 0) * quad_load(s.sign[ta]) * sb, out);
    quad_store(column_half(block, c, 1) * quad_load(s.sign[ta] + 4) * sb, out + 4);
}

// Column c of the block (row track, column track): rr[row r][c] for r = 0..7.
HWY_INLINE void column(const double* block, int c, double out[kPerTrack]) {
    quad_store(column_half(block, c, 0), out);
    quad_store(column_half(block, c, 1), out + 4);
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

HWY_INLINE StageOne stage_one(const Search& s, const int cand[2], int track_a, int track_b,
                              const double* const cross[2]) {
    Best best{-1.0, 1.0, 0.0, 0, 0};
    const Quad db_lo = quad_load(s.dt[track_b]);
    const Quad db_hi = quad_load(s.dt[track_b] + 4);
    const Quad hb_lo = quad_load(s.half_diag[track_b]);
    const Quad hb_hi = quad_load(s.half_diag[track_b] + 4);
    for (int c = 0; c < 2; c++) {
        const int a0 = cand[c];
        const double da = s.d[a0];
        const double ha = s.half_diag[track_a][a0 / kTracks];
        const Quad sa = quad_set(da);
        const Quad ea = quad_set(ha);
        try_four(db_lo + sa, (quad_load(cross[c]) + ea) + hb_lo, c, 0, &best);
        try_four(db_hi + sa, (quad_load(cross[c] + 4) + ea) + hb_hi, c, 4, &best);
    }
    return StageOne{cand[best.a], best.b, best.ps, best.alp};
}

// Second stage: all 8 x 8 pairs of tracks B and C on top of the first stage's two pulses.
// ps1 = d[b] + ps; alp1 = ((p[b] + alp) + q[b]) + 0.5 rr[b][b];
// ps2 = d[c] + ps1; alp2 = (bc[b][c] + alp1) + tmp[c].
HWY_INLINE Best stage_two(const Search& s, double ps, double alp, int track_b, int track_c,
                          const double p[kPerTrack], const double q[kPerTrack],
                          const double* bc, const double tmp[kPerTrack], int first_b,
                          int first_c) {
    Best best{-1.0, 1.0, 0.0, first_b, first_c};
    const Quad dc_lo = quad_load(s.dt[track_c]);
    const Quad dc_hi = quad_load(s.dt[track_c] + 4);
    const Quad tmp_lo = quad_load(tmp);
    const Quad tmp_hi = quad_load(tmp + 4);
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        const double ps1 = s.dt[track_b][k2] + ps;
        const double alp1 = ((p[k2] + alp) + q[k2]) + s.half_diag[track_b][k2];
        const double* row = bc + kPerTrack * k2;
        const Quad s1 = quad_set(ps1);
        const Quad e1 = quad_set(alp1);
        try_four(dc_lo + s1, (quad_load(row) + e1) + tmp_lo, k2, 0, &best);
        try_four(dc_hi + s1, (quad_load(row + 4) + e1) + tmp_hi, k2, 4, &best);
    }
    return best;
}

// Cross terms of position r of track Ti with the 8 positions of track Tj, both signs applied:
// a row of the block (Ti, Tj) or a column of the block (Tj, Ti). The blocks (0, 1) and (1, 2)
// already hold their signs; their rows are returned in place, anything else through out.
template <int Ti, int Tj>
HWY_INLINE const double* track_cross(const Search& s, int r, double out[kPerTrack]) {
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
// the best pair, every pair of positions of tracks C and D (the same tree as PairSearch in
// codebook_pairs-inl.h).
template <int A, int B, int C, int D>
HWY_INLINE Choice search_pairs(const Search& s) {
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
        quad_store((quad_load(da + k) + quad_load(db + k)) + quad_load(s.half_diag[D] + k),
                   tmp + k);
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

// For track t = 3 and then 4: first the pair of track 2 and track t, then tracks 0 and 1;
// second the pair of track t and track 0, then tracks 1 and 2. Pulse positions by slot into
// pos (tracks 0, 1, 2, 3/4).
HWY_INLINE void search_positions(const Search& s, int pos[4]) {
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
