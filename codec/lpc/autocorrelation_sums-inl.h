// SPDX-License-Identifier: BSD-2-Clause
// The autocorrelation of the windowed analysis buffer, for a double (one channel) or a vector
// of independent channels (one per lane); Ops as in codec/encoder/gain_search-inl.h. No include
// guard: it is included once into the plain namespace of a file, and once into each
// instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// r[k] = sum over j = 0..239-k of y[j] * y[j + k] for k = 0..m, each sum from 0.0 with j
// ascending; y (240 windowed samples) is read through Ops. The lags are summed side by side:
// while j + m < 240 every lag has its term, then the longer lags end one by one.
template <class T, class Ops>
G729_INLINE void autocorrelation_sums(const Ops& o, const double* y, int m, T* r) {
    constexpr int kLength = 240;
    for (int k = 0; k <= m; ++k) r[k] = o.set(0.0);
    int j = 0;
    for (; j < kLength - m; ++j) {
        const T yj = o.load(y, j);
        for (int k = 0; k <= m; ++k) r[k] += yj * o.load(y, j + k);
    }
    for (; j < kLength; ++j) {
        const T yj = o.load(y, j);
        for (int k = 0; k < kLength - j; ++k) r[k] += yj * o.load(y, j + k);
    }
}
