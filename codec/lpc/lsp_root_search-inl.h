// SPDX-License-Identifier: BSD-2-Clause
// The LPC-to-LSP conversion's polynomials and root search, for a double (one channel) or a
// vector of independent channels (one per lane, each stopping at its own roots); Ops as in
// codec/encoder/gain_search-inl.h, with any(mask) (true when some lane's element is set) and
// Count, the type of whole numbers that count or index (whole(v) makes one). No
// include guard: it is included once into each instruction-set namespace of a Highway kernel
// file, where it is compiled for that instruction set.

// The sum and difference polynomials f[0], f[1] (Chebyshev form, coefficients 0..5) of the
// LPC filter a (a[0..10], read through Ops).
template <class T, class Ops>
G729_INLINE void lsp_polynomials(const Ops& o, const double* a, T (&f)[2][6]) {
    f[0][0] = o.set(1.0);
    f[1][0] = o.set(1.0);
    for (int i = 1; i <= 5; ++i) {
        f[0][i] = o.load(a, i) + o.load(a, 11 - i) - f[0][i - 1];
        f[1][i] = o.load(a, i) - o.load(a, 11 - i) + f[1][i - 1];
    }
}

// The Chebyshev-form value of a 5th-degree sum/difference polynomial f (f[1..5], indexable
// T) at the cosine x.
template <class T, class Ops, class Coef>
G729_INLINE T chebyshev_value(const Ops& o, const Coef& f, T x) {
    const T x2 = o.set(2.0) * x;
    T b2 = o.set(1.0);
    T b1 = x2 + f[1];
    for (int k = 2; k <= 4; ++k) {
        const T b0 = x2 * b1 - b2 + f[k];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + o.set(0.5) * f[5];
}

// The grid intervals the search walks.
constexpr int kLspGridIntervals = 50;

// The roots of the two polynomials in turn, from the first grid point on: in each grid interval
// where the current polynomial changes sign (a NaN counts as no change), two halvings decided
// against the interval's high end, then the root interpolated linearly; the search then goes on
// from that root with the other polynomial, until the grid ends or ten roots are found.
//   coefficients(p)   polynomial p's coefficients (p 0 or 1, per lane), indexable 1..5
//   grid(j)           the cosine of grid point j (per lane)
//   value(p, j)       polynomial p at grid point j (per lane)
//   emit(m, k, x)     root k is x, in the lanes of m
//   skip(m, p, j, xlow, ylow)
//                     the lanes of m stand on grid point j with polynomial p's value ylow
//                     there (xlow its cosine): it may move them on to where the steps of
//                     the walk would stop, the last grid point before p's next sign change
//                     between grid points (the grid's end if none), with xlow and ylow read
//                     there; or leave them
// (p, j and k of type Ops::Count.) Returns the number of roots found, per lane.
template <class T, class Ops, class Coefficients, class Grid, class Value, class Emit,
          class Skip>
G729_INLINE typename Ops::Count lsp_root_search(const Ops& o, Coefficients&& coefficients,
                                                Grid&& grid, Value&& value, Emit&& emit,
                                                Skip&& skip) {
    using I = typename Ops::Count;
    const T zero = o.set(0.0);
    const T one = o.set(1.0);
    const I first = o.whole(0);
    const I next_one = o.whole(1);
    I cur = first;    // the polynomial searched
    I found = first;  // roots found
    I j = first;      // grid interval
    T xlow = grid(first);
    T ylow = value(cur, first);
    for (;;) {
        // The lanes without a sign change in their interval move on, interval by interval,
        // while those with one wait: the roots below are then sought for every lane at once.
        T xhigh;
        T yhigh;
        auto change = o.lt(j, first);  // none
        for (;;) {
            const auto active = o.both(o.lt(j, o.whole(kLspGridIntervals)),
                                       o.lt(found, o.whole(10)));
            if (!o.any(active)) return found;
            xhigh = grid(j + next_one);
            yhigh = value(cur, j + next_one);
            change = o.both(active, o.le(ylow * yhigh, zero));
            const auto move = o.and_not(change, active);
            if (!o.any(move)) break;
            xlow = o.select(move, xhigh, xlow);
            ylow = o.select(move, yhigh, ylow);
            j = o.select(move, j + next_one, j);
            skip(move, cur, j, xlow, ylow);
        }
        const auto f = coefficients(cur);
        T xl = xlow;  // a lane's own where it has a sign change, a moved lane's discarded
        T yl = ylow;
        T xh = xhigh;
        T yh = yhigh;
        for (int h = 0; h < 2; ++h) {
            const T xmid = o.set(0.5) * (xl + xh);
            const T ymid = chebyshev_value(o, f, xmid);
            const auto low = o.le(yh * ymid, zero);
            xl = o.select(low, xmid, xl);
            yl = o.select(low, ymid, yl);
            xh = o.select(low, xh, xmid);
            yh = o.select(low, yh, ymid);
        }
        // Lanes without a root divide by 1: no lane divides by zero.
        const T x = xh - yh * (xl - xh) / o.select(change, yl - yh, one);
        emit(change, found, x);
        const I next = next_one - cur;
        const T y = chebyshev_value(o, coefficients(next), x);
        found = o.select(change, found + next_one, found);
        cur = o.select(change, next, cur);
        xlow = o.select(change, x, xlow);
        ylow = o.select(change, y, ylow);
    }
}
