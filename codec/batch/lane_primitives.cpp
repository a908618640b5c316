// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the channel-parallel filters (the fixed high-pass filters, the LPC
// synthesis filter) and the choice of the lane kernels' instruction set, compiled for every
// instruction set Highway targets and chosen at run time. Vectors are added and multiplied
// only (never fused), in the order of the single-channel step; -ffp-contract=off keeps the
// compiler from fusing them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_primitives.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_primitives.h"
#include "codec/g729.h"
#include "codec/lpc/second_order_section.h"
#include "codec/simd_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;


#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/second_order_step-inl.h"
#include "codec/lpc/synthesis_step-inl.h"
#include "codec/batch/lane_filters-inl.h"

// Vectors of at most four lanes: where the channels fill few vectors, narrower vectors give
// more chains in flight for the same channels (and cost no speed per lane on processors that
// split wide vectors in two).
using Narrow = hn::CappedTag<double, 4>;

// One group of up to G * N channels (N: the lanes of D), one per lane of G vectors (G
// independent chains whose latencies overlap). The samples are interleaved (sample n of lane
// l at n * N + l) so that every step loads and stores whole vectors; lanes without a channel
// filter zeros from zero memory.
template <bool FlushOutputs, int G, class D>
void highpass_group(const SecondOrderCoefficients& c, double* const mems[],
                    double* const samples[], int channels, int count) {
    using V = hn::Vec<D>;
    const D d;
    constexpr int lanes = lanes_of<D>();
    alignas(64) double buf[G][G729_FRAME_SIZE * lanes];
    alignas(64) double mem[G][4 * lanes];
    for (int g = 0; g < G; ++g) {
        const int first = g * lanes;
        const int used = used_lanes(channels, g, lanes);
        interleave_rows<D>(mems + first, used, 4, mem[g]);
        interleave_rows<D>(samples + first, used, count, buf[g]);
    }

    const LaneCoefficients<D> lc = lane_coefficients<D>(c);
    const auto flush = [](V v) { return flush_lanes<D>(v); };
    SecondOrderMemory<V> m[G];
    for (int g = 0; g < G; ++g) {
        m[g] = {hn::Load(d, mem[g]), hn::Load(d, mem[g] + lanes), hn::Load(d, mem[g] + 2 * lanes),
                hn::Load(d, mem[g] + 3 * lanes)};
    }
    for (int n = 0; n < count; ++n) {
        for (int g = 0; g < G; ++g) {
            double* p = buf[g] + n * lanes;
            hn::Store(second_order_step<FlushOutputs>(lc, m[g], hn::Load(d, p), flush), d, p);
        }
    }
    for (int g = 0; g < G; ++g) {
        hn::Store(m[g].x1, d, mem[g]);
        hn::Store(m[g].x2, d, mem[g] + lanes);
        hn::Store(m[g].y1, d, mem[g] + 2 * lanes);
        hn::Store(m[g].y2, d, mem[g] + 3 * lanes);
    }

    for (int g = 0; g < G; ++g) {
        const int first = g * lanes;
        const int used = used_lanes(channels, g, lanes);
        deinterleave_rows<D>(mem[g], used, 4, mems + first);
        deinterleave_rows<D>(buf[g], used, count, samples + first);
    }
}

// Every channel in groups of up to four vectors of D.
template <bool FlushOutputs, class D>
void highpass_all(const SecondOrderCoefficients& c, double* const* mems, double* const* samples,
                  int channels, int count) {
    constexpr int lanes = lanes_of<D>();
    for (int first = 0; first < channels; first += 4 * lanes) {
        const int n = channels - first < 4 * lanes ? channels - first : 4 * lanes;
        const int vectors = (n + lanes - 1) / lanes;
        double* const* m = mems + first;
        double* const* s = samples + first;
        if (vectors == 4) {
            highpass_group<FlushOutputs, 4, D>(c, m, s, n, count);
        } else if (vectors == 3) {
            highpass_group<FlushOutputs, 3, D>(c, m, s, n, count);
        } else if (vectors == 2) {
            highpass_group<FlushOutputs, 2, D>(c, m, s, n, count);
        } else {
            highpass_group<FlushOutputs, 1, D>(c, m, s, n, count);
        }
    }
}

// A chain's dependent steps keep the vector units busy only with about four chains in flight:
// full vectors while the channels fill four of them, the narrow ones for the rest.
template <bool FlushOutputs>
void highpass_channels_of(const SecondOrderCoefficients& c, double* const* mems,
                          double* const* samples, int channels, int count) {
    constexpr int wide = lanes_of<Tag>();
    const int in_wide = channels / (4 * wide) * (4 * wide);
    highpass_all<FlushOutputs, Tag>(c, mems, samples, in_wide, count);
    highpass_all<FlushOutputs, Narrow>(c, mems + in_wide, samples + in_wide, channels - in_wide,
                                       count);
}

void HighpassChannels(int filter, double* const* mems, double* const* samples, int channels,
                      int count) {
    if (filter == static_cast<int>(Highpass::preprocess)) {
        highpass_channels_of<true>(kPreprocessFilter, mems, samples, channels, count);
    } else {
        highpass_channels_of<false>(kOutputFilter, mems, samples, channels, count);
    }
}

// One group of up to G * N synthesis jobs of L (0..40) samples (N: the lanes of D), one per
// lane of G vectors: every lane does the operations of the single filter (primitives.cpp) on
// its own job. Inputs and memories are all read (interleaved by sample) before any output is
// written, so a job may filter in place and its memory may lie in its input.
template <int G, class D>
void synthesis_group(const g729simd::SynthesisJob* jobs, int n, int L) {
    using V = hn::Vec<D>;
    const D d;
    constexpr int lanes = lanes_of<D>();
    constexpr int kMaxBlock = G729_SUBFRAME_SIZE;
    // Each output replaces its input, read just before (less stack than a second buffer).
    alignas(64) double xbuf[G][kMaxBlock * lanes];
    alignas(64) double ab[G][11 * lanes];
    alignas(64) double mb[G][20 * lanes];
    const double* xb[G];
    double* yb[G];
    for (int g = 0; g < G; ++g) {
        xb[g] = xbuf[g];
        yb[g] = xbuf[g];
        const int first = g * lanes;
        const int used = used_lanes(n, g, lanes);
        const double* a_rows[lanes] = {};
        const double* mem_rows[lanes] = {};
        const double* x_rows[lanes] = {};
        for (int l = 0; l < used; ++l) {
            a_rows[l] = jobs[first + l].a + 1;
            mem_rows[l] = jobs[first + l].mem;
            x_rows[l] = jobs[first + l].x;
        }
        interleave_rows<D>(a_rows, used, 10, ab[g] + lanes);
        interleave_rows<D>(mem_rows, used, 10, mb[g]);
        interleave_rows<D>(x_rows, used, L, xbuf[g]);
    }
    // The outputs' lines, wanted for writing once the filters have run.
    for (int j = 0; j < n && j < G * lanes; ++j) {
        const char* y = reinterpret_cast<const char*>(jobs[j].y);
        for (int b = 0; b < L * 8; b += 64) __builtin_prefetch(y + b, 1);
        __builtin_prefetch(y + L * 8 - 1, 1);
    }
    V a[G][11];
    double* mems[G];
    for (int g = 0; g < G; ++g) {
        a[g][0] = hn::Set(d, 1.0);
        for (int k = 1; k <= 10; ++k) a[g][k] = hn::Load(d, ab[g] + k * lanes);
        mems[g] = mb[g];
    }
    const int rest = synthesis_run<G, D>(a, mems, xb, yb, L);

    for (int g = 0; g < G; ++g) {
        const int first = g * lanes;
        const int used = used_lanes(n, g, lanes);
        double* y_rows[lanes] = {};
        for (int l = 0; l < used; ++l) y_rows[l] = jobs[first + l].y;
        deinterleave_rows<D>(xbuf[g], used, L, y_rows);
    }
    // The memories of the jobs that keep them, flushed (flush_lanes) and moved out as the
    // outputs are; the other lanes' go to scratch.
    double unused[10];
    for (int g = 0; g < G; ++g) {
        double* const last = mb[g] + rest * lanes;
        for (int k = 0; k < 10; ++k) {
            const V v = hn::Load(d, last + k * lanes);
            hn::Store(flush_lanes<D>(v), d, last + k * lanes);
        }
        const int first = g * lanes;
        const int used = used_lanes(n, g, lanes);
        double* mem_rows[lanes] = {};
        for (int l = 0; l < used; ++l) {
            mem_rows[l] = jobs[first + l].update != 0 ? jobs[first + l].mem : unused;
        }
        deinterleave_rows<D>(last, used, 10, mem_rows);
    }
}

// Every job in groups of up to four vectors of D.
template <class D>
void synthesis_all(const g729simd::SynthesisJob* jobs, int count, int L) {
    constexpr int lanes = lanes_of<D>();
    for (int first = 0; first < count; first += 4 * lanes) {
        const int n = count - first < 4 * lanes ? count - first : 4 * lanes;
        const int vectors = (n + lanes - 1) / lanes;
        if (vectors == 4) {
            synthesis_group<4, D>(jobs + first, n, L);
        } else if (vectors == 3) {
            synthesis_group<3, D>(jobs + first, n, L);
        } else if (vectors == 2) {
            synthesis_group<2, D>(jobs + first, n, L);
        } else {
            synthesis_group<1, D>(jobs + first, n, L);
        }
    }
}

// A chain's ten dependent steps keep the vector units busy only with about four chains in
// flight: full vectors while the jobs fill four of them, the narrow ones for the rest.
void SynthesisChannels(const g729simd::SynthesisJob* jobs, int count, int L) {
    constexpr int wide = lanes_of<Tag>();
    const int in_wide = count / (4 * wide) * (4 * wide);
    synthesis_all<Tag>(jobs, in_wide, L);
    synthesis_all<Narrow>(jobs + in_wide, count - in_wide, L);
}

int HighpassLanes() { return static_cast<int>(hn::Lanes(Tag())); }

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(HighpassChannels);
HWY_EXPORT(HighpassLanes);
HWY_EXPORT(SynthesisChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void highpass_channels(Highpass filter, double* const mems[], double* const samples[],
                       int channels, int count, int kernels) {
    if (channels <= 0) return;
    if (count < 0) count = 0;
    if (count > G729_FRAME_SIZE) count = G729_FRAME_SIZE;
    kernel_entry(HWY_DISPATCH_TABLE(HighpassChannels), kernels)(static_cast<int>(filter), mems,
                                                               samples, channels, count);
}

void synthesis_channels(const g729simd::SynthesisJob* jobs, int count, int L, int kernels) {
    if (count <= 0) return;
    if (L < 0) L = 0;
    if (L > G729_SUBFRAME_SIZE) L = G729_SUBFRAME_SIZE;
    kernel_entry(HWY_DISPATCH_TABLE(SynthesisChannels), kernels)(jobs, count, L);
}

int highpass_lanes() { return HWY_DYNAMIC_DISPATCH(HighpassLanes)(); }

// From the chosen kernels towards the scalar ones (the table's last entry): on x86 each
// instruction set Highway targets includes the next one's, and elsewhere the vectors hold at
// most two doubles, so every entry after the chosen one runs on this processor.
int lane_kernels(int max_lanes) {
    const int best = highpass_lanes();  // sets up the choice of the dispatch tables
    const auto& table = HWY_DISPATCH_TABLE(HighpassLanes);
    constexpr int n = static_cast<int>(sizeof(table) / sizeof(table[0]));
    int i = n == 1 ? 0 : static_cast<int>(hwy::GetChosenTarget().GetIndex());
    if (best <= max_lanes) return i;
    for (++i; i < n - 1; ++i) {
        if (table[i] != nullptr && table[i]() <= max_lanes) return i;
    }
    return n - 1;
}

int lane_kernels_lanes(int kernels) {
    return kernel_entry(HWY_DISPATCH_TABLE(HighpassLanes), kernels)();
}
}  // namespace g729
#endif  // HWY_ONCE
