// SPDX-License-Identifier: BSD-2-Clause
// Audio output of the tools: 8000 Hz mono 16-bit samples written as WAV (names ending in
// .wav) or raw little-endian PCM (any other name, and "-" for standard output), through
// SafeOutput so that an existing file is replaced only by a complete result.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace g729io {

class AudioWriter {
public:
    // Throws IoError for a name with another audio extension (.flac, .aiff, ...), which this
    // writer cannot honour, and when the output cannot be created.
    static std::unique_ptr<AudioWriter> create(const std::string& path);
    // WAV or raw PCM whatever the name.
    static std::unique_ptr<AudioWriter> create_wav(const std::string& path);
    static std::unique_ptr<AudioWriter> create_raw(const std::string& path);
    virtual ~AudioWriter() = default;  // an uncommitted output is discarded

    virtual void write(std::span<const int16_t> samples) = 0;
    // Completes the file and puts it in place. Throws IoError.
    virtual void commit() = 0;
    // "WAV" or "raw PCM"
    virtual const char* format_name() const = 0;
};

// Whether create() would write WAV for this name.
bool writes_wav(const std::string& path);
// Throws IoError, as create() would, for a name with an audio extension other than .wav.
void refuse_unwritten_audio_name(const std::string& path);

}  // namespace g729io
