// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the postfilter for many channels at once, one channel per vector lane:
// the preparation before the short-term synthesis filters (the residual, the long-term
// postfilter and the tilt compensation; pitch_postfilter-inl.h shared with the single-channel
// postfilter) and the last step (the gain control, gain_control-inl.h; the frame's output and
// the next frame's residual-filter past).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_postfilter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstring>

#include "codec/batch/lane_postfilter.h"
#include "codec/decoder/postfilter.h"
#include "codec/frame_constants.h"
#include "codec/g729.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/decoder/gain_control-inl.h"
#include "codec/decoder/pitch_postfilter-inl.h"

constexpr int kSub = G729_SUBFRAME_SIZE;
constexpr int kSpeechPast = 10;  // unfiltered samples before the frame, the residual's past
constexpr int kSearchedLags = 7;  // the decoder's lag and three on each side
// Rows of the delayed residual the search reads: res[j - t_max .. j - t_min], j = 0..39.
constexpr int kDelayedRows = kSub + kSearchedLags - 1;

// postfilter_prepare of up to kLanes channels, one per lane, each lane making the single
// step's computations: the tilt factors, then per subframe the residual through the numerator
// (its terms in the single filter's order), the long-term postfilter of the speech frames (the
// correlations of the seven lags around the decoder's, each summed from 0.0 with j ascending,
// the first largest kept; the delayed energy at that lag), the tilt compensation, and the
// residual history moved on by the subframe.
void postfilter_prepare_group(g729_postfilter_state* const* pf, const double* const* speech,
                              const int32_t* const* lags, const int32_t* frame_types,
                              PostfilterWork* const* work, int n) {
    const Tag d;
    const LaneOps o;
    // Stack: about 16 KB with eight lanes; arrays are reused where their uses do not overlap.
    alignas(64) double x[(kSpeechPast + G729_FRAME_SIZE) * kLanes];
    alignas(64) double num[11 * kLanes];
    alignas(64) double h[kPostfilterImpulseLength * kLanes];
    alignas(64) double tilt_memory[kLanes] = {};
    alignas(64) double speech_frame[kLanes] = {};
    const double* rows[kLanes] = {};
    for (int l = 0; l < n; ++l) rows[l] = speech[l] - kSpeechPast;
    interleave_rows(rows, n, kSpeechPast + G729_FRAME_SIZE, x);
    Vec mu[2];
    for (int sf = 0; sf < 2; ++sf) {
        for (int l = 0; l < n; ++l) rows[l] = work[l]->h[sf];
        interleave_rows(rows, n, kPostfilterImpulseLength, h);
        mu[sf] = tilt_factor<Vec>(o, h);
    }
    for (int l = 0; l < n; ++l) {
        tilt_memory[l] = pf[l]->tilt_memory;
        speech_frame[l] = frame_types[l] == G729_FRAME_SPEECH ? 1.0 : 0.0;
    }
    Vec previous = hn::Load(d, tilt_memory);
    const auto postfiltered = hn::Eq(hn::Load(d, speech_frame), hn::Set(d, 1.0));

    alignas(64) double res[kSub * kLanes];
    alignas(64) double delayed_rows[kDelayedRows * kLanes];
    // The delayed residual, then the long-term postfilter's output in its place.
    alignas(64) double delayed[kSub * kLanes];
    double* filtered = delayed;
    double* history[kLanes] = {};
    for (int l = 0; l < n; ++l) history[l] = pf[l]->residual_history + kMaxPitchLag;
    for (int sf = 0; sf < 2; ++sf) {
        // Residual through the numerator: a[1] * x[n - 1] + x[n], then a[k] * x[n - k].
        const double* xs = x + (kSpeechPast + sf * kSub) * kLanes;
        for (int l = 0; l < n; ++l) rows[l] = work[l]->num[sf];
        interleave_rows(rows, n, 11, num);
        Vec a[11];
        for (int k = 1; k <= 10; ++k) a[k] = o.load(num, k);
        for (int i = 0; i < kSub; ++i) {
            Vec s = a[1] * o.load(xs, i - 1) + o.load(xs, i);
            for (int k = 2; k <= 10; ++k) s += a[k] * o.load(xs, i - k);
            hn::Store(s, d, res + i * kLanes);
        }
        deinterleave_rows(res, n, kSub, history);

        // Each lane's delayed residual from its own t_max back: row r is res[r - t_max].
        for (int l = 0; l < n; ++l) {
            // Frames other than speech are not postfiltered: their lane searches the longest
            // lags, whatever their lag holds, and never reads outside the history.
            int lo = kMaxPitchLag - (kSearchedLags - 1);
            const int lag = lags[l][sf];
            if (frame_types[l] == G729_FRAME_SPEECH && lag + 3 <= kMaxPitchLag) lo = lag - 3;
            rows[l] = history[l] - (lo + kSearchedLags - 1);
        }
        interleave_rows(rows, n, kDelayedRows, delayed_rows);

        // Lag t_min + c reads row j + 6 - c.
        Vec corr[kSearchedLags];
        for (Vec& c : corr) c = hn::Zero(d);
        Vec energy_current = hn::Set(d, 0.5);
        for (int j = 0; j < kSub; ++j) {
            const Vec r = o.load(res, j);
            for (int c = 0; c < kSearchedLags; ++c) {
                corr[c] += r * o.load(delayed_rows, j + kSearchedLags - 1 - c);
            }
            energy_current += r * r;
        }
        Vec best = hn::Set(d, -1e38);
        Vec best_c = hn::Zero(d);
        for (int c = 0; c < kSearchedLags; ++c) {
            const auto take = hn::Gt(corr[c], best);
            best = hn::IfThenElse(take, corr[c], best);
            best_c = hn::IfThenElse(take, hn::Set(d, c), best_c);
        }
        // The residual delayed by each lane's best lag: its row j + 6 - c, gathered.
        const Vec first_row = (hn::Set(d, kSearchedLags - 1) - best_c) * hn::Set(d, kLanes) +
                              hn::Iota(d, 0.0);
        const Index at = to_index(first_row);
        Vec energy_delayed = hn::Set(d, 0.5);
        for (int j = 0; j < kSub; ++j) {
            const Vec v = o.gather(delayed_rows, j, at);
            hn::Store(v, d, delayed + j * kLanes);
            energy_delayed += v * v;
        }
        pitch_postfilter_output(o, best, energy_delayed, energy_current, res, delayed, filtered);

        // Frames other than speech pass the residual; then the tilt compensation, each sample
        // less mu times the one before it (the last of the previous subframe for the first).
        const Vec m = mu[sf];
        Vec last = hn::Zero(d);
        for (int i = kSub - 1; i >= 0; --i) {
            const Vec v = hn::IfThenElse(postfiltered, o.load(filtered, i), o.load(res, i));
            if (i == kSub - 1) last = v;
            hn::Store(v, d, filtered + i * kLanes);
        }
        for (int i = kSub - 1; i >= 1; --i) {
            hn::Store(o.load(filtered, i) - m * o.load(filtered, i - 1), d, filtered + i * kLanes);
        }
        hn::Store(o.load(filtered, 0) - m * previous, d, filtered);
        previous = last;
        double* out[kLanes] = {};
        for (int l = 0; l < n; ++l) out[l] = work[l]->filtered[sf];
        deinterleave_rows(filtered, n, kSub, out);

        for (int l = 0; l < n; ++l) {
            double* past = pf[l]->residual_history;
            std::memmove(past, past + kSub, kMaxPitchLag * sizeof(double));
        }
    }
    hn::Store(previous, d, tilt_memory);
    for (int l = 0; l < n; ++l) pf[l]->tilt_memory = tilt_memory[l];
}

void PostfilterPrepareChannels(g729_postfilter_state* const* pf, const double* const* speech,
                               const int32_t* const* lags, const int32_t* frame_types,
                               PostfilterWork* const* work, int count) {
    for_each_group(count, [&](int first, int n) {
        postfilter_prepare_group(pf + first, speech + first, lags + first, frame_types + first,
                                 work + first, n);
    });
}

// postfilter_finish of up to N channels (N: the lanes of D), one per lane: the gain control
// of both subframes, each lane as the single step (energies summed in order from 0.0, the
// smoothed gain's recursion, a silent output leaving the samples and zeroing the gain), then
// the frame's output and the next frame's residual-filter past.
void postfilter_finish_group(g729_postfilter_state* const* pf, double* const* speech,
                             PostfilterWork* const* work, int n) {
    using D = Tag;  // LaneOps' interleaving
    using V = hn::Vec<D>;
    const D d;
    constexpr int lanes = lanes_of<D>();
    alignas(64) double out[G729_FRAME_SIZE * lanes];
    alignas(64) double in[G729_FRAME_SIZE * lanes];
    alignas(64) double agc[lanes] = {};
    const double* out_rows[lanes] = {};
    const double* in_rows[lanes] = {};
    for (int l = 0; l < n; ++l) {
        out_rows[l] = work[l]->out;
        in_rows[l] = speech[l];
        agc[l] = pf[l]->agc_gain;
    }
    interleave_rows<D>(out_rows, n, G729_FRAME_SIZE, out);
    interleave_rows<D>(in_rows, n, G729_FRAME_SIZE, in);
    V gain = hn::Load(d, agc);
    for (int sf = 0; sf < 2; ++sf) {
        double* o = out + sf * G729_SUBFRAME_SIZE * lanes;
        const double* s = in + sf * G729_SUBFRAME_SIZE * lanes;
        V g_out = hn::Zero(d);
        V g_in = hn::Zero(d);
        for (int i = 0; i < G729_SUBFRAME_SIZE; ++i) {
            const V vo = hn::Load(d, o + i * lanes);
            const V vs = hn::Load(d, s + i * lanes);
            g_out += vo * vo;
            g_in += vs * vs;
        }
        const auto silent = hn::Eq(g_out, hn::Zero(d));
        // A silent lane (or one without a channel) divides by 1 instead of 0: its step is
        // never used, and a host that traps floating-point faults sees none.
        const V divisor = hn::IfThenElse(silent, hn::Set(d, 1.0), g_out);
        gain = gain_control_subframe(LaneOps(), g_in, divisor, silent, gain, o);
        gain = hn::IfThenZeroElse(silent, gain);
    }
    hn::Store(gain, d, agc);
    double* speech_rows[lanes] = {};
    for (int l = 0; l < n; ++l) {
        pf[l]->agc_gain = agc[l];
        // Keep the unfiltered end of the frame as the next frame's residual-filter past.
        for (int i = 0; i < 10; ++i) speech[l][i - 10] = speech[l][70 + i];
        speech_rows[l] = speech[l];
    }
    deinterleave_rows<D>(out, n, G729_FRAME_SIZE, speech_rows);
}

void PostfilterFinishChannels(g729_postfilter_state* const* pf, double* const* speech,
                              PostfilterWork* const* work, int count) {
    for_each_group(count, [&](int first, int n) {
        postfilter_finish_group(pf + first, speech + first, work + first, n);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(PostfilterFinishChannels);
HWY_EXPORT(PostfilterPrepareChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void postfilter_prepare_channels(g729_postfilter_state* const pf[], const double* const speech[],
                                 const int32_t* const lags[], const int32_t frame_types[],
                                 PostfilterWork* const work[], int count, int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(PostfilterPrepareChannels), kernels)(pf, speech, lags,
                                                                        frame_types, work, count);
}

void postfilter_finish_channels(g729_postfilter_state* const pf[], double* const speech[],
                                PostfilterWork* const work[], int count, int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(PostfilterFinishChannels), kernels)(pf, speech, work, count);
}
}  // namespace g729
#endif  // HWY_ONCE
