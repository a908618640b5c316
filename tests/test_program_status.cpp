// SPDX-License-Identifier: BSD-2-Clause
// Every program's exit status: 0 for success and --help, 1 when the work failed, 2 for a usage
// error. (g729 itself: tests/test_cli.cpp; pelhost: tests/module/test_pelhost_transcode.cpp.)

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/audio_test_files.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    std::string program;
    std::string args;
    int status;
    std::string says;  // on stdout for status 0, on stderr otherwise
};

TEST(ProgramStatus, HelpUsageAndFailureAreToldApart) {
    const test_audio::TempDir temp;
    const fs::path& dir = temp.dir();
    fs::create_directories(dir / "empty");
    std::vector<Case> cases = {
        {G729_CONFORMANCE_PATH, "--help", 0, "VECTOR_DIR"},
        {G729_CONFORMANCE_PATH, "--bogus", 2, "bogus"},
        {G729_CONFORMANCE_PATH, "/no/such/dir", 1, "/no/such/dir: no such folder"},
        {G729_CONFORMANCE_PATH, "'" + (dir / "empty").string() + "'", 1, "no test vectors"},
        {G729_SOAK_PATH, "--help", 0, "usage: g729_soak"},
        {G729_SOAK_PATH, "--bogus 1", 2, "usage: g729_soak"},
#ifdef G729_CHANNELS_PATH
        {G729_CHANNELS_PATH, "--help", 0, "--channels"},
        {G729_CHANNELS_PATH, "--channels", 2, "--channels"},
        {G729_CHANNELS_PATH, "--bogus", 2, "bogus"},
        {G729_CHANNELS_PATH, "--seconds 0.02 --channels 1 --speech /no/such.wav", 1, "/no/such.wav"},
        // Values that cannot be meant are refused, never run as something else or aborted on.
        {G729_CHANNELS_PATH, "--seconds nan", 2, "--seconds"},
        {G729_CHANNELS_PATH, "--seconds inf", 2, "--seconds"},
        {G729_CHANNELS_PATH, "--channels 0", 2, "--channels"},
        {G729_CHANNELS_PATH, "--channels -5", 2, "--channels"},
        {G729_CHANNELS_PATH, "--threads 100000", 2, "--threads"},
        {G729_CHANNELS_PATH, "--repeat 0", 2, "--repeat"},
        // The cap on the instruction set holds in the kernels that run, not only in what is
        // printed: the scalar kernels have one lane.
        {G729_CHANNELS_PATH, "--engine batch-ws --channels 2 --seconds 0.02 --simd scalar", 0,
         "lanes:         1 ("},
        {G729_FRAME_DRIVER_PATH, "--help", 0, "usage: g729_frame_driver"},
        {G729_FRAME_DRIVER_PATH, "encode", 2, "usage: g729_frame_driver"},
        {G729_FRAME_DRIVER_PATH, "decode 1 /no/such.bits", 1, "/no/such.bits"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + c.args);
        const test_audio::RunResult r = test_audio::run_captured(
            std::string(G729_CHILD_LAUNCHER) + "'" + c.program + "' " + c.args, dir);
        EXPECT_EQ(r.status, c.status);
        const std::string& text = c.status == 0 ? r.out : r.err;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
#ifdef G729_CHANNELS_PATH
        // A refusal is one short line (a bound is not printed as a 300-digit number).
        if (c.program == G729_CHANNELS_PATH && c.status != 0) {
            EXPECT_LT(r.err.size(), 200u) << r.err;
        }
#endif
    }
}

}  // namespace
