// Filters and small numeric routines shared by the whole codec.
#include "codec/lpc/primitives.h"

#include <cmath>

namespace {

// Memory values smaller than this are stored as exact zeros.
constexpr double kFlushThreshold = 2e-5;

// Longest block the synthesis filter handles in one call (one subframe).
constexpr int kMaxBlock = 40;

}  // namespace

void lpc_synthesis_filter(const double a[11], const double* x, double* y, int L, double mem[10],
                          int update) {
    if (L < 0) L = 0;
    if (L > kMaxBlock) L = kMaxBlock;

    // The memory is read whole before any output is written: mem may point into x.
    double w[10 + kMaxBlock];
    for (int k = 0; k < 10; ++k) w[k] = mem[k];

    for (int n = 0; n < L; ++n) {
        const double* h = w + n;  // h[9] is y[n-1], h[0] is y[n-10]
        double s = x[n];
        s -= a[1] * h[9];
        s -= a[2] * h[8];
        s -= a[3] * h[7];
        s -= a[4] * h[6];
        s -= a[5] * h[5];
        s -= a[6] * h[4];
        s -= a[7] * h[3];
        s -= a[8] * h[2];
        s -= a[9] * h[1];
        s -= a[10] * h[0];
        w[n + 10] = s;
        y[n] = s;
    }

    if (update != 0) {
        for (int k = 0; k < 10; ++k) {
            const double v = w[L + k];
            mem[k] = (std::fabs(v) < kFlushThreshold) ? 0.0 : v;
        }
    }
}

void lpc_residual_filter(const double a[11], const double* x, double* y, int L) {
    for (int n = 0; n < L; ++n) {
        double s = a[1] * x[n - 1] + x[n];
        s += a[2] * x[n - 2];
        s += a[3] * x[n - 3];
        s += a[4] * x[n - 4];
        s += a[5] * x[n - 5];
        s += a[6] * x[n - 6];
        s += a[7] * x[n - 7];
        s += a[8] * x[n - 8];
        s += a[9] * x[n - 9];
        s += a[10] * x[n - 10];
        y[n] = s;
    }
}

void lpc_weight(const double* a, int m, double* out, double gamma) {
    out[0] = a[0];
    double g = gamma;
    for (int i = 1; i <= m; ++i) {
        out[i] = a[i] * g;
        g = g * gamma;
    }
}

void zero_doubles(double* buf, int n) {
    for (int i = 0; i < n; ++i) buf[i] = 0.0;
}

void copy_doubles(const double* src, double* dst, int n) {
    for (int i = 0; i < n; ++i) dst[i] = src[i];
}

int16_t random_next(int16_t* seed) {
    // 16-bit multiply-add: compute exactly in 32 bits, then wrap modulo 65536.
    const int32_t v = static_cast<int32_t>(*seed) * 31821 + 13849;
    *seed = static_cast<int16_t>(static_cast<uint16_t>(v));
    return *seed;
}

void lsf_ma_memory_save(const double mem[4][10], double copy[4][10]) {
    for (int k = 0; k < 4; ++k) copy_doubles(mem[k], copy[k], 10);
}

void lsf_ma_memory_restore(double mem[4][10], const double copy[4][10]) {
    for (int k = 0; k < 4; ++k) copy_doubles(copy[k], mem[k], 10);
}
