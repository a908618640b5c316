// SPDX-License-Identifier: BSD-2-Clause
// The algebraic codebook search's four trees over the signed correlations, for a double (one
// channel) or a vector of independent channels (one per lane); Ops as in
// codec/encoder/gain_search-inl.h, with Rows (a row of each lane's own, ready to address
// arrays), rows(r) and at(a, offset, rows, stride) (element offset + stride * row). Positions
// and rows are whole numbers held in T. The layout is codebook_correlations.h's. No include
// guard: it is included once into the plain namespace of a file, and once into each
// instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// Best row of a track in d, skipping the row `excluded` (-1: none); the lowest position wins a
// tie.
template <class T, class Ops>
G729_INLINE T best_track_row(const Ops& o, const double* d, int track, T excluded) {
    T best = o.set(-1.0);
    T row = o.set(0.0);
    for (int r = 0; r < kPerTrack; ++r) {
        const T dp = o.load(d, track + kTracks * r);
        const auto take = o.and_not(o.eq(excluded, o.set(r)), o.gt(dp, best));
        best = o.select(take, dp, best);
        row = o.select(take, o.set(r), row);
    }
    return row;
}

// (ps2^2, alp2) beats (sq, alp): ps2 * ps2 * alp > alp2 * sq, better() of codebook_search.h.
template <class T, class Ops>
G729_INLINE auto beats(const Ops& o, T ps2, T alp2, T sq, T alp) {
    return o.gt(ps2 * ps2 * alp, alp2 * sq);
}

// The cross term of row ri (each lane's own) of track Ti and row rj of track Tj (Ti != Tj),
// from the block that stores the pair.
template <int Ti, int Tj, class T, class Ops>
G729_INLINE T cross_term(const Ops& o, const double* rr, const typename Ops::Rows& ri, int rj) {
    if constexpr (Ti < Tj) {
        return o.at(rr, kBlock[Ti][Tj] + rj, ri, kPerTrack);
    } else {
        return o.at(rr, kBlock[Tj][Ti] + kPerTrack * rj, ri, 1);
    }
}

// The rows of tracks C and D of a (C, D) pair numbered kPerTrack * row of C + row of D.
struct PairRows {
    double rows[kPerTrack * kPerTrack][2];
};
constexpr PairRows make_pair_rows() {
    PairRows t{};
    for (int i = 0; i < kPerTrack * kPerTrack; ++i) {
        t.rows[i][0] = i / kPerTrack;
        t.rows[i][1] = i % kPerTrack;
    }
    return t;
}
constexpr PairRows kPairRows = make_pair_rows();

template <class T>
struct PairChoice {
    PairChoice() {}  // written out: an implicit constructor would miss the target's attributes
    T sq;
    T alp;
    T pos[4];  // positions by slot: tracks 0, 1, 2, 3/4
};

// One tree: the two best positions of track A, each paired with every position of track B;
// on top of the best pair, every pair of positions of tracks C and D. Cut into its steps so
// that the four trees of a subframe, independent until their results are compared, run step
// by step side by side and their running-best chains overlap.
template <int A, int B, int C, int D, class T, class Ops>
struct PairSearch {
    using Rows = typename Ops::Rows;
    PairSearch() {}  // written out: an implicit constructor would miss the target's attributes

    // The two best positions of track A and the start of the (A, B) pass.
    void start(const Ops& o, const double* d, const double* rr) {
        c[0] = best_track_row(o, d, A, o.set(-1.0));
        c[1] = best_track_row(o, d, A, c[0]);
        for (int i = 0; i < 2; ++i) {
            cand[i] = o.rows(c[i]);
            d_a[i] = o.at(d, A, cand[i], kTracks);
            diag_a[i] = o.at(rr, kDiag[A], cand[i], 1);
        }
        sq = o.set(-1.0);
        alp = o.set(1.0);
        ps = o.set(0.0);
        r0 = c[0];
        r1 = o.set(0.0);
    }

    // Candidate i of track A with row k of track B.
    G729_INLINE void pair_step(const Ops& o, const double* d, const double* rr, int i, int k) {
        const T half = o.set(0.5);
        const T ps2 = o.load(d, B + kTracks * k) + d_a[i];
        const T alp2 = (cross_term<A, B, T>(o, rr, cand[i], k) + half * diag_a[i]) +
                       half * o.load(rr, kDiag[B] + k);
        const auto win = beats(o, ps2, alp2, sq, alp);
        sq = o.select(win, ps2 * ps2, sq);
        alp = o.select(win, alp2, alp);
        ps = o.select(win, ps2, ps);
        r0 = o.select(win, c[i], r0);
        r1 = o.select(win, o.set(k), r1);
    }

    // The (C, D) pass's terms that do not depend on track C's row.
    void middle(const Ops& o, const double* rr) {
        const T half = o.set(0.5);
        row0 = o.rows(r0);
        row1 = o.rows(r1);
        for (int k = 0; k < kPerTrack; k++) {
            tmp[k] = (cross_term<A, D, T>(o, rr, row0, k) + cross_term<B, D, T>(o, rr, row1, k)) +
                     half * o.load(rr, kDiag[D] + k);
        }
        sq_b = o.set(-1.0);
        alp_b = o.set(1.0);
        pair_best = o.set(0.0);
    }

    // Row k2 of track C: the terms its pass over track D shares.
    G729_INLINE void outer_step(const Ops& o, const double* d, const double* rr, int k2) {
        ps1 = o.load(d, C + kTracks * k2) + ps;
        alp1 = ((cross_term<A, C, T>(o, rr, row0, k2) + alp) +
                cross_term<B, C, T>(o, rr, row1, k2)) +
               o.set(0.5) * o.load(rr, kDiag[C] + k2);
    }

    // index: kPerTrack * k2 + k3, held in T.
    G729_INLINE void inner_step(const Ops& o, const double* d, const double* rr, int k2, int k3,
                                T index) {
        const T ps2 = o.load(d, D + kTracks * k3) + ps1;
        const T alp2 = (o.load(rr, kBlock[C < D ? C : D][C < D ? D : C] +
                                       (C < D ? kPerTrack * k2 + k3 : kPerTrack * k3 + k2)) +
                        alp1) +
                       tmp[k3];
        const auto win = beats(o, ps2, alp2, sq_b, alp_b);
        sq_b = o.select(win, ps2 * ps2, sq_b);
        alp_b = o.select(win, alp2, alp_b);
        pair_best = o.select(win, index, pair_best);
    }

    PairChoice<T> result(const Ops& o) const {
        const T five = o.set(kTracks);
        PairChoice<T> choice;
        choice.sq = sq_b;
        choice.alp = alp_b;
        choice.pos[A < 3 ? A : 3] = o.set(A) + five * r0;
        choice.pos[B < 3 ? B : 3] = o.set(B) + five * r1;
        choice.pos[C < 3 ? C : 3] = o.set(C) + five * o.entry(kPairRows.rows[0], pair_best, 0);
        choice.pos[D < 3 ? D : 3] = o.set(D) + five * o.entry(kPairRows.rows[0], pair_best, 1);
        return choice;
    }

    T c[2];
    Rows cand[2];
    T d_a[2];
    T diag_a[2];
    T sq, alp, ps, r0, r1;
    Rows row0, row1;
    T tmp[kPerTrack];
    T sq_b, alp_b;
    T pair_best;  // the best (C, D) pair so far: kPerTrack * row of C + row of D
    T ps1, alp1;
};

// The better of a tree's choice and the best so far, the earliest on a tie.
template <class T, class Ops>
G729_INLINE void keep_better_choice(const Ops& o, const PairChoice<T>& c, T* psk, T* alpk,
                                    T pos[4]) {
    const auto win = o.gt(*alpk * c.sq - *psk * c.alp, o.set(0.0));
    *psk = o.select(win, c.sq, *psk);
    *alpk = o.select(win, c.alp, *alpk);
    for (int k = 0; k < 4; k++) pos[k] = o.select(win, c.pos[k], pos[k]);
}

// Pulse positions by slot (tracks 0, 1, 2, 3/4) from the magnitudes d and the signed matrix
// rr: for track 3 and then track 4, the tree of track 2 and that track then tracks 0 and 1,
// and the tree of that track and track 0 then tracks 1 and 2; compared in that order.
template <class T, class Ops>
G729_INLINE void search_pulse_positions(const Ops& o, const double* d, const double* rr,
                                        T pos[4]) {
    T psk = o.set(-1.0);
    T alpk = o.set(1.0);
    for (int k = 0; k < 4; ++k) pos[k] = o.set(k);
    PairSearch<2, 3, 0, 1, T, Ops> s0;
    PairSearch<3, 0, 1, 2, T, Ops> s1;
    PairSearch<2, 4, 0, 1, T, Ops> s2;
    PairSearch<4, 0, 1, 2, T, Ops> s3;
    s0.start(o, d, rr);
    s1.start(o, d, rr);
    s2.start(o, d, rr);
    s3.start(o, d, rr);
    // Vectors take the first pairs two trees at a time: with four, their candidates' rows and
    // running bests outgrow sixteen registers (AVX2) and are spilled. A single double keeps four
    // (split, its frame grows past the batched calls' stated stack).
    if constexpr (sizeof(T) > sizeof(double)) {
        const auto first_pairs = [&](auto& a, auto& b) {
            for (int i = 0; i < 2; i++) {
                for (int k = 0; k < kPerTrack; k++) {
                    a.pair_step(o, d, rr, i, k);
                    b.pair_step(o, d, rr, i, k);
                }
            }
        };
        first_pairs(s0, s1);
        first_pairs(s2, s3);
    } else {
        for (int i = 0; i < 2; i++) {
            for (int k = 0; k < kPerTrack; k++) {
                s0.pair_step(o, d, rr, i, k);
                s1.pair_step(o, d, rr, i, k);
                s2.pair_step(o, d, rr, i, k);
                s3.pair_step(o, d, rr, i, k);
            }
        }
    }
    s0.middle(o, rr);
    s1.middle(o, rr);
    s2.middle(o, rr);
    s3.middle(o, rr);
    // The pairs' numbers counted by a running sum (whole numbers, exact), not converted anew
    // at every step.
    T index = o.set(0.0);
    const T one = o.set(1.0);
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        s0.outer_step(o, d, rr, k2);
        s1.outer_step(o, d, rr, k2);
        s2.outer_step(o, d, rr, k2);
        s3.outer_step(o, d, rr, k2);
        for (int k3 = 0; k3 < kPerTrack; k3++) {
            s0.inner_step(o, d, rr, k2, k3, index);
            s1.inner_step(o, d, rr, k2, k3, index);
            s2.inner_step(o, d, rr, k2, k3, index);
            s3.inner_step(o, d, rr, k2, k3, index);
            index = index + one;
        }
    }
    keep_better_choice(o, s0.result(o), &psk, &alpk, pos);
    keep_better_choice(o, s1.result(o), &psk, &alpk, pos);
    keep_better_choice(o, s2.result(o), &psk, &alpk, pos);
    keep_better_choice(o, s3.result(o), &psk, &alpk, pos);
}
