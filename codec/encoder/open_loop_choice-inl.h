// SPDX-License-Identifier: BSD-2-Clause
// The open-loop pitch search's last step, the choice between its three ranges' maxima, for a
// double (one frame) or a vector of independent frames (one per lane); Ops as in
// codec/encoder/gain_search-inl.h, the lags held in Ops::Count. No include guard: it is
// included once into the plain namespace of a file, and once into each instruction-set
// namespace of a Highway kernel file, where it is compiled for that instruction set.
//
// The frame's samples a lag back come from window(lag): an array read through Ops at the
// frame's own even indices 0..length (one channel: sw - lag; lanes: each lane's samples moved
// in already shifted by its own lag). The choice asks for four windows, each valid until it
// returns. Only even indices are read, of the frame and of the windows.

// Energy of the even samples of a lagged window, from 0.01, samples ascending.
template <class T, class Ops>
G729_INLINE T lagged_energy(const Ops& o, const double* lagged, int length) {
    T e = o.set(0.01);
    for (int k = 0; 2 * k < length; ++k) {
        const T v = o.load(lagged, 2 * k);
        e += v * v;
    }
    return e;
}

// corr divided by the root of an energy, as corr times the reciprocal of the root.
template <class T, class Ops>
G729_INLINE T normalised_max(const Ops& o, T corr, T energy) {
    const T inv = o.set(1.0) / o.sqrt(energy);
    return corr * inv;
}

// Whether the whole number x lies within -k..k.
template <class Ops, class C>
G729_INLINE auto within(const Ops& o, C x, int k) {
    return o.both(o.lt(o.whole(-k - 1), x), o.lt(x, o.whole(k + 1)));
}

// The open-loop lag from the best lag of 20..39 (t1), of 40..79 (t2) and of the even lags
// 80..142 (even) and their correlations (max1, max2, max3): the even lag refined by its odd
// neighbours, the three maxima normalised, and shorter lags favoured whose multiples match a
// longer one.
template <class T, class Ops, class Window, class Count>
G729_INLINE Count open_loop_choice(const Ops& o, const double* sw, int length, Window&& window,
                                   Count t1, Count t2, Count even, T max1, T max2, T max3) {
    Count t3 = even;

    // The correlations at the even lag's odd neighbours (the lower one read from the upper
    // one's window two samples on) and the energies at t1 and t2: four sums in one pass, each
    // from its own start, samples ascending.
    const double* odd = window(even + o.whole(1));
    const double* at1 = window(t1);
    const double* at2 = window(t2);
    T c_up = o.set(0.0);
    T c_down = o.set(0.0);
    T e1 = o.set(0.01);
    T e2 = o.set(0.01);
    for (int k = 0; 2 * k < length; ++k) {
        const T s = o.load(sw, 2 * k);
        c_up += s * o.load(odd, 2 * k);
        c_down += s * o.load(odd, 2 * (k + 1));
        const T v1 = o.load(at1, 2 * k);
        e1 += v1 * v1;
        const T v2 = o.load(at2, 2 * k);
        e2 += v2 * v2;
    }

    // An odd neighbour replaces the even lag only if strictly better; the upper one first.
    const auto take_up = o.gt(c_up, max3);
    max3 = o.select(take_up, c_up, max3);
    t3 = o.select(take_up, even + o.whole(1), t3);
    const auto take_down = o.gt(c_down, max3);
    max3 = o.select(take_down, c_down, max3);
    t3 = o.select(take_down, even - o.whole(1), t3);

    T m1 = normalised_max(o, max1, e1);
    T m2 = normalised_max(o, max2, e2);
    const T m3 = normalised_max(o, max3, lagged_energy<T>(o, window(t3), length));

    // Favour shorter lags whose double or triple lies near a longer winner.
    const T w3 = o.set(0.25) * m3;
    m2 = o.select(within(o, o.whole(2) * t2 - t3, 4), m2 + w3, m2);
    m2 = o.select(within(o, o.whole(3) * t2 - t3, 6), m2 + w3, m2);
    const T w2 = o.set(0.2) * m2;
    m1 = o.select(within(o, o.whole(2) * t1 - t2, 4), m1 + w2, m1);
    m1 = o.select(within(o, o.whole(3) * t1 - t2, 6), m1 + w2, m1);

    // The largest normalised maximum; the shorter range wins a tie.
    const auto take2 = o.gt(m2, m1);
    const T m = o.select(take2, m2, m1);
    const Count lag = o.select(take2, t2, t1);
    return o.select(o.gt(m3, m), t3, lag);
}
