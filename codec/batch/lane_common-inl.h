// SPDX-License-Identifier: BSD-2-Clause
// The lane types, moving channels in and out of vector lanes, and kernels more than one lane
// file shares. No include guard: included into the instruction-set namespace of each Highway
// kernel file (after its `namespace hn = hwy::HWY_NAMESPACE`), and compiled for each target
// there.

// At most 8 channels per vector (8 doubles fill an AVX-512 register).
using Tag = hn::CappedTag<double, 8>;
using Vec = hn::Vec<Tag>;
constexpr int kMaxLanes = 8;

// Lanes per vector: known when compiling for each target (no scalable vectors are built).
constexpr int kLanes = static_cast<int>(hn::MaxLanes(Tag()));

using IndexTag = hn::RebindToSigned<Tag>;
using Index = hn::Vec<IndexTag>;

// A row of each lane's own, as the offsets of its elements in interleaved arrays when the row
// steps by 1, 5 or 8 elements: lane l's element offset + stride * row[l] is at
// (offset * n) + s<stride>[l].
struct RowLanes {
    RowLanes() {}  // written out: an implicit constructor would miss the target's attributes
    Index s1;
    Index s5;
    Index s8;
    // With eight lanes, the same offsets less the lane (where each lane's vector starts), for
    // reading every lane's element with a plain load of its own vector. Unused with fewer
    // lanes, but kept: the four-lane search measured 9% slower with them left out of the
    // frame (its spill slots moved).
    alignas(64) int64_t v1[kMaxLanes];
    alignas(64) int64_t v5[kMaxLanes];
    alignas(64) int64_t v8[kMaxLanes];
};

// Whole numbers held in doubles (within +-2^31) as indices: through 32-bit integers, which
// every target converts to in one instruction (AVX2 has none from doubles to 64-bit ones).
HWY_INLINE Index to_index(Vec v) {
    return hn::PromoteTo(IndexTag(), hn::DemoteTo(hn::Rebind<int32_t, Tag>(), v));
}

// The rows are small whole numbers, so every product below is exact.
HWY_INLINE RowLanes row_lanes(Vec rows) {
    const Tag d;
    const Vec lane = hn::Iota(d, 0.0);
    const Vec per_row = rows * hn::Set(d, kLanes);
    RowLanes out;
    out.s1 = to_index(per_row + lane);
    out.s5 = to_index(per_row * hn::Set(d, 5.0) + lane);
    out.s8 = to_index(per_row * hn::Set(d, 8.0) + lane);
    if constexpr (kLanes == 8) {
        hn::Store(to_index(per_row), IndexTag(), out.v1);
        hn::Store(to_index(per_row * hn::Set(d, 5.0)), IndexTag(), out.v5);
        hn::Store(to_index(per_row * hn::Set(d, 8.0)), IndexTag(), out.v8);
    }
    return out;
}

// yes where m is set, else no. With AVX2 the blend is written out: g++ 12 turns the blend
// intrinsic into a comparison of the mask with zero, which it then repeats (an integer compare
// on the chain) for every blend that shares a mask, as the searches' running bests do. The
// 64-bit lanes of counts and indices blend the same way.
template <class M, class V>
HWY_INLINE V select_lanes(M m, V yes, V no) {
#if HWY_TARGET == HWY_AVX2
    const hn::Vec<Tag> mask = hn::BitCast(Tag(), hn::VecFromMask(hn::DFromV<V>(), m));
    hn::Vec<Tag> out = hn::BitCast(Tag(), no);
    __asm__("vblendvpd %2, %1, %0, %0"
            : "+x"(out.raw)
            : "xm"(hn::BitCast(Tag(), yes).raw), "x"(mask.raw));
    return hn::BitCast(hn::DFromV<V>(), out);
#else
    return hn::IfThenElse(m, yes, no);
#endif
}

// The operations of the routines written once for a double and for lanes (the -inl.h
// templates; codec/common/scalar_ops.h has the single-channel ones), and of the lane kernels,
// on vectors of one channel per lane and arrays interleaved lane by lane (element i of lane l
// at i * n + l).
struct LaneOps {
    using Mask = hn::Mask<Tag>;
    Tag d;
    // Lanes per vector: known when compiling for each target (no scalable vectors are built),
    // so that every interleaved index folds into an address.
    static constexpr int n = kLanes;
    Vec set(double v) const { return hn::Set(d, v); }
    Vec load(const double* a, int i) const { return hn::Load(d, a + i * n); }
    void store(Vec v, double* a, int i) const { hn::Store(v, d, a + i * n); }
    // Lane l of the result: a[offset * n + at[l]] (at from RowLanes). A gather instruction
    // where the processor has one: lanes written one by one and read back as a vector would
    // wait for the stores to retire.
    Vec gather(const double* a, int offset, Index at) const {
        return hn::GatherIndex(d, a + offset * n, at);
    }
    Vec sqrt(Vec v) const { return hn::Sqrt(v); }
    Vec neg(Vec v) const { return hn::Neg(v); }
    // v times two signs (each +1.0 or -1.0): the bits of +1.0 and -1.0 differ only in the sign
    // bit, so their exclusive or is the sign bit or zero, and v's sign bit flipped by it is
    // the product's value (exact either way).
    Vec signed_by(Vec v, Vec s1, Vec s2) const {
        return hn::Xor(v, hn::Xor(s1, s2));
    }
    // a - b. On x86-64 as a fused multiply-add, a - b * 1.0: the product is exact and the sum
    // rounded once, so the value is the difference's, and it runs on the multipliers instead
    // of the adders (separate pipes there). Elsewhere a plain difference: Arm's pipes take both
    // alike, and its build carries no fused instruction at all.
    Vec minus_fused(Vec a, Vec b) const {
#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR
        return hn::NegMulAdd(b, hn::Set(d, 1.0), a);
#else
        return a - b;
#endif
    }
    Mask lt(Vec a, Vec b) const { return hn::Lt(a, b); }
    Mask gt(Vec a, Vec b) const { return hn::Gt(a, b); }
    Mask ge(Vec a, Vec b) const { return hn::Ge(a, b); }
    Mask le(Vec a, Vec b) const { return hn::Le(a, b); }
    Mask ne(Vec a, Vec b) const { return hn::Ne(a, b); }
    Mask eq(Vec a, Vec b) const { return hn::Eq(a, b); }
    Mask both(Mask a, Mask b) const { return hn::And(a, b); }
    Mask either(Mask a, Mask b) const { return hn::Or(a, b); }
    Mask and_not(Mask a, Mask b) const { return hn::AndNot(a, b); }
    Vec select(Mask m, Vec yes, Vec no) const { return select_lanes(m, yes, no); }
    bool any(Mask m) const { return !hn::AllFalse(d, m); }
    // Whole numbers that count or index, held in doubles.
    using Count = Vec;
    Vec whole(int v) const { return hn::Set(d, v); }
    // Each lane's own row, ready to address interleaved arrays, and element
    // offset + stride * row (stride 1, 5 or 8) of each lane, gathered.
    using Rows = RowLanes;
    Rows rows(Vec r) const { return row_lanes(r); }
    // With eight lanes, each lane's vector read whole and its own lane blended in: eight
    // loads and seven blends take fewer cycles than a gather of eight (the codebook search,
    // its only user, 6% faster on Zen 5); with four, the gather is the faster.
    Vec at(const double* a, int offset, const Rows& r, int stride) const {
        if constexpr (kLanes != 8) {
            const Index& s = stride == 1 ? r.s1 : (stride == 5 ? r.s5 : r.s8);
            return gather(a, offset, s);
        } else {
            const int64_t* v = stride == 1 ? r.v1 : (stride == 5 ? r.v5 : r.v8);
            const double* base = a + offset * n;
            Vec out = hn::Load(d, base + v[0]);
            for (int l = 1; l < n; ++l) {
                const auto own = hn::RebindMask(d, hn::Eq(hn::Iota(IndexTag(), 0),
                                                          hn::Set(IndexTag(), l)));
                out = hn::IfThenElse(own, hn::Load(d, base + v[l]), out);
            }
            return out;
        }
    }
    // Each lane's entry (row, column) of a two-column table stored row by row, gathered.
    Vec entry(const double* table, Vec row, int column) const {
#if HWY_TARGET == HWY_SCALAR
        // One lane: a plain read (the single-lane gather's index conversion has a saturated
        // out-of-range path that the compiler reports as a read before the table).
        return set(table[2 * static_cast<int>(hn::GetLane(row)) + column]);
#else
        return hn::GatherIndex(d, table + column, to_index(row * set(2.0)));
#endif
    }
};

// group(first, n) for the count channels in groups of one full vector each: channels
// first..first+n-1, the last group possibly short.
template <class Group>
HWY_INLINE void for_each_group(int count, Group&& group) {
    for (int first = 0; first < count; first += kLanes) {
        group(first, count - first < kLanes ? count - first : kLanes);
    }
}

// Lanes used by vector g of n channels, `lanes` lanes a vector (0 past the last).
constexpr int used_lanes(int n, int g, int lanes = kLanes) {
    return n - g * lanes < 0 ? 0 : (n - g * lanes < lanes ? n - g * lanes : lanes);
}

// block(first, n, vectors) for the count channels in blocks of up to four full vectors each
// (channels first..first+n-1), vectors a std::integral_constant of the block's vectors, so that
// a block's G chains side by side are known when compiling.
template <class Block>
HWY_INLINE void for_each_block(int count, Block&& block) {
    for (int first = 0; first < count; first += 4 * kLanes) {
        const int n = count - first < 4 * kLanes ? count - first : 4 * kLanes;
        const int vectors = (n + kLanes - 1) / kLanes;
        if (vectors == 4) {
            block(first, n, std::integral_constant<int, 4>());
        } else if (vectors == 3) {
            block(first, n, std::integral_constant<int, 3>());
        } else if (vectors == 2) {
            block(first, n, std::integral_constant<int, 2>());
        } else {
            block(first, n, std::integral_constant<int, 1>());
        }
    }
}

// N (the lanes of a vector of D) rows of N elements each into columns: row l element k
// becomes vector k lane l. Four lanes: pairs of rows interleaved within their 128-bit halves,
// then the halves gathered (8 shuffles, half of them within a half); otherwise log2(N) rounds
// of splitting every pair of vectors into their even and odd elements.
template <class D, int N>
HWY_INLINE void transpose(hn::Vec<D> (&v)[N]) {
#if HWY_TARGET == HWY_SCALAR
    (void)v;  // one lane: nothing to move
#else
    if constexpr (N == 4) {
        const D d;
        const hn::Vec<D> even01 = hn::InterleaveLower(d, v[0], v[1]);  // 0 and 2 of rows 0, 1
        const hn::Vec<D> odd01 = hn::InterleaveUpper(d, v[0], v[1]);   // 1 and 3
        const hn::Vec<D> even23 = hn::InterleaveLower(d, v[2], v[3]);
        const hn::Vec<D> odd23 = hn::InterleaveUpper(d, v[2], v[3]);
        v[0] = hn::ConcatLowerLower(d, even23, even01);
        v[1] = hn::ConcatLowerLower(d, odd23, odd01);
        v[2] = hn::ConcatUpperUpper(d, even23, even01);
        v[3] = hn::ConcatUpperUpper(d, odd23, odd01);
    } else if constexpr (N > 1) {
        const D d;
        for (int round = 1; round < N; round *= 2) {
            hn::Vec<D> t[N];
            for (int i = 0; i < N / 2; ++i) {
                t[i] = hn::ConcatEven(d, v[2 * i + 1], v[2 * i]);
                t[i + N / 2] = hn::ConcatOdd(d, v[2 * i + 1], v[2 * i]);
            }
            for (int i = 0; i < N; ++i) v[i] = t[i];
        }
    }
#endif
}

template <class D>
constexpr int lanes_of() {
    return static_cast<int>(hn::MaxLanes(D()));
}

// dst[i * N + l] = rows[l][i] for i < count, N the lanes of D: rows[0..n-1] side by side, one
// per lane, lanes from n on zero; with scale, rows[l][i] * scale[i] instead. Whole blocks of N
// elements go through registers.
template <class D = Tag>
inline void interleave_rows(const double* const* rows, int n, int count, double* dst,
                            const double* scale = nullptr) {
    const D d;
    constexpr int N = lanes_of<D>();
    int i = 0;
    if constexpr (N > 1) {
        for (; i + N <= count; i += N) {
            hn::Vec<D> v[N];
            for (int l = 0; l < N; ++l) v[l] = l < n ? hn::LoadU(d, rows[l] + i) : hn::Zero(d);
            transpose<D, N>(v);
            if (scale != nullptr) {
                for (int k = 0; k < N; ++k) v[k] = hn::Mul(v[k], hn::Set(d, scale[i + k]));
            }
            for (int k = 0; k < N; ++k) hn::Store(v[k], d, dst + (i + k) * N);
        }
    }
    for (double* out = dst + i * N; i < count; ++i, out += N) {
        for (int l = 0; l < N; ++l) {
            const double v = l < n ? rows[l][i] : 0.0;
            out[l] = scale != nullptr ? v * scale[i] : v;
        }
    }
}

// The reverse: rows[l][i] = src[i * N + l] for i < count and l < n.
template <class D = Tag>
inline void deinterleave_rows(const double* src, int n, int count, double* const* rows) {
    const D d;
    constexpr int N = lanes_of<D>();
    int i = 0;
    if constexpr (N > 1) {
        for (; i + N <= count; i += N) {
            hn::Vec<D> v[N];
            for (int k = 0; k < N; ++k) v[k] = hn::Load(d, src + (i + k) * N);
            transpose<D, N>(v);
            for (int l = 0; l < n; ++l) hn::StoreU(v[l], d, rows[l] + i);
        }
    }
    for (const double* in = src + i * N; i < count; ++i, in += N) {
        for (int l = 0; l < n; ++l) rows[l][i] = in[l];
    }
}
