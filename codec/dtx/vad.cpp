// SPDX-License-Identifier: BSD-2-Clause
// Voice activity detector: frame energies, low-band energy, spectral distortion and zero
// crossings compared against slowly adapted background estimates.
#include "codec/dtx/vad.h"

#include <cmath>
#include <cstdint>
#include <iterator>

#include "codec/tables/vad_tables.h"

namespace g729 {

namespace {

constexpr int kOrder = 10;
constexpr double kBig = 1e38;
constexpr double kTwoPi = 6.283185308;
constexpr double kStationarySd = 0.002532959;

// Forgetting factors of the background averages, by how many updates they have had: the
// first updates follow the noise quickly, later ones only slowly.
struct BackgroundSmoothing {
    int32_t below;         // applies while the update count is below this (the last: always)
    double energy;         // full-band and low-band energies
    double zero_crossing;  // zero-crossing rate
    double lsf;            // line spectral frequencies
};
constexpr BackgroundSmoothing kBackgroundSmoothing[] = {
    {20, 0.75, 0.8, 0.6},
    {30, 0.95, 0.92, 0.65},
    {40, 0.97, 0.94, 0.7},
    {50, 0.99, 0.96, 0.75},
    {60, 0.995, 0.99, 0.75},
    {INT32_MAX, 0.995, 0.998, 0.75},
};

double min_of_buffer(const double buf[16]) {
    double m = buf[0];
    for (int i = 1; i < 16; i++) {
        if (buf[i] < m) m = buf[i];
    }
    return m;
}

// Multi-boundary decision in the space of the energy, low-band energy, zero-crossing and
// spectral differences: voice when any boundary is crossed.
int32_t boundary_decision(double sd, double dsle, double dse, double dszc) {
    if (sd > 0.00175 * dszc + 0.00085) return 1;
    if (sd > -0.004545455 * dszc + 0.001159091) return 1;
    if (dse < -25.0 * dszc - 5.0) return 1;
    if (dse < 20.0 * dszc - 6.0) return 1;
    if (dse < -4.7) return 1;
    if (dse < 8800.0 * sd - 12.2) return 1;
    if (sd > 0.0009) return 1;
    if (dse < 25.0 * dszc - 7.0) return 1;
    if (dse < -29.09091 * dszc - 4.8182) return 1;
    if (dse < -5.3) return 1;
    if (dsle < 14000.0 * sd - 15.5) return 1;
    if (dsle > 0.928571 * dse + 1.14285) return 1;
    if (dsle < -1.5 * dse - 9.0) return 1;
    if (dsle < 0.714285 * dse - 2.1428571) return 1;
    return 0;
}

}  // namespace

void vad_init(g729_vad_state* vad) {
    for (int i = 0; i < kOrder; i++) vad->mean_lsf[i] = 0.0;
    for (int i = 0; i < 16; i++) vad->min_buffer[i] = 0.0;
    vad->prev_min = 0.0;
    vad->next_min = 0.0;
    vad->min_energy = kBig;
    vad->mean_energy = 0.0;
    vad->mean_full_energy = 0.0;
    vad->mean_low_energy = 0.0;
    vad->mean_zero_crossing = 0.0;
    vad->prev_energy = 0.0;
    vad->silence_count = 0;
    vad->update_count = 0;
    vad->extension_count = 0;
    vad->extension_enabled = 1;
    vad->forced_voice = 0;
    vad->low_energy_count = 0;
}

void vector_subtract(const double* a, const double* b, double* out, int n) {
    for (int i = 0; i < n; i++) out[i] = a[i] - b[i];
}

double dot_product(const double* a, const double* b, int n) {
    double sum = 0.0;
    for (int i = 0; i < n; i++) sum += a[i] * b[i];
    return sum;
}

void weighted_add(const double* x, double a, const double* y, double b, double* out, int n) {
    for (int i = 0; i < n; i++) out[i] = x[i] * a + y[i] * b;
}

void scale_vector(const double* x, double a, double* out, int n) {
    for (int i = 0; i < n; i++) out[i] = x[i] * a;
}

void detect_voice_activity(g729_vad_state* vad, double lsf[10], const double r[13],
                           const double speech_buf[240], int32_t frame_count, int32_t vad_prev,
                           double rc1, int32_t vad_prev2, int32_t* decision) {
    const int32_t n = frame_count;

    // Full-band energy.
    const double energy = 10.0 * std::log10(r[0] / 240.0 + 1e-38);

    // Low-band energy from the autocorrelation and the low-band filter's autocorrelation.
    double acc = 0.0;
    for (int i = 1; i <= 12; i++) acc += r[i] * vad_low_band_correlation[i];
    const double s = r[0] * vad_low_band_correlation[0] + 2.0 * acc;
    const double energy_low =
        s < 0.0 ? 10.0 * std::log10(1e-38) : 10.0 * std::log10(1e-38 + s / 240.0);

    // Spectral distortion against the background LSFs (normalised frequencies).
    for (int i = 0; i < kOrder; i++) lsf[i] = lsf[i] / kTwoPi;
    double diff[kOrder];
    vector_subtract(lsf, vad->mean_lsf, diff, kOrder);
    const double sd = dot_product(diff, diff, kOrder);

    // Zero-crossing rate over the frame and the first look-ahead sample.
    int crossings = 0;
    for (int i = 121; i <= 200; i++) {
        if (speech_buf[i - 1] * speech_buf[i] < 0.0) crossings++;
    }
    const double zc = crossings / 80.0;

    // Minimum energy: per 8-frame block during start-up, then a sliding window of 16 blocks.
    if (n <= 128) {
        if (energy < vad->min_energy) {
            vad->min_energy = energy;
            vad->prev_min = energy;
        }
        if (n % 8 == 0) {
            vad->min_buffer[n / 8 - 1] = vad->min_energy;
            vad->min_energy = kBig;
        }
    }
    if (n % 8 == 0 && n <= 128) vad->prev_min = min_of_buffer(vad->min_buffer);
    if (n > 128) {
        if (n % 8 == 1) {
            vad->min_energy = vad->prev_min;
            vad->next_min = kBig;
        }
        if (energy < vad->min_energy) vad->min_energy = energy;
        if (energy < vad->next_min) vad->next_min = energy;
        if (n % 8 == 0) {
            for (int i = 0; i < 15; i++) vad->min_buffer[i] = vad->min_buffer[i + 1];
            vad->min_buffer[15] = vad->next_min;
            vad->prev_min = min_of_buffer(vad->min_buffer);
        }
    }

    int32_t d = 0;

    // Learning phase: averages over the frames above 21 dB.
    if (n <= 32) {
        if (energy < 21.0) {
            d = 0;
            vad->low_energy_count++;
        } else {
            d = 1;
            const int32_t m = n - vad->low_energy_count;
            const double md = static_cast<double>(m);
            vad->mean_energy = (vad->mean_energy * (md - 1.0) + energy) / md;
            vad->mean_zero_crossing = (vad->mean_zero_crossing * (md - 1.0) + zc) / md;
            double tmp[kOrder];
            weighted_add(vad->mean_lsf, md - 1.0, lsf, 1.0, tmp, kOrder);
            scale_vector(tmp, 1.0 / md, vad->mean_lsf, kOrder);
        }
        if (n < 32) {
            vad->prev_energy = energy;
            *decision = d;
            return;
        }
        vad->mean_full_energy = vad->mean_energy - 10.0;
        vad->mean_low_energy = vad->mean_energy - 12.0;
    }

    const double dse = vad->mean_full_energy - energy;
    const double dsle = vad->mean_low_energy - energy_low;
    const double dszc = vad->mean_zero_crossing - zc;

    d = energy < 21.0 ? 0 : boundary_decision(sd, dsle, dse, dszc);

    // Smoothing: keep voicing through a loud frame after voice.
    vad->forced_voice = 0;
    if (vad_prev == 1 && d == 0 && energy > vad->mean_full_energy + 2.0 && energy > 21.0) {
        d = 1;
        vad->forced_voice = 1;
    }

    // Hangover after two voice frames, at most 5 frames in a row.
    if (vad->extension_enabled != 1) {
        vad->extension_enabled = 1;
    } else if (vad_prev == 1 && vad_prev2 == 1 && d == 0 &&
               std::fabs(vad->prev_energy - energy) <= 3.0) {
        vad->extension_count++;
        d = 1;
        vad->forced_voice = 1;
        if (vad->extension_count >= 5) {
            vad->extension_enabled = 0;
            vad->extension_count = 0;
        }
    }

    if (d == 0) vad->silence_count++;

    // A small energy rise after a long silence is not taken as voice.
    if (d == 1) {
        if (vad->silence_count > 10 && energy - vad->prev_energy <= 3.0) d = 0;
        vad->silence_count = 0;
    }

    // Background adaptation on frames close to the background level.
    if (energy < vad->mean_full_energy + 3.0) {
        if (n > 128 && vad->forced_voice == 0 && rc1 < 0.6) d = 0;
        if (rc1 < 0.75 && sd < kStationarySd) {
            vad->update_count++;
            const int32_t u = vad->update_count;
            const BackgroundSmoothing* b = std::begin(kBackgroundSmoothing);
            while (b + 1 != std::end(kBackgroundSmoothing) && u >= b->below) ++b;
            const double k = b->energy;
            const double z = b->zero_crossing;
            const double sl = b->lsf;
            weighted_add(vad->mean_lsf, sl, lsf, 1.0 - sl, vad->mean_lsf, kOrder);
            vad->mean_low_energy = k * vad->mean_low_energy + (1.0 - k) * energy_low;
            vad->mean_full_energy = k * vad->mean_full_energy + (1.0 - k) * energy;
            vad->mean_zero_crossing = z * vad->mean_zero_crossing + (1.0 - z) * zc;
        }
    }

    if ((n > 128 && vad->mean_full_energy < vad->min_energy && sd < kStationarySd) ||
        vad->mean_full_energy > vad->min_energy + 10.0) {
        vad->mean_full_energy = vad->min_energy;
        vad->update_count = 0;
    }

    vad->prev_energy = energy;
    *decision = d;
}

}  // namespace g729
