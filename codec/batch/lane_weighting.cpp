// SPDX-License-Identifier: BSD-2-Clause
// Highway kernel of the encoder's perceptual weighting of a frame for many channels at once,
// one channel per vector lane, the frame kept in lanes from the residual to the filters' ends:
// every lane makes the operations of the single-channel steps (lpc_weight, the residual filter,
// the tilted weighting filter and the five synthesis filters encode_frame_active_begin
// returns) in their order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_weighting.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_weighting.h"
#include "codec/encoder/encoder_frame.h"
#include "codec/frame_constants.h"
#include "codec/lpc/primitives.h"
#include "codec/lpc/second_order_section.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/synthesis_step-inl.h"
#include "codec/batch/lane_filters-inl.h"

constexpr int kSub = G729_SUBFRAME_SIZE;
constexpr int kPast = 10;  // speech before the frame the residual filter reads

// Rows of a vector's scratch: its speech with the past, then in its place the residual and
// the weighted speech; a filter's output; the weighted filters; the tilted ones (rows 1..10);
// a filter memory.
constexpr int kSpeechRows = kPast + G729_FRAME_SIZE;
constexpr int kOutputRows = kSub;
constexpr int kApRows = 22;
constexpr int kTiltedRows = 20;
constexpr int kMemoryRows = 10;
constexpr int kVectorRows = kSpeechRows + kOutputRows + kApRows + kTiltedRows + kMemoryRows;
static_assert(4 * kVectorRows <= kEncoderFiltersScratch);

constexpr WeightPowers kWeightingPowers = weight_powers(kWeightingGamma);

// The unit impulse in every lane: row 0 ones, the rest zeros.
struct ImpulseRows {
    alignas(64) double v[kSub * kLanes];
};
constexpr ImpulseRows impulse_rows() {
    ImpulseRows r{};
    for (int l = 0; l < kLanes; ++l) r.v[l] = 1.0;
    return r;
}
constexpr ImpulseRows kImpulseRows = impulse_rows();

template <int G>
void filters_group(const EncoderFilters& f, int n, double* scratch) {
    const Tag d;
    const LaneOps o;
    // The scratch: each vector's speech rows, then its outputs, weighted filters and tilted
    // ones; the vectors' filter memories last, one block.
    double* speech[G];
    double* out[G];
    double* ap[G];
    double* tilted[G];
    double* memory[G];
    double* const memories = scratch + G * (kVectorRows - kMemoryRows) * kLanes;
    for (int g = 0; g < G; ++g) {
        speech[g] = scratch + g * (kVectorRows - kMemoryRows) * kLanes;
        out[g] = speech[g] + kSpeechRows * kLanes;
        ap[g] = out[g] + kOutputRows * kLanes;
        tilted[g] = ap[g] + kApRows * kLanes;
        memory[g] = memories + g * kMemoryRows * kLanes;
    }
    const auto rows_of = [&](int g, auto pointers, auto* rows) {
        const int used = used_lanes(n, g);
        for (int l = 0; l < used; ++l) rows[l] = pointers[g * kLanes + l];
        return used;
    };

    // The residual of each subframe through aq (lpc_residual_filter: a[1] * x[n - 1] + x[n],
    // then a[k] * x[n - k]), each output in the row of the speech it no longer needs; then
    // the weighted filters ap (lpc_weight) and the tilted ones ap(z) (1 - 0.7 z^-1).
    for (int g = 0; g < G; ++g) {
        const double* rows[kLanes] = {};
        int used = rows_of(g, f.aq, rows);
        interleave_rows(rows, used, kApRows, ap[g]);
        for (int l = 0; l < used; ++l) rows[l] = f.speech[g * kLanes + l] - kPast;
        interleave_rows(rows, used, kSpeechRows, speech[g]);
        for (int sf = 0; sf < 2; ++sf) {
            const double* a = ap[g] + sf * 11 * kLanes;
            Vec c[11];
            for (int k = 1; k <= 10; ++k) c[k] = o.load(a, k);
            for (int i = sf * kSub; i < (sf + 1) * kSub; ++i) {
                const double* x = speech[g] + (kPast + i) * kLanes;
                Vec s = c[1] * hn::Load(d, x - kLanes) + hn::Load(d, x);
                for (int k = 2; k <= 10; ++k) s += c[k] * hn::Load(d, x - k * kLanes);
                o.store(s, speech[g], i);
            }
        }
        for (int sf = 0; sf < 2; ++sf) {
            double* const a = ap[g] + sf * 11 * kLanes;
            for (int k = 1; k <= 10; ++k) {
                o.store(o.load(a, k) * hn::Set(d, kWeightingPowers.p[k]), a, k);
            }
            for (int k = 1; k <= 10; ++k) {
                const Vec t = o.load(a, k) - hn::Set(d, kTiltFactor) * o.load(a, k - 1);
                o.store(t, tilted[g] + sf * 10 * kLanes, k - 1);
            }
        }
        double* outs[kLanes] = {};
        used = rows_of(g, f.ap, outs);
        deinterleave_rows(ap[g], used, kApRows, outs);
        rows_of(g, f.excitation, outs);
        deinterleave_rows(speech[g], used, G729_FRAME_SIZE, outs);
    }

    // Through 1/ap of a subframe, G chains side by side, into dst: the first subframe's target
    // from the residual and the weighted error's memory (not kept), then each impulse response
    // from zero memory.
    const auto through_ap = [&](int sf, const double* const (&x)[G], double* const* dst,
                                double* const (&y)[G], int from) {
        Vec a[G][11];
        for (int g = 0; g < G; ++g) {
            a[g][0] = hn::Set(d, 1.0);
            for (int k = 1; k <= 10; ++k) a[g][k] = o.load(ap[g] + sf * 11 * kLanes, k);
        }
        synthesis_run<G, Tag>(a, memory, x, y, kSub);
        for (int g = 0; g < G; ++g) {
            double* rows[kLanes] = {};
            const int used = rows_of(g, dst, rows);
            for (int l = 0; l < used; ++l) rows[l] += from;
            deinterleave_rows(y[g] + from * kLanes, used, kSub - from, rows);
        }
    };
    const double* residual[G];
    const double* impulse[G];
    for (int g = 0; g < G; ++g) {
        const double* rows[kLanes] = {};
        const int used = rows_of(g, f.error_memory, rows);
        interleave_rows(rows, used, kMemoryRows, memory[g]);
        residual[g] = speech[g];
        impulse[g] = kImpulseRows.v;
    }
    // The target also stays in lanes, in the subframe's area, for the pitch search.
    double* target[G];
    for (int g = 0; g < G; ++g) {
        target[g] = f.target_lanes == nullptr
                        ? out[g]
                        : subframe_lanes_of(f.target_lanes, g, kLanes) + kTargetRows * kLanes;
    }
    // With the area, the channels' records take only the target's last ten samples (the
    // weighted error's memory is made of them).
    through_ap(0, residual, f.target, target, f.target_lanes == nullptr ? 0 : kSub - 10);
    for (int sf = 0; sf < 2; ++sf) {
        for (int k = 0; k < G * kMemoryRows; ++k) o.store(hn::Zero(d), memories, k);
        through_ap(sf, impulse, f.impulse[sf], out, 0);
    }

    // The weighted speech through the tilted filters, the second subframe continuing the
    // first's memory (kept), in the residual's place.
    for (int g = 0; g < G; ++g) {
        const double* rows[kLanes] = {};
        const int used = rows_of(g, f.wsp_memory, rows);
        interleave_rows(rows, used, kMemoryRows, memory[g]);
    }
    const auto tilted_of = [&](int sf, int g) { return tilted[g] + sf * 10 * kLanes; };
    const double* frame_in[G];
    for (int g = 0; g < G; ++g) frame_in[g] = speech[g];
    frame_synthesis<G>(tilted_of, frame_in, speech, memories);
    for (int g = 0; g < G; ++g) {
        double* rows[kLanes] = {};
        const int used = rows_of(g, f.wsp, rows);
        deinterleave_rows(speech[g], used, G729_FRAME_SIZE, rows);
        rows_of(g, f.wsp_memory, rows);
        deinterleave_rows(memory[g], used, kMemoryRows, rows);
    }
}

void EncoderFiltersChannels(const EncoderFilters& f, int count, double* scratch) {
    for_each_block(count, [&](int first, int n, auto vectors) {
        double* const target_lanes =
            f.target_lanes == nullptr ? nullptr
                                      : subframe_lanes_of(f.target_lanes, first / kLanes, kLanes);
        const EncoderFilters at{f.aq + first,           f.speech + first,
                                f.excitation + first,   f.wsp + first,
                                f.wsp_memory + first,   f.error_memory + first,
                                f.ap + first,           f.target + first,
                                {f.impulse[0] + first, f.impulse[1] + first},
                                target_lanes};
        filters_group<decltype(vectors)::value>(at, n, scratch);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(EncoderFiltersChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void encoder_filters_channels(const EncoderFilters& f, int count, double* scratch,
                              int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(EncoderFiltersChannels), kernels)(f, count, scratch);
}
}  // namespace g729
#endif  // HWY_ONCE
