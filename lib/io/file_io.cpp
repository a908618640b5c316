// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/file_io.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "lib/io/safe_output.h"

namespace g729io {

namespace {

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace

std::string display_name(const std::string& path, bool output) {
    if (is_std_stream(path)) return output ? "stdout" : "stdin";
    return path;
}

InputStream::InputStream(const std::string& path) : name_(display_name(path, false)) {
    if (is_std_stream(path)) {
        file_ = stdin;
        return;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw IoError(path + ": is a directory");
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        throw IoError(path + ": cannot open: " + errno_text(errno));
    }
    owned_ = true;
}

InputStream::~InputStream() {
    if (owned_) std::fclose(file_);
}

std::size_t InputStream::read_through(uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const std::size_t got = std::fread(out + done, 1, n - done, file_);
        done += got;
        if (got == 0) {
            if (std::ferror(file_)) {
                throw IoError(name_ + ": read error: " + errno_text(errno));
            }
            break;
        }
    }
    return done;
}

std::span<const uint8_t> InputStream::peek(std::size_t n) {
    const std::size_t have = peeked_.size() - peeked_pos_;
    if (have < n) {
        peeked_.erase(peeked_.begin(), peeked_.begin() + static_cast<std::ptrdiff_t>(peeked_pos_));
        peeked_pos_ = 0;
        peeked_.resize(n);
        const std::size_t got = read_through(peeked_.data() + have, n - have);
        peeked_.resize(have + got);
    }
    return {peeked_.data() + peeked_pos_, std::min(n, peeked_.size() - peeked_pos_)};
}

std::size_t InputStream::read(uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    const std::size_t have = peeked_.size() - peeked_pos_;
    if (have > 0) {
        done = std::min(have, n);
        std::memcpy(out, peeked_.data() + peeked_pos_, done);
        peeked_pos_ += done;
        if (peeked_pos_ == peeked_.size()) {
            peeked_.clear();
            peeked_pos_ = 0;
        }
    }
    if (done < n) done += read_through(out + done, n - done);
    offset_ += done;
    return done;
}

void check_readable(const std::string& path) { InputStream probe(path); }

std::vector<uint8_t> read_file(const std::string& path) {
    InputStream in(path);
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    for (;;) {
        const std::size_t n = in.read(chunk, sizeof chunk);
        data.insert(data.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
    }
    return data;
}

void write_file(const std::string& path, std::span<const uint8_t> bytes) {
    SafeOutput out(path);
    out.write(bytes.data(), bytes.size());
    out.commit();
}

bool has_extension(const std::string& path, const std::string& ext) {
    if (path.size() < ext.size()) {
        return false;
    }
    const std::size_t start = path.size() - ext.size();
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(path[start + i])) !=
            std::tolower(static_cast<unsigned char>(ext[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace g729io
