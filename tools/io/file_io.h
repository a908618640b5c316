// Whole-file reading and writing with one-line error messages.
#pragma once

#include <cstdint>
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

std::vector<uint8_t> read_file(const std::string& path);
// Throws the error read_file would give for a missing, unreadable or directory path.
void check_readable(const std::string& path);
void write_file(const std::string& path, std::span<const uint8_t> bytes);

// True when path ends in ext, compared without regard to case (ext includes the dot).
bool has_extension(const std::string& path, const std::string& ext);

}  // namespace g729io
