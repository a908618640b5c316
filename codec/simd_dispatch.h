// Vector kernels of the codec and the choice of instruction set at run time.
//
// Each hot routine is one source compiled twice: a baseline x86-64 build, which runs the
// scalar loops, and an AVX2 build, which runs vector kernels. A vector lane only ever holds an
// independent sum (one lag, one output, one codebook entry, one filter), whose terms are added
// in the same order, from the same starting value, as in the scalar loop; comparisons are
// made in the scalar order too. Both builds therefore give bit-identical results; the AVX2
// build only does four of those sums per instruction. Fused multiply-adds are never used: the
// AVX2 build does not enable FMA and the codec is compiled with -ffp-contract=off.
//
// The public routines pick the build with best_isa(). The variants below take the build
// explicitly, so that tests can run both on the same input and compare.
#pragma once

#include <cstdint>

#include "codec/g729.h"

namespace g729 {
namespace g729simd {

enum class Isa { baseline, avx2 };

// AVX2 when the processor has it, unless the library was built with G729_NO_AVX2.
inline Isa best_isa() {
#if defined(__x86_64__) && !defined(G729_NO_AVX2)
    return __builtin_cpu_supports("avx2") ? Isa::avx2 : Isa::baseline;
#else
    return Isa::baseline;
#endif
}

// True when the given build can run on this processor.
inline bool isa_available(Isa isa) {
    return isa == Isa::baseline || best_isa() == Isa::avx2;
}

// ---- Routines with an explicit build (same contracts as the public ones) ----

void lpc_synthesis_filter(Isa isa, const double a[11], const double* x, double* y, int L,
                          double mem[10], int update);
void lpc_residual_filter(Isa isa, const double a[11], const double* x, double* y, int L);

// One lpc_synthesis_filter call: coefficients, input, output, memory, update flag.
struct SynthesisJob {
    const double* a;
    const double* x;
    double* y;
    double* mem;
    int update;
};

// count (1..4) lpc_synthesis_filter calls of L samples each, computed side by side so that
// their dependency chains overlap. Each gives exactly what its own call gives, provided that
// no job writes (y, mem) anything another job reads or writes; a job may filter in place.
void lpc_synthesis_filters(Isa isa, const SynthesisJob* jobs, int count, int L);
void copy_doubles(Isa isa, const double* src, double* dst, int n);
void encode_frame_parameters(Isa isa, g729_encoder_state* st, int32_t params[G729_PARAMS_SIZE],
                             int32_t frame_count, int32_t dtx_enabled);
void preprocess_highpass(Isa isa, double hpf_mem[4], double* samples, int count);
int32_t fixed_codebook_search(Isa isa, const double x[40], double h[40], int t0, double code[40],
                              double y[40], int32_t* sign_index, double sharp);
void correlate_target_impulse(Isa isa, const double h[40], const double x[40], double d[40]);
int32_t open_loop_pitch_search(Isa isa, const double* wsp, int length);
int32_t closed_loop_pitch_search(Isa isa, double* exc, const double x[40], const double h[40],
                                 int length, int t0_min, int t0_max, int subframe_offset,
                                 int32_t* frac);
void adaptive_codebook_interpolate(Isa isa, double* exc, int t0, int frac, int length);
double adaptive_codebook_gain(Isa isa, const double* x, const double* y,
                              double gain_correlations[5], int length);
void fixed_codebook_correlations(Isa isa, const double x[40], const double y[40],
                                 const double z[40], double gain_correlations[5]);
int32_t quantize_gains(Isa isa, double gain_pred_mem[4], const double code[40],
                       const double gain_correlations[5], int length, double* gain_pitch,
                       double* gain_code, int32_t taming);
void postfilter_frame(Isa isa, g729_postfilter_state* pf, double* speech, const double lpc[22],
                      const int32_t lags[2], int32_t frame_type);
void post_highpass_filter(Isa isa, double mem[4], double* samples, int count);
// double_to_pcm16 of count samples.
void pcm16_from_doubles(Isa isa, const double* x, int16_t* out, int count);
void lpc_autocorrelation(Isa isa, const double x[240], int m, double* r);
void lpc_to_lsp(Isa isa, const double a[11], double lsp[10], const double old_lsp[10]);
void lsp_quantize(Isa isa, double memory[4][10], const double lsp[10], double lsp_q[10],
                  int32_t index[2]);

}  // namespace g729simd
}  // namespace g729

// Four doubles, handled as one AVX register or two SSE2 registers. Loads and stores go
// through the unaligned alias type. The helpers and kernels are always inlined into their two
// builds, so a vector never crosses a call and the calling-convention difference that -Wpsabi
// warns about cannot arise; GCC reports it at the end of the file, hence file-wide.
#pragma GCC diagnostic ignored "-Wpsabi"
#define G729_INLINE inline __attribute__((always_inline))
#if defined(__x86_64__) && !defined(G729_NO_AVX2)
#define G729_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define G729_TARGET_AVX2
#endif

namespace g729 {
namespace g729simd {

typedef double v4d __attribute__((vector_size(32)));
typedef double v4d_u __attribute__((vector_size(32), aligned(8), may_alias));
typedef long long v4l __attribute__((vector_size(32)));
typedef double v2d __attribute__((vector_size(16)));
typedef long long v2l __attribute__((vector_size(16)));

G729_INLINE v4d load4(const double* p) { return *reinterpret_cast<const v4d_u*>(p); }
G729_INLINE void store4(double* p, const v4d& v) { *reinterpret_cast<v4d_u*>(p) = v; }

// Lanes of a comparison result as bits, lane 0 in bit 0: the sign bits of the two halves.
G729_INLINE int mask4(const v4l& m) {
#if defined(__x86_64__)
    v2l lo;
    v2l hi;
    __builtin_memcpy(&lo, &m, sizeof lo);
    __builtin_memcpy(&hi, reinterpret_cast<const char*>(&m) + sizeof lo, sizeof hi);
    return __builtin_ia32_movmskpd(reinterpret_cast<v2d>(lo)) |
           (__builtin_ia32_movmskpd(reinterpret_cast<v2d>(hi)) << 2);
#else
    return (m[0] != 0 ? 1 : 0) | (m[1] != 0 ? 2 : 0) | (m[2] != 0 ? 4 : 0) | (m[3] != 0 ? 8 : 0);
#endif
}

// True when any lane of a comparison result is set: the two halves or-ed, then their signs.
G729_INLINE bool any4(const v4l& m) {
#if defined(__x86_64__)
    v2l lo;
    v2l hi;
    __builtin_memcpy(&lo, &m, sizeof lo);
    __builtin_memcpy(&hi, reinterpret_cast<const char*>(&m) + sizeof lo, sizeof hi);
    return __builtin_ia32_movmskpd(reinterpret_cast<v2d>(lo | hi)) != 0;
#else
    return ((m[0] | m[1]) | (m[2] | m[3])) != 0;
#endif
}

}  // namespace g729simd
}  // namespace g729

// Four copies of a double. A macro rather than a function: a vector returned from a function
// compiled for the baseline is rebuilt from two halves even after inlining into the AVX2 build,
// where written in place it is one broadcast. x is evaluated four times: keep it a plain value.
#define G729_SPLAT(x) (::g729::g729simd::v4d{(x), (x), (x), (x)})
