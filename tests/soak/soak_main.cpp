// SPDX-License-Identifier: BSD-2-Clause
// g729_soak: a long run of many codec_orvane translator instances in the stand-in host, on all
// cores at once, simulating hours of call audio in minutes.
//
// Decoder instances receive the project's speech coded with DTX off or on, cut into host
// payloads of one to six units (a SID unit ends a payload); every third one also receives
// damage: flipped bits, random bytes of random length, truncated payloads, stray SID units and
// long runs of one hostile speech frame (the strongest pitch gain at the shortest lag, which
// drives the excitation up as fast as the bitstream allows). Encoder instances receive the
// speech in host frames of many sizes, some of them short of the data their sample count
// announces.
//
// Every instance's results (return codes and output bytes) are hashed. After the parallel
// phase each instance is run again alone, on one thread, over exactly the host frames it
// received, and must give the same hash. Decoder states must be finite at the end, and the
// resident memory must not grow between the middle and the end of the parallel phase.
//
// The run is bounded by a frame count per instance and by a time budget; it stops by itself.
// Exit status: 0 when every check passed, 1 otherwise, 2 on bad usage.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/g729.h"
#include <pellarion/pel_host.h>
#include "host/pel_host_control.h"
#include "lib/io/pcm_io.h"
#include "module/codec_orvane.h"
#include "tests/fuzz/state_check.h"

namespace {

struct Options {
    int decoders = 64;
    int encoders = 32;
    long decoder_frames = 90000;  // 15 minutes of audio per decoder instance
    long encoder_frames = 18000;  // 3 minutes per encoder instance
    double seconds = 600.0;       // budget of the parallel phase
    int threads = 0;              // 0: one per core
    int corrupt_every = 3;        // every n-th decoder instance receives damage
    bool hostile = true;          // damage includes runs of the hostile frame
    long rss_growth_limit_kb = 2048;
};

long rss_kb(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(f, line)) {
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
    }
    return -1;
}

// Small deterministic generator, one per instance, so that a replay sees the same damage.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9e3779b97f4a7c15ull + 0x632be59bd9b4e019ull) {}
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 16);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

struct Hash {
    uint64_t h = 1469598103934665603ull;
    void add(const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) {
            h ^= b[i];
            h *= 1099511628211ull;
        }
    }
    void add_int(int v) { add(&v, sizeof v); }
};

// Coded speech shared (read-only) by all decoder instances.
struct Sources {
    std::vector<int16_t> speech;
    std::vector<std::vector<uint8_t>> coded_plain;  // 10 bytes each
    std::vector<std::vector<uint8_t>> coded_dtx;    // 10, 2 or 0 bytes each
    uint8_t hostile[10];
};

std::vector<std::vector<uint8_t>> encode_all(const std::vector<int16_t>& s, int dtx) {
    g729_encoder_state enc;
    g729_encoder_init(&enc, dtx);
    std::vector<std::vector<uint8_t>> out;
    for (std::size_t f = 0; (f + 1) * 80 <= s.size(); ++f) {
        uint8_t b[10];
        int32_t n = 0;
        g729_encode_frame(&enc, s.data() + f * 80, b, &n);
        out.emplace_back(b, b + n);
    }
    return out;
}

// One instance's input stream, produced on demand and identically on every replay.
class Stream {
public:
    Stream(const Sources& src, int id, bool encoder, bool damaged, bool hostile)
        : src_(src), rng_(static_cast<uint64_t>(id) + 1), id_(id), encoder_(encoder),
          damaged_(damaged), hostile_(hostile) {
        const std::size_t len = encoder ? src.speech.size() : src.coded_plain.size();
        pos_ = (static_cast<std::size_t>(id) * 7919u) % len;
        dtx_ = !encoder && id % 2 == 1;
    }

    // Fills frame/data with the next host frame.
    void next(pel_frame* frame, std::vector<uint8_t>* data) {
        if (encoder_) {
            next_slin(frame, data);
        } else {
            next_payload(frame, data);
        }
    }

private:
    void next_slin(pel_frame* frame, std::vector<uint8_t>* data) {
        static constexpr int sizes[] = {160, 80, 240, 100, 37, 320, 8, 1000};
        const int n = sizes[(static_cast<std::size_t>(id_) + count_++) % 8];
        data->resize(static_cast<std::size_t>(n) * 2);
        const int shift = id_ % 3;
        for (int i = 0; i < n; ++i) {
            const int16_t v = static_cast<int16_t>(src_.speech[pos_] >> shift);
            pos_ = (pos_ + 1) % src_.speech.size();
            std::memcpy(data->data() + 2 * i, &v, 2);
        }
        int datalen = 2 * n;
        if (id_ % 4 == 3 && rng_.below(50) == 0) datalen -= 1 + static_cast<int>(rng_.below(8));
        *frame = pel_frame{PEL_FRAME_VOICE, pel_format_slin, datalen, n, "soak", data->data(), 0, 0};
    }

    void next_payload(pel_frame* frame, std::vector<uint8_t>* data) {
        const auto& coded = dtx_ ? src_.coded_dtx : src_.coded_plain;
        data->clear();
        const int units = 1 + static_cast<int>((static_cast<std::size_t>(id_) + count_++) % 6);
        for (int u = 0; u < units; ++u) {
            const std::vector<uint8_t>& unit = coded[pos_];
            pos_ = (pos_ + 1) % coded.size();
            if (hostile_left_ > 0) {
                --hostile_left_;
                data->insert(data->end(), src_.hostile, src_.hostile + 10);
                continue;
            }
            data->insert(data->end(), unit.begin(), unit.end());
            if (unit.size() == 2) break;  // a SID unit ends a payload
        }
        if (damaged_) damage(data);
        *frame = pel_frame{PEL_FRAME_VOICE, pel_format_g729, static_cast<int>(data->size()), 0,
                           "soak", data->empty() ? nullptr : data->data(), 0, 0};
    }

    void damage(std::vector<uint8_t>* data) {
        if (rng_.below(20) != 0) return;
        switch (rng_.below(hostile_ ? 6 : 5)) {
        case 0:  // flipped bits
            for (uint32_t k = 1 + rng_.below(8); k > 0 && !data->empty(); --k) {
                (*data)[rng_.below(static_cast<uint32_t>(data->size()))] ^=
                    static_cast<uint8_t>(1u << rng_.below(8));
            }
            break;
        case 1:  // random bytes of random length
            data->resize(rng_.below(41));
            for (uint8_t& b : *data) b = static_cast<uint8_t>(rng_.next());
            break;
        case 2:  // truncated
            if (!data->empty()) data->resize(data->size() - 1 - rng_.below(static_cast<uint32_t>(std::min<std::size_t>(data->size(), 9))));
            break;
        case 3:  // a stray SID unit
            data->push_back(static_cast<uint8_t>(rng_.next()));
            data->push_back(static_cast<uint8_t>(rng_.next()));
            break;
        case 4:  // every byte random, same length
            for (uint8_t& b : *data) b = static_cast<uint8_t>(rng_.next());
            break;
        default:  // from the next payload on, a long run of the hostile frame
            hostile_left_ = 200 + static_cast<int>(rng_.below(800));
            break;
        }
    }

    const Sources& src_;
    Rng rng_;
    int id_;
    bool encoder_;
    bool damaged_;
    bool hostile_;
    bool dtx_ = false;
    std::size_t pos_ = 0;
    std::size_t count_ = 0;
    int hostile_left_ = 0;
};

struct Instance {
    int id = 0;
    bool encoder = false;
    bool damaged = false;
    long frame_target = 0;  // codec frames to simulate
    // Parallel phase results.
    long host_frames = 0;
    long codec_frames = 0;
    uint64_t hash = 0;
    std::string nonfinite;
    // Solo replay.
    uint64_t solo_hash = 0;
    std::string solo_nonfinite;
};

// Feeds one host frame, hashes what the instance did with it and counts the codec frames
// that came out (80 samples decoded, or one 10-byte frame coded, each).
void step(pel_trans_pvt* pvt, Stream& stream, std::vector<uint8_t>& buf, Hash& hash,
          long* codec_frames) {
    pel_frame f{};
    stream.next(&f, &buf);
    hash.add_int(pelhost::framein(pvt, &f));
    if (pel_frame* out = pelhost::frameout(pvt)) {
        hash.add_int(out->samples);
        hash.add(out->data, static_cast<std::size_t>(out->datalen));
        *codec_frames += out->samples / 80;
    }
}

// Empty when the instance's codec state is finite and, for a decoder, has not run away (the
// encoder's record holds 1e38 as the start of running minima, so no such bound applies).
std::string final_check(pel_trans_pvt* pvt, bool encoder) {
    if (encoder) {
        return g729_check::first_nonfinite(static_cast<const lintog729_pvt*>(pvt->pvt)->encoder);
    }
    const g729_decoder_state& d = static_cast<const g729tolin_pvt*>(pvt->pvt)->decoder;
    const std::string bad = g729_check::first_nonfinite(d);
    if (!bad.empty()) return bad;
    const double m = g729_check::largest_magnitude(d);
    if (m > g729_check::runaway_magnitude) return "runaway, |x| = " + std::to_string(m);
    return {};
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](double* v) {
            if (i + 1 >= argc) return false;
            *v = std::atof(argv[++i]);
            return true;
        };
        double v = 0;
        if (a == "--no-hostile") {
            o->hostile = false;
            continue;
        }
        if (!value(&v)) return false;
        if (a == "--decoders") o->decoders = static_cast<int>(v);
        else if (a == "--encoders") o->encoders = static_cast<int>(v);
        else if (a == "--decoder-frames") o->decoder_frames = static_cast<long>(v);
        else if (a == "--encoder-frames") o->encoder_frames = static_cast<long>(v);
        else if (a == "--seconds") o->seconds = v;
        else if (a == "--threads") o->threads = static_cast<int>(v);
        else if (a == "--corrupt-every") o->corrupt_every = static_cast<int>(v);
        else if (a == "--rss-growth-limit-kb") o->rss_growth_limit_kb = static_cast<long>(v);
        else return false;
    }
    return o->decoders >= 0 && o->encoders >= 0 && o->decoders + o->encoders > 0 &&
           o->seconds > 0 && o->corrupt_every >= 1;
}

}  // namespace

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: g729_soak [--decoders N] [--encoders N] [--decoder-frames N]\n"
                 "                 [--encoder-frames N] [--seconds S] [--threads N]\n"
                 "                 [--corrupt-every N] [--no-hostile] [--rss-growth-limit-kb N]\n");
}

int main(int argc, char** argv) {
    Options opt;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        usage(stdout);
        return 0;
    }
    if (!parse(argc, argv, &opt)) {
        usage(stderr);
        return 2;
    }
    const int threads = opt.threads > 0 ? opt.threads
                                        : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    pelhost::set_log_sink([](void*, int, const char*, int, const char*, const char*) {}, nullptr);
    std::string error;
    pelhost::LoadedModule* module = pelhost::load_module_file(G729_SOAK_MODULE_PATH, &error);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load the module: %s\n", error.c_str());
        return 1;
    }
    pel_translator* decoder = pelhost::find_translator("g729tolin");
    pel_translator* encoder = pelhost::find_translator("lintog729");

    Sources src;
    src.speech = g729io::read_wav(G729_SOAK_SPEECH_WAV);
    src.coded_plain = encode_all(src.speech, 0);
    src.coded_dtx = encode_all(src.speech, 1);
    {
        // Strongest pitch gain (codes 0 and 5) at the shortest lag with fraction 0 (index 2).
        g729_params p = {G729_FRAME_SPEECH, 0, 0, 2, g729_pitch_parity(2), 0, 0, 5, 0, 0, 0, 5};
        int32_t n = 0;
        g729_pack_frame(p, src.hostile, &n);
    }

    std::vector<Instance> inst(static_cast<std::size_t>(opt.decoders + opt.encoders));
    for (std::size_t i = 0; i < inst.size(); ++i) {
        Instance& in = inst[i];
        in.id = static_cast<int>(i);
        in.encoder = static_cast<int>(i) >= opt.decoders;
        in.damaged = !in.encoder && in.id % opt.corrupt_every == 0;
        in.frame_target = in.encoder ? opt.encoder_frames : opt.decoder_frames;
    }

    // ---- Parallel phase: every thread drives its share of instances, one host frame each
    // in turn, until each has simulated its frames or the time budget is spent. ----
    const long rss_start = rss_kb("VmRSS:");
    long rss_mid = -1;
    std::atomic<bool> out_of_time{false};
    std::atomic<int> ready{0};
    std::atomic<long> total_codec_frames{0};
    long planned = 0;
    for (const Instance& in : inst) planned += in.frame_target;
    const auto t0 = std::chrono::steady_clock::now();
    const auto deadline = t0 + std::chrono::duration<double>(opt.seconds);

    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            struct Live {
                Instance* in;
                pel_trans_pvt* pvt;
                std::unique_ptr<Stream> stream;
                Hash hash;
                std::vector<uint8_t> buf;
            };
            std::vector<Live> mine;
            for (std::size_t i = static_cast<std::size_t>(t); i < inst.size(); i += static_cast<std::size_t>(threads)) {
                Instance& in = inst[i];
                mine.push_back(Live{&in, pelhost::new_instance(in.encoder ? encoder : decoder),
                                    std::make_unique<Stream>(src, in.id, in.encoder, in.damaged, opt.hostile),
                                    Hash{}, {}});
            }
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            bool any = true;
            for (long round = 0; any; ++round) {
                any = false;
                for (Live& l : mine) {
                    // Done when its frames are simulated; a stream that is refused over and
                    // over still ends after a bounded number of host frames.
                    if (l.in->codec_frames >= l.in->frame_target ||
                        l.in->host_frames >= 4 * l.in->frame_target) {
                        continue;
                    }
                    const long before = l.in->codec_frames;
                    step(l.pvt, *l.stream, l.buf, l.hash, &l.in->codec_frames);
                    ++l.in->host_frames;
                    total_codec_frames.fetch_add(l.in->codec_frames - before, std::memory_order_relaxed);
                    any = true;
                }
                if ((round & 63) == 0) {
                    if (std::chrono::steady_clock::now() > deadline) out_of_time.store(true);
                    if (t == 0 && rss_mid < 0 && total_codec_frames.load() * 2 >= planned) {
                        rss_mid = rss_kb("VmRSS:");
                    }
                }
                if (out_of_time.load()) break;
            }
            for (Live& l : mine) {
                l.in->hash = l.hash.h;
                l.in->nonfinite = final_check(l.pvt, l.in->encoder);
                pelhost::free_instance(l.pvt);
            }
        });
    }
    for (std::thread& th : pool) th.join();
    const double parallel_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long rss_end = rss_kb("VmRSS:");
    if (rss_mid < 0) rss_mid = rss_end;

    // ---- Solo phase: each instance alone, over exactly the host frames it received. ----
    const auto t1 = std::chrono::steady_clock::now();
    int mismatches = 0;
    int nonfinite = 0;
    long codec_frames = 0;
    for (Instance& in : inst) {
        pel_trans_pvt* pvt = pelhost::new_instance(in.encoder ? encoder : decoder);
        Stream stream(src, in.id, in.encoder, in.damaged, opt.hostile);
        Hash hash;
        std::vector<uint8_t> buf;
        long frames = 0;
        for (long k = 0; k < in.host_frames; ++k) step(pvt, stream, buf, hash, &frames);
        in.solo_hash = hash.h;
        in.solo_nonfinite = final_check(pvt, in.encoder);
        pelhost::free_instance(pvt);
        codec_frames += in.codec_frames;
        if (in.solo_hash != in.hash || frames != in.codec_frames) {
            ++mismatches;
            std::printf("MISMATCH: %s instance %d%s differs from its solo run after %ld host "
                        "frames\n",
                        in.encoder ? "encoder" : "decoder", in.id, in.damaged ? " (damaged)" : "",
                        in.host_frames);
        }
        if (!in.nonfinite.empty() || !in.solo_nonfinite.empty()) {
            ++nonfinite;
            std::printf("BAD STATE: %s instance %d%s: %s\n",
                        in.encoder ? "encoder" : "decoder", in.id, in.damaged ? " (damaged)" : "",
                        (in.nonfinite.empty() ? in.solo_nonfinite : in.nonfinite).c_str());
        }
    }
    const double solo_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    // The kernel's high-water mark and VmRSS come from per-thread counters that are folded in
    // lazily, so a sampled VmRSS can read a few hundred kB above VmHWM; report the larger.
    const long peak = std::max({rss_kb("VmHWM:"), rss_start, rss_mid, rss_end});
    pelhost::unload_module(module);

    int damaged = 0;
    for (const Instance& in : inst) damaged += in.damaged ? 1 : 0;
    const double audio_hours = static_cast<double>(codec_frames) * 0.01 / 3600.0;
    const long growth = rss_end - rss_mid;
    std::printf("instances: %zu (%d decoders, %d of them damaged%s; %d encoders) on %d threads\n",
                inst.size(), opt.decoders, damaged, opt.hostile ? " incl. hostile runs" : "",
                opt.encoders, threads);
    std::printf("frames: %ld codec frames of %ld planned = %.2f hours of audio%s\n", codec_frames,
                planned, audio_hours, out_of_time.load() ? " (time budget reached)" : "");
    std::printf("duration: parallel %.1f s, solo replay %.1f s\n", parallel_seconds, solo_seconds);
    std::printf("memory: VmRSS start %ld kB, middle %ld kB, end %ld kB (growth %ld kB, limit %ld), "
                "peak %ld kB\n",
                rss_start, rss_mid, rss_end, growth, opt.rss_growth_limit_kb, peak);
    std::printf("mismatches: %d, non-finite or runaway states: %d\n", mismatches, nonfinite);
    const bool memory_flat = growth <= opt.rss_growth_limit_kb;
    if (!memory_flat) std::printf("MEMORY GREW between the middle and the end\n");
    const bool ok = mismatches == 0 && nonfinite == 0 && memory_flat;
    std::printf("%s\n", ok ? "SOAK PASSED" : "SOAK FAILED");
    return ok ? 0 : 1;
}
