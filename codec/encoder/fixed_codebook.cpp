// Algebraic codebook search: one pulse per track (tracks 3 and 4 share the fourth pulse),
// chosen by a fixed depth-first tree of 320 candidates.
#include "codec/encoder/fixed_codebook.h"

#include "codec/lpc/primitives.h"

namespace {

constexpr int kLen = 40;
constexpr int kTracks = 5;
constexpr int kPerTrack = 8;

// Layout of the correlation matrix: five diagonal blocks of 8, then nine 8x8 blocks.
constexpr int kDiag[kTracks] = {0, 8, 16, 24, 32};
constexpr int k01 = 40;
constexpr int k02 = k01 + 64;
constexpr int k03 = k02 + 64;
constexpr int k04 = k03 + 64;
constexpr int k12 = k04 + 64;
constexpr int k13 = k12 + 64;
constexpr int k14 = k13 + 64;
constexpr int k23 = k14 + 64;
constexpr int k24 = k23 + 64;
constexpr int kMatrixSize = k24 + 64;
static_assert(kMatrixSize == 616);

// Offset of the block (row track, column track) with row < column; -1 when not stored.
constexpr int kBlock[kTracks][kTracks] = {
    {-1, k01, k02, k03, k04},
    {-1, -1, k12, k13, k14},
    {-1, -1, -1, k23, k24},
    {-1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1},
};

// Correlations of the impulse response at the positions the search reads. Each diagonal is a
// running sum that starts at the end of the subframe, so every entry adds its products in
// ascending order of the impulse-response index.
void correlation_matrix(const double* h, double* rr) {
    double cor = 0.0;
    for (int k = 0; k < kLen; k++) {
        const int p = kLen - 1 - k;
        cor += h[k] * h[k];
        rr[kDiag[p % kTracks] + p / kTracks] = cor;
    }

    // Differences that are a multiple of 5 join positions of one track: never stored.
    for (int residue = 1; residue < kTracks; residue++) {
        for (int delta = residue; delta < kLen; delta += kTracks) {
            cor = 0.0;
            for (int k = 0; k + delta < kLen; k++) {
                const int j = kLen - 1 - k;
                const int i = j - delta;
                cor += h[k] * h[k + delta];
                int lo = i;
                int hi = j;
                if (lo % kTracks > hi % kTracks) {
                    lo = j;
                    hi = i;
                }
                const int block = kBlock[lo % kTracks][hi % kTracks];
                if (block >= 0) {
                    rr[block + kPerTrack * (lo / kTracks) + hi / kTracks] = cor;
                }
            }
        }
    }
}

// Multiplies every stored cross term rr[i][j] by sign[i] * sign[j].
void fold_signs(const double* sign, const double* negsign, double* rr) {
    for (int ti = 0; ti < kTracks; ti++) {
        for (int tj = ti + 1; tj < kTracks; tj++) {
            const int block = kBlock[ti][tj];
            if (block < 0) {
                continue;
            }
            for (int r = 0; r < kPerTrack; r++) {
                const int i = ti + kTracks * r;
                const double* s = sign[i] > 0.0 ? sign : negsign;
                double* row = rr + block + kPerTrack * r;
                for (int c = 0; c < kPerTrack; c++) {
                    row[c] = row[c] * s[tj + kTracks * c];
                }
            }
        }
    }
}

// Position of the largest d of a track, skipping `excluded`; the lowest position wins a tie.
int track_maximum(const double* d, int track, int excluded) {
    double best = -1.0;
    int pos = track;
    for (int p = track; p < kLen; p += kTracks) {
        if (p == excluded) {
            continue;
        }
        if (d[p] > best) {
            best = d[p];
            pos = p;
        }
    }
    return pos;
}

// (ps2^2, alp2) beats (sq, alp) of the stage.
bool better(double ps2, double alp2, double sq, double alp) {
    return ps2 * ps2 * alp - alp2 * sq > 0.0;
}

struct Choice {
    double sq;
    double alp;
    int pos[4];  // by track: 0, 1, 2, 3/4
};

struct Search {
    const double* d;
    const double* rr;
};

// Pair of track 2 and track t first, then tracks 0 and 1.
Choice search_variant_1(const Search& s, int t) {
    const double* d = s.d;
    const double* rr00 = s.rr + kDiag[0];
    const double* rr11 = s.rr + kDiag[1];
    const double* rr22 = s.rr + kDiag[2];
    const double* rrtt = s.rr + kDiag[t];
    const double* rr01 = s.rr + k01;
    const double* rr02 = s.rr + k02;
    const double* rr0t = s.rr + kBlock[0][t];
    const double* rr12 = s.rr + k12;
    const double* rr1t = s.rr + kBlock[1][t];
    const double* rr2t = s.rr + kBlock[2][t];

    int cand[2];
    cand[0] = track_maximum(d, 2, -1);
    cand[1] = track_maximum(d, 2, cand[0]);

    double sq = -1.0;
    double alp = 1.0;
    double ps = 0.0;
    int i0 = cand[0];
    int i1 = t;
    for (int c = 0; c < 2; c++) {
        const int a0 = cand[c];
        for (int k = 0; k < kPerTrack; k++) {
            const int a1 = t + kTracks * k;
            const double ps2 = d[a1] + d[a0];
            const double alp2 =
                (rr2t[kPerTrack * (a0 / kTracks) + k] + 0.5 * rr22[a0 / kTracks]) + 0.5 * rrtt[k];
            if (better(ps2, alp2, sq, alp)) {
                sq = ps2 * ps2;
                alp = alp2;
                ps = ps2;
                i0 = a0;
                i1 = a1;
            }
        }
    }

    const int r0 = i0 / kTracks;
    const int r1 = i1 / kTracks;
    double tmp[kPerTrack];
    for (int k = 0; k < kPerTrack; k++) {
        tmp[k] = (rr12[kPerTrack * k + r0] + rr1t[kPerTrack * k + r1]) + 0.5 * rr11[k];
    }

    double sq_b = -1.0;
    double alp_b = 1.0;
    int i2 = 0;
    int i3 = 1;
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        const int a2 = kTracks * k2;
        const double ps1 = d[a2] + ps;
        const double alp1 =
            ((rr02[kPerTrack * k2 + r0] + alp) + rr0t[kPerTrack * k2 + r1]) + 0.5 * rr00[k2];
        for (int k3 = 0; k3 < kPerTrack; k3++) {
            const int a3 = 1 + kTracks * k3;
            const double ps2 = d[a3] + ps1;
            const double alp2 = (rr01[kPerTrack * k2 + k3] + alp1) + tmp[k3];
            if (better(ps2, alp2, sq_b, alp_b)) {
                sq_b = ps2 * ps2;
                alp_b = alp2;
                i2 = a2;
                i3 = a3;
            }
        }
    }
    return Choice{sq_b, alp_b, {i2, i3, i0, i1}};
}

// Pair of track t and track 0 first, then tracks 1 and 2.
Choice search_variant_2(const Search& s, int t) {
    const double* d = s.d;
    const double* rr00 = s.rr + kDiag[0];
    const double* rr11 = s.rr + kDiag[1];
    const double* rr22 = s.rr + kDiag[2];
    const double* rrtt = s.rr + kDiag[t];
    const double* rr01 = s.rr + k01;
    const double* rr02 = s.rr + k02;
    const double* rr0t = s.rr + kBlock[0][t];
    const double* rr12 = s.rr + k12;
    const double* rr1t = s.rr + kBlock[1][t];
    const double* rr2t = s.rr + kBlock[2][t];

    int cand[2];
    cand[0] = track_maximum(d, t, -1);
    cand[1] = track_maximum(d, t, cand[0]);

    double sq = -1.0;
    double alp = 1.0;
    double ps = 0.0;
    int i0 = cand[0];
    int i1 = 0;
    for (int c = 0; c < 2; c++) {
        const int a0 = cand[c];
        for (int k = 0; k < kPerTrack; k++) {
            const int a1 = kTracks * k;
            const double ps2 = d[a1] + d[a0];
            const double alp2 =
                (rr0t[kPerTrack * k + a0 / kTracks] + 0.5 * rrtt[a0 / kTracks]) + 0.5 * rr00[k];
            if (better(ps2, alp2, sq, alp)) {
                sq = ps2 * ps2;
                alp = alp2;
                ps = ps2;
                i0 = a0;
                i1 = a1;
            }
        }
    }

    const int r0 = i0 / kTracks;
    const int r1 = i1 / kTracks;
    double tmp[kPerTrack];
    for (int k = 0; k < kPerTrack; k++) {
        tmp[k] = (rr2t[kPerTrack * k + r0] + rr02[kPerTrack * r1 + k]) + 0.5 * rr22[k];
    }

    double sq_b = -1.0;
    double alp_b = 1.0;
    int i2 = 1;
    int i3 = 2;
    for (int k2 = 0; k2 < kPerTrack; k2++) {
        const int a2 = 1 + kTracks * k2;
        const double ps1 = d[a2] + ps;
        const double alp1 =
            ((rr1t[kPerTrack * k2 + r0] + alp) + rr01[kPerTrack * r1 + k2]) + 0.5 * rr11[k2];
        for (int k3 = 0; k3 < kPerTrack; k3++) {
            const int a3 = 2 + kTracks * k3;
            const double ps2 = d[a3] + ps1;
            const double alp2 = (rr12[kPerTrack * k2 + k3] + alp1) + tmp[k3];
            if (better(ps2, alp2, sq_b, alp_b)) {
                sq_b = ps2 * ps2;
                alp_b = alp2;
                i2 = a2;
                i3 = a3;
            }
        }
    }
    return Choice{sq_b, alp_b, {i1, i2, i3, i0}};
}

}  // namespace

void correlate_target_impulse(const double h[40], const double x[40], double d[40]) {
    for (int n = 0; n < kLen; n++) {
        double s = 0.0;
        for (int j = 0; j < kLen - n; j++) {
            s += x[n + j] * h[j];
        }
        d[n] = s;
    }
}

int32_t fixed_codebook_search(const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp) {
    // Pitch sharpening of the impulse response; reads only h[0..19], never a changed sample.
    if (t0 < kLen) {
        for (int i = t0; i < kLen; i++) {
            h[i] = h[i] + sharp * h[i - t0];
        }
    }

    double rr[kMatrixSize];
    correlation_matrix(h, rr);

    double d[kLen];
    correlate_target_impulse(h, x, d);

    double sign[kLen];
    double negsign[kLen];
    for (int n = 0; n < kLen; n++) {
        if (d[n] >= 0.0) {
            sign[n] = 1.0;
        } else {
            sign[n] = -1.0;
            d[n] = -d[n];
        }
        negsign[n] = -sign[n];
    }
    fold_signs(sign, negsign, rr);

    const Search s{d, rr};
    double psk = -1.0;
    double alpk = 1.0;
    int pos[4] = {0, 1, 2, 3};
    for (int t = 3; t <= 4; t++) {
        for (int variant = 1; variant <= 2; variant++) {
            const Choice c = variant == 1 ? search_variant_1(s, t) : search_variant_2(s, t);
            if (alpk * c.sq - psk * c.alp > 0.0) {
                psk = c.sq;
                alpk = c.alp;
                for (int k = 0; k < 4; k++) {
                    pos[k] = c.pos[k];
                }
            }
        }
    }

    zero_doubles(code, kLen);
    for (int k = 0; k < 4; k++) {
        code[pos[k]] = sign[pos[k]];
    }

    // Filtered code vector: the signed, shifted sharpened impulse responses.
    const int p0 = pos[0];
    for (int n = 0; n < p0; n++) {
        y[n] = 0.0;
    }
    for (int n = p0; n < kLen; n++) {
        y[n] = sign[p0] * h[n - p0];
    }
    for (int k = 1; k < 4; k++) {
        const int p = pos[k];
        if (sign[p] > 0.0) {
            for (int n = p; n < kLen; n++) {
                y[n] = y[n] + h[n - p];
            }
        } else {
            for (int n = p; n < kLen; n++) {
                y[n] = y[n] - h[n - p];
            }
        }
    }

    int32_t signs = 0;
    for (int k = 0; k < 4; k++) {
        if (sign[pos[k]] > 0.0) {
            signs += 1 << k;
        }
    }
    *sign_index = signs;

    const int p3 = pos[3];
    const int j = p3 % kTracks == 4 ? 1 : 0;
    const int32_t index =
        pos[0] / kTracks + 8 * (pos[1] / kTracks) + 64 * (pos[2] / kTracks) +
        512 * (2 * (p3 / kTracks) + j);

    // Pitch sharpening of the code vector; y already holds its filtered form.
    if (t0 < kLen) {
        for (int i = t0; i < kLen; i++) {
            code[i] = code[i] + sharp * code[i - t0];
        }
    }
    return index;
}
