// SPDX-License-Identifier: BSD-2-Clause
// The postfilter's gain control of a subframe, for a double (one channel) or a vector of
// independent channels (one per lane); Ops as in codec/encoder/gain_search-inl.h. No include
// guard: it is included once into each instruction-set namespace of a Highway kernel file,
// where it is compiled for that instruction set.

// From the energies of the unfiltered speech (g_in) and of the postfiltered subframe (g_out,
// non-zero where it is used), the gain's step; then sample by sample the gain smoothed by
// kGainControlFactor and applied to out (element n read and written through Ops), except in
// the lanes of `keep`, which are left as they are. G independent subframes go side by side,
// so that their chains of smoothed gains overlap; gain[g] ends as the gain after subframe g.
template <int G, class T, class Ops>
G729_INLINE void gain_control_subframes(const Ops& o, const T (&g_in)[G], const T (&g_out)[G],
                                        const typename Ops::Mask (&keep)[G], T (&gain)[G],
                                        double* const (&out)[G]) {
    T step[G];
    for (int g = 0; g < G; ++g) {
        step[g] = o.select(o.ne(g_in[g], o.set(0.0)),
                           o.set(1.0 - kGainControlFactor) * o.sqrt(g_in[g] / g_out[g]),
                           o.set(0.0));
    }
    for (int i = 0; i < 40; ++i) {
        for (int g = 0; g < G; ++g) {
            gain[g] = o.set(kGainControlFactor) * gain[g] + step[g];
            const T v = o.load(out[g], i);
            o.store(o.select(keep[g], v, v * gain[g]), out[g], i);
        }
    }
}

// One subframe of one channel or vector of channels.
template <class T, class Ops>
G729_INLINE T gain_control_subframe(const Ops& o, T g_in, T g_out, typename Ops::Mask keep,
                                    T gain, double* out) {
    const T in[1] = {g_in};
    const T energy[1] = {g_out};
    const typename Ops::Mask kept[1] = {keep};
    T gains[1] = {gain};
    double* const outs[1] = {out};
    gain_control_subframes<1>(o, in, energy, kept, gains, outs);
    return gains[0];
}
