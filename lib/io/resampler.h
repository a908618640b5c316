// SPDX-License-Identifier: BSD-2-Clause
// Mono sample-rate conversion (to 8000 Hz unless told otherwise) with libsoxr at its
// high-quality setting, fed and drained in bounded pieces.
#pragma once

#include <vector>

struct soxr;

namespace g729io {

class Resampler {
public:
    // Throws IoError when libsoxr refuses the rates.
    explicit Resampler(double input_rate, double output_rate = 8000.0);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Appends the output for these input samples (some may come only with later calls).
    void process(const float* in, std::size_t count, std::vector<float>& out);
    // Appends what is left once the input has ended.
    void flush(std::vector<float>& out);

private:
    void run(const float* in, std::size_t count, std::vector<float>& out);

    soxr* soxr_ = nullptr;
    double ratio_;
};

}  // namespace g729io
