// SPDX-License-Identifier: BSD-2-Clause
// Energies as the codec sums them: a start value plus the squares in order.
#pragma once

namespace g729 {

// out[k] = start + x[k][0]^2 + x[k][1]^2 + ... + x[k][length-1]^2, added in that order, for
// K vectors side by side, so that their chains of dependent additions overlap.
template <int K>
inline void squared_sums(const double* const x[K], int length, double start, double out[K]) {
    double s[K];
    for (int k = 0; k < K; k++) s[k] = start;
    for (int n = 0; n < length; n++) {
        for (int k = 0; k < K; k++) s[k] += x[k][n] * x[k][n];
    }
    for (int k = 0; k < K; k++) out[k] = s[k];
}

// squared_sums of count vectors, four at a time (the rest two, then one).
inline void squared_sums_of(const double* const x[], int count, int length, double start,
                            double out[]) {
    int k = 0;
    for (; k + 4 <= count; k += 4) squared_sums<4>(x + k, length, start, out + k);
    if (k + 2 <= count) {
        squared_sums<2>(x + k, length, start, out + k);
        k += 2;
    }
    if (k < count) squared_sums<1>(x + k, length, start, out + k);
}

}  // namespace g729
