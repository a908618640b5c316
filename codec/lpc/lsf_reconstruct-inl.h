// SPDX-License-Identifier: BSD-2-Clause
// The LSP quantizer's reconstruction of quantized LSFs (expansion of close pairs, the MA
// predictor, the stability rules) and the encoder's choice between its two predictor modes,
// for a double (one channel) or a vector of independent channels (one per lane); Ops as in
// codec/common/scalar_ops.h. Conditions become selects, so every lane takes the branches of
// the single-channel code on its own values. No include guard: it is included once into the
// plain namespace of a file, and once into each instruction-set namespace of a Highway kernel
// file, where it is compiled for that instruction set.

// Minimum distances of the two expansion passes over the codebook sum.
constexpr double kLsfGapFirst = 0.0012;
constexpr double kLsfGapSecond = 0.0006;
// Stability: minimum distance between neighbours and the range of the LSFs.
constexpr double kLsfMinSpacing = 0.0392;
constexpr double kLsfLowest = 0.005;
constexpr double kLsfHighest = 3.135;

// One pass over the pairs (j-1, j), j = first..last, ascending: where two neighbours are
// closer than gap, both move apart by half the shortfall.
template <class T, class Ops>
G729_INLINE void lsf_expand_pairs(const Ops& o, T* b, double gap, int first, int last) {
    for (int j = first; j <= last; ++j) {
        const T t = (b[j - 1] - b[j] + o.set(gap)) * o.set(0.5);
        const auto apart = o.gt(t, o.set(0.0));
        b[j - 1] = o.select(apart, b[j - 1] - t, b[j - 1]);
        b[j] = o.select(apart, b[j] + t, b[j]);
    }
}

// lsf[i] = residual[i] * sum[i] + coef[k][i] * memory[k][i] for k = 0..3, in that order.
template <class T>
G729_INLINE void lsf_compose_of(const T* residual, T* lsf, const T (*coef)[10],
                                const T (*memory)[10], const T* sum) {
    for (int i = 0; i < 10; ++i) {
        T t = residual[i] * sum[i];
        for (int k = 0; k < 4; ++k) t += coef[k][i] * memory[k][i];
        lsf[i] = t;
    }
}

// The predictor memory moves on by a frame; residual becomes its newest entry.
template <class T>
G729_INLINE void lsf_push_of(const T* residual, T (*memory)[10]) {
    for (int k = 3; k >= 1; --k) {
        for (int i = 0; i < 10; ++i) memory[k][i] = memory[k - 1][i];
    }
    for (int i = 0; i < 10; ++i) memory[0][i] = residual[i];
}

// One ordering pass that carries a too-large value upwards by swaps, then the range and the
// minimum distance.
template <class T, class Ops>
G729_INLINE void lsf_stabilize_of(const Ops& o, T* lsf) {
    for (int j = 0; j < 9; ++j) {
        const auto swap = o.lt(lsf[j + 1] - lsf[j], o.set(0.0));
        const T low = o.select(swap, lsf[j + 1], lsf[j]);
        lsf[j + 1] = o.select(swap, lsf[j], lsf[j + 1]);
        lsf[j] = low;
    }
    lsf[0] = o.select(o.lt(lsf[0], o.set(kLsfLowest)), o.set(kLsfLowest), lsf[0]);
    for (int j = 0; j < 9; ++j) {
        const auto close = o.lt(lsf[j + 1] - lsf[j], o.set(kLsfMinSpacing));
        lsf[j + 1] = o.select(close, lsf[j] + o.set(kLsfMinSpacing), lsf[j + 1]);
    }
    lsf[9] = o.select(o.gt(lsf[9], o.set(kLsfHighest)), o.set(kLsfHighest), lsf[9]);
}

// The codebook sum of a choice (first: the first stage's entry; second: the second stage's
// entries, dimensions 0..4 of one and 5..9 of the other) after both expansion passes.
template <class T, class Ops>
G729_INLINE void lsf_expanded_sum(const Ops& o, const T* first, const T* second, T* buf) {
    for (int j = 0; j < 10; ++j) buf[j] = first[j] + second[j];
    lsf_expand_pairs(o, buf, kLsfGapFirst, 1, 9);
    lsf_expand_pairs(o, buf, kLsfGapSecond, 1, 9);
}

// The quantized LSFs of a choice whose expanded codebook sum is buf, with the predictor of
// mode (coef, sum); the memory moves on.
template <class T, class Ops>
G729_INLINE void lsf_from_expanded(const Ops& o, const T* buf, const T (*coef)[10], const T* sum,
                                   T (*memory)[10], T* lsf) {
    lsf_compose_of(buf, lsf, coef, memory, sum);
    lsf_push_of(buf, memory);
    lsf_stabilize_of(o, lsf);
}

// The encoder's last step: each mode's choice (first[mode], second[mode] as in
// lsf_expanded_sum) weighed against its target (w: the weights), the mode with the smaller
// error (equal errors keep mode 0; returned as a mask, set for mode 1), and its quantized LSFs
// into lsf_q; the predictor memory moves on.
template <class T, class Ops>
G729_INLINE auto lsf_quantize_finish_of(const Ops& o, const T (*first)[10], const T (*second)[10],
                                        const T (*target)[10], const T* w, T (*memory)[10],
                                        T* lsf_q) {
    T buf[2][10];
    T err[2];
    for (int mode = 0; mode < 2; ++mode) {
        lsf_expanded_sum(o, first[mode], second[mode], buf[mode]);
        T e = o.set(0.0);
        for (int j = 0; j < 10; ++j) {
            const T d = (buf[mode][j] - target[mode][j]) * o.set(lsf_ma_predictor_sum[mode][j]);
            e += w[j] * (d * d);
        }
        err[mode] = e;
    }
    const auto second_mode = o.gt(err[0], err[1]);
    T chosen[10];
    T coef[4][10];
    T sum[10];
    for (int i = 0; i < 10; ++i) {
        chosen[i] = o.select(second_mode, buf[1][i], buf[0][i]);
        sum[i] = o.select(second_mode, o.set(lsf_ma_predictor_sum[1][i]),
                          o.set(lsf_ma_predictor_sum[0][i]));
        for (int k = 0; k < 4; ++k) {
            coef[k][i] = o.select(second_mode, o.set(lsf_ma_predictor[1][k][i]),
                                  o.set(lsf_ma_predictor[0][k][i]));
        }
    }
    lsf_from_expanded(o, chosen, coef, sum, memory, lsf_q);
    return second_mode;
}
