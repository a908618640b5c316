// SPDX-License-Identifier: BSD-2-Clause
// Audio input of the tools: any file libsndfile reads, or raw PCM, always delivered as
// 8000 Hz mono 16-bit samples in bounded blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace g729io {

class AudioReader {
public:
    // An audio file (a name with an audio extension, or a regular file starting like one) is
    // read with libsndfile: channels are mixed to mono, the rate converted to 8000 Hz, and
    // every sample format scaled to 16 bits; 8000 Hz mono 16-bit input passes unchanged. Any
    // other name, and "-" (standard input), is raw 16-bit little-endian 8000 Hz mono PCM.
    // Throws IoError naming the file and the problem.
    static std::unique_ptr<AudioReader> open(const std::string& path);
    // The same, but always as an audio file through libsndfile.
    static std::unique_ptr<AudioReader> open_audio_file(const std::string& path);
    // The same, but always as raw PCM.
    static std::unique_ptr<AudioReader> open_raw(const std::string& path);

    virtual ~AudioReader() = default;

    // Fills out; returns the count, which is less than out.size() only at the end of the
    // input (0 once it is over). Throws IoError.
    std::size_t read(std::span<int16_t> out);

    const std::string& name() const { return name_; }
    // Empty when nothing was converted, else e.g.
    // "input: 44100 Hz stereo float, converted to 8000 Hz mono 16-bit".
    const std::string& conversion_note() const { return conversion_note_; }
    // Problems met that did not stop the reading; more may come while reading.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // A trailing odd byte of raw PCM (0 or 1), known once read() returned 0.
    std::size_t stray_bytes() const { return stray_bytes_; }

protected:
    explicit AudioReader(std::string name) : name_(std::move(name)) {}
    // Some samples (at most out.size()), 0 only at the end.
    virtual std::size_t read_some(std::span<int16_t> out) = 0;

    std::string name_;
    std::string conversion_note_;
    std::vector<std::string> warnings_;
    std::size_t stray_bytes_ = 0;
};

// Every sample of the reader, for inputs known to be small.
std::vector<int16_t> read_all(AudioReader& reader);

}  // namespace g729io
