// Outputs that never destroy a file: an output that is the input is refused, and every output
// is written to a temporary file beside it and renamed into place only when complete.
#pragma once

#include <cstdio>
#include <string>

namespace g729io {

// Throws IoError ("OUTPUT is the same file as INPUT ...") when both name the same existing
// regular file: device and inode compared after resolving the path, so another spelling, a
// symbolic link or a hard link is caught too. "-" never matches.
void refuse_same_file(const std::string& input, const std::string& output);

// Writes one output. For a regular file (existing or new) the bytes go to a temporary file in
// the same folder, and commit() renames it onto the final name; an output that is a symbolic
// link keeps the link and replaces the file it points to. For "-" the bytes go to standard
// output, and for an existing device or pipe (e.g. /dev/null) straight to it; commit() then
// only flushes. Without commit() the destructor removes the temporary file, so an existing
// output stays as it was.
class SafeOutput {
public:
    explicit SafeOutput(const std::string& path);  // throws IoError
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    const std::string& path() const { return path_; }
    // Empty when writing straight to standard output, a device or a pipe.
    const std::string& temp_path() const { return temp_path_; }
    // Opened "wb".
    std::FILE* file() { return file_; }
    // True when the output can seek (a temporary file), false for stdout, devices and pipes.
    bool seekable() const { return !temp_path_.empty(); }
    // Flushes, syncs, closes and renames onto the final path. Throws IoError on failure.
    void commit();
    bool committed() const { return committed_; }

private:
    std::string path_;
    std::string target_;  // the final file: path_, or what the symbolic link path_ points to
    std::string temp_path_;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    bool committed_ = false;
};

}  // namespace g729io
