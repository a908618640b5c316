// SPDX-License-Identifier: BSD-2-Clause
// Adaptive postfilter and output high-pass filter of the decoder.
#pragma once

#include <cstdint>

#include "codec/g729.h"
#include "codec/simd_dispatch.h"

namespace g729 {

// The gain control's smoothing: each sample's gain is this factor times the previous one plus
// (1 - factor) times the subframe's target gain.
inline constexpr double kGainControlFactor = 0.9;

// The short-term postfilter's weighting factors: numerator A(z/0.55), denominator A(z/0.7).
inline constexpr double kPostfilterNumeratorGamma = 0.55;
inline constexpr double kPostfilterDenominatorGamma = 0.7;

// speech points at the frame (synth_buf + 10); speech[-10..-1] is the previous frame's
// unfiltered synthesis and is refreshed for the next frame.
void postfilter_frame(g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type);

void post_highpass_filter(double mem[4], double* samples, int count);

// postfilter_frame in steps, for the batched decoder: postfilter_impulse_jobs, then the two
// impulse-response filters it returns (22 samples each, independent); postfilter_prepare,
// then the two synthesis filters it returns (40 samples, subframe 1 then 2: the second
// continues the first's memory); then postfilter_finish. The work record carries the frame
// between the steps.
inline constexpr int kPostfilterImpulseLength = 22;
struct PostfilterWork {
    alignas(32) double out[80];
    alignas(32) double filtered[2][40];
    double num[2][11];
    double den[2][11];
    double h[2][kPostfilterImpulseLength];  // truncated impulse responses of num/den
    double zero_mem[2][10];
};
void postfilter_impulse_jobs(const double lpc[22], PostfilterWork* work,
                             g729simd::SynthesisJob jobs[2]);
void postfilter_prepare(g729_postfilter_state* pf, const double* speech, const int32_t lags[2],
                        int32_t frame_type, PostfilterWork* work,
                        g729simd::SynthesisJob jobs[2]);
void postfilter_finish(g729_postfilter_state* pf, double* speech, PostfilterWork* work);

// Subframe sf's short-term synthesis filter: work->filtered through 1/den into work->out,
// continuing the postfilter's synthesis memory.
inline g729simd::SynthesisJob postfilter_synthesis_job(g729_postfilter_state* pf,
                                                       PostfilterWork* work, int sf) {
    return {work->den[sf], work->filtered[sf], work->out + 40 * sf,
            pf->postfilter_synthesis_memory, 1};
}

}  // namespace g729
