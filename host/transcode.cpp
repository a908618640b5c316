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

struct InstanceDeleter {
    void operator()(pel_trans_pvt* pvt) const { free_instance(pvt); }
};
using Instance = std::unique_ptr<pel_trans_pvt, InstanceDeleter>;

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

TranscodeResult transcode(pel_translator* encoder, pel_translator* decoder,
                          std::span<const int16_t> input, int packet_samples) {
    if (packet_samples <= 0) throw std::runtime_error("packet size must be positive");
    TranscodeResult r;
    r.input_samples = input.size();
    r.packet_samples = packet_samples;
    std::vector<int16_t> audio(input.begin(), input.end());
    const std::size_t whole = (audio.size() + kBlockSamples - 1) / kBlockSamples * kBlockSamples;
    r.padding_samples = whole - audio.size();
    audio.resize(whole, 0);
    r.output.reserve(whole);

    Instance enc = make_instance(encoder);
    Instance dec = make_instance(decoder);
    for (std::size_t pos = 0; pos < audio.size(); pos += static_cast<std::size_t>(packet_samples)) {
        const int n = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(packet_samples), audio.size() - pos));
        pel_frame in{PEL_FRAME_VOICE, pel_format_slin, 2 * n, n, "pelhost", audio.data() + pos, 0, 0};
        pel_frame* coded = step(enc.get(), &in, r.encode);
        if (coded == nullptr) continue;
        pel_frame* decoded = step(dec.get(), coded, r.decode);
        if (decoded == nullptr) continue;
        const auto* s = static_cast<const int16_t*>(decoded->data);
        r.output.insert(r.output.end(), s, s + decoded->samples);
    }
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
