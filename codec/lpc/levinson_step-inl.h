// SPDX-License-Identifier: BSD-2-Clause
// The Levinson-Durbin recursion, for a double or a vector of independent autocorrelations (one
// per lane). No include guard: it is included once into the plain namespace of a file, and
// once into each instruction-set namespace of a Highway kernel file, where it is compiled for
// that instruction set.

// From r[0..10], the LPC filter a[0..10] and the reflection coefficients rc[0..9]; returns the
// prediction error. zero and one are 0.0 and 1.0 as T; neg(x) is -x; floor(e) keeps a
// non-positive error at 0.001.
template <typename T, typename Neg, typename Floor>
G729_INLINE T levinson_recursion(const T* r, T a[11], T rc[10], T zero, T one, Neg neg,
                                 Floor floor) {
    T k = neg(r[1]) / r[0];
    rc[0] = k;
    a[0] = one;
    a[1] = k;
    T err = r[0] + r[1] * k;

    for (int i = 2; i <= 10; ++i) {
        T alpha = zero;
        for (int j = 0; j < i; ++j) alpha += a[j] * r[i - j];

        k = neg(alpha) / err;
        rc[i - 1] = k;

        // Both members of a pair are updated from their old values.
        for (int j = 1; j <= i / 2; ++j) {
            const T aj = a[j];
            const T aij = a[i - j];
            a[j] = aj + k * aij;
            a[i - j] = aij + k * aj;
        }
        a[i] = k;

        err = floor(err + alpha * k);
    }
    return err;
}
