// SPDX-License-Identifier: BSD-2-Clause
// Pieces of the channel-parallel recursive filters that more than one lane file runs: a
// second-order section's coefficients in every lane, and the LPC synthesis filter's steps for
// several vectors of channels side by side, over a subframe or over a frame's two. No include
// guard: included into the instruction-set namespace of each Highway kernel file, after
// lane_common-inl.h and codec/lpc/synthesis_step-inl.h.

// A second-order section's coefficients (second_order_section.h) in every lane of D.
template <class D>
struct LaneCoefficients {
    hn::Vec<D> a1;
    hn::Vec<D> a2;
    hn::Vec<D> b0;
    hn::Vec<D> b1;
    hn::Vec<D> b2;
};

template <class D>
HWY_INLINE LaneCoefficients<D> lane_coefficients(const SecondOrderCoefficients& c) {
    const D d;
    return {hn::Set(d, c.a1), hn::Set(d, c.a2), hn::Set(d, c.b0), hn::Set(d, c.b1),
            hn::Set(d, c.b2)};
}

// Sample R of a pass of ten for the G vectors of a group: G independent chains, so that their
// latencies overlap.
template <int R, int G, class D>
HWY_INLINE void synthesis_steps(const hn::Vec<D> (&a)[G][11], hn::Vec<D> (&m)[G][10],
                                const double* const* xb, double* const* yb, int i) {
    const D d;
    constexpr int lanes = lanes_of<D>();
    for (int g = 0; g < G; ++g) {
        const int at = (i + R) * lanes;
        hn::Store(synthesis_step<R>(a[g], hn::Load(d, xb[g] + at), m[g]), d, yb[g] + at);
    }
}

// A pass of ten samples from sample i for the G vectors of a group.
template <int G, class D>
HWY_INLINE void synthesis_pass(const hn::Vec<D> (&a)[G][11], hn::Vec<D> (&m)[G][10],
                               const double* const* xb, double* const* yb, int i) {
    synthesis_steps<0, G, D>(a, m, xb, yb, i);
    synthesis_steps<1, G, D>(a, m, xb, yb, i);
    synthesis_steps<2, G, D>(a, m, xb, yb, i);
    synthesis_steps<3, G, D>(a, m, xb, yb, i);
    synthesis_steps<4, G, D>(a, m, xb, yb, i);
    synthesis_steps<5, G, D>(a, m, xb, yb, i);
    synthesis_steps<6, G, D>(a, m, xb, yb, i);
    synthesis_steps<7, G, D>(a, m, xb, yb, i);
    synthesis_steps<8, G, D>(a, m, xb, yb, i);
    synthesis_steps<9, G, D>(a, m, xb, yb, i);
}

// L (0..40) outputs of 1/A(z) for G vectors of channels side by side, the single filter's steps
// in every lane: inputs xb[g], outputs yb[g] (interleaved, sample n of lane l at n * N + l;
// an output may replace its input), coefficients a[g] (a[g][0] unused), memory in rows 0..9 of
// mb[g] (10 + L mod 10 rows, oldest first). Returns r: the last ten outputs end in rows
// r..r + 9 of mb[g], oldest first.
template <int G, class D>
HWY_INLINE int synthesis_run(const hn::Vec<D> (&a)[G][11], double* const* mb,
                             const double* const* xb, double* const* yb, int L) {
    using V = hn::Vec<D>;
    const D d;
    constexpr int lanes = lanes_of<D>();
    V m[G][10];
    for (int g = 0; g < G; ++g) {
        for (int k = 0; k < 10; ++k) m[g][k] = hn::Load(d, mb[g] + k * lanes);
    }
    int i = 0;
    for (; i + 10 <= L; i += 10) synthesis_pass<G, D>(a, m, xb, yb, i);
    // The last L mod 10 outputs through a work history, as in the single filter: w[k] is the
    // output 10 before w[k + 10]; the history ends in mb.
    const int rest = L - i;
    for (int g = 0; g < G; ++g) {
        for (int k = 0; k < 10; ++k) hn::Store(m[g][k], d, mb[g] + k * lanes);
        for (int r = 0; r < rest; ++r) {
            V w[10];
            for (int k = 0; k < 10; ++k) w[k] = hn::Load(d, mb[g] + (r + k) * lanes);
            const V out = history_step(a[g], hn::Load(d, xb[g] + (i + r) * lanes), w);
            hn::Store(out, d, mb[g] + (r + 10) * lanes);
            hn::Store(out, d, yb[g] + (i + r) * lanes);
        }
    }
    return rest;
}

// flush_tiny in every lane: |v| below the threshold gives +0.0, anything else (NaN too)
// passes.
template <class D>
HWY_INLINE hn::Vec<D> flush_lanes(hn::Vec<D> v) {
    const D d;
    return hn::IfThenZeroElse(hn::Lt(hn::Abs(v), hn::Set(d, kMemoryFlushThreshold)), v);
}

// The synthesis filters 1/A(z) of both subframes of a frame for G vectors of channels side by
// side, the second continuing the first's memory, which each leaves flushed as the single
// filter keeps it: coefficients coef(sf, g) (rows 1..10 of A, interleaved), inputs xb[g] and
// outputs yb[g] (80 interleaved rows; an output may replace its input), memory (10 rows a
// vector, oldest first) read and left as the second subframe's filter keeps it.
template <int G, class Coef>
HWY_INLINE void frame_synthesis(Coef coef, const double* const (&xb)[G],
                                double* const (&yb)[G], double* memory) {
    const Tag d;
    Vec a[G][11];
    Vec m[G][10];
    for (int g = 0; g < G; ++g) {
        a[g][0] = hn::Set(d, 1.0);
        for (int k = 0; k < 10; ++k) m[g][k] = hn::Load(d, memory + (g * 10 + k) * kLanes);
    }
    for (int sf = 0; sf < 2; ++sf) {
        for (int g = 0; g < G; ++g) {
            for (int k = 1; k <= 10; ++k) a[g][k] = hn::Load(d, coef(sf, g) + (k - 1) * kLanes);
        }
        const double* x[G];
        double* y[G];
        for (int g = 0; g < G; ++g) {
            x[g] = xb[g] + sf * G729_SUBFRAME_SIZE * kLanes;
            y[g] = yb[g] + sf * G729_SUBFRAME_SIZE * kLanes;
        }
        for (int i = 0; i < G729_SUBFRAME_SIZE; i += 10) synthesis_pass<G, Tag>(a, m, x, y, i);
        for (int g = 0; g < G; ++g) {
            for (int k = 0; k < 10; ++k) m[g][k] = flush_lanes<Tag>(m[g][k]);
        }
    }
    for (int g = 0; g < G; ++g) {
        for (int k = 0; k < 10; ++k) hn::Store(m[g][k], d, memory + (g * 10 + k) * kLanes);
    }
}
