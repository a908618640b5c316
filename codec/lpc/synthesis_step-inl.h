// SPDX-License-Identifier: BSD-2-Clause
// One output of the LPC synthesis filter 1/A(z), for a double or a vector of independent
// filters. No include guard: it is included once into the plain namespace of a file, and once
// into each instruction-set namespace of a Highway kernel file, where it is compiled for that
// instruction set.

// One output of 1/A(z). m holds the 10 latest outputs in registers, rotating: before step R
// of a pass of ten, m[R] is the oldest (y[n-10]) and m[R-1] the newest (y[n-1]); the output
// replaces the oldest. Terms are subtracted newest first, one at a time. T is a double, or a
// vector of independent filters (one per lane) with Coef their per-lane coefficients.
template <int R, typename T, typename Coef>
G729_INLINE T synthesis_step(const Coef& a, T x, T (&m)[10]) {
    T s = x;
    s -= a[1] * m[(R + 9) % 10];
    s -= a[2] * m[(R + 8) % 10];
    s -= a[3] * m[(R + 7) % 10];
    s -= a[4] * m[(R + 6) % 10];
    s -= a[5] * m[(R + 5) % 10];
    s -= a[6] * m[(R + 4) % 10];
    s -= a[7] * m[(R + 3) % 10];
    s -= a[8] * m[(R + 2) % 10];
    s -= a[9] * m[(R + 1) % 10];
    s -= a[10] * m[R];
    m[R] = s;
    return s;
}

// One output of 1/A(z) from a plain history: h[9] is the newest output (y[n-1]), h[0] the
// oldest (y[n-10]); the same terms in the same order as synthesis_step.
template <typename T, typename Coef>
G729_INLINE T history_step(const Coef& a, T x, const T* h) {
    T s = x;
    s -= a[1] * h[9];
    s -= a[2] * h[8];
    s -= a[3] * h[7];
    s -= a[4] * h[6];
    s -= a[5] * h[5];
    s -= a[6] * h[4];
    s -= a[7] * h[3];
    s -= a[8] * h[2];
    s -= a[9] * h[1];
    s -= a[10] * h[0];
    return s;
}
