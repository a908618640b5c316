// SPDX-License-Identifier: BSD-2-Clause
// The adaptive-codebook vector: the past excitation delayed by a lag of whole and third
// samples, through the 1/3-resolution interpolation filter. The encoder's pitch search, the
// decoder and the comfort-noise generator build it alike. No include guard: it is included
// into each instruction-set namespace of a Highway kernel file, after simd_kernels-inl.h.

// The vector kernel interpolates a vector of outputs n..n+N-1 at once (N: the lanes of the
// widest vectors), when none of them reads another (the rightmost tap of output n+N-1 lies
// before n); each lane adds its terms in the scalar order.
HWY_INLINE void interpolate_excitation(double* exc, int t0, int frac, int length) {
    const double* w = excitation_interpolation_filter;
    int f = 0;
    int b = 0;
    if (frac <= 0) {
        f = -frac;
        b = -t0;
    } else {
        f = 2;
        b = -t0 - 1;
    }
    const double* w_left = w + f;
    const double* w_right = w + (3 - f);

    int n = 0;
    if constexpr (kVectors) {
        const hn::ScalableTag<double> d;
        using V = hn::Vec<decltype(d)>;
        const int lanes = static_cast<int>(hn::Lanes(d));
        if (b + lanes + 9 < 0) {
            V wl[10];
            V wr[10];
            for (int i = 0; i < 10; i++) {
                wl[i] = hn::Set(d, w_left[3 * i]);
                wr[i] = hn::Set(d, w_right[3 * i]);
            }
            for (; n + lanes <= length; n += lanes) {
                const double* left = exc + n + b;
                const double* right = exc + n + b + 1;
                V s = hn::Zero(d);
                for (int i = 0; i < 10; i++) {
                    s = s + (hn::LoadU(d, left - i) * wl[i] + hn::LoadU(d, right + i) * wr[i]);
                }
                hn::StoreU(s, d, exc + n);
            }
        }
    }
    for (; n < length; n++) {
        const double* left = exc + n + b;
        const double* right = exc + n + b + 1;
        double s = 0.0;
        s += left[0] * w_left[0] + right[0] * w_right[0];
        s += left[-1] * w_left[3] + right[1] * w_right[3];
        s += left[-2] * w_left[6] + right[2] * w_right[6];
        s += left[-3] * w_left[9] + right[3] * w_right[9];
        s += left[-4] * w_left[12] + right[4] * w_right[12];
        s += left[-5] * w_left[15] + right[5] * w_right[15];
        s += left[-6] * w_left[18] + right[6] * w_right[18];
        s += left[-7] * w_left[21] + right[7] * w_right[21];
        s += left[-8] * w_left[24] + right[8] * w_right[24];
        s += left[-9] * w_left[27] + right[9] * w_right[27];
        // Stored at once: later outputs of short lags read it.
        exc[n] = s;
    }
}
