// SPDX-License-Identifier: BSD-2-Clause
// Adaptive postfilter (long-term, short-term, tilt compensation, gain control) and the
// output high-pass filter of the decoder, compiled for every instruction set Highway targets
// (simd_kernels-inl.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/decoder/postfilter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/simd_kernels-inl.h"

#include <cmath>

#include "codec/common/scalar_ops.h"
#include "codec/decoder/postfilter.h"
#include "codec/frame_constants.h"
#include "codec/lpc/primitives.h"
#include "codec/lpc/second_order_section.h"
#include "codec/simd_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace HWY_NAMESPACE {
namespace {

#include "codec/decoder/gain_control-inl.h"
#include "codec/decoder/pitch_postfilter-inl.h"

constexpr int kImpulseLength = kPostfilterImpulseLength;

// Long-term postfilter on the residual of one subframe. res points at the current 40 samples
// with kMaxPitchLag past samples before them. Lags from the decoder are at least 19, so the search
// window never reaches beyond the current subframe.
HWY_INLINE void pitch_postfilter(const double* res, int lag, double out[40]) {
    int t_max = lag + 3;
    int t_min = lag - 3;
    if (t_max > kMaxPitchLag) {
        t_max = kMaxPitchLag;
        t_min = kMaxPitchLag - 6;
    }

    double best = -1e38;
    int best_lag = t_min;
    double energy_current = 0.5;
    if constexpr (kVectors) {
        // The seven correlations in two Quads of four lags (t_min.., and ..t_max, which
        // computes the middle lag a second time, identically); lanes are the lags t+3..t.
        // The energy of the current samples, an independent sum, goes along.
        Quad low = quad_set(0.0);
        Quad high = quad_set(0.0);
        for (int j = 0; j < 40; ++j) {
            const Quad r = quad_set(res[j]);
            low += r * quad_load(res + j - t_min - 3);
            high += r * quad_load(res + j - t_max);
            energy_current += res[j] * res[j];
        }
        alignas(32) double lo[4];
        alignas(32) double hi[4];
        quad_store(low, lo);
        quad_store(high, hi);
        double corr[7];
        for (int l = 0; l < 4; ++l) {
            corr[l] = lo[3 - l];
            corr[3 + l] = hi[3 - l];
        }
        for (int k = t_min; k <= t_max; ++k) {
            if (corr[k - t_min] > best) {
                best = corr[k - t_min];
                best_lag = k;
            }
        }
    } else {
        for (int k = t_min; k <= t_max; ++k) {
            double corr = 0.0;
            for (int j = 0; j < 40; ++j) corr += res[j] * res[j - k];
            if (corr > best) {
                best = corr;
                best_lag = k;
            }
        }
        for (int j = 0; j < 40; ++j) energy_current += res[j] * res[j];
    }

    double energy_delayed = 0.5;
    for (int j = 0; j < 40; ++j) energy_delayed += res[j - best_lag] * res[j - best_lag];

    pitch_postfilter_output(ScalarOps(), best, energy_delayed, energy_current, res,
                            res - best_lag, out);
}

// The short-term filters' numerators and denominators of both subframes, and the filters of
// the truncated impulse responses of num/den (in place in work->h, from zero memory), whose
// first correlations give the tilt factors.
HWY_INLINE void postfilter_weights(const double lpc[22], PostfilterWork* work,
                                   g729simd::SynthesisJob jobs[2]) {
    for (int sf = 0; sf < 2; ++sf) {
        lpc_weight(lpc + sf * 11, 10, work->num[sf], kPostfilterNumeratorGamma);
        lpc_weight(lpc + sf * 11, 10, work->den[sf], kPostfilterDenominatorGamma);
    }
    for (int sf = 0; sf < 2; ++sf) {
        for (int i = 0; i < 11; ++i) work->h[sf][i] = work->num[sf][i];
        for (int i = 11; i < kImpulseLength; ++i) work->h[sf][i] = 0.0;
        for (double& m : work->zero_mem[sf]) m = 0.0;
        jobs[sf] = {work->den[sf], work->h[sf], work->h[sf], work->zero_mem[sf], 0};
    }
}

// filtered[i] -= mu * filtered[i - 1] for i = 39..1, each from the unchanged filtered[i - 1];
// the vector kernel a vector at a time from the top, every group read before it is written.
HWY_INLINE void tilt_compensation(double filtered[40], double mu, double previous) {
    int i = 39;
    if constexpr (kVectors) {
        const D4 d;
        const int lanes = static_cast<int>(hn::Lanes(d));
        const V4 m = hn::Set(d, mu);
        for (i = 40 - lanes; i >= 1; i -= lanes) {
            const V4 before = hn::LoadU(d, filtered + i - 1);
            hn::StoreU(hn::Sub(hn::LoadU(d, filtered + i), hn::Mul(m, before)), d, filtered + i);
        }
        i += lanes - 1;
    }
    for (; i >= 1; --i) filtered[i] = filtered[i] - mu * filtered[i - 1];
    filtered[0] = filtered[0] - mu * previous;
}

// Scales out so that its energy follows that of the unfiltered speech, smoothly.
HWY_INLINE void gain_control(double* agc_gain, const double* speech, double out[40]) {
    // The two energies, independent sums: side by side in two lanes where there are vectors.
    double g_out = 0.0;
    double g_in = 0.0;
    if constexpr (kVectors) {
        const hn::CappedTag<double, 2> d2;  // two lanes on every vector target
        auto e = hn::Zero(d2);
        for (int i = 0; i < 40; ++i) {
            alignas(16) const double pair[2] = {out[i], speech[i]};
            const auto v = hn::Load(d2, pair);
            e = hn::Add(e, hn::Mul(v, v));
        }
        alignas(16) double sums[2];
        hn::Store(e, d2, sums);
        g_out = sums[0];
        g_in = sums[1];
    } else {
        for (int i = 0; i < 40; ++i) {
            g_out += out[i] * out[i];
            g_in += speech[i] * speech[i];
        }
    }
    if (g_out == 0.0) {
        *agc_gain = 0.0;
        return;
    }
    *agc_gain = gain_control_subframe(ScalarOps(), g_in, g_out, false, *agc_gain, out);
}

// Everything before the short-term synthesis filters: per subframe the residual, the long-term
// postfilter and the tilt compensation into work->filtered, the filters' denominators into
// work->den. Nothing here reads what the synthesis filters write.
// (After postfilter_weights and its impulse-response filters.)
HWY_INLINE void postfilter_prepare_impl(g729_postfilter_state* pf, const double* speech,
                                        const int32_t lags[2], int32_t frame_type,
                                        PostfilterWork* work) {
    double* res = pf->residual_history + kMaxPitchLag;
    const double (&num)[2][11] = work->num;
    const double tilt[2] = {tilt_factor<double>(ScalarOps(), work->h[0]),
                            tilt_factor<double>(ScalarOps(), work->h[1])};

    for (int sf = 0; sf < 2; ++sf) {
        const double* s = speech + sf * 40;

        // Residual through the numerator; the previous 10 (unfiltered) samples are its past.
        lpc_residual_filter(num[sf], s, res, 40);

        double* filtered = work->filtered[sf];
        if (frame_type == 1) {
            pitch_postfilter(res, lags[sf], filtered);
        } else {
            copy_doubles(res, filtered, 40);
        }

        const double mu = tilt[sf];
        const double last = filtered[39];
        tilt_compensation(filtered, mu, pf->tilt_memory);
        pf->tilt_memory = last;

        copy_doubles(pf->residual_history + 40, pf->residual_history, kMaxPitchLag);
    }
}

// After the synthesis filters: gain control of both subframes, then the frame's output.
HWY_INLINE void postfilter_finish_impl(g729_postfilter_state* pf, double* speech,
                                       PostfilterWork* work) {
    gain_control(&pf->agc_gain, speech, work->out);
    gain_control(&pf->agc_gain, speech + 40, work->out + 40);

    // Keep the unfiltered end of the frame as the next frame's residual-filter past.
    copy_doubles(speech + 70, speech - 10, 10);
    copy_doubles(work->out, speech, 80);
}

HWY_INLINE void postfilter_impl(g729_postfilter_state* pf, double* speech, const double lpc[22],
                                const int32_t lags[2], int32_t frame_type) {
    PostfilterWork work;
    g729simd::SynthesisJob impulse_jobs[2];
    postfilter_weights(lpc, &work, impulse_jobs);
    lpc_synthesis_filters(impulse_jobs, 2, kImpulseLength);
    postfilter_prepare_impl(pf, speech, lags, frame_type, &work);
    for (int sf = 0; sf < 2; ++sf) {
        const g729simd::SynthesisJob job = postfilter_synthesis_job(pf, &work, sf);
        lpc_synthesis_filter(job.a, job.x, job.y, 40, job.mem, job.update);
    }
    postfilter_finish_impl(pf, speech, &work);
}

HWY_INLINE void highpass_impl(double mem[4], double* samples, int count) {
    second_order_section<false>(kOutputFilter, mem, samples, count);
}

}  // namespace

void postfilter_frame(g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type) {
    postfilter_impl(pf, speech, lpc, lags, frame_type);
}

// Scalar on every instruction set: each output needs the previous one.
void post_highpass_filter(double mem[4], double* samples, int count) {
    highpass_impl(mem, samples, count);
}

void postfilter_impulse_jobs(const double lpc[22], PostfilterWork* work,
                             g729simd::SynthesisJob jobs[2]) {
    postfilter_weights(lpc, work, jobs);
}

void postfilter_prepare(g729_postfilter_state* pf, const double* speech, const int32_t lags[2],
                        int32_t frame_type, PostfilterWork* work,
                        g729simd::SynthesisJob jobs[2]) {
    postfilter_prepare_impl(pf, speech, lags, frame_type, work);
    jobs[0] = postfilter_synthesis_job(pf, work, 0);
    jobs[1] = postfilter_synthesis_job(pf, work, 1);
}

void postfilter_finish(g729_postfilter_state* pf, double* speech, PostfilterWork* work) {
    postfilter_finish_impl(pf, speech, work);
}

}  // namespace HWY_NAMESPACE
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {

HWY_EXPORT(postfilter_frame);
HWY_EXPORT(post_highpass_filter);
HWY_EXPORT(postfilter_impulse_jobs);
HWY_EXPORT(postfilter_prepare);
HWY_EXPORT(postfilter_finish);

void postfilter_frame(g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type) {
    HWY_DYNAMIC_DISPATCH(postfilter_frame)(pf, speech, lpc, lags, frame_type);
}

void post_highpass_filter(double mem[4], double* samples, int count) {
    HWY_DYNAMIC_DISPATCH(post_highpass_filter)(mem, samples, count);
}

void postfilter_impulse_jobs(const double lpc[22], PostfilterWork* work,
                             g729simd::SynthesisJob jobs[2]) {
    HWY_DYNAMIC_DISPATCH(postfilter_impulse_jobs)(lpc, work, jobs);
}

void postfilter_prepare(g729_postfilter_state* pf, const double* speech, const int32_t lags[2],
                        int32_t frame_type, PostfilterWork* work,
                        g729simd::SynthesisJob jobs[2]) {
    HWY_DYNAMIC_DISPATCH(postfilter_prepare)(pf, speech, lags, frame_type, work, jobs);
}

void postfilter_finish(g729_postfilter_state* pf, double* speech, PostfilterWork* work) {
    HWY_DYNAMIC_DISPATCH(postfilter_finish)(pf, speech, work);
}

}  // namespace g729
#endif  // HWY_ONCE
