// SPDX-License-Identifier: BSD-2-Clause
// Highway kernels of the LPC analysis for many channels at once, one channel per vector
// lane: the windowed autocorrelation (autocorrelation_sums-inl.h), the Levinson-Durbin
// recursion (levinson_step-inl.h), the LSP root search (lsp_root_search-inl.h) and the
// LSP-to-LPC conversion (lsp_to_lpc-inl.h), all shared with the single-channel analysis.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codec/batch/lane_lpc_analysis.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <bit>
#include <cstdint>

#include "codec/batch/lane_lpc_analysis.h"
#include "codec/frame_constants.h"
#include "codec/tables/lpc_analysis_tables.h"

HWY_BEFORE_NAMESPACE();
namespace g729 {
namespace lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "codec/batch/lane_common-inl.h"
#include "codec/lpc/levinson_step-inl.h"
#include "codec/lpc/autocorrelation_sums-inl.h"
#include "codec/lpc/lsp_root_search-inl.h"
#include "codec/lpc/lsp_to_lpc-inl.h"

// The LPC analysis's autocorrelation of a 240-sample window, lags 0..12, one channel per lane:
// the windowed signal, then each lag's sum in order from 0.0 (the floor is the caller's). The
// thirteen sums advance together, one term each per sample, so that their chains overlap.
void autocorrelation_group(const double* const* x, int n, double (*r)[13]) {
    constexpr int kWindow = kLpcWindowLength;
    constexpr int kLags = kMaxAutocorrelationLag + 1;
    const LaneOps L;
    alignas(64) double y[kWindow * kLanes];
    interleave_rows(x, n, kWindow, y, lpc_analysis_window);
    Vec s[kLags];
    autocorrelation_sums(LaneOps(), y, kLags - 1, s);
    for (int k = 0; k < kLags; ++k) {
        alignas(64) double out[kLanes] = {};
        hn::Store(s[k], L.d, out);
        for (int l = 0; l < n && l < L.n; ++l) r[l][k] = out[l];
    }
}

// levinson_durbin (lpc_analysis.h) of one lag-windowed autocorrelation per lane: the same
// operations in the same order, the error's floor by a per-lane select.
void levinson_group(const double (*r)[13], int n, double (*a_out)[11], double (*rc_out)[10]) {
    const LaneOps L;
    alignas(64) double rb[11 * kLanes];
    for (int l = 0; l < L.n; ++l) {
        // Lanes without a channel solve r = (1, 0, ...): no division by zero.
        for (int k = 0; k <= 10; ++k) rb[k * L.n + l] = l < n ? r[l][k] : (k == 0 ? 1.0 : 0.0);
    }
    Vec rv[11];
    for (int k = 0; k <= 10; ++k) rv[k] = L.load(rb, k);
    Vec a[11];
    Vec rc[10];
    levinson_recursion(
        rv, a, rc, L.set(0.0), L.set(1.0), [](Vec x) { return hn::Neg(x); },
        [&](Vec e) { return select_lanes(hn::Le(e, L.set(0.0)), L.set(0.001), e); });
    alignas(64) double ab[11 * kLanes];
    alignas(64) double cb[10 * kLanes];
    for (int j = 0; j <= 10; ++j) L.store(a[j], ab, j);
    for (int j = 0; j < 10; ++j) L.store(rc[j], cb, j);
    for (int l = 0; l < n; ++l) {
        for (int j = 0; j <= 10; ++j) a_out[l][j] = ab[j * L.n + l];
        for (int j = 0; j < 10; ++j) rc_out[l][j] = cb[j * L.n + l];
    }
}

// Each lane's polynomial coefficients, chosen between the two by its own index.
struct LanePolynomial {
    LanePolynomial() {}  // written out: an implicit constructor would miss the target's attributes
    Vec c[6];
    const Vec& operator[](int k) const { return c[k]; }
};

// The root search's operations: those of LaneOps, with its counts (polynomial, grid interval,
// roots found) held in 64-bit integers, so that a grid index is an integer add and shift away
// from the table lookup instead of floating-point arithmetic and a conversion (the lanes walk
// the grid one dependent step at a time). Their comparisons give the doubles' masks.
struct RootSearchOps : LaneOps {
    using LaneOps::lt;
    using LaneOps::select;
    using Count = Index;
    static constexpr int kLaneShift = std::countr_zero(static_cast<unsigned>(kLanes));
    static_assert(1 << kLaneShift == kLanes);
    IndexTag di;
    Index whole(int v) const { return hn::Set(di, v); }
    Mask lt(Index a, Index b) const { return hn::RebindMask(d, hn::Lt(a, b)); }
    Index select(Mask m, Index yes, Index no) const {
        return select_lanes(hn::RebindMask(di, m), yes, no);
    }
    // Element index * kLanes + lane of an interleaved array.
    Index interleaved(Index index) const {
        return hn::ShiftLeft<kLaneShift>(index) + hn::Iota(di, 0);
    }
};

// Lane l of the result: table[index[l]].
HWY_INLINE Vec table_lookup(const double* table, Index index) {
#if HWY_TARGET == HWY_SCALAR
    // One lane: a plain read (see LaneOps::entry).
    return hn::Set(Tag(), table[hn::GetLane(index)]);
#else
    return hn::GatherIndex(Tag(), table, index);
#endif
}

// H vectors of channels taken as one by the root search, whose steps are a chain of dependent
// operations: the chains of the H vectors then overlap. Each operation is that of the vectors
// on their own.
template <int H>
struct Wide {
    Wide() {}  // written out: an implicit constructor would miss the target's attributes
    Vec v[H];
};
template <int H>
struct WideIndex {
    WideIndex() {}
    Index v[H];
};
template <int H>
struct WideMask {
    WideMask() {}
    hn::Mask<Tag> v[H];
};
#define G729_WIDE_OPERATOR(Type, op)                                      \
    template <int H>                                                      \
    HWY_INLINE Type<H> operator op(const Type<H>& a, const Type<H>& b) { \
        Type<H> r;                                                        \
        for (int h = 0; h < H; ++h) r.v[h] = a.v[h] op b.v[h];            \
        return r;                                                         \
    }
G729_WIDE_OPERATOR(Wide, +)
G729_WIDE_OPERATOR(Wide, -)
G729_WIDE_OPERATOR(Wide, *)
G729_WIDE_OPERATOR(Wide, /)
G729_WIDE_OPERATOR(WideIndex, +)
G729_WIDE_OPERATOR(WideIndex, -)
#undef G729_WIDE_OPERATOR

// The root search's operations on H vectors (RootSearchOps' on each).
template <int H>
struct WideOps {
    using T = Wide<H>;
    using Count = WideIndex<H>;
    using Mask = WideMask<H>;
    RootSearchOps o;
    // R with element h f(h).
    template <class R, class F>
    static R each(F&& f) {
        R r;
        for (int h = 0; h < H; ++h) r.v[h] = f(h);
        return r;
    }
    T set(double x) const { return each<T>([&](int) { return o.set(x); }); }
    Count whole(int x) const { return each<Count>([&](int) { return o.whole(x); }); }
    Mask lt(const T& a, const T& b) const {
        return each<Mask>([&](int h) { return o.lt(a.v[h], b.v[h]); });
    }
    Mask le(const T& a, const T& b) const {
        return each<Mask>([&](int h) { return o.le(a.v[h], b.v[h]); });
    }
    Mask lt(const Count& a, const Count& b) const {
        return each<Mask>([&](int h) { return o.lt(a.v[h], b.v[h]); });
    }
    Mask both(const Mask& a, const Mask& b) const {
        return each<Mask>([&](int h) { return o.both(a.v[h], b.v[h]); });
    }
    Mask and_not(const Mask& a, const Mask& b) const {
        return each<Mask>([&](int h) { return o.and_not(a.v[h], b.v[h]); });
    }
    bool any(const Mask& m) const {
        bool r = false;
        for (int h = 0; h < H; ++h) r = r || o.any(m.v[h]);
        return r;
    }
    T select(const Mask& m, const T& yes, const T& no) const {
        return each<T>([&](int h) { return o.select(m.v[h], yes.v[h], no.v[h]); });
    }
    Count select(const Mask& m, const Count& yes, const Count& no) const {
        return each<Count>([&](int h) { return o.select(m.v[h], yes.v[h], no.v[h]); });
    }
};

// Each lane's polynomial coefficients on H vectors.
template <int H>
struct WidePolynomial {
    WidePolynomial() {}
    Wide<H> c[6];
    const Wide<H>& operator[](int k) const { return c[k]; }
};

// lpc_to_lsp (lpc_analysis.h) of one LPC filter per lane, on H vectors of channels (n of
// them) searched as one: the sum and difference polynomials, both at every grid point, then
// each lane's root search (lsp_root_search-inl.h) with the same operations in the same order
// as the single-channel search; a lane that finds fewer than ten roots keeps its channel's
// previous LSPs.
template <int H>
void lsp_group(const double (*a)[11], const double* const* old_lsp, int n, double (*lsp)[10]) {
    const Tag d;
    const RootSearchOps o;
    const WideOps<H> w;
    const IndexTag di;
    constexpr int kPoints = kLspGridIntervals + 1;
    Vec f[H][2][6];
    alignas(64) double values[H][2 * kPoints * kLanes];
    alignas(64) int64_t changes[H][2][kLanes];
    // Roots by slot, lane by lane; slot 10 takes the lanes that find none in a step.
    alignas(64) double roots[H][11 * kLanes] = {};
    for (int h = 0; h < H; ++h) {
        const int used = n - h * kLanes < kLanes ? n - h * kLanes : kLanes;
        alignas(64) double ab[11 * kLanes];
        const double* rows[kLanes] = {};
        for (int l = 0; l < used; ++l) rows[l] = a[h * kLanes + l];
        interleave_rows(rows, used, 11, ab);
        lsp_polynomials<Vec>(o, ab, f[h]);
        for (int p = 0; p < 2; ++p) {
            for (int g = 0; g < kPoints; ++g) {
                o.store(chebyshev_value(o, f[h][p], hn::Set(d, lsp_search_grid[g])), values[h],
                        p * kPoints + g);
            }
        }
        // Each lane's sign changes between neighbouring grid points, bit g for the points g
        // and g + 1, as the walk tests them (their product at most zero; a NaN is no change).
        for (int p = 0; p < 2; ++p) {
            Index bits = hn::Zero(di);
            for (int g = 0; g < kLspGridIntervals; ++g) {
                const Vec y = o.load(values[h], p * kPoints + g) *
                              o.load(values[h], p * kPoints + g + 1);
                bits = hn::Or(bits,
                              hn::IfThenElseZero(hn::RebindMask(di, hn::Le(y, hn::Zero(d))),
                                                 hn::Set(di, int64_t{1} << g)));
            }
            hn::Store(bits, di, changes[h][p]);
        }
    }
    const Index second_values = hn::Set(di, kPoints);
    // The row of polynomial p (0 or 1) at grid point g in values: the second's follow the first's.
    const auto row_of = [&](Index p, Index g) {
        return hn::IfThenElseZero(hn::Ne(p, hn::Zero(di)), second_values) + g;
    };
    const Index no_slot = hn::Set(di, 10);
    // Grid points past the last, which the lanes done with their search ask for while others
    // go on (their values are never used), read the last one: no read goes past the tables.
    const Index last_point = hn::Set(di, kLspGridIntervals);
    const auto on_grid = [&](Index g) { return hn::Min(g, last_point); };
    const WideIndex<H> found = lsp_root_search<Wide<H>>(
        w,
        [&](const WideIndex<H>& p) {
            WidePolynomial<H> c;
            for (int h = 0; h < H; ++h) {
                const auto first = o.lt(p.v[h], o.whole(1));
                for (int k = 1; k <= 5; ++k) {
                    c.c[k].v[h] = select_lanes(first, f[h][0][k], f[h][1][k]);
                }
            }
            return c;
        },
        [&](const WideIndex<H>& g) {
            Wide<H> r;
            for (int h = 0; h < H; ++h) r.v[h] = table_lookup(lsp_search_grid, on_grid(g.v[h]));
            return r;
        },
        [&](const WideIndex<H>& p, const WideIndex<H>& g) {
            Wide<H> r;
            for (int h = 0; h < H; ++h) {
                r.v[h] = table_lookup(values[h], o.interleaved(row_of(p.v[h], on_grid(g.v[h]))));
            }
            return r;
        },
        [&](const WideMask<H>& m, const WideIndex<H>& k, const Wide<H>& x) {
            for (int h = 0; h < H; ++h) {
                // Lane by lane: a scatter instruction is slow on some processors.
                alignas(64) int64_t at[kLanes];
                alignas(64) double found_x[kLanes];
                hn::Store(o.interleaved(o.select(m.v[h], k.v[h], no_slot)), di, at);
                hn::Store(x.v[h], d, found_x);
                for (int l = 0; l < kLanes; ++l) roots[h][at[l]] = found_x[l];
            }
        },
        [&](const WideMask<H>& m, const WideIndex<H>& p, WideIndex<H>& j, Wide<H>& xlow,
            Wide<H>& ylow) {
            // From grid point j on, the first interval with a sign change of the lane's
            // polynomial, found in its bits instead of step by step.
            for (int h = 0; h < H; ++h) {
                alignas(64) int64_t at[kLanes];
                alignas(64) int64_t poly[kLanes];
                hn::Store(j.v[h], di, at);
                hn::Store(p.v[h], di, poly);
                for (int l = 0; l < kLanes; ++l) {
                    const uint64_t ahead = static_cast<uint64_t>(changes[h][poly[l]][l]) >> at[l];
                    at[l] = ahead != 0 ? at[l] + std::countr_zero(ahead) : kLspGridIntervals;
                }
                j.v[h] = o.select(m.v[h], hn::Load(di, at), j.v[h]);
                xlow.v[h] = o.select(m.v[h], table_lookup(lsp_search_grid, j.v[h]), xlow.v[h]);
                ylow.v[h] = o.select(
                    m.v[h], table_lookup(values[h], o.interleaved(row_of(p.v[h], j.v[h]))),
                    ylow.v[h]);
            }
        });
    for (int h = 0; h < H; ++h) {
        alignas(64) int64_t count[kLanes];
        hn::Store(found.v[h], di, count);
        for (int l = 0; l < kLanes && h * kLanes + l < n; ++l) {
            const int c = h * kLanes + l;
            const bool all_found = count[l] == 10;
            for (int i = 0; i < 10; ++i) {
                lsp[c][i] = all_found ? roots[h][i * kLanes + l] : old_lsp[c][i];
            }
        }
    }
}

// lsp_interpolate_to_lpc (lpc_analysis.h) of one channel per lane.
void lsp_interpolate_group(const double* const* old_lsp, const double* const* new_lsp, int n,
                           double* const* aq) {
    const LaneOps o;
    alignas(64) double ob[10 * kLanes];
    alignas(64) double nb[10 * kLanes];
    alignas(64) double mid[10 * kLanes];
    interleave_rows(old_lsp, n, 10, ob);
    interleave_rows(new_lsp, n, 10, nb);
    Vec a[22];
    lsp_interpolate_to_lpc_of(o, ob, nb, mid, a);
    alignas(64) double out[22 * kLanes];
    for (int k = 0; k < 22; ++k) o.store(a[k], out, k);
    deinterleave_rows(out, n, 22, aq);
}

void LspInterpolateChannels(const double* const* old_lsp, const double* const* new_lsp,
                            int count, double* const* aq) {
    for_each_group(count, [&](int first, int n) {
        lsp_interpolate_group(old_lsp + first, new_lsp + first, n, aq + first);
    });
}

// Two vectors of channels at a time (more give no more speed), the last one alone.
void LspChannels(const double (*a)[11], const double* const* old_lsp, int count,
                 double (*lsp)[10]) {
    for (int first = 0; first < count; first += 2 * kLanes) {
        const int n = count - first < 2 * kLanes ? count - first : 2 * kLanes;
        if (n > kLanes) {
            lsp_group<2>(a + first, old_lsp + first, n, lsp + first);
        } else {
            lsp_group<1>(a + first, old_lsp + first, n, lsp + first);
        }
    }
}

void LevinsonChannels(const double (*r)[13], int count, double (*a)[11], double (*rc)[10]) {
    for_each_group(count, [&](int first, int n) {
        levinson_group(r + first, n, a + first, rc + first);
    });
}

void AutocorrelationChannels(const double* const* x, int count, double (*r)[13]) {
    for_each_group(count, [&](int first, int n) {
        autocorrelation_group(x + first, n, r + first);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace lanes
}  // namespace g729
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace g729 {
namespace lanes {
HWY_EXPORT(AutocorrelationChannels);
HWY_EXPORT(LevinsonChannels);
HWY_EXPORT(LspChannels);
HWY_EXPORT(LspInterpolateChannels);
}  // namespace lanes
// The dispatch macros name a kernel as N_<target>::Kernel or by its table: unqualified.
using namespace lanes;
using g729simd::kernel_entry;

void autocorrelation_channels(const double* const x[], int count, double (*r)[13], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(AutocorrelationChannels), kernels)(x, count, r);
}

void levinson_channels(const double (*r)[13], int count, double (*a)[11], double (*rc)[10],
                       int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(LevinsonChannels), kernels)(r, count, a, rc);
}

void lsp_channels(const double (*a)[11], const double* const old_lsp[], int count,
                  double (*lsp)[10], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(LspChannels), kernels)(a, old_lsp, count, lsp);
}

void lsp_interpolate_channels(const double* const old_lsp[], const double* const new_lsp[],
                              int count, double* const aq[], int kernels) {
    if (count <= 0) return;
    kernel_entry(HWY_DISPATCH_TABLE(LspInterpolateChannels), kernels)(old_lsp, new_lsp, count,
                                                                     aq);
}
}  // namespace g729
#endif  // HWY_ONCE
