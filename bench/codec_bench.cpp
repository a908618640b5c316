// SPDX-License-Identifier: BSD-2-Clause
// Google Benchmark of the codec on real speech: whole frames (encode, decode, both), the
// module's 20 ms host-frame path through the stand-in host, and the inner routines alone.
//
// Frame benchmarks run one stream with its state carried from frame to frame, cycling through
// the whole recording. Counters: ns_per_frame, and channels_per_core = 1 s / (100 x time per
// frame), both from the thread CPU time of the timing loop. A full-duplex frame is one frame encoded plus one decoded.
// --simd=avx3|avx2|scalar caps the kernels' instruction set, e.g. the batched engine's lane
// kernels with AVX2 on an AVX-512 machine: build/bin/g729_bench --simd=avx2 --benchmark_filter=Lane
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "bench/simd_cap.h"
#include "bench/speech_corpus.h"
#include "codec/batch/lane_fixed_codebook.h"
#include "codec/batch/lane_gain_quantizer.h"
#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_lpc_analysis.h"
#include "codec/batch/lane_lsp_quantizer.h"
#include "codec/batch/lane_pitch.h"
#include "codec/batch/lane_postfilter.h"
#include "codec/batch/lane_primitives.h"
#include "codec/decoder/postfilter.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/pitch.h"
#include "codec/frame_constants.h"
#include "codec/g729.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/lsp_quantizer.h"
#include "codec/lpc/primitives.h"
#include <pellarion/pel_host.h>
#include "host/pel_host_control.h"

using namespace g729;

namespace {

using g729bench::DecoderFrameInputs;
using g729bench::EncoderFrameInputs;

// Routine inputs are kept to about this many frames, spread over the recording, so that they
// stay in the caches the way one channel's working set does.
constexpr int kRoutineFrames = 512;

struct Corpus {
    g729bench::Speech speech;
    std::vector<uint8_t> bits;
    std::vector<EncoderFrameInputs> encoder_inputs;
    std::vector<DecoderFrameInputs> decoder_inputs;
};

Corpus* g_corpus = nullptr;

const Corpus& corpus() { return *g_corpus; }

void load_corpus() {
    const char* env = std::getenv("G729_BENCH_SPEECH");
    const std::string path = env != nullptr && *env != '\0' ? env : g729bench::default_speech_path();
    auto c = std::make_unique<Corpus>();
    c->speech = g729bench::load_speech(path);
    c->bits = g729bench::encode_stream(c->speech.samples);
    const int stride = c->speech.frames() > kRoutineFrames
                           ? (c->speech.frames() + kRoutineFrames - 1) / kRoutineFrames
                           : 1;
    g729bench::capture_routine_inputs(c->speech.samples, stride, &c->encoder_inputs,
                                      &c->decoder_inputs);
    g_corpus = c.release();
}

double thread_cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Counters of a frame benchmark from the thread CPU time of its timing loop. frames: codec
// frames (per direction) that one iteration stands for.
void frame_counters(benchmark::State& state, double frames, double cpu_ns) {
    const double per_frame = cpu_ns / (static_cast<double>(state.iterations()) * frames);
    state.counters["ns_per_frame"] = per_frame;
    state.counters["channels_per_core"] = 1e9 / (100.0 * per_frame);
}

const int16_t* frame_samples(int k) {
    return corpus().speech.samples.data() + static_cast<std::size_t>(k) * G729_FRAME_SIZE;
}

const uint8_t* frame_bits(int k) {
    return corpus().bits.data() + static_cast<std::size_t>(k) * G729_SPEECH_FRAME_BYTES;
}

// ---- Whole frames ----

void BM_EncodeFrame(benchmark::State& state) {
    auto enc = std::make_unique<g729_encoder_state>();
    g729_encoder_init(enc.get(), static_cast<int>(state.range(0)));
    const int frames = corpus().speech.frames();
    int k = 0;
    uint8_t bytes[G729_SPEECH_FRAME_BYTES];
    int32_t count = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        g729_encode_frame(enc.get(), frame_samples(k), bytes, &count);
        benchmark::DoNotOptimize(bytes);
        if (++k == frames) k = 0;
    }
    frame_counters(state, 1, thread_cpu_ns() - cpu0);
    state.SetLabel(state.range(0) != 0 ? "dtx on" : "dtx off");
}
BENCHMARK(BM_EncodeFrame)->Arg(0)->Arg(1);

void BM_DecodeFrame(benchmark::State& state) {
    auto dec = std::make_unique<g729_decoder_state>();
    g729_decoder_init(dec.get());
    const int frames = corpus().speech.frames();
    int k = 0;
    int16_t out[G729_FRAME_SIZE];
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        g729_decode_frame(dec.get(), out, frame_bits(k), G729_SPEECH_FRAME_BYTES);
        benchmark::DoNotOptimize(out);
        if (++k == frames) k = 0;
    }
    frame_counters(state, 1, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_DecodeFrame);

// One frame encoded, and the frame just coded decoded: one full-duplex channel's 10 ms.
void BM_FullDuplexFrame(benchmark::State& state) {
    auto enc = std::make_unique<g729_encoder_state>();
    auto dec = std::make_unique<g729_decoder_state>();
    g729_encoder_init(enc.get(), 0);
    g729_decoder_init(dec.get());
    const int frames = corpus().speech.frames();
    int k = 0;
    uint8_t bytes[G729_SPEECH_FRAME_BYTES];
    int32_t count = 0;
    int16_t out[G729_FRAME_SIZE];
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        g729_encode_frame(enc.get(), frame_samples(k), bytes, &count);
        g729_decode_frame(dec.get(), out, bytes, count);
        benchmark::DoNotOptimize(out);
        if (++k == frames) k = 0;
    }
    frame_counters(state, 1, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_FullDuplexFrame);

// ---- Many channels per call: the batched entry points ----

// Channel c reads the recording from frame 37 * c on, so that the channels' frames differ.
int channel_frame(int c, int k) { return (37 * c + k) % corpus().speech.frames(); }

// range(0) full-duplex channels, one frame each per iteration: one g729_encode_frames call,
// then one g729_decode_frames call on what it coded (range(1) 1: the _ws forms with a
// caller-owned workspace, 0: the plain forms, which need a smaller stack and run narrower).
// Counters per channel frame.
void BM_BatchFullDuplexFrame(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const bool with_workspace = state.range(1) != 0;
    std::vector<unsigned char> enc_ws(g729_encode_frames_workspace_size(n));
    std::vector<unsigned char> dec_ws(g729_decode_frames_workspace_size(n));
    std::vector<g729_encoder_state> enc(static_cast<std::size_t>(n));
    std::vector<g729_decoder_state> dec(static_cast<std::size_t>(n));
    std::vector<g729_encoder_state*> enc_ptr;
    std::vector<g729_decoder_state*> dec_ptr;
    std::vector<std::array<uint8_t, G729_SPEECH_FRAME_BYTES>> bytes(static_cast<std::size_t>(n));
    std::vector<std::array<int16_t, G729_FRAME_SIZE>> out(static_cast<std::size_t>(n));
    std::vector<const int16_t*> in_ptr(static_cast<std::size_t>(n));
    std::vector<uint8_t*> byte_ptr;
    std::vector<const uint8_t*> byte_cptr;
    std::vector<int16_t*> out_ptr;
    std::vector<int32_t> counts(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) {
        g729_encoder_init(&enc[c], 0);
        g729_decoder_init(&dec[c]);
        enc_ptr.push_back(&enc[c]);
        dec_ptr.push_back(&dec[c]);
        byte_ptr.push_back(bytes[c].data());
        byte_cptr.push_back(bytes[c].data());
        out_ptr.push_back(out[c].data());
    }
    int k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        for (int c = 0; c < n; ++c) in_ptr[c] = frame_samples(channel_frame(c, k));
        if (with_workspace) {
            g729_encode_frames_ws(enc_ptr.data(), n, in_ptr.data(), byte_ptr.data(),
                                  counts.data(), enc_ws.data(), enc_ws.size());
            g729_decode_frames_ws(dec_ptr.data(), n, out_ptr.data(), byte_cptr.data(),
                                  counts.data(), nullptr, dec_ws.data(), dec_ws.size());
        } else {
            g729_encode_frames(enc_ptr.data(), n, in_ptr.data(), byte_ptr.data(), counts.data());
            g729_decode_frames(dec_ptr.data(), n, out_ptr.data(), byte_cptr.data(),
                               counts.data(), nullptr);
        }
        benchmark::DoNotOptimize(out.data());
        ++k;
    }
    frame_counters(state, n, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_BatchFullDuplexFrame)->ArgsProduct({{16, 64}, {0, 1}});

// ---- The module through the stand-in host, 20 ms host frames ----

pelhost::LoadedModule* g_module = nullptr;
std::string g_module_error;

bool module_ready(benchmark::State& state) {
    if (g_module == nullptr && g_module_error.empty()) {
        g_module = pelhost::load_module_file(ORVANE_MODULE_PATH, &g_module_error);
        if (g_module == nullptr && g_module_error.empty()) g_module_error = "load failed";
    }
    if (g_module == nullptr) {
        state.SkipWithError(("module not loaded: " + g_module_error).c_str());
        return false;
    }
    return true;
}

constexpr int kHostFrameSamples = 160;  // 20 ms
constexpr int kHostFrameBytes = 20;     // two 10-byte frames

pel_frame slin_host_frame(const int16_t* samples) {
    return pel_frame{PEL_FRAME_VOICE, pel_format_slin, 2 * kHostFrameSamples, kHostFrameSamples,
                     "bench", samples, 0, 0};
}

pel_frame g729_host_frame(const void* bytes, int length) {
    return pel_frame{PEL_FRAME_VOICE, pel_format_g729, length, kHostFrameSamples, "bench", bytes,
                     0, 0};
}

struct InstanceDeleter {
    void operator()(pel_trans_pvt* p) const { pelhost::free_instance(p); }
};
using Instance = std::unique_ptr<pel_trans_pvt, InstanceDeleter>;

Instance instance(const char* name) {
    pel_translator* t = pelhost::find_translator(name);
    return Instance(t != nullptr ? pelhost::new_instance(t) : nullptr);
}

void BM_ModuleEncode20ms(benchmark::State& state) {
    if (!module_ready(state)) return;
    Instance enc = instance("lintog729");
    if (!enc) return state.SkipWithError("no lintog729 instance");
    const int steps = corpus().speech.frames() / 2;
    int k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        pel_frame in = slin_host_frame(frame_samples(2 * k));
        pelhost::framein(enc.get(), &in);
        pel_frame* out = pelhost::frameout(enc.get());
        if (out == nullptr || out->datalen != kHostFrameBytes) {
            state.SkipWithError("lintog729 did not return 20 bytes");
            break;
        }
        if (++k == steps) k = 0;
    }
    frame_counters(state, 2, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_ModuleEncode20ms);

void BM_ModuleDecode20ms(benchmark::State& state) {
    if (!module_ready(state)) return;
    Instance dec = instance("g729tolin");
    if (!dec) return state.SkipWithError("no g729tolin instance");
    const int steps = corpus().speech.frames() / 2;
    int k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        pel_frame in = g729_host_frame(frame_bits(2 * k), kHostFrameBytes);
        pelhost::framein(dec.get(), &in);
        pel_frame* out = pelhost::frameout(dec.get());
        if (out == nullptr || out->samples != kHostFrameSamples) {
            state.SkipWithError("g729tolin did not return 160 samples");
            break;
        }
        if (++k == steps) k = 0;
    }
    frame_counters(state, 2, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_ModuleDecode20ms);

void BM_ModuleFullDuplex20ms(benchmark::State& state) {
    if (!module_ready(state)) return;
    Instance enc = instance("lintog729");
    Instance dec = instance("g729tolin");
    if (!enc || !dec) return state.SkipWithError("no translator instance");
    const int steps = corpus().speech.frames() / 2;
    int k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        pel_frame in = slin_host_frame(frame_samples(2 * k));
        pelhost::framein(enc.get(), &in);
        pel_frame* coded = pelhost::frameout(enc.get());
        if (coded == nullptr) {
            state.SkipWithError("lintog729 returned nothing");
            break;
        }
        pel_frame payload = g729_host_frame(coded->data, coded->datalen);
        pelhost::framein(dec.get(), &payload);
        pel_frame* out = pelhost::frameout(dec.get());
        if (out == nullptr || out->samples != kHostFrameSamples) {
            state.SkipWithError("g729tolin did not return 160 samples");
            break;
        }
        if (++k == steps) k = 0;
    }
    frame_counters(state, 2, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_ModuleFullDuplex20ms);

// ---- Inner routines, each on its own with the inputs the codec gave it on the speech ----

template <typename Record>
const Record& next(const std::vector<Record>& records, std::size_t* k) {
    const Record& r = records[*k];
    if (++*k == records.size()) *k = 0;
    return r;
}

// The weighted-speech filter of a subframe (40 samples, memory updated).
void BM_LpcSynthesisFilter(benchmark::State& state) {
    const auto& inputs = corpus().encoder_inputs;
    std::size_t k = 0;
    double y[40];
    double mem[10];
    for (auto _ : state) {
        const EncoderFrameInputs& r = next(inputs, &k);
        std::memcpy(mem, r.wsp_memory, sizeof mem);
        lpc_synthesis_filter(r.weighted_filter, r.residual, y, 40, mem, 1);
        benchmark::DoNotOptimize(y);
        benchmark::DoNotOptimize(mem);
    }
}
BENCHMARK(BM_LpcSynthesisFilter);

void BM_LpcAutocorrelation(benchmark::State& state) {
    const auto& inputs = corpus().encoder_inputs;
    std::size_t k = 0;
    double r[13];
    for (auto _ : state) {
        lpc_autocorrelation(next(inputs, &k).speech_window, 12, r);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_LpcAutocorrelation);

void BM_OpenLoopPitchSearch(benchmark::State& state) {
    const auto& inputs = corpus().encoder_inputs;
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(open_loop_pitch_search(next(inputs, &k).wsp + 143, 80));
    }
}
BENCHMARK(BM_OpenLoopPitchSearch);

// Subframe 1; the search overwrites the subframe with the adaptive-codebook vector, so its
// 40 residual samples are put back before each call.
void BM_ClosedLoopPitchSearch(benchmark::State& state) {
    const auto& inputs = corpus().encoder_inputs;
    std::vector<std::array<double, 234>> exc(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::memcpy(exc[i].data(), inputs[i].exc, sizeof inputs[i].exc);
    }
    std::size_t k = 0;
    int32_t frac = 0;
    for (auto _ : state) {
        const std::size_t i = k;
        const EncoderFrameInputs& r = next(inputs, &k);
        double* e = exc[i].data() + 154;
        std::memcpy(e, r.residual, sizeof r.residual);
        benchmark::DoNotOptimize(closed_loop_pitch_search(e, r.target, r.impulse, 40, r.t0_min,
                                                          r.t0_max, 0, &frac));
    }
}
BENCHMARK(BM_ClosedLoopPitchSearch);

// Subframe 1; the search sharpens its impulse response in place, so a copy goes in.
void BM_FixedCodebookSearch(benchmark::State& state) {
    const auto& inputs = corpus().encoder_inputs;
    std::size_t k = 0;
    double h[40];
    double code[40];
    double y[40];
    int32_t sign = 0;
    for (auto _ : state) {
        const EncoderFrameInputs& r = next(inputs, &k);
        std::memcpy(h, r.impulse, sizeof h);
        benchmark::DoNotOptimize(
            fixed_codebook_search(r.fcb_target, h, r.t0, code, y, &sign, r.sharp));
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(y);
    }
}
BENCHMARK(BM_FixedCodebookSearch);

void BM_LspQuantize(benchmark::State& state) {
    const auto& inputs = corpus().encoder_inputs;
    std::size_t k = 0;
    double memory[4][10];
    double lsp_q[10];
    int32_t index[2];
    for (auto _ : state) {
        const EncoderFrameInputs& r = next(inputs, &k);
        std::memcpy(memory, r.lsf_memory, sizeof memory);
        lsp_quantize(memory, r.lsp, lsp_q, index);
        benchmark::DoNotOptimize(lsp_q);
        benchmark::DoNotOptimize(index);
    }
}
BENCHMARK(BM_LspQuantize);

// Consecutive frames of the decoder's synthesis with the postfilter state carried.
void BM_PostfilterFrame(benchmark::State& state) {
    const auto& inputs = corpus().decoder_inputs;
    auto dec = std::make_unique<g729_decoder_state>();
    g729_decoder_init(dec.get());
    g729_postfilter_state pf = dec->postfilter;
    double buf[90] = {};
    std::size_t k = 0;
    for (auto _ : state) {
        const DecoderFrameInputs& r = next(inputs, &k);
        std::memcpy(buf + 10, r.synthesis, sizeof r.synthesis);
        postfilter_frame(&pf, buf + 10, r.lpc, r.lags, r.frame_type);
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_PostfilterFrame);

// The lane kernels alone, on range(0) channels' inputs of consecutive recorded frames.
// Counters per channel.
void BM_LaneCodebookSearch(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto& inputs = corpus().encoder_inputs;
    std::vector<const double*> h(static_cast<std::size_t>(n));
    std::vector<const double*> x(static_cast<std::size_t>(n));
    std::vector<std::array<double, 40>> sign(static_cast<std::size_t>(n));
    std::vector<double*> sign_ptr;
    for (auto& s : sign) sign_ptr.push_back(s.data());
    std::vector<std::array<int, 4>> pos(static_cast<std::size_t>(n));
    std::size_t k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        for (int c = 0; c < n; ++c) {
            const EncoderFrameInputs& r = next(inputs, &k);
            h[c] = r.impulse;
            x[c] = r.fcb_target;
        }
        codebook_search_channels(h.data(), x.data(), n,
                                 reinterpret_cast<int(*)[4]>(pos.data()), sign_ptr.data());
        benchmark::DoNotOptimize(pos.data());
    }
    frame_counters(state, n, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_LaneCodebookSearch)->Arg(8)->Arg(16);

// range(0) closed-loop pitch searches side by side, as in subframe range(1) (0 or 1: the
// first searches only some lags' fractions); the residual is put back before each call.
void BM_LaneClosedLoop(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int offset = state.range(1) == 0 ? 0 : 40;
    const auto& inputs = corpus().encoder_inputs;
    const auto size = static_cast<std::size_t>(n);
    std::vector<std::array<double, 234>> exc(size);
    std::vector<double*> e(size);
    std::vector<const double*> x(size), h(size);
    std::vector<int> t0_min(size), t0_max(size), t0(size), frac(size);
    std::size_t k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        for (int c = 0; c < n; ++c) {
            const EncoderFrameInputs& r = next(inputs, &k);
            std::memcpy(exc[c].data(), r.exc, sizeof r.exc);
            e[c] = exc[c].data() + 154;
            x[c] = r.target;
            h[c] = r.impulse;
            t0_min[c] = r.t0_min;
            t0_max[c] = r.t0_max;
        }
        closed_loop_channels(e.data(), x.data(), h.data(), t0_min.data(), t0_max.data(), offset,
                             n, t0.data(), frac.data());
        benchmark::DoNotOptimize(t0.data());
    }
    frame_counters(state, n, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_LaneClosedLoop)->ArgsProduct({{16}, {0, 1}});

// range(0) frames' open-loop correlation maxima side by side (the three lag ranges).
void BM_LaneOpenLoop(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto& inputs = corpus().encoder_inputs;
    std::vector<const double*> wsp(static_cast<std::size_t>(n));
    std::vector<std::array<int, 3>> t(static_cast<std::size_t>(n));
    std::vector<std::array<double, 3>> max(static_cast<std::size_t>(n));
    std::size_t k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        for (auto& w : wsp) w = next(inputs, &k).wsp + kMaxPitchLag;
        open_loop_maxima_channels(wsp.data(), n, reinterpret_cast<int(*)[3]>(t.data()),
                                  reinterpret_cast<double(*)[3]>(max.data()));
        benchmark::DoNotOptimize(t.data());
    }
    frame_counters(state, n, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_LaneOpenLoop)->Arg(16);

// range(0) weighted-speech filters of a subframe (40 samples, memory updated) side by side.
void BM_LaneSynthesis(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto& inputs = corpus().encoder_inputs;
    std::vector<std::array<double, 40>> y(static_cast<std::size_t>(n));
    std::vector<std::array<double, 10>> mem(static_cast<std::size_t>(n));
    std::vector<g729simd::SynthesisJob> jobs(static_cast<std::size_t>(n));
    std::size_t k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        for (int c = 0; c < n; ++c) {
            const EncoderFrameInputs& r = next(inputs, &k);
            std::memcpy(mem[c].data(), r.wsp_memory, sizeof r.wsp_memory);
            jobs[c] = {r.weighted_filter, r.residual, y[c].data(), mem[c].data(), 1};
        }
        synthesis_channels(jobs.data(), n, 40);
        benchmark::DoNotOptimize(y.data());
    }
    frame_counters(state, n, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_LaneSynthesis)->Arg(16)->Arg(64);

// The LSP quantizer's first-stage search of range(0) targets side by side (two a frame, one
// per predictor mode, as the batched encoder searches them), from targets of the recorded
// frames made before timing.
void BM_LaneLspFirstStage(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto& inputs = corpus().encoder_inputs;
    const std::size_t frames = inputs.size() < 512 ? inputs.size() : 512;
    std::vector<LspQuantizeWork> work(frames);
    std::vector<const double*> pool;
    for (std::size_t f = 0; f < frames; ++f) {
        lsp_quantize_targets(inputs[f].lsf_memory, inputs[f].lsp, &work[f]);
        pool.push_back(work[f].target[0]);
        pool.push_back(work[f].target[1]);
    }
    std::vector<const double*> targets(static_cast<std::size_t>(n));
    std::vector<int> best(static_cast<std::size_t>(n));
    std::size_t k = 0;
    const double cpu0 = thread_cpu_ns();
    for (auto _ : state) {
        for (auto& t : targets) t = pool[k++ % pool.size()];
        lsp_first_stage_channels(targets.data(), n, best.data());
        benchmark::DoNotOptimize(best.data());
    }
    frame_counters(state, n, thread_cpu_ns() - cpu0);
}
BENCHMARK(BM_LaneLspFirstStage)->Arg(16)->Arg(64);

// --simd=avx3|avx2|scalar, taken out of the arguments: the kernels capped at that instruction
// set (as g729_channels --simd caps them), so that one machine measures the others' kernels.
// Returns false on an unknown value.
bool apply_simd_cap(int* argc, char** argv) {
    int kept = 1;
    bool ok = true;
    for (int i = 1; i < *argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "--simd=", 7) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        const int64_t cap = g729bench::simd_cap_target(a + 7);
        if (cap == 0) {
            std::fprintf(stderr, "g729_bench: --simd takes avx3, avx2 or scalar, not '%s'\n",
                         a + 7);
            ok = false;
        } else {
            g729bench::apply_simd_cap(cap);
        }
    }
    *argc = kept;
    argv[kept] = nullptr;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (!apply_simd_cap(&argc, argv)) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        load_corpus();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "g729_bench: %s\n", e.what());
        return 1;
    }
    benchmark::AddCustomContext("speech", corpus().speech.path + " (" +
                                              std::to_string(corpus().speech.frames()) +
                                              " frames)");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    int status = 0;
    if (g_module != nullptr && pelhost::unload_module(g_module) != 0) status = 1;
    delete g_corpus;
    return status;
}
