// SPDX-License-Identifier: BSD-2-Clause
// The LSP quantizer's codebook searches, for a double (one target) or a vector of independent
// targets (one per lane); Ops as in codec/encoder/gain_search-inl.h. No include guard: it is
// included once into each instruction-set namespace of a Highway kernel file, where it is
// compiled for that instruction set.

// The entry of codebook nearest the target t over the dimensions lo..hi: each entry's error
// summed over the dimensions in order from 0.0, weighted by w in the second stage; the first
// strictly smallest kept, from 1e38 and entry 0. Four entries' errors are summed at a time, so
// that their chains overlap, then compared in entry order. Without weights every other
// difference is taken on the multipliers (Ops::minus_fused, the same value), so that the
// adders, which would otherwise take two of the three operations of a term, share the work.
// Returns the entry (a whole number held in T).
template <bool Weighted, int Rows, class T, class Ops>
G729_INLINE T lsp_codebook_search(const Ops& o, const double (&codebook)[Rows][10], const T* t,
                                  const T* w, int lo, int hi) {
    constexpr int kAtOnce = 4;
    static_assert(Rows % kAtOnce == 0, "whole groups of entries");
    T best = o.set(1e38);
    T best_n = o.set(0.0);
    for (int n = 0; n < Rows; n += kAtOnce) {
        T e[kAtOnce];
        for (int u = 0; u < kAtOnce; ++u) e[u] = o.set(0.0);
        for (int j = lo; j <= hi; ++j) {
            for (int u = 0; u < kAtOnce; ++u) {
                const T c = o.set(codebook[n + u][j]);
                const T d = (Weighted || j % 2 == 0) ? t[j] - c : o.minus_fused(t[j], c);
                if constexpr (Weighted) {
                    e[u] += w[j] * (d * d);
                } else {
                    e[u] += d * d;
                }
            }
        }
        for (int u = 0; u < kAtOnce; ++u) {
            const auto take = o.lt(e[u], best);
            best = o.select(take, e[u], best);
            best_n = o.select(take, o.set(n + u), best_n);
        }
    }
    return best_n;
}
