// SPDX-License-Identifier: BSD-2-Clause
// g729_channels: many full-duplex channels at once, through the module in the stand-in host or
// straight through the codec's entry points.
//
//   g729_channels [--channels N] [--threads T] [--seconds S] [--module PATH] [--speech PATH]
//                 [--engine module|single|batch|batch-ws[,...]] [--repeat R] [--simd avx3|avx2|scalar]
//
// --engine chooses what codes the channels (default: module):
//   module  the module's translators, 20 ms host frames (described below)
//   single  the codec's single-channel entry points: every 10 ms each channel's frame is
//           encoded (g729_encode_frame) and its 10 bytes decoded (g729_decode_frame)
//   batch   the batched entry points: every 10 ms one g729_encode_frames and one
//           g729_decode_frames call per thread for all of its channels
//   batch-ws  the same through g729_encode_frames_ws and g729_decode_frames_ws, with a
//           workspace per thread
// Several engines, comma-separated, run one after the other in the same run on the same
// channels and audio, R times each in turn (--repeat, default 1); for single and batch the
// ratio of their best channels-per-core figures is printed at the end.
//
// --simd caps the instruction sets the codec's kernels may use (default: the best this
// processor runs), e.g. avx2 on an AVX-512 machine to see what a machine without it would get.
//
// A channel is one lintog729 and one g729tolin instance. Every 20 ms step of a channel feeds
// 160 samples of speech to its encoder, takes the 20 bytes out, feeds them to its decoder and
// takes the 160 samples out. The channels are shared out in contiguous blocks among T worker
// threads (default: one per core; each bound to a processor of its own when there are no more
// threads than processors), each of which runs its channels' steps round-robin as fast as it
// can, until every channel has carried S seconds of audio (default 10). N defaults to
// cores x 64.
//
// Reported:
//   channels per core = total channel-seconds of audio / (wall seconds x cores), where cores
//   is the number of cores in use: the smaller of T and the cores the process may run on
//   channels per CPU second = total channel-seconds of audio / process CPU seconds
//   per-frame latency = wall time of one channel's 20 ms step (both directions), and of each
//   direction alone; percentiles over every step of every channel.
#include <sched.h>
#include <time.h>

#include <CLI/CLI.hpp>
#include <hwy/targets.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/simd_cap.h"
#include "bench/speech_corpus.h"
#include "codec/batch/lane_kernels.h"
#include "codec/g729.h"
#include <pellarion/pel_host.h>
#include "host/pel_host_control.h"

namespace {

constexpr int kStepSamples = 160;  // one 20 ms host frame
constexpr int kStepBytes = 20;
// Command-line bounds: far beyond any useful run, short of exhausting the machine.
constexpr int kMaxChannels = 100000;
constexpr int kMaxThreads = 1024;
constexpr double kMaxSeconds = 86400.0;
constexpr int kMaxRepeat = 1000;

struct Options {
    int channels = 0;
    int threads = 0;
    double seconds = 10.0;
    std::string module = ORVANE_MODULE_PATH;
    std::string speech;
    std::vector<std::string> engines{"module"};
    int repeat = 1;
    std::string simd;
};

int online_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

// Worker t of `threads` bound to a processor of its own (the t-th the process may run on) when
// there are no more workers than processors, so that a worker's channels stay in its core's
// caches; more workers than processors are left to the scheduler.
void pin_worker(int t, int threads) {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    if (threads > CPU_COUNT(&allowed)) return;
    int seen = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        if (seen++ != t) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof one, &one);  // this thread only; a refusal leaves it free
        return;
    }
}

// Channel i of n in the share of worker i * threads / n: each worker takes a contiguous block,
// so no two workers write neighbouring channels.
std::size_t worker_of(std::size_t i, std::size_t n, std::size_t threads) {
    return i * threads / n;
}

double cpu_seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Channel {
    pel_trans_pvt* enc = nullptr;
    pel_trans_pvt* dec = nullptr;
    std::size_t offset = 0;  // first sample of its speech
};

struct Latencies {
    std::vector<float> both;  // microseconds
    std::vector<float> enc;
    std::vector<float> dec;
    bool failed = false;
};

using Clock = std::chrono::steady_clock;

// Starts the waiting workers together and returns the wall and process CPU seconds until the
// last one ends.
std::pair<double, double> release_and_join(std::vector<std::thread>& workers,
                                           std::atomic<bool>& go) {
    const double cpu0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    const Clock::time_point wall0 = Clock::now();
    go.store(true, std::memory_order_release);
    for (std::thread& w : workers) w.join();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    return {wall, cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0};
}

float micros(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<float, std::micro>(b - a).count();
}

void run_channels(const std::vector<Channel*>& mine, const std::vector<int16_t>& speech,
                  int steps, const std::atomic<bool>* go, Latencies* lat) {
    lat->both.reserve(mine.size() * static_cast<std::size_t>(steps));
    lat->enc.reserve(lat->both.capacity());
    lat->dec.reserve(lat->both.capacity());
    while (!go->load(std::memory_order_acquire)) {
    }
    for (int s = 0; s < steps; ++s) {
        for (Channel* c : mine) {
            const std::size_t at = (c->offset + static_cast<std::size_t>(s) * kStepSamples) %
                                   speech.size();
            pel_frame in{PEL_FRAME_VOICE, pel_format_slin, 2 * kStepSamples, kStepSamples,
                         "g729_channels", speech.data() + at, 0, 0};
            const Clock::time_point t0 = Clock::now();
            pelhost::framein(c->enc, &in);
            pel_frame* coded = pelhost::frameout(c->enc);
            const Clock::time_point t1 = Clock::now();
            if (coded == nullptr || coded->datalen != kStepBytes) {
                lat->failed = true;
                return;
            }
            pel_frame payload{PEL_FRAME_VOICE, pel_format_g729, coded->datalen, kStepSamples,
                              "g729_channels", coded->data, 0, 0};
            pelhost::framein(c->dec, &payload);
            pel_frame* out = pelhost::frameout(c->dec);
            const Clock::time_point t2 = Clock::now();
            if (out == nullptr || out->samples != kStepSamples) {
                lat->failed = true;
                return;
            }
            lat->enc.push_back(micros(t0, t1));
            lat->dec.push_back(micros(t1, t2));
            lat->both.push_back(micros(t0, t2));
        }
    }
}

// Nearest-rank percentile.
float percentile(std::vector<float>& v, double p) {
    if (v.empty()) return 0.0f;
    std::size_t rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
    rank = std::clamp<std::size_t>(rank, 1, v.size());
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rank - 1), v.end());
    return v[rank - 1];
}

void print_latency(const char* what, std::vector<float>& v) {
    const float p50 = percentile(v, 50);
    const float p99 = percentile(v, 99);
    const float p999 = percentile(v, 99.9);
    const float max = percentile(v, 100);
    std::printf("latency %-11s p50 %8.1f us   p99 %8.1f us   p99.9 %8.1f us   max %8.1f us\n", what,
                static_cast<double>(p50), static_cast<double>(p99), static_cast<double>(p999),
                static_cast<double>(max));
}

// Result of one engine run: channels per core (wall clock) and per CPU second.
struct Figures {
    double per_core = 0.0;
    double per_cpu_second = 0.0;
};

Figures run_module(const Options& o, const g729bench::Speech& speech, int cores) {
    const int steps = static_cast<int>(o.seconds * 50.0 + 0.5);
    const double audio_seconds = steps * 0.02;

    std::string error;
    pelhost::LoadedModule* module = pelhost::load_module_file(o.module, &error);
    if (module == nullptr) throw std::runtime_error("cannot load " + o.module + ": " + error);
    pel_translator* enc_t = pelhost::find_translator("lintog729");
    pel_translator* dec_t = pelhost::find_translator("g729tolin");
    if (enc_t == nullptr || dec_t == nullptr) throw std::runtime_error("translators missing");

    // Channels start at different places of the recording.
    const std::size_t step_count = speech.samples.size() / kStepSamples;
    std::vector<Channel> channels(static_cast<std::size_t>(o.channels));
    for (std::size_t i = 0; i < channels.size(); ++i) {
        channels[i].enc = pelhost::new_instance(enc_t);
        channels[i].dec = pelhost::new_instance(dec_t);
        if (channels[i].enc == nullptr || channels[i].dec == nullptr) {
            throw std::runtime_error("instance set-up failed");
        }
        channels[i].offset = (i * step_count / channels.size()) * kStepSamples;
    }

    std::vector<std::vector<Channel*>> share(static_cast<std::size_t>(o.threads));
    for (std::size_t i = 0; i < channels.size(); ++i) {
        share[worker_of(i, channels.size(), share.size())].push_back(&channels[i]);
    }
    std::vector<Latencies> lat(share.size());
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < share.size(); ++t) {
        workers.emplace_back([&, t] {
            pin_worker(static_cast<int>(t), static_cast<int>(share.size()));
            run_channels(share[t], speech.samples, steps, &go, &lat[t]);
        });
    }
    const auto [wall, cpu] = release_and_join(workers, go);

    for (Channel& c : channels) {
        pelhost::free_instance(c.enc);
        pelhost::free_instance(c.dec);
    }
    if (pelhost::unload_module(module) != 0) throw std::runtime_error("module unload failed");

    Latencies all;
    for (Latencies& l : lat) {
        if (l.failed) throw std::runtime_error("a translator did not return a whole 20 ms frame");
        all.both.insert(all.both.end(), l.both.begin(), l.both.end());
        all.enc.insert(all.enc.end(), l.enc.begin(), l.enc.end());
        all.dec.insert(all.dec.end(), l.dec.begin(), l.dec.end());
    }

    const double channel_seconds = o.channels * audio_seconds;
    const int used = std::min(o.threads, cores);
    std::printf("channels:      %d full-duplex (lintog729 + g729tolin), 20 ms host frames\n",
                o.channels);
    std::printf("threads:       %d on %d cores (%d in use)\n", o.threads, cores, used);
    std::printf("audio:         %.2f s per channel, %.1f channel-seconds in all\n", audio_seconds,
                channel_seconds);
    std::printf("wall time:     %.3f s   process CPU time: %.3f s\n", wall, cpu);
    std::printf("channels per core (channel-seconds / (wall s x %d cores)): %.1f\n", used,
                channel_seconds / (wall * used));
    std::printf("channels per CPU second (channel-seconds / CPU s):          %.1f\n",
                channel_seconds / cpu);
    std::printf("per-frame latency, one channel's 20 ms step (%zu steps):\n", all.both.size());
    print_latency("full-duplex", all.both);
    print_latency("encode", all.enc);
    print_latency("decode", all.dec);
    return Figures{channel_seconds / (wall * used), channel_seconds / cpu};
}

// One full-duplex channel coded straight through the codec (DTX off, as in the module); on
// cache lines of its own, which only its worker writes.
struct alignas(64) CodecChannel {
    g729_encoder_state enc;
    g729_decoder_state dec;
    std::size_t offset = 0;
    uint8_t bytes[G729_SPEECH_FRAME_BYTES] = {};
    int32_t byte_count = 0;
    int16_t out[G729_FRAME_SIZE] = {};
};

// Codes `frames` 10 ms frames of each channel: per frame, every channel encoded then decoded,
// through the single-channel or the batched entry points (with a workspace when given one).
// Sets *failed on a coding error.
void code_channels(bool batch, bool workspace, const std::vector<CodecChannel*>& mine,
                   const std::vector<int16_t>& speech, int frames, const std::atomic<bool>* go,
                   bool* failed) {
    const std::size_t n = mine.size();
    std::vector<unsigned char> enc_ws(workspace ? g729_encode_frames_workspace_size(int(n)) : 0);
    std::vector<unsigned char> dec_ws(workspace ? g729_decode_frames_workspace_size(int(n)) : 0);
    std::vector<g729_encoder_state*> enc(n);
    std::vector<g729_decoder_state*> dec(n);
    std::vector<const int16_t*> in(n);
    std::vector<uint8_t*> bytes(n);
    std::vector<const uint8_t*> units(n);
    std::vector<int32_t> counts(n);
    std::vector<int16_t*> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        enc[i] = &mine[i]->enc;
        dec[i] = &mine[i]->dec;
        bytes[i] = mine[i]->bytes;
        units[i] = mine[i]->bytes;
        out[i] = mine[i]->out;
    }
    while (!go->load(std::memory_order_acquire)) {
    }
    const int count = static_cast<int>(n);
    for (int f = 0; f < frames; ++f) {
        for (std::size_t i = 0; i < n; ++i) {
            in[i] = speech.data() +
                    (mine[i]->offset + static_cast<std::size_t>(f) * G729_FRAME_SIZE) % speech.size();
        }
        if (batch && workspace) {
            g729_encode_frames_ws(enc.data(), count, in.data(), bytes.data(), counts.data(),
                                  enc_ws.data(), enc_ws.size());
            if (g729_decode_frames_ws(dec.data(), count, out.data(), units.data(), counts.data(),
                                      nullptr, dec_ws.data(), dec_ws.size()) != 0) {
                *failed = true;
                return;
            }
        } else if (batch) {
            g729_encode_frames(enc.data(), count, in.data(), bytes.data(), counts.data());
            if (g729_decode_frames(dec.data(), count, out.data(), units.data(), counts.data(),
                                   nullptr) != 0) {
                *failed = true;
                return;
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                g729_encode_frame(enc[i], in[i], bytes[i], &counts[i]);
                if (g729_decode_frame(dec[i], out[i], units[i], counts[i]) != 0) {
                    *failed = true;
                    return;
                }
            }
        }
    }
}

Figures run_codec(const std::string& engine, const Options& o, const g729bench::Speech& speech,
                  int cores) {
    const bool batch = engine != "single";
    const int frames = static_cast<int>(o.seconds * 100.0 + 0.5);
    const double audio_seconds = frames * 0.01;
    const std::size_t frame_count = speech.samples.size() / G729_FRAME_SIZE;
    std::vector<CodecChannel> channels(static_cast<std::size_t>(o.channels));
    for (std::size_t i = 0; i < channels.size(); ++i) {
        g729_encoder_init(&channels[i].enc, 0);
        g729_decoder_init(&channels[i].dec);
        channels[i].offset = (i * frame_count / channels.size()) * G729_FRAME_SIZE;
    }
    std::vector<std::vector<CodecChannel*>> share(static_cast<std::size_t>(o.threads));
    for (std::size_t i = 0; i < channels.size(); ++i) {
        share[worker_of(i, channels.size(), share.size())].push_back(&channels[i]);
    }
    std::vector<char> failed(share.size(), 0);
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < share.size(); ++t) {
        workers.emplace_back(
            [&, t] {
                pin_worker(static_cast<int>(t), static_cast<int>(share.size()));
                bool f = false;
                code_channels(batch, engine == "batch-ws", share[t], speech.samples, frames, &go,
                              &f);
                failed[t] = f ? 1 : 0;
            });
    }
    const auto [wall, cpu] = release_and_join(workers, go);
    for (char f : failed) {
        if (f != 0) throw std::runtime_error("a decoder refused its channel's frame");
    }

    const double channel_seconds = o.channels * audio_seconds;
    const int used = std::min(o.threads, cores);
    const Figures fig{channel_seconds / (wall * used), channel_seconds / cpu};
    std::printf("engine %-6s %d full-duplex channels, %d threads on %d cores, %.2f s of audio "
                "each: wall %.3f s, CPU %.3f s\n",
                engine.c_str(), o.channels, o.threads, used, audio_seconds, wall, cpu);
    std::printf("engine %-6s channels per core %.1f   channels per CPU second %.1f\n",
                engine.c_str(), fig.per_core, fig.per_cpu_second);
    return fig;
}

int run(const Options& given) {
    const int cores = online_cores();
    Options o = given;
    if (o.threads <= 0) o.threads = cores;
    if (o.channels <= 0) o.channels = cores * 64;
    o.threads = std::min(o.threads, o.channels);  // a thread without a channel has nothing to do
    if (o.seconds <= 0) throw std::runtime_error("--seconds must be positive");
    if (o.repeat <= 0) throw std::runtime_error("--repeat must be positive");
    if (o.speech.empty()) o.speech = g729bench::default_speech_path();

    g729bench::Speech speech = g729bench::load_speech(o.speech);
    speech.samples.resize(speech.samples.size() / kStepSamples * kStepSamples);
    if (speech.samples.empty()) throw std::runtime_error("speech shorter than 20 ms");
    std::printf("speech:        %s\n", speech.path.c_str());
    const int64_t used = g729bench::apply_simd_cap(g729bench::simd_cap_target(o.simd));
    std::printf("simd:          %s\n", used != 0 ? hwy::TargetName(used) : "none");
    // What the batched engine's kernels actually run on: the proof that the cap holds.
    std::printf("lanes:         %d (doubles a vector in the batched engine's kernels)\n",
                g729::lane_kernels_lanes(g729::lane_kernels(8)));

    Figures best_single;
    Figures best_batch;
    Figures best_batch_ws;
    for (int r = 0; r < o.repeat; ++r) {
        for (const std::string& e : o.engines) {
            if (e == "module") {
                run_module(o, speech, cores);
            } else {
                const Figures f = run_codec(e, o, speech, cores);
                Figures& best = e == "batch" ? best_batch : e == "batch-ws" ? best_batch_ws
                                                                            : best_single;
                best.per_core = std::max(best.per_core, f.per_core);
                best.per_cpu_second = std::max(best.per_cpu_second, f.per_cpu_second);
            }
        }
    }
    if (best_single.per_core > 0.0 && best_batch.per_core > 0.0) {
        std::printf("batch / single (best of %d each): channels per core %.1f / %.1f = %.2fx, "
                    "per CPU second %.1f / %.1f = %.2fx\n",
                    o.repeat, best_batch.per_core, best_single.per_core,
                    best_batch.per_core / best_single.per_core, best_batch.per_cpu_second,
                    best_single.per_cpu_second,
                    best_batch.per_cpu_second / best_single.per_cpu_second);
    }
    if (best_single.per_core > 0.0 && best_batch_ws.per_core > 0.0) {
        std::printf("batch-ws / single (best of %d each): channels per core %.1f / %.1f = %.2fx, "
                    "per CPU second %.1f / %.1f = %.2fx\n",
                    o.repeat, best_batch_ws.per_core, best_single.per_core,
                    best_batch_ws.per_core / best_single.per_core,
                    best_batch_ws.per_cpu_second, best_single.per_cpu_second,
                    best_batch_ws.per_cpu_second / best_single.per_cpu_second);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"Many full-duplex channels at once, through the module in the stand-in host or "
                 "the codec's entry points; prints channels per core and per-frame latency.",
                 "g729_channels"};
    // Bounds that refuse what cannot be meant (no channel, a thread per channel of a large
    // exchange, NaN seconds) with a usage error instead of running something else.
    app.add_option("--channels", o.channels, "channels (default: cores x 64)")
        ->check(CLI::Range(1, kMaxChannels));
    app.add_option("--threads", o.threads, "worker threads (default: one per core)")
        ->check(CLI::Range(1, kMaxThreads));
    app.add_option("--seconds", o.seconds, "seconds of audio per channel")
        ->check(CLI::Validator(
            [](const std::string& text) -> std::string {
                double v = 0;
                if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v) || v < 0.02 ||
                    v > kMaxSeconds) {
                    return "expected seconds from 0.02 to " + std::to_string(int(kMaxSeconds)) +
                           ", got " + text;
                }
                return {};
            },
            "SECONDS"))
        ->capture_default_str();
    app.add_option("--module", o.module, "module file")->capture_default_str();
    app.add_option("--speech", o.speech, "speech file (default: the ITU speech vector, else the "
                                         "project's recording)");
    app.add_option("--engine", o.engines,
                   "what codes the channels: module, single (the single-channel entry points), "
                   "batch (the batched entry points), batch-ws (the same with a workspace); "
                   "several, comma-separated, run in turn")
        ->delimiter(',')
        ->check(CLI::IsMember({"module", "single", "batch", "batch-ws"}))
        ->capture_default_str();
    app.add_option("--simd", o.simd, "the best instruction set the codec may use (default: the "
                                     "best the processor runs)")
        ->check(CLI::IsMember({"avx3", "avx2", "scalar"}));
    app.add_option("--repeat", o.repeat, "runs of each engine, in turn")
        ->check(CLI::Range(1, kMaxRepeat))
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help
        std::fprintf(stderr, "g729_channels: %s (see g729_channels --help)\n", e.what());
        return 2;
    }
    try {
        return run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "g729_channels: %s\n", e.what());
        return 1;
    }
}
