// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/resampler.h"

#include <soxr.h>

#include <cmath>
#include <string>

#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"

namespace g729io {

Resampler::Resampler(double input_rate, double output_rate) : ratio_(output_rate / input_rate) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(input_rate, output_rate, 1, &error, &io, &quality, nullptr);
    if (soxr_ == nullptr || error != nullptr) {
        throw IoError("cannot convert " + std::to_string(input_rate) + " Hz to " +
                      std::to_string(output_rate) + " Hz: " + (error ? error : "libsoxr"));
    }
}

Resampler::~Resampler() { soxr_delete(soxr_); }

void Resampler::run(const float* in, std::size_t count, std::vector<float>& out) {
    // Room for this input's share of output and what the filter still holds.
    const std::size_t room = static_cast<std::size_t>(std::ceil(count * ratio_)) + 1024;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room);
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error =
            soxr_process(soxr_, in, count, in ? &used : nullptr, out.data() + start, room, &made);
        out.resize(start + made);
        if (error != nullptr) throw IoError(std::string("sample-rate conversion failed: ") + error);
        if (in != nullptr) {
            in += used;
            count -= used;
            if (count == 0 || (used == 0 && made == 0)) return;
        } else if (made == 0) {
            return;
        }
    }
}

void Resampler::process(const float* in, std::size_t count, std::vector<float>& out) {
    if (count > 0) run(in, count, out);
}

void Resampler::flush(std::vector<float>& out) { run(nullptr, 0, out); }

}  // namespace g729io
