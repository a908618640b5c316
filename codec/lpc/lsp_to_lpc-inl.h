// SPDX-License-Identifier: BSD-2-Clause
// The LSP-to-LPC conversion, for a double (one channel) or a vector of independent channels
// (one per lane); Ops as in codec/common/scalar_ops.h (set, load). The LSPs are read through
// Ops, ten of them. No include guard: it is included once into the plain namespace of a file,
// and once into each instruction-set namespace of a Highway kernel file.

// The polynomial of the five LSPs lsp[first], lsp[first + 2], ..., lsp[first + 8]: the
// product of their factors 1 - 2 lsp z^-1 + z^-2, coefficients f[0..5] (the rest mirror them).
template <class T, class Ops>
G729_INLINE void lsp_polynomial_of(const Ops& o, const double* lsp, int first, T* f) {
    f[0] = o.set(1.0);
    f[1] = o.set(-2.0) * o.load(lsp, first);
    for (int i = 2; i <= 5; ++i) {
        const T b = o.set(-2.0) * o.load(lsp, first + 2 * (i - 1));
        f[i] = b * f[i - 1] + o.set(2.0) * f[i - 2];
        for (int j = i - 1; j >= 2; --j) f[j] = (b * f[j - 1] + f[j - 2]) + f[j];
        f[1] = f[1] + b;
    }
}

// a[0..10] of the LPC filter whose LSPs are lsp[0..9]: the even LSPs' polynomial times
// (1 + z^-1), the odd ones' times (1 - z^-1), both from the unmodified values, averaged.
template <class T, class Ops>
G729_INLINE void lsp_to_lpc_of(const Ops& o, const double* lsp, T* a) {
    T f1[6];
    T f2[6];
    lsp_polynomial_of(o, lsp, 0, f1);
    lsp_polynomial_of(o, lsp, 1, f2);
    T g1[6];
    T g2[6];
    for (int i = 1; i <= 5; ++i) {
        g1[i] = f1[i] + f1[i - 1];
        g2[i] = f2[i] - f2[i - 1];
    }
    a[0] = o.set(1.0);
    for (int i = 1; i <= 5; ++i) {
        a[i] = o.set(0.5) * (g1[i] + g2[i]);
        a[11 - i] = o.set(0.5) * (g1[i] - g2[i]);
    }
}

// The frame's two subframe filters: aq[0..10] from the midpoint of old_lsp and new_lsp,
// aq[11..21] from new_lsp; mid: ten LSPs of scratch (written through Ops).
template <class T, class Ops>
G729_INLINE void lsp_interpolate_to_lpc_of(const Ops& o, const double* old_lsp,
                                           const double* new_lsp, double* mid, T* aq) {
    for (int i = 0; i < 10; ++i) {
        o.store(o.set(0.5) * o.load(old_lsp, i) + o.set(0.5) * o.load(new_lsp, i), mid, i);
    }
    lsp_to_lpc_of(o, mid, aq);
    lsp_to_lpc_of(o, new_lsp, aq + 11);
}
