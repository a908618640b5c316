// SPDX-License-Identifier: BSD-2-Clause
// The gains' correlations and the gain codebook search, for a double (one channel) or a vector
// of independent channels (one per lane). T is double or the vector type; Ops supplies the
// operations on T and its masks (codec/common/scalar_ops.h for one channel, LaneOps in
// codec/batch/lane_common-inl.h for lanes). Every lane makes the single channel's computations
// in the same order, so both give the same bits. No include guard: it is included once into
// the plain namespace of a file, and once into each instruction-set namespace of a Highway
// kernel file, where it is compiled for that instruction set.

// The adaptive-codebook gain's correlations of the target x and the filtered excitation y
// (length samples, 40 in a subframe): c[0] = 0.01 + y.y, c[1] = -2 x.y + 0.01; returns the
// gain x.y / y.y kept within [0, 1.2].
template <class T, class Ops>
G729_INLINE T pitch_gain_correlations(const Ops& o, const double* x, const double* y, int length,
                                      T c[2]) {
    T yy = o.set(0.01);
    T xy = o.set(0.0);
    for (int n = 0; n < length; n++) {
        const T yn = o.load(y, n);
        yy += yn * yn;
        xy += o.load(x, n) * yn;
    }
    c[0] = yy;
    c[1] = o.set(-2.0) * xy + o.set(0.01);
    const T gain = xy / yy;
    return o.select(o.lt(gain, o.set(0.0)), o.set(0.0),
                    o.select(o.gt(gain, o.set(1.2)), o.set(1.2), gain));
}

// The fixed-codebook gain's correlations with the filtered codevector z: c[2] = 0.01 + z.z,
// c[3] = (0.01 + x.z) * -2, c[4] = 2 (0.01 + y.z).
template <class T, class Ops>
G729_INLINE void codebook_gain_correlations(const Ops& o, const double* x, const double* y,
                                            const double* z, T c[5]) {
    T zz = o.set(0.01);
    T xz = o.set(0.01);
    T yz = o.set(0.01);
    for (int n = 0; n < 40; n++) {
        const T zn = o.load(z, n);
        zz += zn * zn;
        xz += o.load(x, n) * zn;
        yz += o.load(y, n) * zn;
    }
    c[2] = zz;
    c[3] = xz * o.set(-2.0);
    c[4] = yz + yz;
}

// The weighted error of the gains (gp, gc) for the correlations c0..c4.
template <class T>
G729_INLINE T gain_distance(T gp, T gc, T c0, T c1, T c2, T c3, T c4) {
    return (((gp * gp * c0 + c1 * gp) + gc * gc * c2) + c3 * gc) + gc * gp * c4;
}

// The first rows of the 4 candidates of the first codebook (cand1) and the 8 of the second
// (cand2) around the unconstrained optimum of the error over (gp, gc), from the correlations
// c and the predicted code gain g0; under taming the optimum's pitch gain is at most
// kTamedOptimum. Each count is where the threshold walk stops, at the first threshold the
// optimum does not pass.
template <class T, class Ops>
G729_INLINE void gain_preselect(const Ops& o, const T c[5], T g0, typename Ops::Mask tamed,
                                T* cand1, T* cand2) {
    const T t = o.set(-1.0) / (o.set(4.0) * c[0] * c[2] - c[4] * c[4]);
    T gp_opt = ((c[2] + c[2]) * c[1] - c[4] * c[3]) * t;
    const T gc_opt = ((c[0] + c[0]) * c[3] - c[4] * c[1]) * t;
    gp_opt = o.select(o.both(tamed, o.gt(gp_opt, o.set(kTamedOptimum))), o.set(kTamedOptimum),
                      gp_opt);

    const T a = o.set(gain_preselection_coefficients[0][0]);
    const T b = o.set(gain_preselection_coefficients[0][1]);
    const T q = o.set(gain_preselection_coefficients[1][0]);
    const T e = o.set(gain_preselection_coefficients[1][1]);
    const T u = gp_opt * a;
    const T px = (gc_opt - (e + u) * g0) * o.set(kPreselectionScale);
    const T py = (((u - b) * q) * g0 - gc_opt * a) * o.set(kPreselectionScale);

    // Above the threshold (times g0) when g0 is positive, below it otherwise.
    const auto positive = o.gt(g0, o.set(0.0));
    const auto passes = [&](T p, double threshold) {
        const T limit = o.set(threshold) * g0;
        return o.either(o.both(positive, o.gt(p, limit)), o.and_not(positive, o.lt(p, limit)));
    };
    T n1 = o.set(0.0);
    auto going = o.ge(n1, n1);  // every lane
    for (int k = 0; k < 4; k++) {
        going = o.both(going, passes(py, gain_preselection_thresholds_1[k]));
        n1 = o.select(going, n1 + o.set(1.0), n1);
    }
    T n2 = o.set(0.0);
    going = o.ge(n2, n2);
    for (int k = 0; k < 8; k++) {
        going = o.both(going, passes(px, gain_preselection_thresholds_2[k]));
        n2 = o.select(going, n2 + o.set(1.0), n2);
    }
    *cand1 = n1;
    *cand2 = n2;
}

// The 32 candidate pairs in row order (first codebook outer), the first smallest error kept;
// under taming a pair whose pitch gain reaches kTamedCandidate is never chosen. The rows are
// whole numbers held in T.
template <class T, class Ops>
G729_INLINE void gain_rows_search(const Ops& o, const T c[5], T g0, typename Ops::Mask tamed,
                                  T cand1, T cand2, T* row1, T* row2) {
    const double* book1 = &gain_codebook_1[0][0];
    const double* book2 = &gain_codebook_2[0][0];
    T gp2[8];
    T gc2[8];
    for (int k = 0; k < 8; k++) {
        gp2[k] = o.entry(book2, cand2 + o.set(k), 0);
        gc2[k] = o.entry(book2, cand2 + o.set(k), 1);
    }
    T best = o.set(1e38);
    T best1 = cand1;
    T best2 = cand2;
    for (int i = 0; i < 4; i++) {
        const T r1 = cand1 + o.set(i);
        const T gp1 = o.entry(book1, r1, 0);
        const T gc1 = o.entry(book1, r1, 1);
        for (int k = 0; k < 8; k++) {
            const T gp = gp2[k] + gp1;
            const T gc = (gc2[k] + gc1) * g0;
            const T dist = gain_distance(gp, gc, c[0], c[1], c[2], c[3], c[4]);
            const auto excluded = o.both(tamed, o.ge(gp, o.set(kTamedCandidate)));
            const auto take = o.and_not(excluded, o.lt(dist, best));
            best = o.select(take, dist, best);
            best1 = o.select(take, r1, best1);
            best2 = o.select(take, cand2 + o.set(k), best2);
        }
    }
    *row1 = best1;
    *row2 = best2;
}
