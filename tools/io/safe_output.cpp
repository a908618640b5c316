#include "tools/io/safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/io/file_io.h"

namespace g729io {

namespace fs = std::filesystem;

namespace {

std::string errno_text(int err) { return std::strerror(err); }

mode_t default_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

void refuse_same_file(const std::string& input, const std::string& output) {
    if (is_std_stream(input) || is_std_stream(output)) return;
    struct stat in{};
    struct stat out{};
    if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return;
    if (!S_ISREG(in.st_mode)) return;
    if (in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        throw IoError(output + " is the same file as " + input +
                      " (writing it would destroy the input); name another output file");
    }
}

SafeOutput::SafeOutput(const std::string& path) : path_(path) {
    if (is_std_stream(path)) {
        file_ = stdout;
        return;
    }
    if (path.empty()) throw IoError("empty output file name");
    struct stat st{};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) throw IoError(path + ": is a directory");
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe: there is nothing to replace, and renaming onto it would.
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) throw IoError(path + ": cannot open: " + errno_text(errno));
        owned_ = true;
        return;
    }
    std::error_code ec;
    target_ = exists ? fs::canonical(path, ec).string() : path;
    if (ec) target_ = path;
    const fs::path target(target_);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string leaf = ".";
    leaf.append(target.filename().string());
    leaf.append(".tmp-XXXXXX");
    const std::string pattern = (folder / leaf).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        throw IoError(path + ": cannot create a temporary file in " + folder.string() + ": " +
                      errno_text(errno));
    }
    temp_path_ = name.data();
    // The finished file gets the mode a new file would get, or the replaced file's.
    ::fchmod(fd, exists ? (st.st_mode & 07777) : default_file_mode());
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp_path_.c_str());
        throw IoError(path + ": cannot open: " + errno_text(err));
    }
    owned_ = true;
}

SafeOutput::~SafeOutput() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
    if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
}

void SafeOutput::commit() {
    if (committed_) return;
    const std::string name = display_name(path_, true);
    if (std::fflush(file_) != 0) throw IoError(name + ": write error: " + errno_text(errno));
    if (!owned_) {
        committed_ = true;
        return;
    }
    if (!temp_path_.empty() && ::fsync(fileno(file_)) != 0 && errno != EINVAL) {
        throw IoError(name + ": write error: " + errno_text(errno));
    }
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) throw IoError(name + ": write error: " + errno_text(errno));
    if (!temp_path_.empty() && std::rename(temp_path_.c_str(), target_.c_str()) != 0) {
        throw IoError(name + ": cannot rename the finished output into place: " +
                      errno_text(errno));
    }
    committed_ = true;
}

}  // namespace g729io
