// SPDX-License-Identifier: BSD-2-Clause
// The codec's vector kernels and the choice of instruction set at run time.
//
// The hot routines, and the encoder and decoder frames that call them, are compiled with
// Highway for every instruction set it targets (HWY_TARGET_INCLUDE + foreach_target; see
// simd_kernels-inl.h) and chosen at run time with HWY_DYNAMIC_DISPATCH: the public routines
// choose once per call, the frames once per frame. A vector lane only ever holds an
// independent sum (one lag, one output, one codebook entry, one filter), whose terms are added
// in the same order, from the same starting value, as in the scalar loop; comparisons are made
// in the scalar order too. Every instruction set therefore gives bit-identical results, the
// vector ones only do several of those sums per instruction. Fused multiply-adds are never
// used: no kernel calls Highway's fused operations and the codec is compiled with
// -ffp-contract=off.
//
// The variants below take the instruction set explicitly, so that tests can run every one on
// the same input and compare.
#pragma once

#include <cstdint>

#include "codec/g729.h"

// A helper that must be inlined into the routine it serves (and into its instruction set).
#define G729_INLINE inline __attribute__((always_inline))

namespace g729 {
namespace g729simd {

// One lpc_synthesis_filter call: coefficients, input, output, memory, update flag.
struct SynthesisJob {
    const double* a;
    const double* x;
    double* y;
    double* mem;
    int update;
};

// ---- Routines on a chosen instruction set (same contracts as the public ones) ----
// target: one Highway target bit (HWY_AVX2, HWY_NEON, ...) among those compiled and supported,
// hwy::SupportedAndGeneratedTargets(); the scalar target (HWY_BASELINE_SCALAR: HWY_SCALAR or
// HWY_EMU128) runs the scalar loops, the reference of the others.

void lpc_synthesis_filter(int64_t target, const double a[11], const double* x, double* y, int L,
                          double mem[10], int update);
void lpc_residual_filter(int64_t target, const double a[11], const double* x, double* y, int L);
// count (1..4) lpc_synthesis_filter calls of L samples each, computed side by side so that
// their dependency chains overlap. Each gives exactly what its own call gives, provided that
// no job writes (y, mem) anything another job reads or writes; a job may filter in place.
void lpc_synthesis_filters(int64_t target, const SynthesisJob* jobs, int count, int L);
void copy_doubles(int64_t target, const double* src, double* dst, int n);
void lpc_autocorrelation(int64_t target, const double x[240], int m, double* r);
void lpc_to_lsp(int64_t target, const double a[11], double lsp[10], const double old_lsp[10]);
void lsp_quantize(int64_t target, double memory[4][10], const double lsp[10], double lsp_q[10],
                  int32_t index[2]);

void preprocess_highpass(int64_t target, double hpf_mem[4], double* samples, int count);
void encode_frame_parameters(int64_t target, g729_encoder_state* st,
                             int32_t params[G729_PARAMS_SIZE], int32_t frame_count,
                             int32_t dtx_enabled);
int32_t open_loop_pitch_search(int64_t target, const double* wsp, int length);
int32_t closed_loop_pitch_search(int64_t target, double* exc, const double x[40],
                                 const double h[40], int length, int t0_min, int t0_max,
                                 int subframe_offset, int32_t* frac);
void adaptive_codebook_interpolate(int64_t target, double* exc, int t0, int frac, int length);
double adaptive_codebook_gain(int64_t target, const double* x, const double* y,
                              double gain_correlations[5], int length);
int32_t fixed_codebook_search(int64_t target, const double x[40], double h[40], int t0,
                              double code[40], double y[40], int32_t* sign_index, double sharp);
void correlate_target_impulse(int64_t target, const double h[40], const double x[40],
                              double d[40]);
void fixed_codebook_correlations(int64_t target, const double x[40], const double y[40],
                                 const double z[40], double gain_correlations[5]);
int32_t quantize_gains(int64_t target, double gain_pred_mem[4], const double code[40],
                       const double gain_correlations[5], int length, double* gain_pitch,
                       double* gain_code, int32_t taming);

void postfilter_frame(int64_t target, g729_postfilter_state* pf, double* speech,
                      const double lpc[22], const int32_t lags[2], int32_t frame_type);
void post_highpass_filter(int64_t target, double mem[4], double* samples, int count);
// double_to_pcm16 of count samples.
void pcm16_from_doubles(int64_t target, const double* x, int16_t* out, int count);
// A decoded frame (g729_unpack_frame's record, or a lost or untransmitted frame's) to 80
// samples: the decoder frame, the postfilter, the output high-pass and the conversion.
void decode_frame_samples(int64_t target, g729_decoder_state* st,
                          int32_t decoded[G729_DECODED_PARAMS_SIZE], int16_t samples[80]);

}  // namespace g729simd
}  // namespace g729
