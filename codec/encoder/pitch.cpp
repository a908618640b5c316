// Pitch (adaptive-codebook) analysis of the encoder.
#include "codec/encoder/pitch.h"

#include <cmath>

#include "codec/encoder/fixed_codebook.h"
#include "codec/lpc/primitives.h"
#include "codec/tables/pitch_tables.h"

namespace {

constexpr int kSubframe = 40;

// Correlation of the even samples of the frame with the signal lag samples back.
double even_correlation(const double* sw, int length, int lag) {
    double s = 0.0;
    for (int j = 0; j < length; j += 2) {
        s += sw[j] * sw[j - lag];
    }
    return s;
}

// Energy of the even samples lag samples back, with a 0.01 bias.
double even_energy(const double* sw, int length, int lag) {
    double s = 0.01;
    for (int j = 0; j < length; j += 2) {
        s += sw[j - lag] * sw[j - lag];
    }
    return s;
}

// Best lag of lag_lo..lag_hi (step apart); the smallest lag wins a tie.
int best_lag(const double* sw, int length, int lag_lo, int lag_hi, int step, double* best) {
    double max = -1e38;
    int lag = lag_lo;
    for (int t = lag_lo; t <= lag_hi; t += step) {
        const double c = even_correlation(sw, length, t);
        if (c > max) {
            max = c;
            lag = t;
        }
    }
    *best = max;
    return lag;
}

double normalised(const double* sw, int length, int lag, double corr) {
    const double inv = 1.0 / std::sqrt(even_energy(sw, length, lag));
    return corr * inv;
}

int iabs(int v) { return v < 0 ? -v : v; }

// Correlation of d with a candidate vector, biased by 0.1.
double biased_dot(const double* d, const double* v, int length) {
    double s = 0.1;
    for (int n = 0; n < length; n++) {
        s += d[n] * v[n];
    }
    return s;
}

}  // namespace

int32_t open_loop_pitch_search(const double* wsp, int length) {
    double max1 = 0.0;
    double max2 = 0.0;
    double max3 = 0.0;
    const int t1 = best_lag(wsp, length, 20, 39, 1, &max1);
    const int t2 = best_lag(wsp, length, 40, 79, 1, &max2);
    int t3 = best_lag(wsp, length, 80, 142, 2, &max3);

    // Refine the even lag of the long range with its two neighbours.
    const int even = t3;
    const double c_up = even_correlation(wsp, length, even + 1);
    if (c_up > max3) {
        max3 = c_up;
        t3 = even + 1;
    }
    const double c_down = even_correlation(wsp, length, even - 1);
    if (c_down > max3) {
        max3 = c_down;
        t3 = even - 1;
    }

    double m1 = normalised(wsp, length, t1, max1);
    double m2 = normalised(wsp, length, t2, max2);
    const double m3 = normalised(wsp, length, t3, max3);

    // Favour shorter lags whose multiples match a longer winner.
    if (iabs(2 * t2 - t3) <= 4) {
        m2 = m2 + 0.25 * m3;
    }
    if (iabs(3 * t2 - t3) <= 6) {
        m2 = m2 + 0.25 * m3;
    }
    if (iabs(2 * t1 - t2) <= 4) {
        m1 = m1 + 0.2 * m2;
    }
    if (iabs(3 * t1 - t2) <= 6) {
        m1 = m1 + 0.2 * m2;
    }

    double m = m1;
    int lag = t1;
    if (m2 > m1) {
        m = m2;
        lag = t2;
    }
    if (m3 > m) {
        lag = t3;
    }
    return lag;
}

int32_t closed_loop_pitch_search(double* exc, const double x[40], const double h[40], int length,
                                 int t0_min, int t0_max, int subframe_offset, int32_t* frac) {
    const int len = length < 0 ? 0 : (length > kSubframe ? kSubframe : length);

    double d[kSubframe];
    correlate_target_impulse(h, x, d);

    // Integer lag: correlate the backward-filtered target with the past excitation.
    double max = -1e38;
    int t0 = t0_min;
    for (int t = t0_min; t <= t0_max; t++) {
        const double r = biased_dot(d, exc - t, len);
        if (r > max) {
            max = r;
            t0 = t;
        }
    }

    adaptive_codebook_interpolate(exc, t0, 0, len);
    const double r0 = biased_dot(d, exc, len);
    *frac = 0;

    // Long lags of the first subframe are coded in whole samples only.
    if (subframe_offset == 0 && t0 > 84) {
        return t0;
    }

    double saved[kSubframe];
    copy_doubles(exc, saved, len);

    double best = r0;
    adaptive_codebook_interpolate(exc, t0, -1, len);
    const double r_minus = biased_dot(d, exc, len);
    if (r_minus > r0) {
        *frac = -1;
        best = r_minus;
        copy_doubles(exc, saved, len);
    }

    adaptive_codebook_interpolate(exc, t0, 1, len);
    const double r_plus = biased_dot(d, exc, len);
    if (r_plus > best) {
        *frac = 1;
    } else {
        copy_doubles(saved, exc, len);
    }
    return t0;
}

void adaptive_codebook_interpolate(double* exc, int t0, int frac, int length) {
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

    for (int n = 0; n < length; n++) {
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

int32_t encode_pitch_lag(int t0, int frac, int32_t* t0_min, int32_t* t0_max, int lag_min,
                         int lag_max, int subframe_offset) {
    if (subframe_offset != 0) {
        return 3 * (t0 - *t0_min) + frac + 2;
    }

    int32_t index = 0;
    if (t0 <= 85) {
        index = 3 * t0 - 58 + frac;
    } else {
        index = t0 + 112;
    }

    // Range of the second subframe: ten lags around the first one.
    int32_t lo = t0 - 5;
    if (lo < lag_min) {
        lo = lag_min;
    }
    int32_t hi = lo + 9;
    if (hi > lag_max) {
        hi = lag_max;
        lo = lag_max - 9;
    }
    *t0_min = lo;
    *t0_max = hi;
    return index;
}

double adaptive_codebook_gain(const double* x, const double* y, double gain_correlations[5],
                              int length) {
    if (length <= 0) {
        gain_correlations[0] = 0.01;
        gain_correlations[1] = 0.01;
        return 0.0;
    }
    double yy = 0.01;
    double xy = 0.0;
    for (int n = 0; n < length; n++) {
        yy += y[n] * y[n];
    }
    for (int n = 0; n < length; n++) {
        xy += x[n] * y[n];
    }
    gain_correlations[0] = yy;
    gain_correlations[1] = -2.0 * xy + 0.01;

    const double gain = xy / yy;
    if (gain < 0.0) {
        return 0.0;
    }
    return gain > 1.2 ? 1.2 : gain;
}
