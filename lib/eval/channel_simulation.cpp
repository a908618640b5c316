// SPDX-License-Identifier: BSD-2-Clause
#include "lib/eval/channel_simulation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include <g729/g729.h>

#include "lib/io/resampler.h"

namespace g729eval {

namespace {

constexpr double codec_rate = 8000.0;
constexpr std::size_t frame = G729_FRAME_SIZE;
constexpr std::size_t unit_room = G729_SPEECH_FRAME_BYTES;
// Clips coded side by side per many-channel call: the width the workspace calls code at once.
constexpr std::size_t group_size = 16;
// Speech comes out of the decoder about 39.7 samples after it went in, a little less than the
// 40 samples of look-ahead: the phase of the codec's high-pass and post filters leads a
// fraction of a sample (measured between 39.5 and 39.8 on speech recordings). At 8000 Hz the
// output is the decoder's from sample 40 on; at higher rates the fraction is taken out too, to
// the nearest output sample.
constexpr double speech_delay = 39.7;
// The decoded samples are resampled from one sample before the 40: history for the fraction.
constexpr std::size_t first_decoded = codec_delay_samples - 1;

std::string number(double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

// Uniform in [0, 1) from the top 53 bits: the same on every platform and library.
double uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

std::vector<float> convert_rate(std::span<const float> in, double from, double to) {
    if (from == to) return {in.begin(), in.end()};
    g729io::Resampler resampler(from, to);
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(std::ceil(static_cast<double>(in.size()) * to / from)) + 64);
    resampler.process(in.data(), in.size(), out);
    resampler.flush(out);
    return out;
}

int16_t to_pcm(float v) {
    const long s = std::lrint(static_cast<double>(v) * 32768.0);
    return static_cast<int16_t>(std::clamp<long>(s, -32768, 32767));
}

// One clip on its way through the channel.
struct Work {
    const ChannelClip* clip = nullptr;
    std::size_t samples_8k = 0;
    std::size_t frames = 0;
    std::vector<int16_t> pcm;       // frames x 80: the 8 kHz input, zero-padded
    std::vector<uint8_t> units;     // frames x 10: the coded frames
    std::vector<int32_t> lengths;   // per frame: 10, 2, untransmitted or lost
};

void prepare(Work& w, double rate) {
    const std::vector<float> x = convert_rate(w.clip->samples, rate, codec_rate);
    w.samples_8k = x.size();
    // Enough frames that the decoder's delayed output covers every input sample, and one more.
    w.frames = (w.samples_8k + codec_delay_samples + 1 + frame - 1) / frame;
    w.pcm.assign(w.frames * frame, 0);
    std::transform(x.begin(), x.end(), w.pcm.begin(), to_pcm);
    w.units.assign(w.frames * unit_room, 0);
    w.lengths.assign(w.frames, 0);
}

// The packets of ptime_ms: a packet holds the transmitted frames of its span, and a span with
// none (a DTX pause) sends nothing and so cannot be lost. Frames of a lost packet are lost.
void lose_packets(Work& w) {
    const ChannelSettings& s = w.clip->settings;
    const std::size_t per_packet = static_cast<std::size_t>(s.ptime_ms) / 10;
    const std::size_t spans = (w.frames + per_packet - 1) / per_packet;
    const auto span_end = [&](std::size_t p) { return std::min(w.frames, (p + 1) * per_packet); };
    std::vector<std::size_t> sent;
    for (std::size_t p = 0; p < spans; ++p) {
        for (std::size_t f = p * per_packet; f < span_end(p); ++f) {
            if (w.lengths[f] != G729_UNIT_UNTRANSMITTED) {
                sent.push_back(p);
                break;
            }
        }
    }
    const std::vector<uint8_t> lost = loss_pattern(sent.size(), s.loss, s.burst, s.seed);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (lost[i] == 0) continue;
        for (std::size_t f = sent[i] * per_packet; f < span_end(sent[i]); ++f) {
            if (w.lengths[f] != G729_UNIT_UNTRANSMITTED) w.lengths[f] = G729_UNIT_LOST;
        }
    }
}

// Codes a group of clips: every frame index once for all the clips that have it.
void code_group(std::span<Work> group, std::vector<uint8_t>& workspace,
                std::vector<std::vector<int16_t>>& decoded) {
    const std::size_t n = group.size();
    std::vector<g729_encoder_state> encoders(n);
    std::vector<g729_decoder_state> decoders(n);
    std::size_t most = 0;
    for (std::size_t i = 0; i < n; ++i) {
        g729_encoder_init(&encoders[i], group[i].clip->settings.dtx ? 1 : 0);
        g729_decoder_init(&decoders[i]);
        most = std::max(most, group[i].frames);
        decoded[i].assign(group[i].frames * frame, 0);
    }
    std::vector<g729_encoder_state*> enc_states;
    std::vector<g729_decoder_state*> dec_states;
    std::vector<const int16_t*> in;
    std::vector<int16_t*> out;
    std::vector<uint8_t*> bytes;
    std::vector<const uint8_t*> const_bytes;
    std::vector<int32_t> counts;
    for (std::size_t f = 0; f < most; ++f) {
        enc_states.clear();
        in.clear();
        bytes.clear();
        for (std::size_t i = 0; i < n; ++i) {
            if (f >= group[i].frames) continue;
            enc_states.push_back(&encoders[i]);
            in.push_back(group[i].pcm.data() + f * frame);
            bytes.push_back(group[i].units.data() + f * unit_room);
        }
        counts.assign(enc_states.size(), 0);
        if (g729_encode_frames_ws(enc_states.data(), static_cast<int>(enc_states.size()), in.data(),
                                  bytes.data(), counts.data(), workspace.data(),
                                  workspace.size()) != G729_OK) {
            throw std::runtime_error("the encoder refused a frame");
        }
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (f < group[i].frames) group[i].lengths[f] = counts[k++];
        }
    }
    for (Work& w : group) lose_packets(w);
    for (std::size_t f = 0; f < most; ++f) {
        dec_states.clear();
        out.clear();
        const_bytes.clear();
        counts.clear();
        for (std::size_t i = 0; i < n; ++i) {
            if (f >= group[i].frames) continue;
            dec_states.push_back(&decoders[i]);
            out.push_back(decoded[i].data() + f * frame);
            const_bytes.push_back(group[i].units.data() + f * unit_room);
            counts.push_back(group[i].lengths[f]);
        }
        if (g729_decode_frames_ws(dec_states.data(), static_cast<int>(dec_states.size()),
                                  out.data(), const_bytes.data(), counts.data(), nullptr,
                                  workspace.data(), workspace.size()) != G729_OK) {
            throw std::runtime_error("the decoder refused a frame");
        }
    }
}

std::vector<float> finish(const Work& w, const std::vector<int16_t>& decoded, double rate) {
    std::vector<float> y(w.samples_8k + 2);
    for (std::size_t i = 0; i < y.size(); ++i) {
        y[i] = static_cast<float>(decoded[first_decoded + i]) / 32768.0f;
    }
    const std::vector<float> back = convert_rate(y, codec_rate, rate);
    // Input sample 0 lies (speech_delay - first_decoded) samples of 8000 Hz into y.
    const auto skip = static_cast<std::size_t>(
        std::lround((speech_delay - static_cast<double>(first_decoded)) * rate / codec_rate));
    std::vector<float> out(w.clip->samples.size(), 0.0f);
    for (std::size_t n = 0; n < out.size() && n + skip < back.size(); ++n) out[n] = back[n + skip];
    return out;
}

}  // namespace

void check_channel_settings(const ChannelSettings& s) {
    if (!(s.loss >= 0.0 && s.loss <= 1.0)) {
        throw std::invalid_argument("loss " + number(s.loss) + ": expected 0 to 1");
    }
    if (!(s.burst >= 1.0 && std::isfinite(s.burst))) {
        throw std::invalid_argument("burst " + number(s.burst) +
                                    ": expected a burst ratio of 1 (independent loss) or more");
    }
    if (s.ptime_ms < 10 || s.ptime_ms > 200 || s.ptime_ms % 10 != 0) {
        throw std::invalid_argument("ptime " + std::to_string(s.ptime_ms) +
                                    " ms: expected 10 to 200 in steps of 10");
    }
}

std::vector<uint8_t> loss_pattern(std::size_t packets, double loss, double burst, uint64_t seed) {
    ChannelSettings s;
    s.loss = loss;
    s.burst = burst;
    check_channel_settings(s);
    std::vector<uint8_t> lost(packets, 0);
    if (loss == 0.0) return lost;
    if (loss == 1.0) {
        std::fill(lost.begin(), lost.end(), 1);
        return lost;
    }
    const double q = (1.0 - loss) / burst;  // received after a lost packet
    const double p = loss / burst;          // lost after a received packet
    std::mt19937_64 rng(seed);
    bool is_lost = uniform(rng) < loss;
    for (std::size_t i = 0; i < packets; ++i) {
        lost[i] = is_lost ? 1 : 0;
        is_lost = is_lost ? uniform(rng) >= q : uniform(rng) < p;
    }
    return lost;
}

std::vector<float> simulate_channel(std::span<const float> samples, double rate,
                                    const ChannelSettings& settings) {
    const ChannelClip clip{samples, settings};
    return std::move(simulate_channels(std::span(&clip, 1), rate, 1).front());
}

std::vector<std::vector<float>> simulate_channels(std::span<const ChannelClip> clips, double rate,
                                                  unsigned threads) {
    if (!(rate > 0.0 && std::isfinite(rate))) {
        throw std::invalid_argument("rate " + number(rate) + ": expected a positive sample rate");
    }
    for (const ChannelClip& c : clips) check_channel_settings(c.settings);
    std::vector<std::vector<float>> results(clips.size());
    const std::size_t groups = (clips.size() + group_size - 1) / group_size;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, groups));

    std::atomic<std::size_t> next{0};
    std::mutex error_mutex;
    std::exception_ptr error;
    const auto worker = [&] {
        try {
            std::vector<uint8_t> workspace(std::max(g729_encode_frames_workspace_size(group_size),
                                                    g729_decode_frames_workspace_size(group_size)));
            std::vector<Work> group;
            std::vector<std::vector<int16_t>> decoded(group_size);
            for (std::size_t g; (g = next.fetch_add(1)) < groups;) {
                const std::size_t first = g * group_size;
                const std::size_t count = std::min(group_size, clips.size() - first);
                group.assign(count, Work{});
                for (std::size_t i = 0; i < count; ++i) {
                    group[i].clip = &clips[first + i];
                    prepare(group[i], rate);
                }
                code_group(group, workspace, decoded);
                for (std::size_t i = 0; i < count; ++i) {
                    results[first + i] = finish(group[i], decoded[i], rate);
                }
            }
        } catch (...) {
            const std::lock_guard lock(error_mutex);
            if (!error) error = std::current_exception();
            next.store(groups);  // the others stop after their current group
        }
    };
    std::vector<std::thread> pool;
    try {
        for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: those running, and this one, take every group.
    }
    worker();
    for (std::thread& t : pool) t.join();
    if (error) std::rethrow_exception(error);
    return results;
}

}  // namespace g729eval
