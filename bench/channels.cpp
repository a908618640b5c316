// g729_channels: many full-duplex channels at once through the module in the stand-in host.
//
//   g729_channels [--channels N] [--threads T] [--seconds S] [--module PATH] [--speech PATH]
//
// A channel is one lintog729 and one g729tolin instance. Every 20 ms step of a channel feeds
// 160 samples of speech to its encoder, takes the 20 bytes out, feeds them to its decoder and
// takes the 160 samples out. The channels are shared out among T worker threads (default:
// one per core), each of which runs its channels' steps round-robin as fast as it can, until
// every channel has carried S seconds of audio (default 10). N defaults to cores x 64.
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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/speech_corpus.h"
#include "host/pel_host.h"
#include "host/pel_host_control.h"

namespace {

constexpr int kStepSamples = 160;  // one 20 ms host frame
constexpr int kStepBytes = 20;

struct Options {
    int channels = 0;
    int threads = 0;
    double seconds = 10.0;
    std::string module = ORVANE_MODULE_PATH;
    std::string speech;
};

int online_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
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

int run(const Options& given) {
    const int cores = online_cores();
    Options o = given;
    if (o.threads <= 0) o.threads = cores;
    if (o.channels <= 0) o.channels = cores * 64;
    if (o.seconds <= 0) throw std::runtime_error("--seconds must be positive");
    if (o.speech.empty()) o.speech = g729bench::default_speech_path();

    g729bench::Speech speech = g729bench::load_speech(o.speech);
    speech.samples.resize(speech.samples.size() / kStepSamples * kStepSamples);
    if (speech.samples.empty()) throw std::runtime_error("speech shorter than 20 ms");
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
        share[i % share.size()].push_back(&channels[i]);
    }
    std::vector<Latencies> lat(share.size());
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < share.size(); ++t) {
        workers.emplace_back(run_channels, std::cref(share[t]), std::cref(speech.samples), steps,
                             &go, &lat[t]);
    }
    const double cpu0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    const Clock::time_point wall0 = Clock::now();
    go.store(true, std::memory_order_release);
    for (std::thread& w : workers) w.join();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;

    for (Channel& c : channels) {
        pelhost::free_instance(c.enc);
        pelhost::free_instance(c.dec);
    }
    const int unload = pelhost::unload_module(module);

    Latencies all;
    for (Latencies& l : lat) {
        if (l.failed) throw std::runtime_error("a translator did not return a whole 20 ms frame");
        all.both.insert(all.both.end(), l.both.begin(), l.both.end());
        all.enc.insert(all.enc.end(), l.enc.begin(), l.enc.end());
        all.dec.insert(all.dec.end(), l.dec.begin(), l.dec.end());
    }

    const double channel_seconds = o.channels * audio_seconds;
    const int used = std::min(o.threads, cores);
    std::printf("speech:        %s\n", speech.path.c_str());
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
    return unload == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"Many full-duplex channels (lintog729 + g729tolin) at once through the module in "
                 "the stand-in host; prints channels per core and per-frame latency.",
                 "g729_channels"};
    app.add_option("--channels", o.channels, "channels (default: cores x 64)");
    app.add_option("--threads", o.threads, "worker threads (default: one per core)");
    app.add_option("--seconds", o.seconds, "seconds of audio per channel")->capture_default_str();
    app.add_option("--module", o.module, "module file")->capture_default_str();
    app.add_option("--speech", o.speech, "speech file (default: the ITU speech vector, else the "
                                         "project's recording)");
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
