// SPDX-License-Identifier: BSD-2-Clause
// The parts of the postfilter's preparation that the single-channel postfilter and the batched
// decoder's lanes share, for a double (one channel) or a vector of independent channels (one
// per lane); Ops as in codec/encoder/gain_search-inl.h, arrays read and written through it. No
// include guard: it is included once into each instruction-set namespace of a Highway kernel
// file, where it is compiled for that instruction set.

// The tilt factor of a subframe from the truncated impulse response h of its num/den filter:
// 0.8 times its first normalised correlation where that is positive, else 0. A lane whose
// factor is 0 divides by 1, so that no lane divides by zero.
template <class T, class Ops>
G729_INLINE T tilt_factor(const Ops& o, const double* h) {
    T r0 = o.set(0.0);
    for (int i = 0; i < kPostfilterImpulseLength; ++i) r0 += o.load(h, i) * o.load(h, i);
    T r1 = o.set(0.0);
    for (int i = 0; i < kPostfilterImpulseLength - 1; ++i) r1 += o.load(h, i) * o.load(h, i + 1);
    const auto rising = o.gt(r1, o.set(0.0));
    return o.select(rising, o.set(0.8) * r1 / o.select(rising, r0, o.set(1.0)), o.set(0.0));
}

// The long-term postfilter's output from the best correlation of the searched lags (best), the
// energies of the residual delayed by the best lag and of the current residual (each 0.5 plus
// its squares): out[j] = g0 * res[j] + g * delayed[j] with the gains of the correlation, or the
// residual itself where the correlation is too weak against the energies.
template <class T, class Ops>
G729_INLINE void pitch_postfilter_output(const Ops& o, T best, T energy_delayed,
                                         T energy_current, const double* res,
                                         const double* delayed, double* out) {
    const T corr_max = o.select(o.gt(best, o.set(0.0)), best, o.set(0.0));
    const auto weak = o.lt(corr_max * corr_max, o.set(0.5) * energy_delayed * energy_current);
    // A correlation above the delayed energy takes the largest gain, 1/3.
    const auto capped = o.gt(corr_max, energy_delayed);
    const T h = o.set(0.5) * corr_max;
    const T g = o.select(capped, o.set(0.3333333333333333),
                         (o.set(1.0) / (energy_delayed + h)) * h);
    const T g0 = o.select(capped, o.set(0.6666666666666666), o.set(1.0) - g);
    for (int j = 0; j < 40; ++j) {
        const T r = o.load(res, j);
        o.store(o.select(weak, r, g0 * r + g * o.load(delayed, j)), out, j);
    }
}
