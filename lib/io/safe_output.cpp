// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/safe_output.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "lib/io/file_io.h"

namespace g729io {

namespace fs = std::filesystem;

// One temporary file in progress. The owner takes a free slot (free -> filling) before it
// creates the file and makes it active once the file exists; the signal handler claims an
// active slot (active -> claimed) before it reads the path, and the owner releases it
// (active -> free) before it frees the path, so that each path is used by one of them only.
struct TempFileSlot {
    std::atomic<int> state{0};
    char* path = nullptr;
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int slot_free = 0;
constexpr int slot_filling = 1;
constexpr int slot_active = 2;
constexpr int slot_claimed = 3;  // by the signal handler: never used again

// The table of temporary files: chunks allocated as needed, in order, and never freed, so that
// the handler reads only memory that stays valid. 256 chunks of 1024: more outputs than a
// process can have open at once.
constexpr std::size_t slots_per_chunk = 1024;
constexpr std::size_t max_chunks = 256;
std::atomic<TempFileSlot*> temp_chunks[max_chunks];
std::mutex chunk_mutex;  // taken only to add a chunk

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Set by the signal handler before it looks at the table: from then on no thread creates a
// temporary file (one created behind the handler's back would outlive the process).
std::atomic<bool> ending{false};
// How long the handler waits for a thread that is creating a file to enter it.
constexpr long settle_limit_ns = 1000000000L;

bool stdout_closed = false;

std::string errno_text(int err) { return std::strerror(err); }

mode_t default_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

long monotonic_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long>(t.tv_sec) * 1000000000L + t.tv_nsec;
}

// Removes the temporary files in progress, then ends the process as the signal would have.
// A slot being filled belongs to another thread (the cleanup signals are blocked in a thread
// while it creates a file), which makes it active or gives it up within a few system calls:
// the handler waits for it, up to a second. Async-signal-safe: atomics, clock_gettime, unlink,
// sigaction and raise only.
extern "C" void remove_temp_files_and_end(int sig) {
    const int saved = errno;
    ending.store(true);
    const long deadline = monotonic_ns() + settle_limit_ns;
    for (std::atomic<TempFileSlot*>& c : temp_chunks) {
        TempFileSlot* chunk = c.load();
        if (chunk == nullptr) break;
        for (std::size_t i = 0; i < slots_per_chunk; ++i) {
            while (chunk[i].state.load() == slot_filling && monotonic_ns() < deadline) {
            }
            int expected = slot_active;
            if (chunk[i].state.compare_exchange_strong(expected, slot_claimed)) {
                ::unlink(chunk[i].path);
            }
        }
    }
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    // Blocked while this handler runs: delivered, with its default action, when it returns.
    ::raise(sig);
    errno = saved;
}

// Installs the handler for each signal whose action is still the default (a signal the
// parent ignored, e.g. SIGHUP under nohup, stays ignored).
void install_cleanup_handler() {
    for (const int sig : cleanup_signals) {
        struct sigaction old{};
        if (::sigaction(sig, nullptr, &old) != 0) continue;
        if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
        struct sigaction act{};
        act.sa_handler = remove_temp_files_and_end;
        sigemptyset(&act.sa_mask);
        for (const int s : cleanup_signals) sigaddset(&act.sa_mask, s);
        ::sigaction(sig, &act, nullptr);
    }
}

TempFileSlot* chunk_at(std::size_t c) {
    TempFileSlot* chunk = temp_chunks[c].load();
    if (chunk != nullptr) return chunk;
    const std::lock_guard lock(chunk_mutex);
    chunk = temp_chunks[c].load();
    if (chunk == nullptr) {
        chunk = new TempFileSlot[slots_per_chunk];
        temp_chunks[c].store(chunk);
    }
    return chunk;
}

// A free slot taken (filling) with its own copy of the path; nullptr when the table is full
// or the copy fails (the file is then still removed on every other way out).
TempFileSlot* take_slot(const char* path) {
    static std::once_flag installed;
    std::call_once(installed, install_cleanup_handler);
    static std::atomic<std::size_t> hint{0};
    char* copy = ::strdup(path);
    if (copy == nullptr) return nullptr;
    const std::size_t total = slots_per_chunk * max_chunks;
    const std::size_t start = hint.load(std::memory_order_relaxed) % total;
    for (std::size_t n = 0; n < total; ++n) {
        const std::size_t i = (start + n) % total;
        TempFileSlot& slot = chunk_at(i / slots_per_chunk)[i % slots_per_chunk];
        int expected = slot_free;
        if (!slot.state.compare_exchange_strong(expected, slot_filling)) continue;
        slot.path = copy;
        hint.store(i + 1, std::memory_order_relaxed);
        return &slot;
    }
    std::free(copy);
    return nullptr;
}

// Creates a temporary file from the mkstemp template `name` (completed in place) and enters it
// in the table for the signal handler, as one step for the handler: the slot is taken before
// the file exists and made active once it does, and a thread that finds the process ending
// creates nothing and waits for the end. The cleanup signals are blocked in this thread
// meanwhile. Returns the descriptor (-1 and errno as mkstemp) and the slot (null when none).
int create_temp_file(char* name, TempFileSlot** slot_out) {
    TempFileSlot* slot = take_slot(name);
    *slot_out = slot;
    // Looked at after the slot is taken: either the handler waits for the slot or this thread
    // sees the process ending, when a file made now would stay behind.
    if (ending.load()) {
        if (slot != nullptr) slot->state.store(slot_free);
        for (;;) ::pause();
    }
    if (slot == nullptr) return ::mkstemp(name);
    const int fd = ::mkstemp(slot->path);
    const int err = errno;
    std::strcpy(name, slot->path);
    if (fd < 0) {
        char* path = slot->path;
        slot->state.store(slot_free);
        std::free(path);
        *slot_out = nullptr;
    } else {
        slot->state.store(slot_active);
    }
    errno = err;
    return fd;
}

// Takes the entry out of the table once its file is renamed or removed.
void release_temp_file(TempFileSlot* slot) {
    if (slot == nullptr) return;
    char* path = slot->path;
    int expected = slot_active;
    // Claimed: the handler is ending the process and may still read the path.
    if (slot->state.compare_exchange_strong(expected, slot_free)) std::free(path);
}

// Blocks the cleanup signals in this thread for its lifetime: a temporary file is created and
// entered in the table as one step.
class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (const int s : cleanup_signals) sigaddset(&set, s);
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~CleanupSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

private:
    sigset_t old_;
};

}  // namespace

void protect_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: fd itself, as the lower ones are open.
        const int got = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (got >= 0 && got != fd) {
            ::dup2(got, fd);
            ::close(got);
        }
        if (fd == 1) stdout_closed = true;
    }
}

std::string standard_output_write_error(int err) {
    if (stdout_closed) return "stdout: cannot write: standard output is closed";
    return "stdout: write error: " + errno_text(err);
}

std::string standard_output_error() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int err = errno;
        if (err == 0 && !stdout_closed) return "stdout: write error (part of the output was lost)";
        return standard_output_write_error(err);
    }
    return "";
}

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
        if (stdout_closed) throw IoError(standard_output_write_error(EBADF));
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
    // The rename would replace a file the user may not write, as cp and sox would not.
    if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        throw IoError(path + ": cannot write: " + errno_text(errno) + " (left as it is)");
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
    int fd = -1;
    {
        const CleanupSignalsBlocked blocked;
        fd = create_temp_file(name.data(), &slot_);
    }
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
        forget_temp_file();
        throw IoError(path + ": cannot open: " + errno_text(err));
    }
    owned_ = true;
}

SafeOutput::~SafeOutput() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
    if (!committed_) forget_temp_file();
}

void SafeOutput::forget_temp_file() {
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    release_temp_file(slot_);
    slot_ = nullptr;
}

void SafeOutput::fail(int err) const {
    if (!owned_) throw IoError(standard_output_write_error(err));
    const std::string name = display_name(path_, true);
    if (err == 0) throw IoError(name + ": write error (part of the output was lost)");
    throw IoError(name + ": write error: " + errno_text(err));
}

void SafeOutput::write(const void* data, std::size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, file_) != n) fail(errno);
}

void SafeOutput::flush() {
    errno = 0;
    // A failed write earlier leaves the stream's error flag set, and its data dropped.
    if (std::fflush(file_) != 0 || std::ferror(file_)) fail(errno);
}

void SafeOutput::commit() {
    if (committed_) return;
    flush();
    if (!owned_) {
        committed_ = true;
        return;
    }
    if (!temp_path_.empty() && ::fsync(fileno(file_)) != 0 && errno != EINVAL) fail(errno);
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) fail(errno);
    if (!temp_path_.empty() && std::rename(temp_path_.c_str(), target_.c_str()) != 0) {
        throw IoError(display_name(path_, true) + ": cannot rename the finished output into place: " +
                      errno_text(errno));
    }
    release_temp_file(slot_);
    slot_ = nullptr;
    committed_ = true;
}

}  // namespace g729io
