// SPDX-License-Identifier: BSD-2-Clause
// The postfilter's gain control of a subframe, for a double (one channel) or a vector of
// independent channels (one per lane); Ops as in codec/encoder/gain_search-inl.h. No include
// guard: it is included once into each instruction-set namespace of a Highway kernel file,
// where it is compiled for that instruction set.

// From the energies of the unfiltered speech (g_in) and of the postfiltered subframe (g_out,
// non-zero where it is used), the gain's step; then sample by sample the gain smoothed by
// kGainControlFactor and applied to out (element n read and written through Ops), except in
// the lanes of `keep`, which are left as they are. Returns the gain after the subframe.
template <class T, class Ops>
G729_INLINE T gain_control_subframe(const Ops& o, T g_in, T g_out, typename Ops::Mask keep,
                                    T gain, double* out) {
    const T step = o.select(o.ne(g_in, o.set(0.0)),
                            o.set(1.0 - kGainControlFactor) * o.sqrt(g_in / g_out), o.set(0.0));
    for (int i = 0; i < 40; ++i) {
        gain = o.set(kGainControlFactor) * gain + step;
        const T v = o.load(out, i);
        o.store(o.select(keep, v, v * gain), out, i);
    }
    return gain;
}
