// SPDX-License-Identifier: BSD-2-Clause
// Vector kernels of the algebraic codebook correlations (codebook_correlations.h), four sums
// at a time in Quads (simd_kernels-inl.h). No include guard: included into the instruction-set
// namespace of the search driver, once per instruction set.

// Running sums of the diagonals at distance D..D+3 (one per lane), stored as they pass their
// entries. Term k of lane l is h[k] * h[k + D + l]; step U of each group of 5 terms writes to
// the U-th target, moved back 9 entries per group. Lanes [Lanes, 4) have ended already.
template <int D, int U, int Lanes>
HWY_INLINE void diagonal_step(const double* hp, int k, Quad& cor, double* base) {
    cor += quad_set(hp[k + U]) * quad_load(hp + k + U + D);
    if constexpr (kTargets.first[D][U] != kScratch) base[kTargets.first[D][U]] = quad_lane<0>(cor);
    if constexpr (Lanes > 1 && kTargets.first[D + 1][U] != kScratch) {
        base[kTargets.first[D + 1][U]] = quad_lane<1>(cor);
    }
    if constexpr (Lanes > 2 && kTargets.first[D + 2][U] != kScratch) {
        base[kTargets.first[D + 2][U]] = quad_lane<2>(cor);
    }
    if constexpr (Lanes > 3 && kTargets.first[D + 3][U] != kScratch) {
        base[kTargets.first[D + 3][U]] = quad_lane<3>(cor);
    }
}

// Diagonals 5G+1 .. 5G+4. Diagonal 5G+1 has 39-5G terms: 7-G full groups of 5, then one
// step for all four lanes and three steps as the longer diagonals finish one by one.
template <int G>
HWY_INLINE void diagonal_group(const double* hp, double* rr) {
    constexpr int D = kTracks * G + 1;
    Quad cor = quad_set(0.0);
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
HWY_INLINE void correlation_matrix(const double* h, double* rr) {
    main_diagonal(h, rr);

    // The last lanes read up to 3 samples past the end: zeros, their sums are not stored.
    alignas(32) double hp[kLen + 8];
    for (int k = 0; k < kLen; k += 4) {
        quad_store(quad_load(h + k), hp + k);
    }
    quad_store(quad_set(0.0), hp + kLen);
    quad_store(quad_set(0.0), hp + kLen + 4);
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
HWY_INLINE void fold_signs(const double track_sign[kTracks][kPerTrack],
                           const double track_negsign[kTracks][kPerTrack], double* rr) {
    const int blocks[2][3] = {{0, 1, k01}, {1, 2, k12}};
    for (const auto& b : blocks) {
        const int ti = b[0];
        const int tj = b[1];
        const Quad pos_lo = quad_load(track_sign[tj]);
        const Quad pos_hi = quad_load(track_sign[tj] + 4);
        const Quad neg_lo = quad_load(track_negsign[tj]);
        const Quad neg_hi = quad_load(track_negsign[tj] + 4);
        for (int r = 0; r < kPerTrack; r++) {
            const bool positive = track_sign[ti][r] > 0.0;
            double* row = rr + b[2] + kPerTrack * r;
            quad_store(quad_load(row) * (positive ? pos_lo : neg_lo), row);
            quad_store(quad_load(row + 4) * (positive ? pos_hi : neg_hi), row + 4);
        }
    }
}

// d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0. Eight outputs at a
// time in two vectors a (n0..n0+3) and b (n0+4..n0+7). Output n has 40 - n terms, so in the
// last seven steps the lanes that have ended keep their value (they read the zeros behind x).
HWY_INLINE void correlate(const double* h, const double* x, double* d) {
    alignas(32) double xp[kLen + 8];
    for (int n = 0; n < kLen; n++) {
        xp[n] = x[n];
    }
    for (int n = kLen; n < kLen + 8; n++) {
        xp[n] = 0.0;
    }
    // Lanes 0..2, 0..1 and 0 alone: the lanes with one, two and three terms left.
    const Quad lane = quad_of(0.0, 1.0, 2.0, 3.0);
    const QuadMask first3 = quad_lt(lane, quad_set(3.0));
    const QuadMask first2 = quad_lt(lane, quad_set(2.0));
    const QuadMask first1 = quad_lt(lane, quad_set(1.0));
    for (int n0 = 0; n0 < kLen; n0 += 8) {
        const double* xa = xp + n0;
        const double* xb = xp + n0 + 4;
        Quad a = quad_set(0.0);
        Quad b = quad_set(0.0);
        int j = 0;
        for (; j < kLen - 7 - n0; j++) {
            const Quad hj = quad_set(h[j]);
            a += quad_load(xa + j) * hj;
            b += quad_load(xb + j) * hj;
        }
        Quad hj = quad_set(h[j]);
        a += quad_load(xa + j) * hj;
        b = quad_select(first3, b + quad_load(xb + j) * hj, b);
        j++;
        hj = quad_set(h[j]);
        a += quad_load(xa + j) * hj;
        b = quad_select(first2, b + quad_load(xb + j) * hj, b);
        j++;
        hj = quad_set(h[j]);
        a += quad_load(xa + j) * hj;
        b = quad_select(first1, b + quad_load(xb + j) * hj, b);
        j++;
        a += quad_load(xa + j) * quad_set(h[j]);
        j++;
        a = quad_select(first3, a + quad_load(xa + j) * quad_set(h[j]), a);
        j++;
        a = quad_select(first2, a + quad_load(xa + j) * quad_set(h[j]), a);
        j++;
        a = quad_select(first1, a + quad_load(xa + j) * quad_set(h[j]), a);
        quad_store(a, d + n0);
        quad_store(b, d + n0 + 4);
    }
}
