// SPDX-License-Identifier: BSD-2-Clause
// The open-loop pitch search's correlations and maxima, for a double (one frame) or a vector of
// independent frames (one per lane); Ops as in codec/encoder/gain_search-inl.h. No include
// guard: it is included once into the plain namespace of a file, and once into each
// instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// N lags t, t + step, ..., their correlations summed side by side (each from 0.0, the even
// samples ascending), then compared in lag order against the best so far (max, lag).
template <int N, class T, class Ops>
G729_INLINE void open_loop_lags(const Ops& o, const double* sw, int past, int length, int t,
                                int step, T* max, T* lag) {
    T c[N];
    for (T& v : c) v = o.set(0.0);
    for (int j = 0; j < length; j += 2) {
        const T s = o.load(sw, j + past);
        for (int u = 0; u < N; ++u) c[u] += s * o.load(sw, j - (t + u * step) + past);
    }
    for (int u = 0; u < N; ++u) {
        const auto take = o.gt(c[u], *max);
        *max = o.select(take, c[u], *max);
        *lag = o.select(take, o.set(t + u * step), *lag);
    }
}

// The lag of lo, lo + step, ..., hi (a multiple of four lags) with the first strictly largest
// correlation of the even samples of the frame with the signal lag samples back (each sum from
// 0.0, samples ascending), from -1e38; that correlation into *best. Sample i of the frame
// (i >= -143) is read through Ops at i + past. Chains lags' sums at a time (four or eight), so
// that their chains overlap (with four, each waits on its additions' latency), then the rest
// four at a time. Returns the lag (a whole number held in T).
template <int Chains = 4, class T, class Ops>
G729_INLINE T open_loop_range_best(const Ops& o, const double* sw, int past, int length, int lo,
                                   int hi, int step, T* best) {
    static_assert(Chains == 4 || Chains == 8);
    T max = o.set(-1e38);
    T lag = o.set(lo);
    int t = lo;
    for (; t + (Chains - 1) * step <= hi; t += Chains * step) {
        open_loop_lags<Chains>(o, sw, past, length, t, step, &max, &lag);
    }
    for (; t <= hi; t += 4 * step) open_loop_lags<4>(o, sw, past, length, t, step, &max, &lag);
    *best = max;
    return lag;
}
