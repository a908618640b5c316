#include "tools/io/file_io.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace g729io {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace

namespace {

FilePtr open_for_reading(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw IoError(path + ": is a directory");
    }
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        throw IoError(path + ": cannot open: " + errno_text(errno));
    }
    return f;
}

}  // namespace

void check_readable(const std::string& path) { (void)open_for_reading(path); }

std::vector<uint8_t> read_file(const std::string& path) {
    FilePtr f = open_for_reading(path);
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    for (;;) {
        std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
        data.insert(data.end(), chunk, chunk + n);
        if (n < sizeof chunk) {
            break;
        }
    }
    if (std::ferror(f.get())) {
        throw IoError(path + ": read error: " + errno_text(errno));
    }
    return data;
}

void write_file(const std::string& path, std::span<const uint8_t> bytes) {
    std::FILE* raw = std::fopen(path.c_str(), "wb");
    if (!raw) {
        throw IoError(path + ": cannot create: " + errno_text(errno));
    }
    FilePtr f(raw);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), raw) != bytes.size()) {
        throw IoError(path + ": write error: " + errno_text(errno));
    }
    // Close explicitly: a failing flush is a failed write.
    f.release();
    if (std::fclose(raw) != 0) {
        throw IoError(path + ": write error: " + errno_text(errno));
    }
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
