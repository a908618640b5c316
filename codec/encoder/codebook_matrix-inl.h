// SPDX-License-Identifier: BSD-2-Clause
// The algebraic codebook search's correlation matrix and signs, for a double (one channel) or
// a vector of independent channels (one per lane); Ops as in codec/encoder/gain_search-inl.h,
// arrays read and written through it. The layout is codebook_correlations.h's. No include
// guard: it is included once into the plain namespace of a file, and once into each
// instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// The running sum of the impulse response's diagonal at distance Delta (not a multiple of 5),
// stored as it passes the entries the search reads: after 5 g + u + 1 terms at the u-th target
// of kTargets, moved back g rows of both tracks (kPerTrack + 1 entries); the sums no entry
// takes are not stored. Every target is known when compiling, so the loops unroll into plain
// sums and stores.
template <int Delta, class T, class Ops>
G729_INLINE void correlation_diagonal(const Ops& o, const double* h, double* rr) {
    constexpr int len = kLen - Delta;
    constexpr int groups = len / 5;
    T cor = o.set(0.0);
    for (int g = 0; g < groups; ++g) {
        for (int u = 0; u < 5; ++u) {
            const int k = 5 * g + u;
            cor += o.load(h, k) * o.load(h, k + Delta);
            if (kTargets.first[Delta][u] != kScratch) {
                o.store(cor, rr, kTargets.first[Delta][u] - (kPerTrack + 1) * g);
            }
        }
    }
    for (int u = 0; 5 * groups + u < len; ++u) {
        const int k = 5 * groups + u;
        cor += o.load(h, k) * o.load(h, k + Delta);
        if (kTargets.first[Delta][u] != kScratch) {
            o.store(cor, rr, kTargets.first[Delta][u] - (kPerTrack + 1) * groups);
        }
    }
}

template <class T, class Ops, int... Delta>
G729_INLINE void correlation_diagonals(const Ops& o, const double* h, double* rr,
                                       std::integer_sequence<int, Delta...>) {
    ((Delta % kTracks != 0 ? correlation_diagonal<Delta, T>(o, h, rr) : void()), ...);
}

// Running sums of the impulse response's diagonals, stored as they pass the entries the search
// reads (kTargets). The main diagonal first: positions 39, 38, ... fall on tracks 4, 3, ...,
// one row up every 5. Differences that are a multiple of 5 join positions of one track: never
// read.
template <class T, class Ops>
G729_INLINE void correlation_matrix_sums(const Ops& o, const double* h, double* rr) {
    T cor = o.set(0.0);
    for (int k = 0; k < kLen; k += kTracks) {
        const int row = kPerTrack - 1 - k / kTracks;
        for (int u = 0; u < 5; ++u) {
            const T hk = o.load(h, k + u);
            cor += hk * hk;
            o.store(cor, rr, kDiag[4 - u] + row);
        }
    }
    correlation_diagonals<T>(o, h, rr, std::make_integer_sequence<int, kLen>());
}

// The signs of the target correlation d (+1 where d >= 0, else -1) into sign, their negatives
// into negsign, and d replaced by its magnitude.
template <class T, class Ops>
G729_INLINE void correlation_signs(const Ops& o, double* d, double* sign, double* negsign) {
    for (int i = 0; i < kLen; i++) {
        const T s = o.load(d, i);
        const auto nonnegative = o.ge(s, o.set(0.0));
        const T sg = o.select(nonnegative, o.set(1.0), o.set(-1.0));
        o.store(sg, sign, i);
        o.store(o.neg(sg), negsign, i);
        o.store(o.select(nonnegative, s, o.neg(s)), d, i);
    }
}

// Every stored cross term rr[i][j] times sign[i] * sign[j]: the row's sign picks sign or
// negsign for the whole row.
template <class T, class Ops>
G729_INLINE void fold_signs(const Ops& o, const double* sign, const double* negsign, double* rr) {
    for (int ti = 0; ti < kTracks; ti++) {
        for (int tj = ti + 1; tj < kTracks; tj++) {
            const int block = kBlock[ti][tj];
            if (block < 0) continue;
            for (int r = 0; r < kPerTrack; r++) {
                const auto positive = o.gt(o.load(sign, ti + kTracks * r), o.set(0.0));
                for (int c = 0; c < kPerTrack; c++) {
                    const int j = tj + kTracks * c;
                    const T s = o.select(positive, o.load(sign, j), o.load(negsign, j));
                    const int e = block + kPerTrack * r + c;
                    o.store(o.load(rr, e) * s, rr, e);
                }
            }
        }
    }
}
