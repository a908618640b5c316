// SPDX-License-Identifier: BSD-2-Clause
// Byte-level input and output of the tools: one-line errors, whole-file helpers for small files,
// and InputStream, which reads a file or standard input front to back in bounded blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace g729io {

// Every input/output failure of the tools: a message of one line, naming the file.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "-" names standard input or output.
inline bool is_std_stream(const std::string& path) { return path == "-"; }
// The name used in messages: the path, or "stdin"/"stdout" for "-".
std::string display_name(const std::string& path, bool output);

// Whole-file helpers, for inputs known to be small (test vectors, seeds).
std::vector<uint8_t> read_file(const std::string& path);
// Throws the error read_file would give for a missing, unreadable or directory path.
void check_readable(const std::string& path);
// Writes through SafeOutput: the file is replaced only once everything is written.
void write_file(const std::string& path, std::span<const uint8_t> bytes);

// True when path ends in ext, compared without regard to case (ext includes the dot).
bool has_extension(const std::string& path, const std::string& ext);

// A file ("-": standard input) read in order. Memory use is one stdio buffer and whatever
// peek() asked for.
class InputStream {
public:
    explicit InputStream(const std::string& path);  // throws IoError when it cannot be opened
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    const std::string& name() const { return name_; }
    // Up to n bytes from the front, without consuming them (fewer only at the end).
    std::span<const uint8_t> peek(std::size_t n);
    // Reads up to n bytes; fewer only at the end of the input. Throws IoError on a read error.
    std::size_t read(uint8_t* out, std::size_t n);
    // Bytes consumed so far.
    uint64_t offset() const { return offset_; }
    std::FILE* file() { return file_; }

private:
    std::size_t read_through(uint8_t* out, std::size_t n);

    std::string name_;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::vector<uint8_t> peeked_;
    std::size_t peeked_pos_ = 0;
    uint64_t offset_ = 0;
};

}  // namespace g729io
