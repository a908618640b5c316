// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the postfilter for many channels at once, one channel per vector lane:
// the preparation before the short-term synthesis filters (the residual, the long-term
// postfilter and the tilt compensation; pitch_postfilter-inl.h shared with the single-channel
// postfilter) and the last step (the gain control, gain_control-inl.h; the frame's output and
// the next frame's residual-filter past), each on its own; and the decoder's last steps in
// one kernel, from the speech synthesis through the postfilter to the output high-pass
// filter, with the frames kept in lanes.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_postfilter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstring>

#include "codec/batch/lane_postfilter.h"
#include "codec/decoder/postfilter.h"
#include "codec/frame_constants.h"
#include "codec/g729.h"
#include "codec/lpc/primitives.h"
#include "codec/lpc/second_order_section.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/decoder/gain_control-inl.h"
#include "codec/decoder/pitch_postfilter-inl.h"
#include "codec/lpc/second_order_step-inl.h"
#include "codec/lpc/synthesis_step-inl.h"
#include "codec/batch/lane_filters-inl.h"

constexpr int kSub = G729_SUBFRAME_SIZE;
constexpr int kSpeechPast = 10;  // unfiltered samples before the frame, the residual's past
constexpr int kSearchedLags = 7;  // the decoder's lag and three on each side
// Rows of the delayed residual the search reads: res[j - t_max .. j - t_min], j = 0..39.
constexpr int kDelayedRows = kSub + kSearchedLags - 1;

// The energies of both subframes of a frame of unfiltered speech (frame: 80 interleaved rows)
// into energy[0] and energy[1], each summed from 0.0, i ascending, as the gain control sums them.
HWY_INLINE void speech_energies(const double* frame, Vec* energy) {
    const LaneOps o;
    for (int sf = 0; sf < 2; ++sf) {
        Vec e = o.set(0.0);
        for (int i = 0; i < kSub; ++i) {
            const Vec v = o.load(frame, sf * kSub + i);
            e += v * v;
        }
        energy[sf] = e;
    }
}

// postfilter_prepare of up to kLanes channels, one per lane, each lane making the single
// step's computations from its speech (x: 90 interleaved rows, speech[-10..79]), the
// numerators of both subframes (num: 11 interleaved rows each) and their tilt factors: per
// subframe the residual through the numerator (its terms in the single filter's order), the
// long-term postfilter of the speech frames (the correlations of the seven lags around the
// decoder's, each summed from 0.0 with j ascending, the first largest kept; the delayed
// energy at that lag), the tilt compensation, and the residual history moved on by the
// subframe.
// The frame's filtered residual goes into frame (interleaved, row i holding sample i of both
// subframes), or without one into each channel's work record; with speech_energy, the
// energies of the unfiltered speech of both subframes (each summed from 0.0, i ascending, as
// the gain control sums them) go there.
void prepare_lanes(g729_postfilter_state* const* pf, const double* x,
                   const int32_t* const* lags, const int32_t* frame_types, const double* num,
                   const Vec (&mu)[2], PostfilterWork* const* work, int n, double* frame,
                   Vec* speech_energy) {
    const Tag d;
    const LaneOps o;
    // Stack: about 8 KB with eight lanes; arrays are reused where their uses do not overlap.
    alignas(64) double tilt_memory[kLanes] = {};
    alignas(64) double speech_frame[kLanes] = {};
    const double* rows[kLanes] = {};
    for (int l = 0; l < n; ++l) {
        tilt_memory[l] = pf[l]->tilt_memory;
        speech_frame[l] = frame_types[l] == G729_FRAME_SPEECH ? 1.0 : 0.0;
    }
    Vec previous = hn::Load(d, tilt_memory);
    const auto postfiltered = hn::Eq(hn::Load(d, speech_frame), hn::Set(d, 1.0));

    if (speech_energy != nullptr) speech_energies(x + kSpeechPast * kLanes, speech_energy);

    alignas(64) double res[kSub * kLanes];
    alignas(64) double delayed_rows[kDelayedRows * kLanes];
    alignas(64) double delayed[kSub * kLanes];  // the residual delayed by each lane's best lag
    double* history[kLanes] = {};
    for (int l = 0; l < n; ++l) history[l] = pf[l]->residual_history + kMaxPitchLag;
    for (int sf = 0; sf < 2; ++sf) {
        // Residual through the numerator: a[1] * x[n - 1] + x[n], then a[k] * x[n - k].
        const double* xs = x + (kSpeechPast + sf * kSub) * kLanes;
        Vec a[11];
        for (int k = 1; k <= 10; ++k) a[k] = o.load(num + sf * 11 * kLanes, k);
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
            best = select_lanes(take, corr[c], best);
            best_c = select_lanes(take, hn::Set(d, c), best_c);
        }
        // The residual delayed by each lane's best lag, its rows j + 6 - c: a slice of the
        // lane's own history, moved into lanes whole (a transposition, not a gather a row).
        alignas(64) double best_lag[kLanes];
        hn::Store(best_c, d, best_lag);
        const double* slices[kLanes] = {};
        for (int l = 0; l < n; ++l) {
            slices[l] = rows[l] + kSearchedLags - 1 - static_cast<int>(best_lag[l]);
        }
        interleave_rows(slices, n, kSub, delayed);
        Vec energy_delayed = hn::Set(d, 0.5);
        for (int j = 0; j < kSub; ++j) {
            const Vec v = o.load(delayed, j);
            energy_delayed += v * v;
        }
        // The long-term postfilter's output in place of the delayed residual without a frame.
        double* filtered = frame != nullptr ? frame + sf * kSub * kLanes : delayed;
        pitch_postfilter_output(o, best, energy_delayed, energy_current, res, delayed, filtered);

        // Frames other than speech pass the residual; then the tilt compensation, each sample
        // less mu times the one before it (the last of the previous subframe for the first).
        const Vec m = mu[sf];
        Vec last = hn::Zero(d);
        for (int i = kSub - 1; i >= 0; --i) {
            const Vec v = select_lanes(postfiltered, o.load(filtered, i), o.load(res, i));
            if (i == kSub - 1) last = v;
            hn::Store(v, d, filtered + i * kLanes);
        }
        for (int i = kSub - 1; i >= 1; --i) {
            hn::Store(o.load(filtered, i) - m * o.load(filtered, i - 1), d, filtered + i * kLanes);
        }
        hn::Store(o.load(filtered, 0) - m * previous, d, filtered);
        previous = last;
        if (frame == nullptr) {
            double* out[kLanes] = {};
            for (int l = 0; l < n; ++l) out[l] = work[l]->filtered[sf];
            deinterleave_rows(filtered, n, kSub, out);
        }

        for (int l = 0; l < n; ++l) {
            double* past = pf[l]->residual_history;
            std::memmove(past, past + kSub, kMaxPitchLag * sizeof(double));
        }
    }
    hn::Store(previous, d, tilt_memory);
    for (int l = 0; l < n; ++l) pf[l]->tilt_memory = tilt_memory[l];
}

// The preparation of up to kLanes channels from the numerators and impulse responses in their
// work records.
void postfilter_prepare_group(g729_postfilter_state* const* pf, const double* const* speech,
                              const int32_t* const* lags, const int32_t* frame_types,
                              PostfilterWork* const* work, int n) {
    const LaneOps o;
    alignas(64) double x[(kSpeechPast + G729_FRAME_SIZE) * kLanes];
    alignas(64) double num[2 * 11 * kLanes];
    alignas(64) double h[kPostfilterImpulseLength * kLanes];
    const double* rows[kLanes] = {};
    for (int l = 0; l < n; ++l) rows[l] = speech[l] - kSpeechPast;
    interleave_rows(rows, n, kSpeechPast + G729_FRAME_SIZE, x);
    Vec mu[2];
    for (int sf = 0; sf < 2; ++sf) {
        for (int l = 0; l < n; ++l) rows[l] = work[l]->num[sf];
        interleave_rows(rows, n, 11, num + sf * 11 * kLanes);
        for (int l = 0; l < n; ++l) rows[l] = work[l]->h[sf];
        interleave_rows(rows, n, kPostfilterImpulseLength, h);
        mu[sf] = tilt_factor<Vec>(o, h);
    }
    prepare_lanes(pf, x, lags, frame_types, num, mu, work, n, nullptr, nullptr);
}

void PostfilterPrepareChannels(g729_postfilter_state* const* pf, const double* const* speech,
                               const int32_t* const* lags, const int32_t* frame_types,
                               PostfilterWork* const* work, int count) {
    for_each_group(count, [&](int first, int n) {
        postfilter_prepare_group(pf + first, speech + first, lags + first, frame_types + first,
                                 work + first, n);
    });
}

// The gain control of both subframes of G vectors' interleaved frames (out[g]; n channels,
// pf[l] of channel l), each lane as the single step (the output's energy summed in order from
// 0.0, the smoothed gain's recursion, a silent output leaving the samples and zeroing the
// gain), from the postfilter's gains before it and the unfiltered speech's energies; the gains
// after it are left in each channel's agc_gain. The G vectors' recursions run side by side.
// Lanes past n hold gain 0.
template <int G>
void gain_control_lanes(g729_postfilter_state* const* pf, int n, const Vec (&speech_energy)[G][2],
                        double* const (&out)[G]) {
    const Tag d;
    alignas(64) double agc[G][kLanes] = {};
    Vec gain[G];
    for (int g = 0; g < G; ++g) {
        for (int l = 0; l < used_lanes(n, g); ++l) agc[g][l] = pf[g * kLanes + l]->agc_gain;
        gain[g] = hn::Load(d, agc[g]);
    }
    for (int sf = 0; sf < 2; ++sf) {
        Vec energy[G];
        Vec divisor[G];
        LaneOps::Mask silent[G];
        double* o[G];
        for (int g = 0; g < G; ++g) {
            o[g] = out[g] + sf * kSub * kLanes;
            Vec g_out = hn::Zero(d);
            for (int i = 0; i < kSub; ++i) {
                const Vec v = hn::Load(d, o[g] + i * kLanes);
                g_out += v * v;
            }
            silent[g] = hn::Eq(g_out, hn::Zero(d));
            // A silent lane (or one without a channel) divides by 1 instead of 0: its step is
            // never used, and a host that traps floating-point faults sees none.
            divisor[g] = select_lanes(silent[g], hn::Set(d, 1.0), g_out);
            energy[g] = speech_energy[g][sf];
        }
        gain_control_subframes<G>(LaneOps(), energy, divisor, silent, gain, o);
        for (int g = 0; g < G; ++g) gain[g] = hn::IfThenZeroElse(silent[g], gain[g]);
    }
    for (int g = 0; g < G; ++g) {
        hn::Store(gain[g], d, agc[g]);
        for (int l = 0; l < used_lanes(n, g); ++l) pf[g * kLanes + l]->agc_gain = agc[g][l];
    }
}

// The frame's output (out, interleaved) into each channel's speech, after keeping the
// unfiltered end of the frame (the channels' own, or 10 interleaved rows in tail) as the next
// frame's residual-filter past.
void emit_frame_lanes(double* const* speech, int n, const double* out,
                      const double* tail = nullptr) {
    if (tail == nullptr) {
        for (int l = 0; l < n; ++l) {
            for (int i = 0; i < 10; ++i) speech[l][i - 10] = speech[l][70 + i];
        }
    } else {
        double* past[kLanes] = {};
        for (int l = 0; l < n; ++l) past[l] = speech[l] - kSpeechPast;
        deinterleave_rows(tail, n, kSpeechPast, past);
    }
    deinterleave_rows(out, n, G729_FRAME_SIZE, speech);
}

// postfilter_finish of up to kLanes channels, one per lane: the gain control of both
// subframes, then the frame's output and the next frame's residual-filter past.
void postfilter_finish_group(g729_postfilter_state* const* pf, double* const* speech,
                             PostfilterWork* const* work, int n) {
    alignas(64) double out[G729_FRAME_SIZE * kLanes];
    alignas(64) double in[G729_FRAME_SIZE * kLanes];
    const double* out_rows[kLanes] = {};
    const double* in_rows[kLanes] = {};
    for (int l = 0; l < n; ++l) {
        out_rows[l] = work[l]->out;
        in_rows[l] = speech[l];
    }
    interleave_rows(out_rows, n, G729_FRAME_SIZE, out);
    interleave_rows(in_rows, n, G729_FRAME_SIZE, in);
    Vec speech_energy[1][2];
    speech_energies(in, speech_energy[0]);
    double* const frames[1] = {out};
    gain_control_lanes<1>(pf, n, speech_energy, frames);
    emit_frame_lanes(speech, n, out);
}

// Doubles of one vector's frame in lanes, of its speech with the past before it, and of its
// filters' coefficients and memories.
constexpr int kFrameDoubles = G729_FRAME_SIZE * kLanes;
constexpr int kSpeechDoubles = (kSpeechPast + G729_FRAME_SIZE) * kLanes;
constexpr int kFilterDoubles = (2 * 10 + 2 * 11 + 10 + 4) * kLanes;
static_assert(4 * (kFrameDoubles + kSpeechDoubles + kFilterDoubles) <= kDecoderOutputScratch);

constexpr WeightPowers kNumeratorPowers = weight_powers(kPostfilterNumeratorGamma);
constexpr WeightPowers kDenominatorPowers = weight_powers(kPostfilterDenominatorGamma);

// The postfilter's filters of both subframes of G vectors of channels from their LPC filters
// (11 interleaved rows a subframe in num(sf, g)), as postfilter_impulse_jobs and the
// impulse-response filters make them: the numerators (in num's place), the denominators (rows
// 1..10, into den(sf, g)), and the tilt factors of the truncated impulse responses (G
// independent filters side by side a subframe, in work: G * (22 + 12) * kLanes doubles).
// Not inlined: its registers spilled and the preparation's arrays then share the stack.
template <int G, class Num, class Den>
HWY_NOINLINE void postfilter_filters(Num num, Den den, double* work, Vec (&mu)[G][2]) {
    const Tag d;
    const LaneOps o;
    constexpr int kH = kPostfilterImpulseLength;
    for (int sf = 0; sf < 2; ++sf) {
        Vec a[G][11];
        double* h[G];
        double* mb[G];
        for (int g = 0; g < G; ++g) {
            double* const nb = num(sf, g);
            double* const db = den(sf, g);
            a[g][0] = hn::Set(d, 1.0);
            for (int k = 1; k <= 10; ++k) {
                const Vec v = o.load(nb, k);
                a[g][k] = v * hn::Set(d, kDenominatorPowers.p[k]);
                o.store(a[g][k], db, k - 1);
                o.store(v * hn::Set(d, kNumeratorPowers.p[k]), nb, k);
            }
            // The impulse response's input: the numerator, then zeros; its memory zero.
            h[g] = work + g * (kH + 12) * kLanes;
            mb[g] = h[g] + kH * kLanes;
            for (int k = 0; k <= 10; ++k) o.store(o.load(nb, k), h[g], k);
            for (int k = 11; k < kH + 10; ++k) o.store(hn::Zero(d), h[g], k);
        }
        synthesis_run<G, Tag>(a, mb, h, h, kH);
        for (int g = 0; g < G; ++g) mu[g][sf] = tilt_factor<Vec>(o, h[g]);
    }
}

// The last steps of the decoder for G vectors of channels (n of them), each frame kept in
// lanes from the speech synthesis to the end (scratch: kDecoderOutputScratch doubles for the
// frames, the speech, the filters' coefficients and memories): the speech frames' synthesis
// filters and the postfilter's filters with G chains side by side, the postfilter's
// preparation vector by vector, its short-term synthesis filters and then the high-pass filter
// with G chains side by side, the gain control between them. Every lane makes the
// single-channel steps' operations in their order: a synthesis memory is flushed after each
// subframe as each subframe's filter leaves it. Each channel's speech, synthesis, postfilter
// and high-pass memories end as the single steps leave them.
template <int G>
void postfilter_output_group(const DecoderFrames& f, int n, double* scratch) {
    const Tag d;
    const LaneOps o;
    // The scratch: the frames of the G vectors, their speech with its past, then per subframe
    // and vector a synthesis filter's coefficients and the LPC filter, then the numerator in
    // its place; per vector a synthesis memory, then the high-pass filter's memories.
    double* const frames = scratch;
    double* const x = scratch + G * kFrameDoubles;
    double* const filters = x + G * kSpeechDoubles;
    const auto coefficients = [&](int sf, int g) {
        return filters + (sf * G + g) * 10 * kLanes;
    };
    const auto numerators = [&](int sf, int g) {
        return filters + G * 20 * kLanes + (2 * g + sf) * 11 * kLanes;
    };
    double* const memory = filters + G * 42 * kLanes;
    double* const hp = filters + G * 52 * kLanes;
    double* xb[G];
    double* fb[G];
    for (int g = 0; g < G; ++g) {
        xb[g] = x + g * kSpeechDoubles;
        fb[g] = frames + g * kFrameDoubles;
    }

    // The speech frames' synthesis: each lane's LPC filters, its speech's past and either its
    // excitation or, for other frames, its speech already made; the lanes of other frames
    // filter with zero coefficients (their outputs are not taken, their memories not kept).
    alignas(64) double unused[10];
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        alignas(64) double speech_lane[kLanes] = {};
        const double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) {
            speech_lane[l] = f.excitation[first + l] != nullptr ? 1.0 : 0.0;
        }
        const auto speech_frame = hn::Eq(hn::Load(d, speech_lane), hn::Set(d, 1.0));
        for (int sf = 0; sf < 2; ++sf) {
            for (int l = 0; l < used; ++l) rows[l] = f.lpc[first + l] + sf * 11;
            interleave_rows(rows, used, 11, numerators(sf, g));
            for (int k = 1; k <= 10; ++k) {
                const Vec a = hn::IfThenElseZero(speech_frame, o.load(numerators(sf, g), k));
                o.store(a, coefficients(sf, g), k - 1);
            }
        }
        for (int l = 0; l < used; ++l) rows[l] = f.speech[first + l] - kSpeechPast;
        interleave_rows(rows, used, kSpeechPast, xb[g]);
        for (int l = 0; l < used; ++l) {
            rows[l] = f.excitation[first + l] != nullptr ? f.excitation[first + l]
                                                         : f.speech[first + l];
        }
        interleave_rows(rows, used, G729_FRAME_SIZE, xb[g] + kSpeechPast * kLanes);
        for (int l = 0; l < used; ++l) rows[l] = f.synthesis_memory[first + l];
        interleave_rows(rows, used, 10, memory + g * 10 * kLanes);
    }
    const double* sx[G];
    for (int g = 0; g < G; ++g) sx[g] = xb[g] + kSpeechPast * kLanes;
    frame_synthesis<G>(coefficients, sx, fb, memory);
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        alignas(64) double speech_lane[kLanes] = {};
        double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) {
            const bool speech_frame = f.excitation[first + l] != nullptr;
            speech_lane[l] = speech_frame ? 1.0 : 0.0;
            rows[l] = speech_frame ? f.synthesis_memory[first + l] : unused;
        }
        const auto speech_frame = hn::Eq(hn::Load(d, speech_lane), hn::Set(d, 1.0));
        for (int i = 0; i < G729_FRAME_SIZE; ++i) {
            double* const p = xb[g] + (kSpeechPast + i) * kLanes;
            hn::Store(select_lanes(speech_frame, o.load(fb[g], i), hn::Load(d, p)), d, p);
        }
        deinterleave_rows(memory + g * 10 * kLanes, used, 10, rows);
    }

    // The postfilter's filters; their impulse responses in the frames' place, before the
    // frames.
    Vec mu[G][2];
    postfilter_filters<G>(numerators, coefficients, frames, mu);
    static_assert(2 * (kPostfilterImpulseLength + 12) <= G729_FRAME_SIZE);
    Vec speech_energy[G][2];
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        prepare_lanes(f.postfilters + first, xb[g], f.lags + first, f.frame_types + first,
                      numerators(0, g), mu[g], nullptr, used_lanes(n, g), fb[g],
                      speech_energy[g]);
    }

    // The short-term synthesis filters, 1/den of each subframe, continuing one memory.
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        const double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) {
            rows[l] = f.postfilters[first + l]->postfilter_synthesis_memory;
        }
        interleave_rows(rows, used, 10, memory + g * 10 * kLanes);
    }
    frame_synthesis<G>(coefficients, fb, fb, memory);
    for (int g = 0; g < G; ++g) {
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) {
            rows[l] = f.postfilters[first + l]->postfilter_synthesis_memory;
        }
        deinterleave_rows(memory + g * 10 * kLanes, used, 10, rows);
    }
    gain_control_lanes<G>(f.postfilters, n, speech_energy, fb);

    // The output high-pass filter.
    const LaneCoefficients<Tag> lc = lane_coefficients<Tag>(kOutputFilter);
    const auto unflushed = [](Vec v) { return v; };
    SecondOrderMemory<Vec> hm[G];
    for (int g = 0; g < G; ++g) {
        double* const h = hp + g * 4 * kLanes;
        interleave_rows(f.highpass_memories + g * kLanes, used_lanes(n, g), 4, h);
        hm[g] = {hn::Load(d, h), hn::Load(d, h + kLanes), hn::Load(d, h + 2 * kLanes),
                 hn::Load(d, h + 3 * kLanes)};
    }
    for (int i = 0; i < G729_FRAME_SIZE; ++i) {
        for (int g = 0; g < G; ++g) {
            double* p = frames + g * kFrameDoubles + i * kLanes;
            hn::Store(second_order_step<false>(lc, hm[g], hn::Load(d, p), unflushed), d, p);
        }
    }
    for (int g = 0; g < G; ++g) {
        double* const h = hp + g * 4 * kLanes;
        hn::Store(hm[g].x1, d, h);
        hn::Store(hm[g].x2, d, h + kLanes);
        hn::Store(hm[g].y1, d, h + 2 * kLanes);
        hn::Store(hm[g].y2, d, h + 3 * kLanes);
        const int first = g * kLanes;
        const int used = used_lanes(n, g);
        deinterleave_rows(h, used, 4, f.highpass_memories + first);
        emit_frame_lanes(f.speech + first, used, fb[g], xb[g] + G729_FRAME_SIZE * kLanes);
    }
}

void DecoderOutputChannels(const DecoderFrames& frames, int count, double* scratch) {
    for_each_block(count, [&](int first, int n, auto vectors) {
        postfilter_output_group<decltype(vectors)::value>(frames.from(first), n, scratch);
    });
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
HWY_EXPORT(DecoderOutputChannels);
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

void decoder_output_channels(const DecoderFrames& frames, int count, double* scratch,
                             int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(DecoderOutputChannels), kernels)(frames, count, scratch);
}
}  // namespace g729
#endif  // HWY_ONCE
