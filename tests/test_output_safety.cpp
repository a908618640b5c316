// SPDX-License-Identifier: BSD-2-Clause
// Outputs of the g729 tool and of g729_capture_impair at the edges: a full device, a closed
// standard output and a pipe whose reader left each fail with one line and status 1; a
// write-protected output is refused; a signal removes the outputs in progress and leaves the
// old ones; the capture copier never writes over its input nor copies a damaged capture.
// (pelhost: tests/module/test_pelhost_transcode.cpp.)

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "tests/audio_test_files.h"
#include "tests/output_safety_support.h"
#include "lib/io/pcm_io.h"

namespace fs = std::filesystem;
using namespace test_audio;
using namespace output_safety;

namespace {

std::string tool() { return std::string(G729_CHILD_LAUNCHER) + "'" + G729_TOOL_PATH + "'"; }
std::string impair() { return std::string(G729_CHILD_LAUNCHER) + "'" + G729_IMPAIR_PATH + "'"; }

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

std::size_t line_count(const std::string& s) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
}

// Inputs in every format the programs read: 100 s of audio, so that every output is larger
// than a pipe holds (a reader that leaves is then always noticed).
class OutputSafety : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        g729io::write_raw_pcm(file("in.raw").string(), speechlike(100 * 8000));
        for (const std::string& args : {"--format itu " + q("in.raw") + " " + q("in.bit"),
                                        "--format raw " + q("in.raw") + " " + q("in.g729"),
                                        "--format pcap " + q("in.raw") + " " + q("in.pcap")}) {
            ASSERT_EQ(run_captured(tool() + " encode " + args, dir_).status, 0) << args;
        }
    }
};

// ---- every output checked to the end ----

TEST_F(OutputSafety, AnOutputThatFailsGivesOneLineAndStatus1) {
    struct Case {
        std::string command;  // OUTPUT: /dev/full or -
        std::vector<std::string> notes;  // progress lines beside the one message
    };
    const std::vector<Case> cases = {
        {tool() + " encode --format itu " + q("in.raw") + " OUTPUT", {}},
        {tool() + " encode --format raw " + q("in.raw") + " OUTPUT", {}},
        {tool() + " encode --format pcap " + q("in.raw") + " OUTPUT", {}},
        {tool() + " decode --format itu " + q("in.bit") + " OUTPUT", {}},
        {tool() + " decode --format raw " + q("in.g729") + " OUTPUT", {}},
        {tool() + " decode --format pcap " + q("in.pcap") + " OUTPUT", {"g729: stream "}},
        {impair() + " " + q("in.pcap") + " OUTPUT --drop 5", {}},
    };
    for (const Case& c : cases) {
        for (const OutputKind kind : all_kinds) {
            SCOPED_TRACE(c.command + "  [" + kind_name(kind) + "]");
            expect_one_line_failure(run_with_output(c.command, kind, dir_), kind_reason(kind), c.notes);
        }
    }
    // Help goes to standard output too.
    expect_one_line_failure(run_with_output(tool() + " --help OUTPUT", OutputKind::stdout_full, dir_),
                            "No space left on device");
    EXPECT_TRUE(temp_files(dir_).empty());
}

// ---- permissions ----

TEST_F(OutputSafety, AWriteProtectedOutputIsRefusedToAnOrdinaryUser) {
    fs::permissions(dir_, fs::perms::all);  // the folder lets anyone replace a file in it
    struct Case {
        std::string command;
        std::string output;
    };
    const std::vector<Case> cases = {
        {tool() + " decode " + q("in.bit") + " " + q("ro.wav"), "ro.wav"},
        {tool() + " encode " + q("in.raw") + " " + q("ro.bit"), "ro.bit"},
        {tool() + " decode " + q("in.pcap") + " " + q("ro.raw"), "ro.raw"},
        {impair() + " " + q("in.pcap") + " " + q("ro.pcap"), "ro.pcap"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        put(file(c.output), {'o', 'l', 'd'});
        fs::permissions(file(c.output), fs::perms::owner_read | fs::perms::group_read |
                                            fs::perms::others_read);
        // The user's own file, as after chmod 444.
        if (::chown(file(c.output).c_str(), ordinary_user().first, ordinary_user().second) != 0 &&
            ::geteuid() == 0) {
            FAIL() << "chown";
        }
        const std::optional<RunResult> r = run_as_user(c.command, G729_TOOL_PATH, dir_);
        if (!r) GTEST_SKIP() << "no ordinary user can run " << G729_TOOL_PATH;
        EXPECT_EQ(r->status, 1);
        EXPECT_EQ(line_count(r->err), 1u) << r->err;
        EXPECT_TRUE(contains(r->err, c.output + ": cannot write: Permission denied")) << r->err;
        EXPECT_EQ(bytes_of(file(c.output)), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
    EXPECT_TRUE(temp_files(dir_).empty());
}

// ---- signals ----

TEST_F(OutputSafety, ASignalRemovesTheOutputsInProgressAndKeepsTheOldOnes) {
    const std::vector<uint8_t> raw = bytes_of(file("in.raw"));
    const std::vector<uint8_t> bit = bytes_of(file("in.bit"));
    const std::vector<uint8_t> pcap = bytes_of(file("in.pcap"));
    const std::vector<uint8_t> some_audio(raw.begin(), raw.begin() + 1600);
    const std::vector<uint8_t> one_frame(bit.begin(), bit.begin() + 164);
    const std::vector<uint8_t> some_packets(pcap.begin(), pcap.begin() + 500);
    const std::string o = file("o").string();
    fs::create_directories(o);
    struct Case {
        std::string name;
        std::vector<std::string> argv;
        std::vector<Fed> inputs;
        std::vector<std::string> outputs;  // existing before, unchanged after
    };
    const std::vector<Case> cases = {
        {"encode",
         program_argv(G729_CHILD_LAUNCHER, G729_TOOL_PATH,
                      {"encode", file("a.raw").string(), file("out.bit").string()}),
         {{file("a.raw").string(), some_audio}},
         {"out.bit"}},
        {"decode to WAV",
         program_argv(G729_CHILD_LAUNCHER, G729_TOOL_PATH,
                      {"decode", file("a.bit").string(), file("out.wav").string()}),
         {{file("a.bit").string(), one_frame}},
         {"out.wav"}},
        {"batch encode, 3 files on 2 workers",
         program_argv(G729_CHILD_LAUNCHER, G729_TOOL_PATH,
                      {"encode", "--threads", "2", "--output-dir", o, file("a.raw").string(),
                       file("b.raw").string(), file("c.raw").string()}),
         {{file("a.raw").string(), some_audio},
          {file("b.raw").string(), some_audio},
          {file("c.raw").string(), some_audio}},
         {"o/a.bit", "o/b.bit", "o/c.bit"}},
        {"capture impair",
         program_argv(G729_CHILD_LAUNCHER, G729_IMPAIR_PATH,
                      {file("a.pcap").string(), file("out.pcap").string(), "--drop", "5"}),
         {{file("a.pcap").string(), some_packets}},
         {"out.pcap"}},
    };
    for (const Case& c : cases) {
        for (const int sig : cleanup_signals) {
            SCOPED_TRACE(c.name + ", signal " + std::to_string(sig));
            for (const std::string& out : c.outputs) put(file(out), {'o', 'l', 'd'});
            const int status = stop_while_writing(c.argv, c.inputs, c.outputs.size(), sig, dir_);
            expect_ended_by(status, sig);
            EXPECT_TRUE(temp_files(dir_).empty());
            for (const std::string& out : c.outputs) {
                EXPECT_EQ(bytes_of(file(out)), (std::vector<uint8_t>{'o', 'l', 'd'})) << out;
            }
        }
    }
}

// ---- g729_capture_impair writes as the tool does ----

TEST_F(OutputSafety, CaptureImpairNeverWritesOverItsInputNorCopiesADamagedCapture) {
    const std::vector<uint8_t> pcap = bytes_of(file("in.pcap"));
    put(file("cut.pcap"), std::vector<uint8_t>(pcap.begin(), pcap.begin() + 1000));  // mid-packet
    fs::create_symlink(file("in.pcap"), file("link.pcap"));
    fs::create_hard_link(file("in.pcap"), file("hard.pcap"));
    fs::create_directories(file("sub"));
    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {q("in.pcap") + " " + q("in.pcap") + " --drop 10", 1, "is the same file as"},
        {q("in.pcap") + " " + q("sub/../in.pcap"), 1, "is the same file as"},
        {q("link.pcap") + " " + q("hard.pcap"), 1, "is the same file as"},
        {q("in.pcap") + " " + q("link.pcap") + " --reorder 5", 1, "is the same file as"},
        {q("cut.pcap") + " " + q("out.pcap"), 1, "left as it was"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        put(file("out.pcap"), {'o', 'l', 'd'});
        const RunResult r = run_captured(impair() + " " + c.args, dir_);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(line_count(r.err), 1u) << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_EQ(bytes_of(file("in.pcap")), pcap);
        EXPECT_EQ(bytes_of(file("out.pcap")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
    // A whole capture replaces the old copy, and keeps every packet when nothing is impaired.
    const RunResult ok = run_captured(impair() + " " + q("in.pcap") + " " + q("out.pcap"), dir_);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(bytes_of(file("out.pcap")).size(), pcap.size());
    EXPECT_TRUE(temp_files(dir_).empty());
}

}  // namespace
