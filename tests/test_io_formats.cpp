// SPDX-License-Identifier: BSD-2-Clause
// The file formats of the I/O library: the ITU serial format, raw coded frames, 16-bit PCM and
// WAV, and outputs that replace a file only with a complete result.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "lib/io/audio_reader.h"
#include "lib/io/audio_writer.h"
#include "lib/io/coded_io.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"
#include "lib/io/safe_output.h"
#include "tests/audio_test_files.h"

namespace fs = std::filesystem;
using g729io::CodedFrame;
using g729io::FrameKind;
using namespace test_audio;

namespace {

// ---- the ITU serial format ----

CodedFrame patterned_speech() {
    uint8_t b[10];
    for (int i = 0; i < 10; ++i) {
        b[i] = static_cast<uint8_t>(0x3C ^ (i * 37));
    }
    return CodedFrame::speech(b);
}

TEST(ItuFormat, RoundTripOfEveryFrameKind) {
    const uint8_t sid[2] = {0xA5, 0x5A};
    const std::vector<CodedFrame> frames = {patterned_speech(), CodedFrame::sid(sid),
                                            CodedFrame::untransmitted(), CodedFrame::lost(),
                                            patterned_speech()};
    const std::vector<uint8_t> data = g729io::format_itu(frames);
    EXPECT_EQ(data.size(), 164u + 36u + 4u + 164u + 164u);
    const g729io::CodedStream back = g729io::parse_itu(data, "t");
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.frames, frames);
}

TEST(ItuFormat, WordLayout) {
    uint8_t speech[10] = {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
    const uint8_t sid[2] = {0xff, 0xfe};
    const std::vector<CodedFrame> frames = {CodedFrame::speech(speech), CodedFrame::sid(sid),
                                            CodedFrame::untransmitted(), CodedFrame::lost()};
    const std::vector<uint8_t> d = g729io::format_itu(frames);
    auto word = [&d](std::size_t i) { return d[2 * i] | (d[2 * i + 1] << 8); };
    EXPECT_EQ(word(0), 0x6B21);
    EXPECT_EQ(word(1), 80);
    EXPECT_EQ(word(2), 0x0081);  // MSB of byte 0 first
    for (std::size_t k = 3; k < 81; ++k) {
        EXPECT_EQ(word(k), 0x007F) << k;
    }
    EXPECT_EQ(word(81), 0x0081);  // LSB of byte 9 last
    EXPECT_EQ(word(82), 0x6B21);
    EXPECT_EQ(word(83), 16);
    for (std::size_t k = 84; k < 99; ++k) {
        EXPECT_EQ(word(k), 0x0081) << k;
    }
    EXPECT_EQ(word(99), 0x007F);  // the final SID bit is 0
    EXPECT_EQ(word(100), 0x6B21);
    EXPECT_EQ(word(101), 0);
    EXPECT_EQ(word(102), 0x6B20);
}

TEST(ItuFormat, LostFrameMarkings) {
    std::vector<uint8_t> d = itu_header(0x6B21, 80);
    d.resize(d.size() + 160, 0);  // erased bit words
    const auto lost_sync = itu_header(0x6B20, 0);
    d.insert(d.end(), lost_sync.begin(), lost_sync.end());
    const auto lost_sid = itu_header(0x6B21, 16);
    d.insert(d.end(), lost_sid.begin(), lost_sid.end());
    d.resize(d.size() + 32, 0);
    auto lost_speech = itu_speech_frame_of_zero_bits();
    lost_speech[0] = 0x20;  // sync 0x6B20 with valid bits
    d.insert(d.end(), lost_speech.begin(), lost_speech.end());
    const g729io::CodedStream s = g729io::parse_itu(d, "t");
    ASSERT_TRUE(s.ok()) << s.error;
    ASSERT_EQ(s.frames.size(), 4u);
    for (const CodedFrame& f : s.frames) {
        EXPECT_EQ(f.kind, FrameKind::lost);
    }
}

TEST(ItuFormat, MalformedInputStopsWithFrameAndOffset) {
    const std::vector<uint8_t> good = itu_speech_frame_of_zero_bits();
    auto with = [&good](const std::vector<uint8_t>& bad) {
        std::vector<uint8_t> d = good;
        d.insert(d.end(), bad.begin(), bad.end());
        return g729io::parse_itu(d, "f.bit");
    };
    struct Case {
        std::vector<uint8_t> bad;
        std::string expected;
    };
    std::vector<uint8_t> bad_word = good;
    bad_word[4 + 2 * 5] = 0x80;  // bit word 6 becomes 0x0080
    std::vector<uint8_t> mixed = good;
    mixed[4 + 2 * 7] = 0;  // one erased word among valid ones
    const std::vector<Case> cases = {
        {itu_header(0x1234, 80), "f.bit: frame 2 at byte offset 164: unknown sync word 0x1234"},
        {itu_header(0x6B21, 79), "f.bit: frame 2 at byte offset 164: length word 79"},
        {bad_word, "f.bit: frame 2 at byte offset 178: unknown bit word 0x0080"},
        {mixed, "f.bit: frame 2 at byte offset 164: mixes erased"},
        {std::vector<uint8_t>(good.begin(), good.end() - 2),
         "f.bit: frame 2 at byte offset 164: truncated frame (needs 164 bytes, 162 left)"},
        {{0x21}, "f.bit: frame 2 at byte offset 164: truncated frame"},
    };
    for (const Case& c : cases) {
        const g729io::CodedStream s = with(c.bad);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.frames.size(), 1u);
        EXPECT_EQ(s.error.rfind(c.expected, 0), 0u) << s.error;
    }
}

TEST(RawFormat, PartialFrameAndSpeechOnly) {
    const std::vector<uint8_t> data(25, 0x11);
    const g729io::CodedStream s = g729io::parse_raw(data, "r");
    EXPECT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.error, "r: partial frame at byte offset 20 (5 of 10 bytes)");
    EXPECT_TRUE(g729io::parse_raw(std::vector<uint8_t>(30, 0), "r").ok());
    EXPECT_THROW(g729io::format_raw(std::vector<CodedFrame>{CodedFrame::untransmitted()}),
                 g729io::IoError);
}

TEST(PcmFormat, LittleEndianAndWavRoundTrip) {
    const std::vector<int16_t> s = {0, 1, -1, 32767, -32768, 0x1234};
    const std::vector<uint8_t> b = g729io::pcm_to_le_bytes(s);
    EXPECT_EQ(b, (std::vector<uint8_t>{0, 0, 1, 0, 0xff, 0xff, 0xff, 0x7f, 0, 0x80, 0x34, 0x12}));
    EXPECT_EQ(g729io::pcm_from_le_bytes(b), s);

    const TempDir temp;
    const fs::path p = temp.path("pcm.WAV");
    g729io::write_audio(p.string(), s);  // the extension is matched without regard to case
    const std::vector<uint8_t> file = bytes_of(p);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(g729io::read_audio(p.string()).samples, s);
}

TEST(SafeOutput, UncommittedLeavesTheTargetAndNoTemporaryFile) {
    const TempDir temp;
    const fs::path& dir = temp.dir();
    const fs::path target = dir / "t.raw";
    put(target, {1, 2, 3});
    {
        g729io::SafeOutput out(target.string());
        EXPECT_EQ(fs::path(out.temp_path()).parent_path(), dir);
        std::fputs("partial", out.file());
    }
    EXPECT_EQ(bytes_of(target), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    {
        g729io::SafeOutput out(target.string());
        std::fputs("done", out.file());
        out.commit();
    }
    EXPECT_EQ(bytes_of(target), (std::vector<uint8_t>{'d', 'o', 'n', 'e'}));
    // A symbolic link as output stays a link; the file it points to gets the result.
    fs::create_symlink(target, dir / "link.raw");
    g729io::write_file((dir / "link.raw").string(), std::vector<uint8_t>{7});
    EXPECT_TRUE(fs::is_symlink(dir / "link.raw"));
    EXPECT_EQ(bytes_of(target), (std::vector<uint8_t>{7}));
    // A device is written in place, never replaced.
    g729io::write_file("/dev/null", std::vector<uint8_t>{7});
    struct stat st{};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_THROW(g729io::refuse_same_file(target.string(), (dir / "link.raw").string()),
                 g729io::IoError);
    EXPECT_NO_THROW(g729io::refuse_same_file("-", "-"));
    EXPECT_NO_THROW(g729io::refuse_same_file(target.string(), (dir / "new.raw").string()));
}

// Threads that create and drop outputs without a pause, ended by a signal again and again: the
// handler, in whichever thread the signal reaches, leaves no temporary file behind, also none
// that another thread was creating meanwhile (the batch tool's workers, stopped by Ctrl-C).
TEST(SafeOutput, ASignalLeavesNoTemporaryFileOfAnyThread) {
    const TempDir temp;
    const fs::path& dir = temp.dir();
    const auto leftovers = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().filename().string().find(".tmp-") != std::string::npos) {
                fs::remove(e.path());
                ++n;
            }
        }
        return n;
    };
    constexpr int kRounds = 40;
    int rounds_with_leftovers = 0;
    for (int round = 0; round < kRounds; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int k = 0; k < 3; ++k) {
                const std::string out = (dir / ("out" + std::to_string(k) + ".bit")).string();
                std::thread([out] {
                    for (;;) g729io::SafeOutput o(out);
                }).detach();
            }
            for (;;) ::pause();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + round % 7));
        const int sig = round % 2 == 0 ? SIGTERM : SIGINT;
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        rounds_with_leftovers += leftovers() > 0 ? 1 : 0;
    }
    EXPECT_EQ(rounds_with_leftovers, 0) << "of " << kRounds << " rounds";
}

}  // namespace
