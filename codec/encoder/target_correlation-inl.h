// SPDX-License-Identifier: BSD-2-Clause
// The correlation of a subframe's target with the impulse response, for a double (one channel)
// or a vector of independent channels (one per lane); Ops as in
// codec/encoder/gain_search-inl.h, arrays read and written through it. No include guard: it is
// included once into the plain namespace of a file, and once into each instruction-set
// namespace of a Highway kernel file, where it is compiled for that instruction set.

// d[n] = sum over j = 0..39-n of x[n + j] * h[j], j ascending from 0.0. Four outputs' sums at
// a time, so that their chains overlap.
template <class T, class Ops>
G729_INLINE void target_correlation(const Ops& o, const double* h, const double* x, double* d) {
    constexpr int kSamples = 40;
    for (int i = 0; i < kSamples; i += 4) {
        T s[4] = {o.set(0.0), o.set(0.0), o.set(0.0), o.set(0.0)};
        for (int j = 0; j < kSamples - i - 3; j++) {
            const T hj = o.load(h, j);
            for (int u = 0; u < 4; ++u) s[u] += o.load(x, i + u + j) * hj;
        }
        // The last three samples end the sums one by one: output i + u stops at 39 - i - u.
        for (int j = kSamples - i - 3; j < kSamples - i; j++) {
            const T hj = o.load(h, j);
            for (int u = 0; u < kSamples - i - j; ++u) s[u] += o.load(x, i + u + j) * hj;
        }
        for (int u = 0; u < 4; ++u) o.store(s[u], d, i + u);
    }
}
