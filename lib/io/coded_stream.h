// SPDX-License-Identifier: BSD-2-Clause
// Coded files streamed frame by frame: raw 10-byte frames and the ITU serial format.
#pragma once

#include <memory>
#include <string>

#include "lib/io/coded_io.h"

namespace g729io {

enum class CodedFormat { raw, itu };

// itu for names ending in .bit, raw otherwise.
CodedFormat coded_format_for_name(const std::string& path);

// Throws IoError when the name says audio (.wav, .flac, ...): coded frames are not audio.
void refuse_audio_name_for_coded(const std::string& path);

// Reads a coded file ("-": standard input) frame by frame, holding one frame at a time.
class CodedReader {
public:
    // Throws IoError when the input cannot be opened, or starts like an audio file (RIFF/WAVE,
    // FLAC, Ogg, AIFF), which is refused with a pointer to encoding.
    static std::unique_ptr<CodedReader> open(const std::string& path, CodedFormat format);
    virtual ~CodedReader() = default;

    // The next frame; false at the end of the input or at the first problem, which error()
    // then names (by frame and byte offset). Throws IoError on a read error.
    virtual bool next(CodedFrame& frame) = 0;
    const std::string& error() const { return error_; }
    bool ok() const { return error_.empty(); }
    std::size_t frames_read() const { return frames_; }

protected:
    std::string error_;
    std::size_t frames_ = 0;
};

// Writes a coded file ("-": standard output) frame by frame through SafeOutput.
class CodedWriter {
public:
    // Throws IoError for an audio file name, or when the output cannot be created.
    static std::unique_ptr<CodedWriter> create(const std::string& path, CodedFormat format);
    virtual ~CodedWriter() = default;  // an uncommitted output is discarded

    // Raw frames carry speech only: any other kind throws IoError.
    virtual void write(const CodedFrame& frame) = 0;
    // Hands what was written so far to a pipe reader.
    virtual void flush() = 0;
    virtual void commit() = 0;
};

}  // namespace g729io
