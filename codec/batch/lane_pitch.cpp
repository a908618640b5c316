// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the encoder's pitch searches for many channels at once, one channel per
// vector lane: the open-loop maxima and lag choice (open_loop_search-inl.h and
// open_loop_choice-inl.h, shared with the single-channel search) and the closed-loop search.
// The closed-loop search is written apart from the single-channel one, which shifts one window
// over the lags and interpolates from its own outputs; here every lane reads its own lag's
// window, gathered. It makes lane by lane the computations of the single-channel search
// (pitch.cpp): the backward-filtered target, the biased correlation of every lag of the
// subframe's range, the first largest kept; then the adaptive-codebook vector interpolated at
// the fractions 0, -1/3 and +1/3 of the chosen lag, each with its biased correlation, and the
// same choice between them.
//
// A channel's lag decides where its lane reads the past excitation: each channel's window is
// moved into its lane already shifted by its own lag, so that all lanes then read at the same
// index. The interpolation of a short lag reads its own earlier outputs; those are copied into
// the window, each lane's at its own row, soon after they are computed.
//
// The batched encoder's pitch steps of a subframe run as one kernel (pitch_channels): the
// second subframe's targets, the closed-loop searches, the adaptive-codebook vectors' filter
// and their gains, with the targets and filtered vectors left in the subframe's lanes area
// (lane_subframe.h) for the kernels after; codebook_targets_channels makes the algebraic
// codebook's targets there.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_pitch.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_pitch.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/frame_constants.h"
#include "codec/lpc/primitives.h"
#include "codec/lpc/second_order_section.h"
#include "codec/tables/gain_tables.h"
#include "codec/tables/pitch_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;


#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/synthesis_step-inl.h"
#include "codec/batch/lane_filters-inl.h"
#include "codec/encoder/gain_search-inl.h"
#include "codec/encoder/target_correlation-inl.h"
#include "codec/encoder/open_loop_search-inl.h"
#include "codec/encoder/open_loop_choice-inl.h"

constexpr int kLen = G729_SUBFRAME_SIZE;
constexpr int kMaxLags = 10;                        // lags of a subframe's range, at most
constexpr int kTaps = 10;                           // interpolation taps on each side
constexpr int kReach = kTaps + 1;                   // samples before the lag a window starts
constexpr int kWindowRows = kLen + 2 * kTaps + 1;   // interpolation rows read: 0..60

Vec row(const double* a, int i) { return hn::Load(Tag(), a + i * kLanes); }

// s = 0.1, then s += d[n] * v[n] for n ascending: the search's biased correlation, of the
// three fractions' vectors at once (three chains of sums side by side).
void biased_dots(const double* d, const double* v0, const double* vm, const double* vp,
                 Vec* r0, Vec* rm, Vec* rp) {
    Vec s0 = hn::Set(Tag(), 0.1);
    Vec sm = s0;
    Vec sp = s0;
    for (int n = 0; n < kLen; ++n) {
        const Vec dn = row(d, n);
        s0 += dn * row(v0, n);
        sm += dn * row(vm, n);
        sp += dn * row(vp, n);
    }
    *r0 = s0;
    *rm = sm;
    *rp = sp;
}

// The past excitation delayed by t0 + frac/3 for every lane, into out (interleaved). f: the
// filter phase (0, 1, 2 for the fractions 0, -1/3, +1/3); shift: 1 for +1/3 (which reads one
// sample further back), else 0; min_start: the least start. window[j] holds lane l's
// exc[j - t0[l] - 11] (kWindowRows rows, and a spare one); from row start[l] = t0[l] + 11 on,
// a lane's rows are its own outputs, output n at row start + n: each is copied there, lane by
// lane, after the block of outputs following its own (a scatter instruction is slow on some
// processors), and first read by output n + kMinPitchLag - 10 (the lag at least
// kMinPitchLag), later still. So every row from start[l] on is written before it is read, and
// the rows before are never written: the three fractions interpolate from one window without
// restoring it.
constexpr int kInterpolated = 4;
static_assert(kLen % kInterpolated == 0 && 2 * kInterpolated <= kMinPitchLag - 10);
void interpolate(double* window, const int* start, int min_start, int f, int shift,
                 double* out) {
    const Tag d;
    Vec wl[kTaps];
    Vec wr[kTaps];
    for (int i = 0; i < kTaps; ++i) {
        wl[i] = hn::Set(d, excitation_interpolation_filter[f + 3 * i]);
        wr[i] = hn::Set(d, excitation_interpolation_filter[3 - f + 3 * i]);
    }
    const double* const w = window;
    // Output m of lane l into lane l of row start[l] + m, or of the spare row after the window
    // (no branch on the lane: which lanes read their outputs back varies group by group).
    const auto copy_output = [&](int m) {
        const double* from = out + m * kLanes;
        for (int l = 0; l < kLanes; ++l) {
            const int r = start[l] + m < kWindowRows ? start[l] + m : kWindowRows;
            window[r * kLanes + l] = from[l];
        }
    };
    // kInterpolated outputs at a time, each summed in its own order: their chains of sums
    // overlap (one output's ten dependent additions alone keep the adders waiting). Tap i of
    // output u reads rows b + u - i and b + u + 1 + i; from one tap to the next the rows slide
    // by one, so each tap loads two rows and keeps the others in registers.
    for (int n0 = 0; n0 < kLen; n0 += kInterpolated) {
        const int b = n0 + kReach - shift;  // the row of exc[n0 - t0 - shift]
        Vec s[kInterpolated];
        Vec left[kInterpolated];
        Vec right[kInterpolated];
        for (int u = 0; u < kInterpolated; ++u) {
            s[u] = hn::Zero(d);
            left[u] = row(w, b + u);
            right[u] = row(w, b + u + 1);
        }
        // Kept a loop: unrolled, the compiler loads every row at once and spills them.
#pragma GCC unroll 1
        for (int i = 0; i < kTaps; ++i) {
            for (int u = 0; u < kInterpolated; ++u) {
                s[u] += left[u] * wl[i] + right[u] * wr[i];
            }
            if (i + 1 == kTaps) break;
            for (int u = kInterpolated - 1; u > 0; --u) left[u] = left[u - 1];
            left[0] = row(w, b - i - 1);
            for (int u = 0; u + 1 < kInterpolated; ++u) right[u] = right[u + 1];
            right[kInterpolated - 1] = row(w, b + kInterpolated + 1 + i);
        }
        for (int u = 0; u < kInterpolated; ++u) hn::Store(s[u], d, out + (n0 + u) * kLanes);
        // The previous block's outputs, into their rows.
        for (int m = n0 - kInterpolated; m >= 0 && m < n0 && m + min_start < kWindowRows; ++m) {
            copy_output(m);
        }
    }
}

// r[k] = 0.1 + sum of d[i] * q[i + L - 1 - k] over i ascending, for the lags k < L, all the
// sums side by side (L known when compiled, so that they stay in registers).
template <int L>
HWY_INLINE void lag_correlations(const double* d, const double* q, Vec* r) {
    Vec s[L];
    for (Vec& v : s) v = hn::Set(Tag(), 0.1);
    for (int i = 0; i < kLen; ++i) {
        const Vec di = row(d, i);
        for (int k = 0; k < L; ++k) s[k] += di * row(q, i + L - 1 - k);
    }
    for (int k = 0; k < L; ++k) r[k] = s[k];
}

void integer_lag_correlations(const double* d, const double* q, int lags, Vec* r) {
    switch (lags) {
        case 1: return lag_correlations<1>(d, q, r);
        case 2: return lag_correlations<2>(d, q, r);
        case 3: return lag_correlations<3>(d, q, r);
        case 4: return lag_correlations<4>(d, q, r);
        case 5: return lag_correlations<5>(d, q, r);
        case 6: return lag_correlations<6>(d, q, r);
        case 7: return lag_correlations<7>(d, q, r);
        case 8: return lag_correlations<8>(d, q, r);
        case 9: return lag_correlations<9>(d, q, r);
        default: return lag_correlations<kMaxLags>(d, q, r);
    }
}

// With keep_x and keep_v, the target and the chosen adaptive-codebook vector (interleaved)
// are left there too; with x_kept, the target is taken from keep_x (interleaved already)
// instead of x.
// Not inlined: its arrays and the filters' spilled registers then share the stack.
HWY_NOINLINE void closed_loop_group(double* const* exc, const double* const* x,
                                    const double* const* h, const int* t0_min,
                                    const int* t0_max, int subframe_offset, int n, int* t0_out,
                                    int* frac_out, double* keep_x = nullptr,
                                    double* keep_v = nullptr, bool x_kept = false) {
    const Tag d;
    alignas(64) double hb[kLen * kLanes];
    alignas(64) double x_rows[kLen * kLanes];
    alignas(64) double db[kLen * kLanes];
    interleave_rows(h, n, kLen, hb);
    double* const xb = x_kept ? keep_x : x_rows;
    if (!x_kept) interleave_rows(x, n, kLen, xb);
    target_correlation<Vec>(LaneOps(), hb, xb, db);

    // Integer lag: lane l's lag t0_min[l] + k correlates d with exc[n - t0_min[l] - k], its
    // window moved in from exc - t0_min[l] - (lags - 1).
    int lags = 1;
    alignas(64) double lo[kLanes] = {};
    alignas(64) double last[kLanes] = {};
    const double* windows[kLanes] = {};
    for (int l = 0; l < n; ++l) {
        const int count = t0_max[l] - t0_min[l] + 1;
        lags = count > lags ? (count < kMaxLags ? count : kMaxLags) : lags;
    }
    // Lanes without a channel take the longest lag, whose outputs no row reaches.
    for (int l = 0; l < kLanes; ++l) lo[l] = kMaxPitchLag;
    for (int l = 0; l < n; ++l) {
        lo[l] = t0_min[l];
        last[l] = t0_max[l] - t0_min[l];
        windows[l] = exc[l] - t0_min[l] - (lags - 1);
    }
    alignas(64) double q[(kLen + kMaxLags) * kLanes];
    interleave_rows(windows, n, kLen + lags - 1, q);
    Vec r[kMaxLags];
    integer_lag_correlations(db, q, lags, r);
    Vec best = hn::Set(d, -1e38);
    Vec t0 = hn::Load(d, lo);
    const Vec own_last = hn::Load(d, last);
    for (int k = 0; k < lags; ++k) {
        const auto take = hn::And(hn::Gt(r[k], best), hn::Le(hn::Set(d, k), own_last));
        best = select_lanes(take, r[k], best);
        t0 = select_lanes(take, hn::Load(d, lo) + hn::Set(d, k), t0);
    }

    // Fractions: the past moved in shifted by each lane's lag, then the three interpolations.
    alignas(64) double lag[kLanes] = {};
    hn::Store(t0, d, lag);
    const double* past_rows[kLanes] = {};
    for (int l = 0; l < n; ++l) past_rows[l] = exc[l] - static_cast<int>(lag[l]) - kReach;
    alignas(64) double past[(kWindowRows + 1) * kLanes];  // the window, and a spare row
    interleave_rows(past_rows, n, kWindowRows, past);
    // Lanes without a channel hold the longest lag, whose outputs no row reaches.
    int start[kLanes];
    int min_start = kWindowRows;
    for (int l = 0; l < kLanes; ++l) {
        start[l] = static_cast<int>(lag[l]) + kReach;
        min_start = start[l] < min_start ? start[l] : min_start;
    }
    alignas(64) double v0[kLen * kLanes];
    alignas(64) double vm[kLen * kLanes];
    double* const vp = q;  // the integer lags' windows are no longer read
    static_assert(sizeof q >= kLen * kLanes * sizeof(double));
    interpolate(past, start, min_start, 0, 0, v0);
    interpolate(past, start, min_start, 1, 0, vm);
    interpolate(past, start, min_start, 2, 1, vp);
    Vec r0;
    Vec rm;
    Vec rp;
    biased_dots(db, v0, vm, vp, &r0, &rm, &rp);

    // Long lags of the first subframe are coded in whole samples only.
    const auto refine = subframe_offset == 0 ? hn::Le(t0, hn::Set(d, 84.0)) : hn::Eq(t0, t0);
    const auto minus = hn::And(refine, hn::Gt(rm, r0));
    const Vec best_frac = select_lanes(minus, rm, r0);
    const auto plus = hn::And(refine, hn::Gt(rp, best_frac));
    const auto keep_minus = hn::AndNot(plus, minus);
    for (int i = 0; i < kLen; ++i) {
        const Vec v =
            select_lanes(plus, row(vp, i), select_lanes(keep_minus, row(vm, i), row(v0, i)));
        hn::Store(v, d, v0 + i * kLanes);
    }
    deinterleave_rows(v0, n, kLen, exc);
    if (keep_v != nullptr) {
        for (int i = 0; i < kLen; ++i) hn::Store(row(v0, i), d, keep_v + i * kLanes);
        if (!x_kept) {
            for (int i = 0; i < kLen; ++i) hn::Store(row(xb, i), d, keep_x + i * kLanes);
        }
    }

    const Vec frac = select_lanes(plus, hn::Set(d, 1.0),
                                  select_lanes(keep_minus, hn::Set(d, -1.0), hn::Zero(d)));
    alignas(64) double fr[kLanes] = {};
    hn::Store(frac, d, fr);
    for (int l = 0; l < n; ++l) {
        t0_out[l] = static_cast<int>(lag[l]);
        frac_out[l] = static_cast<int>(fr[l]);
    }
}

void ClosedLoopChannels(double* const* exc, const double* const* x, const double* const* h,
                        const int* t0_min, const int* t0_max, int subframe_offset, int count,
                        int* t0, int* frac) {
    for_each_group(count, [&](int first, int n) {
        closed_loop_group(exc + first, x + first, h + first, t0_min + first, t0_max + first,
                          subframe_offset, n, t0 + first, frac + first);
    });
}

// The samples of the targets and filtered vectors the channels' records take (the rest stay
// in lanes): those the weighted error's memory is made of.
constexpr int kKeptTail = kLen - 10;

// Each vector's filter 1/ap from its coefficient rows in ak (rows 1..10 of ap).
template <int G>
HWY_INLINE void filter_coefficients(double* const* ak, Vec (&a)[G][11]) {
    const LaneOps o;
    for (int g = 0; g < G; ++g) {
        a[g][0] = o.set(1.0);
        for (int k = 1; k <= 10; ++k) a[g][k] = o.load(ak[g], k - 1);
    }
}

// The last ten samples of each vector's rows in src into its channels' dst (n channels): those
// the channels' records take (kKeptTail).
template <int G>
HWY_INLINE void tails_out(int n, double* const* src, double* const* dst) {
    for (int g = 0; g < G; ++g) {
        const int used = used_lanes(n, g);
        double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) rows[l] = dst[g * kLanes + l] + kKeptTail;
        deinterleave_rows(src[g] + kKeptTail * kLanes, used, kLen - kKeptTail, rows);
    }
}

// The adaptive-codebook vectors vk of up to G vectors of channels through 1/ap from zero memory
// (G chains side by side), in place, then the gains' correlations with the targets xk. Apart
// from the searches, so that their arrays and these spilled registers share the stack.
template <int G>
HWY_NOINLINE void filtered_vectors_and_gains(const PitchChannels& p, int n, double* const* xk,
                                             double* const* vk, double* const* ak,
                                             double* const* mb) {
    const Tag d;
    const LaneOps o;
    Vec a[G][11];
    filter_coefficients<G>(ak, a);
    for (int g = 0; g < G; ++g) {
        for (int k = 0; k < 10; ++k) o.store(hn::Zero(d), mb[g], k);
    }
    const double* in[G];
    for (int g = 0; g < G; ++g) in[g] = vk[g];
    synthesis_run<G, Tag>(a, mb, in, vk, kLen);
    tails_out<G>(n, vk, p.y1);
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        Vec c[2];
        const Vec gain = pitch_gain_correlations(o, xk[g], vk[g], kLen, c);
        alignas(64) double out[3][kLanes] = {};
        hn::Store(c[0], d, out[0]);
        hn::Store(c[1], d, out[1]);
        hn::Store(gain, d, out[2]);
        for (int l = 0; l < used; ++l) {
            p.correlations[first + l][0] = out[0][l];
            p.correlations[first + l][1] = out[1][l];
            p.gain[first + l] = out[2][l];
        }
    }
}

// The targets of up to G vectors of channels from their residuals through 1/ap (its rows in
// ak; into xk, interleaved, and each channel's target): lpc_synthesis_filter from the weighted
// error's memory, not kept; the residual through vk.
template <int G>
HWY_NOINLINE void subframe_targets(const PitchChannels& p, int n, double* const* xk,
                                   double* const* vk, double* const* ak, double* const* mb) {
    Vec a[G][11];
    filter_coefficients<G>(ak, a);
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        const double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) rows[l] = p.residual[first + l];
        interleave_rows(rows, used, kLen, vk[g]);
        for (int l = 0; l < used; ++l) rows[l] = p.error_memory[first + l];
        interleave_rows(rows, used, 10, mb[g]);
    }
    const double* in[G];
    for (int g = 0; g < G; ++g) in[g] = vk[g];
    synthesis_run<G, Tag>(a, mb, in, xk, kLen);
    tails_out<G>(n, xk, p.target);
}

// Up to G vectors of channels: the targets where they are filtered here, the closed-loop
// searches vector by vector, then the filtered vectors and gains.
template <int G>
void pitch_group(const PitchChannels& p, int n, double* lanes) {
    // Each vector's rows in the subframe's area (lane_subframe.h): its target, its
    // adaptive-codebook vector (then the filtered one in its place), its filter's coefficients
    // (rows 1..10), its memory.
    double* xk[G];
    double* vk[G];
    double* ak[G];
    double* mb[G];
    for (int g = 0; g < G; ++g) {
        double* const rows = subframe_lanes_of(lanes, g, kLanes);
        xk[g] = rows + kTargetRows * kLanes;
        vk[g] = rows + kFilteredRows * kLanes;
        ak[g] = rows + kFilterRows * kLanes;
        mb[g] = rows + kFilterMemoryRows * kLanes;
        // The subframe's weighted filters, for the targets and the filtered vectors.
        const double* filters[kLanes] = {};
        const int used = used_lanes(n, g);
        for (int l = 0; l < used; ++l) filters[l] = p.ap[g * kLanes + l] + 1;
        interleave_rows(filters, used, 10, ak[g]);
    }
    if (p.residual != nullptr) subframe_targets<G>(p, n, xk, vk, ak, mb);
    const bool x_kept = p.residual != nullptr || p.targets_in_lanes;
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        closed_loop_group(p.exc + first, p.x + first, p.h + first, p.t0_min + first,
                          p.t0_max + first, p.subframe_offset, used, p.t0 + first,
                          p.frac + first, xk[g], vk[g], x_kept);
    }
    filtered_vectors_and_gains<G>(p, n, xk, vk, ak, mb);
}

void PitchStepsChannels(const PitchChannels& p, int count, double* lanes) {
    for_each_block(count, [&](int first, int n, auto vectors) {
        pitch_group<decltype(vectors)::value>(p.from(first), n,
                                              subframe_lanes_of(lanes, first / kLanes, kLanes));
    });
}

// x2 = x - gp y1 of every vector in the subframe's area, each lane with its channel's gain.
void CodebookTargetsChannels(const double* gp, int count, double* lanes) {
    const Tag d;
    for (int first = 0; first < count; first += kLanes) {
        const int n = count - first < kLanes ? count - first : kLanes;
        alignas(64) double gains[kLanes] = {};
        for (int l = 0; l < n; ++l) gains[l] = gp[first + l];
        const Vec g = hn::Load(d, gains);
        double* const rows = subframe_lanes_of(lanes, first / kLanes, kLanes);
        for (int i = 0; i < kLen; ++i) {
            const Vec x = row(rows, kTargetRows + i);
            const Vec y = row(rows, kFilteredRows + i);
            hn::Store(x - g * y, d, rows + (kCodebookTargetRows + i) * kLanes);
        }
    }
}

// The open-loop pitch search's best lag of each of its three ranges and its correlation
// (open_loop_search-inl.h) for frames of 80 weighted-speech samples, one channel per lane.
void open_loop_group(const double* const* wsp, int n, int (*t)[3], double (*max)[3]) {
    constexpr int kPast = kMaxPitchLag;  // wsp[-143..-1] is read
    constexpr int kLength = G729_FRAME_SIZE;
    const LaneOps L;
    alignas(64) double sw[(kPast + kLength) * kLanes];
    const double* rows[kLanes] = {};
    for (int l = 0; l < n && l < L.n; ++l) rows[l] = wsp[l] - kPast;
    interleave_rows(rows, n, kPast + kLength, sw);
    const int ranges[3][3] = {{20, 39, 1}, {40, 79, 1}, {80, 142, 2}};
    for (int range = 0; range < 3; ++range) {
        Vec best;
        const Vec lag = open_loop_range_best<8>(LaneOps(), sw, kPast, kLength,
                                                ranges[range][0], ranges[range][1],
                                                ranges[range][2], &best);
        alignas(64) double b[kLanes] = {};
        alignas(64) double g[kLanes] = {};
        hn::Store(best, L.d, b);
        hn::Store(lag, L.d, g);
        for (int l = 0; l < n && l < L.n; ++l) {
            max[l][range] = b[l];
            t[l][range] = static_cast<int>(g[l]);
        }
    }
}

void OpenLoopMaximaChannels(const double* const* wsp, int count, int (*t)[3], double (*max)[3]) {
    for_each_group(count, [&](int first, int n) {
        open_loop_group(wsp + first, n, t + first, max + first);
    });
}

// LaneOps on arrays of the even samples alone: the row of sample j (even) is j / 2.
struct EvenRowOps : LaneOps {
    Vec load(const double* a, int i) const { return hn::Load(d, a + i / 2 * n); }
};

// dst[i * N + l] = rows[l][2 * i] for i < count (a multiple of N, the lanes of D): the even
// samples of rows[0..N-1] side by side; rows[l][0..2 count - 1] is read. Each lane's next N
// even samples are picked from two vectors of its row, then transposed as interleave_rows
// does (values stored one by one and read back as a vector would wait for the stores).
template <class D = Tag>
void interleave_even_rows(const double* const* rows, int count, double* dst) {
    const D d;
    constexpr int N = lanes_of<D>();
    for (int i = 0; i < count; i += N) {
        hn::Vec<D> v[N];
        for (int l = 0; l < N; ++l) {
            const double* r = rows[l] + 2 * i;
            if constexpr (N == 1) {
                v[l] = hn::LoadU(d, r);  // one lane: its even sample is the first
            } else {
                // Unqualified, found by argument type: the one-lane target has no ConcatEven.
                v[l] = ConcatEven(d, hn::LoadU(d, r + N), hn::LoadU(d, r));
            }
        }
        transpose<D, N>(v);
        for (int k = 0; k < N; ++k) hn::Store(v[k], d, dst + (i + k) * N);
    }
}

// The open-loop lags of frames of 80 weighted-speech samples from their three ranges' maxima
// (open_loop_choice-inl.h), one channel per lane. The frame's even samples and those of each
// window the choice asks for are moved in with every lane's samples already shifted back by
// that lane's own lag, so that all lanes read at the same rows.
void open_loop_choose_group(const double* const* wsp, int n, const int (*t)[3],
                            const double (*max)[3], int* lag) {
    constexpr int kLength = G729_FRAME_SIZE;
    constexpr int kRows = kLength / 2 + 1;  // a window's even samples 0..80, the last apart
    // What lanes without a channel read.
    alignas(64) static constexpr double kSilence[kLength + 1] = {};
    const EvenRowOps o;
    const double* rows[kLanes];
    for (int l = 0; l < kLanes; ++l) rows[l] = l < n ? wsp[l] : kSilence;
    alignas(64) double frame[kLength / 2 * kLanes];
    interleave_even_rows(rows, kLength / 2, frame);
    alignas(64) double lagged[4][kRows * kLanes];  // one per window the choice asks for
    int windows = 0;
    const auto window = [&](Vec lags) {
        alignas(64) double back[kLanes];
        hn::Store(lags, o.d, back);
        for (int l = 0; l < n; ++l) rows[l] = wsp[l] - static_cast<int>(back[l]);
        double* dst = lagged[windows++ & 3];
        interleave_even_rows(rows, kRows - 1, dst);
        for (int l = 0; l < kLanes; ++l) dst[(kRows - 1) * kLanes + l] = rows[l][kLength];
        return static_cast<const double*>(dst);
    };
    // Lanes without a channel hold zero samples, lag 0 and a zero maximum.
    alignas(64) double lags_in[3][kLanes] = {};
    alignas(64) double max_in[3][kLanes] = {};
    for (int l = 0; l < n; ++l) {
        for (int r = 0; r < 3; ++r) {
            lags_in[r][l] = t[l][r];
            max_in[r][l] = max[l][r];
        }
    }
    const Vec chosen = open_loop_choice(
        o, frame, kLength, window, hn::Load(o.d, lags_in[0]), hn::Load(o.d, lags_in[1]),
        hn::Load(o.d, lags_in[2]), hn::Load(o.d, max_in[0]), hn::Load(o.d, max_in[1]),
        hn::Load(o.d, max_in[2]));
    alignas(64) double out[kLanes];
    hn::Store(chosen, o.d, out);
    for (int l = 0; l < n; ++l) lag[l] = static_cast<int>(out[l]);
}

void OpenLoopChooseChannels(const double* const* wsp, int count, const int (*t)[3],
                            const double (*max)[3], int* lag) {
    for_each_group(count, [&](int first, int n) {
        open_loop_choose_group(wsp + first, n, t + first, max + first, lag + first);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(ClosedLoopChannels);
HWY_EXPORT(PitchStepsChannels);
HWY_EXPORT(CodebookTargetsChannels);
HWY_EXPORT(OpenLoopMaximaChannels);
HWY_EXPORT(OpenLoopChooseChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void closed_loop_channels(double* const exc[], const double* const x[], const double* const h[],
                          const int t0_min[], const int t0_max[], int subframe_offset, int count,
                          int t0[], int frac[], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(ClosedLoopChannels), kernels)(exc, x, h, t0_min, t0_max,
                                                                 subframe_offset, count, t0, frac);
}

void pitch_channels(const PitchChannels& p, int count, double* lanes, int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(PitchStepsChannels), kernels)(p, count, lanes);
}

void codebook_targets_channels(const double gp[], int count, double* lanes, int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(CodebookTargetsChannels), kernels)(gp, count, lanes);
}

void open_loop_maxima_channels(const double* const wsp[], int count, int (*t)[3],
                               double (*max)[3], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(OpenLoopMaximaChannels), kernels)(wsp, count, t, max);
}

void open_loop_choose_channels(const double* const wsp[], int count, const int (*t)[3],
                               const double (*max)[3], int lag[], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(OpenLoopChooseChannels), kernels)(wsp, count, t, max, lag);
}
}  // namespace g729
#endif  // HWY_ONCE
