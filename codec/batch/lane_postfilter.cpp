// SPDX-License-Identifier: BSD-2-Clause
// Highway kernel of the postfilter's last step for many channels at once, one channel per
// vector lane: the gain control (gain_control-inl.h, shared with the single-channel
// postfilter), the frame's output and the next frame's residual-filter past.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_postfilter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_postfilter.h"
#include "codec/decoder/postfilter.h"
#include "codec/g729.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/decoder/gain_control-inl.h"

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
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void postfilter_finish_channels(g729_postfilter_state* const pf[], double* const speech[],
                                PostfilterWork* const work[], int count, int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(PostfilterFinishChannels), kernels)(pf, speech, work, count);
}
}  // namespace g729
#endif  // HWY_ONCE
