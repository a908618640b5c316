// SPDX-License-Identifier: BSD-2-Clause
// Audio of one or two interleaved channels at 8000 Hz, 16-bit: a call's two directions side
// by side. WAV is written by libsndfile; raw PCM is little-endian, the channels interleaved.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "lib/io/safe_output.h"

typedef struct sf_private_tag SNDFILE;

namespace g729io {

// A WAV file written onto an open file that can seek (a SafeOutput's temporary file, or a
// scratch file). name is for messages.
class ChannelsWav {
public:
    ChannelsWav(std::FILE* file, int channels, std::string name);  // throws IoError
    ~ChannelsWav();
    ChannelsWav(const ChannelsWav&) = delete;
    ChannelsWav& operator=(const ChannelsWav&) = delete;

    // Whole sample frames: size() is a multiple of the channel count.
    void write(std::span<const int16_t> interleaved);
    // Completes the header. Throws IoError.
    void finish();

private:
    std::string name_;
    int channels_;
    SNDFILE* sf_ = nullptr;
};

// An output by name, as the tool's mono outputs: WAV for .wav, raw PCM for any other name or
// "-", through SafeOutput (an existing file is replaced only by a complete one).
class ChannelsWriter {
public:
    ChannelsWriter(const std::string& path, int channels);  // throws IoError
    ~ChannelsWriter();
    void write(std::span<const int16_t> interleaved);
    void commit();

private:
    SafeOutput out_;
    int channels_;
    std::unique_ptr<ChannelsWav> wav_;
};

}  // namespace g729io
