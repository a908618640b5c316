// SPDX-License-Identifier: BSD-2-Clause
// Outputs that never destroy a file: an output that is the input is refused, a write-protected
// output is refused, and every output is written to a temporary file beside it and renamed
// into place only when complete. Every write, the flush and the stream's error state are
// checked, for files, devices, pipes and standard output alike. SIGINT, SIGTERM, SIGHUP and
// SIGQUIT remove the temporary files of outputs in progress before the process ends.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace g729io {

// Throws IoError ("OUTPUT is the same file as INPUT ...") when both name the same existing
// regular file: device and inode compared after resolving the path, so another spelling, a
// symbolic or a hard link is caught too. "-" never matches.
void refuse_same_file(const std::string& input, const std::string& output);

// Called first in main: opens /dev/null on standard descriptors that are closed (input
// write-only, outputs read-only, so that using them fails), so that no file opened later
// takes their place, and remembers that they were closed.
void protect_standard_streams();
// Flushes standard output and checks its error state: "" when all that was printed got
// there, else the one-line reason ("stdout: write error: No space left on device").
std::string standard_output_error();
// The reason for a failed write to standard output with this errno.
std::string standard_output_write_error(int err);

struct TempFileSlot;

// Writes one output. For a regular file (existing or new) the bytes go to a temporary file in
// the same folder, and commit() renames it onto the final name; an output that is a symbolic
// link keeps the link and replaces the file it points to. An existing file that the user may
// not write is refused (root may). For "-" the bytes go to standard output, and for an
// existing device or pipe (e.g. /dev/null) straight to it; commit() then only flushes.
// Without commit() the destructor removes the temporary file, so an existing output stays as
// it was; so does a terminating signal.
class SafeOutput {
public:
    explicit SafeOutput(const std::string& path);  // throws IoError
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    const std::string& path() const { return path_; }
    // Empty when writing straight to standard output, a device or a pipe.
    const std::string& temp_path() const { return temp_path_; }
    // Opened "wb". Whoever writes to it directly must check; commit() checks the error state.
    std::FILE* file() { return file_; }
    // True when the output can seek (a temporary file), false for stdout, devices and pipes.
    bool seekable() const { return !temp_path_.empty(); }
    // Writes all n bytes. Throws IoError naming the output and the reason.
    void write(const void* data, std::size_t n);
    // Hands what is buffered to the file, pipe or device. Throws IoError.
    void flush();
    // Flushes, checks the error state, syncs, closes and renames onto the final path. Throws
    // IoError on failure (the temporary file is then removed).
    void commit();
    bool committed() const { return committed_; }

private:
    [[noreturn]] void fail(int err) const;
    void forget_temp_file();

    std::string path_;
    std::string target_;  // the final file: path_, or what the symbolic link path_ points to
    std::string temp_path_;
    std::FILE* file_ = nullptr;
    TempFileSlot* slot_ = nullptr;  // the temporary file's entry for the signal handler
    bool owned_ = false;
    bool committed_ = false;
};

}  // namespace g729io
