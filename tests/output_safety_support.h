// SPDX-License-Identifier: BSD-2-Clause
// Programs run against outputs that fail (a full device, a closed standard output, a pipe
// whose reader has gone), as a user without root's rights, and stopped by signals while they
// write. Shared by the tool's tests and the host's.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/audio_test_files.h"

namespace output_safety {

namespace fs = std::filesystem;
using test_audio::bytes_of;

// Where a program's output goes when "OUTPUT" in its command is replaced.
enum class OutputKind { full_device, stdout_full, stdout_closed, pipe_closed };

inline const char* kind_name(OutputKind k) {
    switch (k) {
    case OutputKind::full_device: return "/dev/full as OUTPUT";
    case OutputKind::stdout_full: return "- >/dev/full";
    case OutputKind::stdout_closed: return "- >&-";
    case OutputKind::pipe_closed: return "- | head -c 1";
    }
    return "";
}

// The reason the single error line must give.
inline const char* kind_reason(OutputKind k) {
    switch (k) {
    case OutputKind::full_device:
    case OutputKind::stdout_full: return "No space left on device";
    case OutputKind::stdout_closed: return "standard output is closed";
    case OutputKind::pipe_closed: return "Broken pipe";
    }
    return "";
}

inline constexpr OutputKind all_kinds[] = {OutputKind::full_device, OutputKind::stdout_full,
                                           OutputKind::stdout_closed, OutputKind::pipe_closed};

struct Outcome {
    int status = -1;
    std::string err;
};

inline std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Runs `command` (a shell command line, its output named OUTPUT, or writing to standard output
// when it has no OUTPUT) with its output of this kind. The pipe's reader takes one byte and
// leaves; SIGPIPE is ignored, so that the writer sees EPIPE.
inline Outcome run_with_output(const std::string& command, OutputKind kind, const fs::path& dir) {
    std::string cmd = command;
    const std::size_t at = cmd.find("OUTPUT");
    if (at != std::string::npos) {
        cmd.replace(at, 6, kind == OutputKind::full_device ? "/dev/full" : "-");
    } else if (kind == OutputKind::full_device) {
        return {};
    }
    const fs::path err = dir / "stderr.kind";
    const fs::path status = dir / "status.kind";
    std::string line = "( trap '' PIPE; " + cmd;
    if (kind == OutputKind::stdout_full) line += " >/dev/full";
    if (kind == OutputKind::stdout_closed) line += " >&-";
    line += " 2>" + quoted(err) + "; echo $? >" + quoted(status) + " )";
    line += kind == OutputKind::pipe_closed ? " | head -c 1 >/dev/null" : " >/dev/null";
    std::system(line.c_str());
    Outcome o;
    const std::vector<uint8_t> s = bytes_of(status);
    const std::vector<uint8_t> e = bytes_of(err);
    if (!s.empty()) o.status = std::stoi(std::string(s.begin(), s.end()));
    o.err.assign(e.begin(), e.end());
    fs::remove(err);
    fs::remove(status);
    return o;
}

// The lines of a program's stderr other than its progress notes (lines starting with one of
// `notes`).
inline std::vector<std::string> message_lines(const std::string& err,
                                              const std::vector<std::string>& notes) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string l; std::getline(in, l);) {
        const bool note = std::any_of(notes.begin(), notes.end(),
                                      [&](const std::string& n) { return l.rfind(n, 0) == 0; });
        if (!note) lines.push_back(l);
    }
    return lines;
}

// Expects exit status 1 and exactly one message line that gives the reason.
inline void expect_one_line_failure(const Outcome& o, const std::string& reason,
                                    const std::vector<std::string>& notes = {}) {
    EXPECT_EQ(o.status, 1) << o.err;
    const std::vector<std::string> lines = message_lines(o.err, notes);
    ASSERT_EQ(lines.size(), 1u) << o.err;
    EXPECT_NE(lines[0].find(reason), std::string::npos) << o.err;
}

// ---- an ordinary user ----

// The user nobody: its user and group ids.
inline std::pair<uid_t, gid_t> ordinary_user() {
    if (const passwd* pw = ::getpwnam("nobody")) return {pw->pw_uid, pw->pw_gid};
    return {65534, 65534};
}

// Runs a shell command as the user nobody (directly when not root). Empty when that user
// cannot run the program (the build tree is closed to others).
inline std::optional<test_audio::RunResult> run_as_user(const std::string& command,
                                                        const std::string& program,
                                                        const fs::path& dir) {
    const auto [uid, gid] = ordinary_user();
    const bool root = ::geteuid() == 0;
    const fs::path out = dir / "stdout.user";
    const fs::path err = dir / "stderr.user";
    const std::string line = command + " >" + quoted(out) + " 2>" + quoted(err);
    const pid_t pid = ::fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(120);
        }
        if (::geteuid() == 0 || ::access(program.c_str(), X_OK) != 0) ::_exit(121);
        ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        ::_exit(122);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) >= 120) return std::nullopt;
    test_audio::RunResult r;
    r.status = WEXITSTATUS(status);
    const std::vector<uint8_t> o = bytes_of(out);
    const std::vector<uint8_t> e = bytes_of(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    fs::remove(out);
    fs::remove(err);
    return r;
}

// ---- signals ----

// Names in dir of temporary outputs in progress (".NAME.tmp-XXXXXX").
inline std::vector<std::string> temp_files(const fs::path& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 1 && name[0] == '.' && name.find(".tmp-") != std::string::npos) {
            found.push_back(it->path().string());
        }
    }
    return found;
}

struct Fed {
    std::string fifo;            // a FIFO the program reads as an input
    std::vector<uint8_t> first;  // written at once; the rest never comes
};

// Starts argv (the program and its words; stdout and stderr to files in dir) reading the
// FIFOs, feeds them their first bytes and keeps them open, waits until `temps` temporary
// outputs exist, sends the signal and returns the wait status (-1 when the program never got
// that far; it is then killed).
inline int stop_while_writing(const std::vector<std::string>& argv, const std::vector<Fed>& inputs,
                              std::size_t temps, int sig, const fs::path& dir) {
    for (const Fed& f : inputs) {
        ::unlink(f.fifo.c_str());
        if (::mkfifo(f.fifo.c_str(), 0600) != 0) return -1;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string out_name = (dir / "stdout.signal").string();
    const std::string err_name = (dir / "stderr.signal").string();
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT dumps core by default
        // As from a terminal, whatever this test runs under (nohup ignores SIGHUP).
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(s, SIG_DFL);
        ::dup2(::open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<int> writers(inputs.size(), -1);
    bool ready = false;
    while (!ready && std::chrono::steady_clock::now() < deadline) {
        // The program opens its inputs in an order of its own: offer every FIFO in turn.
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            if (writers[i] >= 0) continue;
            writers[i] = ::open(inputs[i].fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writers[i] < 0) continue;
            ::fcntl(writers[i], F_SETFL, 0);
            const std::vector<uint8_t>& b = inputs[i].first;
            if (!b.empty() && ::write(writers[i], b.data(), b.size()) != static_cast<ssize_t>(b.size())) {
                ADD_FAILURE() << "cannot feed " << inputs[i].fifo;
            }
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            const std::vector<uint8_t> said = bytes_of(dir / "stderr.signal");
            ADD_FAILURE() << "ended before the signal: " << std::string(said.begin(), said.end());
            for (const int w : writers) if (w >= 0) ::close(w);
            return -1;
        }
        ready = std::all_of(writers.begin(), writers.end(), [](int w) { return w >= 0; }) &&
                temp_files(dir).size() >= temps;
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int status = -1;
    if (ready) {
        ::kill(pid, sig);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > limit) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                ADD_FAILURE() << "still running after signal " << sig;
                status = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    } else {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ADD_FAILURE() << "no " << temps << " temporary outputs appeared";
        status = -1;
    }
    for (const int w : writers) if (w >= 0) ::close(w);
    for (const Fed& f : inputs) ::unlink(f.fifo.c_str());
    fs::remove(dir / "stdout.signal");
    fs::remove(dir / "stderr.signal");
    return status;
}

// Expects the status of a process ended by the signal (128 + signal in a shell).
inline void expect_ended_by(int status, int sig) {
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status)) << "exited with " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), sig);
    }
}

inline constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The launcher's words (an emulator in a cross build), then the program and its arguments.
inline std::vector<std::string> program_argv(const std::string& launcher, const std::string& program,
                                             const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    std::istringstream words(launcher);
    for (std::string w; words >> w;) argv.push_back(w);
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

}  // namespace output_safety
