// Highway kernels of the channel-parallel filters, compiled for every instruction set Highway
// targets and chosen at run time. Vectors are added and multiplied only (never fused), in the
// order of the single-channel step; -ffp-contract=off keeps the compiler from fusing them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_filters.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "codec/batch/lane_filters.h"
#include "codec/g729.h"
#include "codec/lpc/second_order_section.h"
#include "codec/simd_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// At most 8 channels per vector (8 doubles fill an AVX-512 register).
using Tag = hn::CappedTag<double, 8>;
using Vec = hn::Vec<Tag>;
constexpr int kMaxLanes = 8;

#include "codec/lpc/second_order_step-inl.h"
#include "codec/lpc/synthesis_step-inl.h"
#include "codec/batch/lane_common-inl.h"

struct LaneCoefficients {
    Vec a1;
    Vec a2;
    Vec b0;
    Vec b1;
    Vec b2;
};

// One group of up to G * Lanes(d) channels, one per lane of G vectors (G independent chains
// whose latencies overlap). The samples are interleaved (sample n of lane l at n * lanes + l)
// so that every step loads and stores whole vectors; lanes without a channel filter zeros
// from zero memory.
template <bool FlushOutputs, int G>
void highpass_group(const SecondOrderCoefficients& c, double* const mems[],
                    double* const samples[], int channels, int count) {
    const Tag d;
    constexpr int lanes = kLanes;
    alignas(64) double buf[G][G729_FRAME_SIZE * kMaxLanes];
    alignas(64) double mem[G][4 * kMaxLanes];
    for (int g = 0; g < G; ++g) {
        const int first = g * lanes;
        const int used = channels - first < 0 ? 0 : (channels - first < lanes ? channels - first
                                                                                : lanes);
        interleave_rows(mems + first, used, 4, mem[g]);
        interleave_rows(samples + first, used, count, buf[g]);
    }

    const LaneCoefficients lc{hn::Set(d, c.a1), hn::Set(d, c.a2), hn::Set(d, c.b0),
                              hn::Set(d, c.b1), hn::Set(d, c.b2)};
    const Vec threshold = hn::Set(d, kMemoryFlushThreshold);
    // flush_tiny per lane: |v| < threshold gives +0.0, anything else (NaN too) passes.
    const auto flush = [&](Vec v) { return hn::IfThenZeroElse(hn::Lt(hn::Abs(v), threshold), v); };
    SecondOrderMemory<Vec> m[G];
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
        const int used = channels - first < 0 ? 0 : (channels - first < lanes ? channels - first
                                                                                : lanes);
        deinterleave_rows(mem[g], used, 4, mems + first);
        deinterleave_rows(buf[g], used, count, samples + first);
    }
}

template <bool FlushOutputs>
void highpass_all(const SecondOrderCoefficients& c, double* const* mems, double* const* samples,
                  int channels, int count) {
    constexpr int lanes = kLanes;
    int first = 0;
    for (; channels - first > lanes; first += 2 * lanes) {
        const int n = channels - first < 2 * lanes ? channels - first : 2 * lanes;
        highpass_group<FlushOutputs, 2>(c, mems + first, samples + first, n, count);
    }
    if (first < channels) {
        highpass_group<FlushOutputs, 1>(c, mems + first, samples + first, channels - first,
                                        count);
    }
}

// Groups of two vectors while more than one vector's worth of channels is left.
void HighpassChannels(int filter, double* const* mems, double* const* samples, int channels,
                      int count) {
    if (filter == static_cast<int>(Highpass::preprocess)) {
        highpass_all<true>(kPreprocessFilter, mems, samples, channels, count);
    } else {
        highpass_all<false>(kOutputFilter, mems, samples, channels, count);
    }
}

// Sample R of a pass of ten for the G vectors of a group: G independent chains, so that their
// latencies overlap.
template <int R, int G>
HWY_INLINE void synthesis_steps(const Vec (&a)[G][11], Vec (&m)[G][10], const double* const* xb,
                                double* const* yb, int i, int lanes) {
    const Tag d;
    for (int g = 0; g < G; ++g) {
        const int at = (i + R) * lanes;
        hn::Store(synthesis_step<R>(a[g], hn::Load(d, xb[g] + at), m[g]), d, yb[g] + at);
    }
}

// One group of up to G * Lanes(d) synthesis jobs of L (0..40) samples, one per lane of G
// vectors: every lane does the operations of the single filter (primitives.cpp) on its own
// job. Inputs and memories are all read (interleaved by sample) before any output is written,
// so a job may filter in place and its memory may lie in its input.
template <int G>
void synthesis_group(const g729simd::SynthesisJob* jobs, int n, int L) {
    const Tag d;
    constexpr int lanes = kLanes;
    constexpr int kMaxBlock = G729_SUBFRAME_SIZE;
    alignas(64) double xbuf[G][kMaxBlock * kMaxLanes];
    alignas(64) double ybuf[G][kMaxBlock * kMaxLanes];
    alignas(64) double ab[G][11 * kMaxLanes];
    alignas(64) double mb[G][20 * kMaxLanes];
    const double* xb[G];
    double* yb[G];
    for (int g = 0; g < G; ++g) {
        xb[g] = xbuf[g];
        yb[g] = ybuf[g];
        const int first = g * lanes;
        const int used = n - first < 0 ? 0 : (n - first < lanes ? n - first : lanes);
        const double* a_rows[kMaxLanes] = {};
        const double* mem_rows[kMaxLanes] = {};
        const double* x_rows[kMaxLanes] = {};
        for (int l = 0; l < used; ++l) {
            a_rows[l] = jobs[first + l].a + 1;
            mem_rows[l] = jobs[first + l].mem;
            x_rows[l] = jobs[first + l].x;
        }
        interleave_rows(a_rows, used, 10, ab[g] + lanes);
        interleave_rows(mem_rows, used, 10, mb[g]);
        interleave_rows(x_rows, used, L, xbuf[g]);
    }
    Vec a[G][11];
    Vec m[G][10];
    for (int g = 0; g < G; ++g) {
        a[g][0] = hn::Set(d, 1.0);
        for (int k = 1; k <= 10; ++k) a[g][k] = hn::Load(d, ab[g] + k * lanes);
        for (int k = 0; k < 10; ++k) m[g][k] = hn::Load(d, mb[g] + k * lanes);
    }

    int i = 0;
    for (; i + 10 <= L; i += 10) {
        synthesis_steps<0, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<1, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<2, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<3, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<4, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<5, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<6, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<7, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<8, G>(a, m, xb, yb, i, lanes);
        synthesis_steps<9, G>(a, m, xb, yb, i, lanes);
    }
    // The last L mod 10 outputs through a work history, as in the single filter: w[k] is the
    // output 10 before w[k + 10]; the history ends in mb.
    const int rest = L - i;
    for (int g = 0; g < G; ++g) {
        for (int k = 0; k < 10; ++k) hn::Store(m[g][k], d, mb[g] + k * lanes);
        for (int r = 0; r < rest; ++r) {
            Vec w[10];
            for (int k = 0; k < 10; ++k) w[k] = hn::Load(d, mb[g] + (r + k) * lanes);
            const Vec out = history_step(a[g], hn::Load(d, xb[g] + (i + r) * lanes), w);
            hn::Store(out, d, mb[g] + (r + 10) * lanes);
            hn::Store(out, d, yb[g] + (i + r) * lanes);
        }
    }

    for (int g = 0; g < G; ++g) {
        const int first = g * lanes;
        const int used = n - first < 0 ? 0 : (n - first < lanes ? n - first : lanes);
        double* y_rows[kMaxLanes] = {};
        for (int l = 0; l < used; ++l) y_rows[l] = jobs[first + l].y;
        deinterleave_rows(ybuf[g], used, L, y_rows);
    }
    for (int j = 0; j < n && j < G * lanes; ++j) {
        const int g = j / lanes;
        const int l = j % lanes;
        if (jobs[j].update != 0) {
            for (int k = 0; k < 10; ++k) {
                jobs[j].mem[k] = flush_tiny(mb[g][(rest + k) * lanes + l]);
            }
        }
    }
}

// Groups of four vectors while more than two vectors' worth of jobs is left (a chain's ten
// dependent steps keep a vector unit busy only with three or more chains in flight), then of
// two while more than one is left.
void SynthesisChannels(const g729simd::SynthesisJob* jobs, int count, int L) {
    constexpr int lanes = kLanes;
    int first = 0;
    for (; count - first > 2 * lanes; first += 4 * lanes) {
        const int n = count - first < 4 * lanes ? count - first : 4 * lanes;
        synthesis_group<4>(jobs + first, n, L);
    }
    for (; count - first > lanes; first += 2 * lanes) {
        const int n = count - first < 2 * lanes ? count - first : 2 * lanes;
        synthesis_group<2>(jobs + first, n, L);
    }
    if (first < count) synthesis_group<1>(jobs + first, count - first, L);
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

void highpass_channels(Highpass filter, double* const mems[], double* const samples[],
                       int channels, int count) {
    if (channels <= 0) return;
    if (count < 0) count = 0;
    if (count > G729_FRAME_SIZE) count = G729_FRAME_SIZE;
    HWY_DYNAMIC_DISPATCH(HighpassChannels)(static_cast<int>(filter), mems, samples,
                                                      channels, count);
}

void synthesis_channels(const g729simd::SynthesisJob* jobs, int count, int L) {
    if (count <= 0) return;
    if (L < 0) L = 0;
    if (L > G729_SUBFRAME_SIZE) L = G729_SUBFRAME_SIZE;
    HWY_DYNAMIC_DISPATCH(SynthesisChannels)(jobs, count, L);
}

int highpass_lanes() { return HWY_DYNAMIC_DISPATCH(HighpassLanes)(); }
}  // namespace g729
#endif  // HWY_ONCE
