// SPDX-License-Identifier: BSD-2-Clause
// The algebraic codebook search's correlation matrix and signs, for a double (one channel) or
// a vector of independent channels (one per lane); Ops as in codec/encoder/gain_search-inl.h,
// arrays read and written through it. The layout is codebook_correlations.h's. No include
// guard: it is included once into the plain namespace of a file, and once into each
// instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// The running sums of the impulse response's four diagonals at distances 5 M + 1 .. 5 M + 4,
// side by side so that their chains of additions overlap, each stored as it passes the entries
// the search reads, times the signs of the entry's two positions (the values of the signed
// matrix). Diagonal Delta after 5 g + u + 1 terms lands on the u-th target of kTargets moved
// back g rows of both tracks (kPerTrack + 1 entries): the entry of positions 39 - u - 5 g and
// Delta before it; the sums no entry takes are not stored. Each diagonal has 7 - M groups of
// five terms, then 4, 3, 2 and 1 terms. The targets are known when compiling (the five steps
// of a group and the four diagonals unroll); the groups run as a loop (unrolled as well, the
// code outgrew the processor's store of decoded instructions and ran slower).
template <int M, class T, class Ops>
G729_INLINE void correlation_diagonals(const Ops& o, const double* h, const double* sign,
                                       double* rr) {
    constexpr int first = kTracks * M + 1;
    constexpr int groups = 7 - M;
    T cor[4];
    for (int j = 0; j < 4; ++j) cor[j] = o.set(0.0);
    // Term k of every diagonal still running, as the u-th of group g.
    const auto step = [&](int k, int u, int g, int running) {
        const T hk = o.load(h, k);
        const int later = kLen - 1 - k;
        for (int j = 0; j < running; ++j) {
            cor[j] += hk * o.load(h, k + first + j);
            const int target = kTargets.first[first + j][u];
            if (target != kScratch) {
                o.store(o.signed_by(cor[j], o.load(sign, later - first - j), o.load(sign, later)),
                        rr, target - (kPerTrack + 1) * g);
            }
        }
    };
#pragma GCC unroll 1
    for (int g = 0; g < groups; ++g) {
#pragma GCC unroll 5
        for (int u = 0; u < 5; ++u) step(5 * g + u, u, g, 4);
    }
#pragma GCC unroll 4
    for (int u = 0; u < 4; ++u) step(5 * groups + u, u, groups, 4 - u);
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
    correlation_diagonals<0, T>(o, h, sign, rr);
    correlation_diagonals<1, T>(o, h, sign, rr);
    correlation_diagonals<2, T>(o, h, sign, rr);
    correlation_diagonals<3, T>(o, h, sign, rr);
    correlation_diagonals<4, T>(o, h, sign, rr);
    correlation_diagonals<5, T>(o, h, sign, rr);
    correlation_diagonals<6, T>(o, h, sign, rr);
    correlation_diagonals<7, T>(o, h, sign, rr);
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
