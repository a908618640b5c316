// SPDX-License-Identifier: BSD-2-Clause
#include "host/transcode.h"

#include <time.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/pel_host_control.h"

namespace pelhost {

namespace {

constexpr int kBlockSamples = 80;

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

using Instance = std::unique_ptr<pel_trans_pvt, pel_trans_pvt_deleter>;

Instance make_instance(pel_translator* t) {
    Instance pvt(new_instance(t));
    if (!pvt) throw std::runtime_error(std::string(t->name) + ": cannot create an instance");
    return pvt;
}

// One frame-in followed by one frame-out, timed. Returns the outgoing frame or nullptr.
pel_frame* step(pel_trans_pvt* pvt, pel_frame* in, DirectionStats& stats) {
    const double start = thread_cpu_seconds();
    const int result = framein(pvt, in);
    pel_frame* out = result == 0 ? frameout(pvt) : nullptr;
    stats.cpu_seconds += thread_cpu_seconds() - start;
    if (result != 0) {
        throw std::runtime_error(std::string(pvt->t->name) + " refused a frame of " +
                                 std::to_string(in->datalen) + " bytes, " +
                                 std::to_string(in->samples) + " samples");
    }
    ++stats.frames_in;
    if (out != nullptr) {
        ++stats.frames_out;
        stats.bytes_out += out->datalen;
        stats.samples_out += out->samples;
    }
    return out;
}

}  // namespace

void pel_trans_pvt_deleter::operator()(pel_trans_pvt* pvt) const { free_instance(pvt); }

Transcoder::Transcoder(pel_translator* encoder, pel_translator* decoder, int packet_samples,
                       Sink sink)
    : packet_samples_(packet_samples), sink_(std::move(sink)) {
    if (packet_samples <= 0) throw std::runtime_error("packet size must be positive");
    enc_ = make_instance(encoder);
    dec_ = make_instance(decoder);
    result_.packet_samples = packet_samples;
    packet_.reserve(static_cast<std::size_t>(packet_samples));
}

void Transcoder::send(std::span<int16_t> packet) {
    // The encoder keeps the samples short of a whole block between frames; a frame that would
    // overflow its buffer with them goes in as far as there is room, then the rest.
    bool split = false;
    while (!packet.empty()) {
        const int room = enc_->t->buffer_samples - enc_->samples;
        std::size_t take = packet.size();
        if (room > 0 && take > static_cast<std::size_t>(room)) {
            take = static_cast<std::size_t>(room);
            split = true;
        }
        send_part(packet.first(take));
        packet = packet.subspan(take);
    }
    if (split) ++result_.split_frames;
}

void Transcoder::send_part(std::span<int16_t> part) {
    const int n = static_cast<int>(part.size());
    pel_frame in{PEL_FRAME_VOICE, pel_format_slin, 2 * n, n, "pelhost", part.data(), 0, 0};
    pel_frame* coded = step(enc_.get(), &in, result_.encode);
    if (coded == nullptr) return;
    pel_frame* decoded = step(dec_.get(), coded, result_.decode);
    if (decoded == nullptr) return;
    const auto* s = static_cast<const int16_t*>(decoded->data);
    sink_(std::span<const int16_t>(s, static_cast<std::size_t>(decoded->samples)));
}

void Transcoder::feed(std::span<const int16_t> samples) {
    result_.input_samples += samples.size();
    const auto full = static_cast<std::size_t>(packet_samples_);
    while (!samples.empty()) {
        const std::size_t take = std::min(full - packet_.size(), samples.size());
        packet_.insert(packet_.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(take));
        samples = samples.subspan(take);
        if (packet_.size() == full) {
            send(packet_);
            packet_.clear();
        }
    }
}

void Transcoder::finish() {
    const std::size_t whole =
        (result_.input_samples + kBlockSamples - 1) / kBlockSamples * kBlockSamples;
    result_.padding_samples = whole - result_.input_samples;
    // The padding completes the last block; a packet may take only part of it.
    std::size_t padding = result_.padding_samples;
    const auto full = static_cast<std::size_t>(packet_samples_);
    while (padding > 0 || !packet_.empty()) {
        const std::size_t take = std::min(full - packet_.size(), padding);
        packet_.insert(packet_.end(), take, 0);
        padding -= take;
        if (packet_.size() == full || padding == 0) {
            send(packet_);
            packet_.clear();
        }
    }
}

TranscodeResult transcode(pel_translator* encoder, pel_translator* decoder,
                          std::span<const int16_t> input, int packet_samples) {
    std::vector<int16_t> output;
    output.reserve((input.size() + kBlockSamples - 1) / kBlockSamples * kBlockSamples);
    Transcoder t(encoder, decoder, packet_samples, [&output](std::span<const int16_t> s) {
        output.insert(output.end(), s.begin(), s.end());
    });
    t.feed(input);
    t.finish();
    TranscodeResult r = t.result();
    r.output = std::move(output);
    return r;
}

double cpu_ms_per_audio_second(double cpu_seconds, long samples) {
    if (samples <= 0) return 0.0;
    return cpu_seconds * 1000.0 / (static_cast<double>(samples) / 8000.0);
}

CostResult measure_translation_cost(pel_translator* t, double audio_seconds) {
    if (t->sample == nullptr) {
        throw std::runtime_error(std::string(t->name) + " offers no sample frame");
    }
    Instance pvt = make_instance(t);
    CostResult r;
    DirectionStats stats;
    const long target = static_cast<long>(audio_seconds * 8000.0);
    while (r.audio_samples < target) {
        pel_frame* sample = t->sample();
        if (sample == nullptr || sample->samples <= 0) {
            throw std::runtime_error(std::string(t->name) + " offers an empty sample frame");
        }
        step(pvt.get(), sample, stats);
        ++r.frames;
        r.audio_samples += sample->samples;
    }
    r.cpu_seconds = stats.cpu_seconds;
    return r;
}

}  // namespace pelhost
