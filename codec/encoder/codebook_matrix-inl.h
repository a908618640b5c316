// SPDX-License-Identifier: BSD-2-Clause
// The algebraic codebook search's correlation matrix and signs, for a double (one channel) or
// a vector of independent channels (one per lane); Ops as in codec/encoder/gain_search-inl.h,
// arrays read and written through it. The layout is codebook_correlations.h's. No include
// guard: it is included once into the plain namespace of a file, and once into each
// instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// The running sum of the impulse response's diagonal at distance Delta (not a multiple of 5),
// stored as it passes the entries the search reads, times the signs of the entry's two
// positions (products with +-1 are exact in any order: these are the values of the signed
// matrix): after 5 g + u + 1 terms at the u-th target of kTargets, moved back g rows of both
// tracks (kPerTrack + 1 entries), the entry of positions 39 - u - 5 g and Delta before it;
// the sums no entry takes are not stored. Every target is known when compiling, so that the
// loops can unroll into plain sums and stores.
template <int Delta, class T, class Ops>
G729_INLINE void correlation_diagonal(const Ops& o, const double* h, const double* sign,
                                      double* rr) {
    constexpr int len = kLen - Delta;
    constexpr int groups = len / 5;
    T cor = o.set(0.0);
    const auto store = [&](int u, int g) {
        if (kTargets.first[Delta][u] != kScratch) {
            const int later = kLen - 1 - u - 5 * g;
            const T signed_cor = (cor * o.load(sign, later - Delta)) * o.load(sign, later);
            o.store(signed_cor, rr, kTargets.first[Delta][u] - (kPerTrack + 1) * g);
        }
    };
    for (int g = 0; g < groups; ++g) {
        for (int u = 0; u < 5; ++u) {
            const int k = 5 * g + u;
            cor += o.load(h, k) * o.load(h, k + Delta);
            store(u, g);
        }
    }
    for (int u = 0; 5 * groups + u < len; ++u) {
        const int k = 5 * groups + u;
        cor += o.load(h, k) * o.load(h, k + Delta);
        store(u, groups);
    }
}

// Every diagonal whose distance is not a multiple of 5 (those join positions of one track).
template <class T, class Ops, int... Delta>
G729_INLINE void correlation_diagonals(const Ops& o, const double* h, const double* sign,
                                       double* rr, std::integer_sequence<int, Delta...>) {
    ((Delta % kTracks != 0 ? correlation_diagonal<Delta, T>(o, h, sign, rr) : void()), ...);
}

// The correlation matrix of the impulse response at the entries the search reads (kTargets),
// each cross term times the signs of its two positions (sign: +1 or -1 by position). Running
// sums of the diagonals, stored as they pass the entries. The main diagonal first: positions
// 39, 38, ... fall on tracks 4, 3, ..., one row up every 5. Differences that are a multiple
// of 5 join positions of one track: never read.
template <class T, class Ops>
G729_INLINE void correlation_matrix_sums(const Ops& o, const double* h, const double* sign,
                                         double* rr) {
    T cor = o.set(0.0);
    for (int k = 0; k < kLen; k += kTracks) {
        const int row = kPerTrack - 1 - k / kTracks;
        for (int u = 0; u < 5; ++u) {
            const T hk = o.load(h, k + u);
            cor += hk * hk;
            o.store(cor, rr, kDiag[4 - u] + row);
        }
    }
    correlation_diagonals<T>(o, h, sign, rr, std::make_integer_sequence<int, kLen>());
}

// The signs of the target correlation d (+1 where d >= 0, else -1) into sign, and d replaced
// by its magnitude.
template <class T, class Ops>
G729_INLINE void correlation_signs(const Ops& o, double* d, double* sign) {
    for (int i = 0; i < kLen; i++) {
        const T s = o.load(d, i);
        const auto nonnegative = o.ge(s, o.set(0.0));
        o.store(o.select(nonnegative, o.set(1.0), o.set(-1.0)), sign, i);
        o.store(o.select(nonnegative, s, o.neg(s)), d, i);
    }
}
