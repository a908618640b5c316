// Adaptive postfilter (long-term, short-term, tilt compensation, gain control) and the
// output high-pass filter of the decoder.
#include "codec/decoder/postfilter.h"

#include <cmath>

#include "codec/lpc/primitives.h"

namespace {

constexpr int kMaxLag = 143;
constexpr int kImpulseLength = 22;

// Long-term postfilter on the residual of one subframe. res points at the current 40 samples
// with kMaxLag past samples before them. Lags from the decoder are at least 19, so the search
// window never reaches beyond the current subframe.
void pitch_postfilter(const double* res, int lag, double out[40]) {
    int t_max = lag + 3;
    int t_min = lag - 3;
    if (t_max > kMaxLag) {
        t_max = kMaxLag;
        t_min = kMaxLag - 6;
    }

    double best = -1e38;
    int best_lag = t_min;
    for (int k = t_min; k <= t_max; ++k) {
        double corr = 0.0;
        for (int j = 0; j < 40; ++j) corr += res[j] * res[j - k];
        if (corr > best) {
            best = corr;
            best_lag = k;
        }
    }

    double energy_delayed = 0.5;
    for (int j = 0; j < 40; ++j) energy_delayed += res[j - best_lag] * res[j - best_lag];
    double energy_current = 0.5;
    for (int j = 0; j < 40; ++j) energy_current += res[j] * res[j];

    const double corr_max = best > 0.0 ? best : 0.0;
    if (corr_max * corr_max < 0.5 * energy_delayed * energy_current) {
        copy_doubles(res, out, 40);
        return;
    }

    double g;
    double g0;
    if (corr_max > energy_delayed) {
        g = 0.3333333333333333;
        g0 = 0.6666666666666666;
    } else {
        const double h = 0.5 * corr_max;
        g = (1.0 / (energy_delayed + h)) * h;
        g0 = 1.0 - g;
    }
    for (int j = 0; j < 40; ++j) out[j] = g0 * res[j] + g * res[j - best_lag];
}

// Tilt factor from the first correlations of the truncated impulse response of num/den.
double tilt_factor(const double num[11], const double den[11]) {
    double h[kImpulseLength];
    for (int i = 0; i < 11; ++i) h[i] = num[i];
    for (int i = 11; i < kImpulseLength; ++i) h[i] = 0.0;
    double zero_mem[10] = {};
    lpc_synthesis_filter(den, h, h, kImpulseLength, zero_mem, 0);

    double r0 = 0.0;
    for (int i = 0; i < kImpulseLength; ++i) r0 += h[i] * h[i];
    double r1 = 0.0;
    for (int i = 0; i < kImpulseLength - 1; ++i) r1 += h[i] * h[i + 1];
    return r1 > 0.0 ? 0.8 * r1 / r0 : 0.0;
}

// Scales out so that its energy follows that of the unfiltered speech, smoothly.
void gain_control(double* agc_gain, const double* speech, double out[40]) {
    double g_out = 0.0;
    for (int i = 0; i < 40; ++i) g_out += out[i] * out[i];
    if (g_out == 0.0) {
        *agc_gain = 0.0;
        return;
    }

    double g_in = 0.0;
    for (int i = 0; i < 40; ++i) g_in += speech[i] * speech[i];
    const double step = g_in != 0.0 ? 0.09999999999999998 * std::sqrt(g_in / g_out) : 0.0;

    double gain = *agc_gain;
    for (int i = 0; i < 40; ++i) {
        gain = 0.9 * gain + step;
        out[i] = out[i] * gain;
    }
    *agc_gain = gain;
}

}  // namespace

void postfilter_frame(g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type) {
    double out[80];
    double* res = pf->residual_history + kMaxLag;

    for (int sf = 0; sf < 2; ++sf) {
        const double* a = lpc + sf * 11;
        const double* s = speech + sf * 40;
        double* o = out + sf * 40;

        double num[11];
        double den[11];
        lpc_weight(a, 10, num, 0.55);
        lpc_weight(a, 10, den, 0.7);

        // Residual through the numerator; the previous 10 (unfiltered) samples are its past.
        lpc_residual_filter(num, s, res, 40);

        double filtered[40];
        if (frame_type == 1) {
            pitch_postfilter(res, lags[sf], filtered);
        } else {
            copy_doubles(res, filtered, 40);
        }

        const double mu = tilt_factor(num, den);
        const double last = filtered[39];
        for (int i = 39; i >= 1; --i) filtered[i] = filtered[i] - mu * filtered[i - 1];
        filtered[0] = filtered[0] - mu * pf->tilt_memory;
        pf->tilt_memory = last;

        lpc_synthesis_filter(den, filtered, o, 40, pf->postfilter_synthesis_memory, 1);

        gain_control(&pf->agc_gain, s, o);

        copy_doubles(pf->residual_history + 40, pf->residual_history, kMaxLag);
    }

    // Keep the unfiltered end of the frame as the next frame's residual-filter past.
    copy_doubles(speech + 70, speech - 10, 10);
    copy_doubles(out, speech, 80);
}

void post_highpass_filter(double mem[4], double* samples, int count) {
    for (int n = 0; n < count; ++n) {
        const double x = samples[n];
        const double y = 1.9330735 * mem[2] - 0.93589199 * mem[3] + 0.93980581 * x -
                         1.8795834 * mem[0] + 0.93980581 * mem[1];
        mem[1] = mem[0];
        mem[0] = x;
        mem[3] = mem[2];
        mem[2] = y;
        samples[n] = y;
    }
}
