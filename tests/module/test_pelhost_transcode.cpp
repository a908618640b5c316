// SPDX-License-Identifier: BSD-2-Clause
// The host's transcoding job: slin through lintog729, the G.729 frames through g729tolin.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/transcode.h"
#include "lib/io/pcm_io.h"
#include "module_test_support.h"
#include "tests/audio_test_files.h"
#include "tests/output_safety_support.h"

namespace {

using orvane_test::decode_direct;
using orvane_test::encode_direct;

constexpr std::size_t kLength = 12345;  // not a whole number of 10 ms blocks

// The codec run directly over the input padded with silence to whole blocks.
std::vector<int16_t> expected_output(std::vector<int16_t> input) {
    input.resize((input.size() + 79) / 80 * 80, 0);
    const std::vector<uint8_t> coded = encode_direct(input);
    const std::vector<int> units(coded.size() / 10, 10);
    return decode_direct(coded, units);
}

class Transcode : public orvane_test::ModuleTest {};

TEST_F(Transcode, MatchesTheCodecRunDirectlyForAnyPacketSize) {
    const std::vector<int16_t> input(orvane_test::speech().begin(),
                                     orvane_test::speech().begin() + kLength);
    const std::vector<int16_t> expected = expected_output(input);
    for (int packet : {160, 56, 200, 8000}) {
        SCOPED_TRACE(packet);
        const pelhost::TranscodeResult r = pelhost::transcode(encoder(), decoder(), input, packet);
        EXPECT_EQ(r.output, expected);
        EXPECT_EQ(r.input_samples, kLength);
        EXPECT_EQ(r.padding_samples, 55u);
        EXPECT_EQ(r.encode.frames_in, static_cast<long>((kLength + 55 + packet - 1) / packet));
        EXPECT_EQ(r.encode.bytes_out, static_cast<long>((kLength + 55) / 8));
        EXPECT_EQ(r.encode.samples_out, static_cast<long>(kLength + 55));
        EXPECT_EQ(r.decode.frames_in, r.encode.frames_out);
        EXPECT_EQ(r.decode.samples_out, static_cast<long>(kLength + 55));
        EXPECT_GT(r.encode.cpu_seconds, 0.0);
        EXPECT_GT(r.decode.cpu_seconds, 0.0);
    }
    EXPECT_TRUE(log_.lines().empty());
}

// Host frames of 991 to 1000 ms: with the part of a 10 ms block the encoder holds back from
// the frame before, some do not fit its 8000-sample buffer (993, 994 and 996 to 999 ms on
// this recording); they go in as far as it has room, then the rest, and the audio is the same.
TEST_F(Transcode, EveryPacketSizeUpToTheTranslatorsBufferWorks) {
    const std::vector<int16_t>& input = orvane_test::speech();
    const std::vector<int16_t> expected = expected_output(input);
    for (int ms = 991; ms <= 1000; ++ms) {
        SCOPED_TRACE(ms);
        pelhost::TranscodeResult r;
        ASSERT_NO_THROW(r = pelhost::transcode(encoder(), decoder(), input, 8 * ms));
        EXPECT_EQ(r.output, expected);
        const bool overflows = ms == 993 || ms == 994 || (ms >= 996 && ms <= 999);
        EXPECT_EQ(r.split_frames > 0, overflows) << r.split_frames;
    }
    EXPECT_TRUE(log_.lines().empty());
}

// ---- pelhost with the files people have ----

namespace files {

namespace fs = std::filesystem;
using namespace test_audio;
using namespace output_safety;

class PelhostFiles : public test_audio::TempDirTest {
protected:
    std::string p(const std::string& name) const { return (dir_ / name).string(); }
    RunResult pelhost(const std::string& args) const {
        return run_captured(orvane_test::pelhost_command() + " " + args, dir_);
    }
};

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

std::vector<int16_t> some_speech() {
    return {orvane_test::speech().begin(), orvane_test::speech().begin() + kLength};
}

TEST_F(PelhostFiles, TranscodeWritesTheDecodedSpeech) {
    const std::string in = p("in.wav");
    const std::string out = p("out.wav");
    const std::vector<int16_t> input(orvane_test::speech().begin(),
                                     orvane_test::speech().begin() + kLength);
    g729io::write_wav(in, input);
    const RunResult r = pelhost("transcode " + in + " " + out + " --packet-ms 30");
    const std::string& printed = r.out;
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(printed.find("lintog729"), std::string::npos);
    EXPECT_NE(printed.find("ms CPU per second of audio"), std::string::npos);
    EXPECT_NE(printed.find("1550 bytes"), std::string::npos);  // 155 frames of 10 bytes
    // The path of the written file closes the report.
    EXPECT_EQ(printed.substr(printed.rfind(out)), out + "\n");
    EXPECT_EQ(g729io::read_wav(out), expected_output(input));

    const RunResult refused = pelhost("transcode " + in + " " + out + " --packet-ms 0");
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.status, 0);
}

TEST_F(PelhostFiles, ShowTranslationGivesACostForBothTranslators) {
    const RunResult r = pelhost("show translation");
    const std::string& printed = r.out;
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(printed.find("lintog729  slin -> g729"), std::string::npos) << printed;
    EXPECT_NE(printed.find("g729tolin  g729 -> slin"), std::string::npos) << printed;
}

TEST_F(PelhostFiles, NeverOverwritesTheInput) {
    g729io::write_wav(p("in.wav"), some_speech());
    fs::create_directory(dir_ / "sub");
    fs::create_symlink(p("in.wav"), p("link.wav"));
    fs::create_hard_link(p("in.wav"), p("hard.wav"));
    const std::vector<uint8_t> original = bytes_of(p("in.wav"));
    for (const char* out : {"in.wav", "sub/../in.wav", "link.wav", "hard.wav"}) {
        SCOPED_TRACE(out);
        const RunResult r = pelhost("transcode " + q("in.wav") + " " + q(std::string(out)));
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "is the same file as")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(bytes_of(p("in.wav")), original);
    }
}

TEST_F(PelhostFiles, FloatAndExtensibleWavAreTranscodedAtTheirLevel) {
    const double a = 0.24;  // a 440 Hz tone at 0.24 of full scale
    const double want_rms = 32768.0 * a / std::sqrt(2.0);
    struct Case {
        std::string name;
        WavSpec spec;
        std::string note;
    };
    const std::vector<Case> cases = {
        {"float.wav", wav_spec(1, 8000, Sample::f32), "input: 8000 Hz mono float"},
        {"extensible.wav", wav_spec(2, 44100, Sample::f32, true), "input: 44100 Hz stereo float"},
        {"extensible16.wav", wav_spec(1, 8000, Sample::s16, true), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(p(c.name), wav_file(c.spec, tone(440, a, c.spec.rate, c.spec.channels, 1.0)));
        const RunResult r = pelhost("transcode " + q(c.name) + " " + q("out.wav"));
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.note.empty()) {
            EXPECT_FALSE(contains(r.err, "converted")) << r.err;
        } else {
            EXPECT_TRUE(contains(r.err, c.note + ", converted to 8000 Hz mono 16-bit")) << r.err;
        }
        const std::vector<int16_t> out = g729io::read_wav(p("out.wav"));
        EXPECT_EQ(out.size(), 8000u);
        EXPECT_NEAR(20 * std::log10(rms(out, 800) / want_rms), 0.0, 1.5);
    }
}

TEST_F(PelhostFiles, OutputFormatFollowsTheExtension) {
    const std::vector<int16_t> input = some_speech();
    g729io::write_wav(p("in.wav"), input);
    const RunResult r = pelhost("transcode " + q("in.wav") + " " + q("out.raw"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "output:     raw PCM, " + p("out.raw"))) << r.out;
    EXPECT_EQ(bytes_of(p("out.raw")), g729io::pcm_to_le_bytes(expected_output(input)));

    const RunResult flac = pelhost("transcode " + q("in.wav") + " " + q("out.flac"));
    EXPECT_EQ(flac.status, 2);
    EXPECT_TRUE(contains(flac.err, "WAV (.wav) or raw PCM")) << flac.err;
    EXPECT_FALSE(fs::exists(p("out.flac")));
}

TEST_F(PelhostFiles, UsageErrorsExitTwoAndHelpExitsZero) {
    g729io::write_wav(p("in.wav"), some_speech());
    for (const std::string& args :
         {std::string("transcode"), "transcode " + q("in.wav"), std::string("--bogus"),
          "transcode " + q("in.wav") + " " + q("o.wav") + " --packet-ms 0",
          "transcode " + q("in.wav") + " " + q("o.wav") + " --packet-ms x", std::string("show"),
          std::string("")}) {
        SCOPED_TRACE(args);
        const RunResult r = pelhost(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(fs::exists(p("o.wav")));
    for (const char* args : {"--help", "transcode --help"}) {
        const RunResult r = pelhost(std::string(args));
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_TRUE(contains(r.out, "transcode")) << r.out;
    }
}

TEST_F(PelhostFiles, AWavHeaderNeverFixedUpIsTranscodedWhole) {
    put(p("unfixed.wav"), wav_file(wav_spec(1, 8000, Sample::s16, false, 0), tone(440, 0.24, 8000, 1, 1.0)));
    const RunResult r = pelhost("transcode " + q("unfixed.wav") + " " + q("out.wav"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "declares 0 bytes of audio data but the file holds 16000")) << r.err;
    EXPECT_TRUE(contains(r.out, "8000 samples (1.00 s)")) << r.out;
    EXPECT_EQ(g729io::read_wav(p("out.wav")).size(), 8000u);

    put(p("empty.raw"), {});
    const RunResult e = pelhost("transcode " + q("empty.raw") + " " + q("out.raw"));
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(contains(e.err, "warning")) << e.err;
    EXPECT_TRUE(contains(e.err, "empty")) << e.err;
}

TEST_F(PelhostFiles, StreamsThroughStandardInputAndOutput) {
    const std::vector<int16_t> input = some_speech();
    g729io::write_raw_pcm(p("in.raw"), input);
    const RunResult r = run_captured(orvane_test::pelhost_command() + " transcode - - <" + q("in.raw"), dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int16_t> want = expected_output(input);
    EXPECT_EQ(r.out, std::string(reinterpret_cast<const char*>(g729io::pcm_to_le_bytes(want).data()),
                                 want.size() * 2));
    // The report goes to stderr when the audio takes stdout.
    EXPECT_TRUE(contains(r.err, "lintog729")) << r.err;
}

// ---- outputs at the edges ----

TEST_F(PelhostFiles, AnOutputThatFailsGivesOneLineAndStatus1) {
    std::vector<int16_t> input;
    while (input.size() < 100 * 8000) input.insert(input.end(), orvane_test::speech().begin(), orvane_test::speech().end());
    g729io::write_raw_pcm(p("in.raw"), input);  // more than a pipe holds
    const std::string host = orvane_test::pelhost_command();
    struct Case {
        std::string command;  // OUTPUT: /dev/full or -; without it the output is stdout
        std::vector<OutputKind> kinds;
    };
    const std::vector<Case> cases = {
        {host + " transcode " + q("in.raw") + " OUTPUT", {std::begin(all_kinds), std::end(all_kinds)}},
        // The report, on stdout when the audio goes to a file.
        {host + " transcode " + q("in.raw") + " " + q("out.raw"),
         {OutputKind::stdout_full, OutputKind::stdout_closed}},
        {host + " cli 'g729 show version'", {OutputKind::stdout_full, OutputKind::stdout_closed}},
        {host + " show translation", {OutputKind::stdout_full, OutputKind::stdout_closed}},
    };
    for (const Case& c : cases) {
        for (const OutputKind kind : c.kinds) {
            SCOPED_TRACE(c.command + "  [" + kind_name(kind) + "]");
            expect_one_line_failure(run_with_output(c.command, kind, dir_), kind_reason(kind),
                                    {"NOTICE["});
        }
    }
    EXPECT_TRUE(temp_files(dir_).empty());
}

TEST_F(PelhostFiles, AWriteProtectedOutputIsRefusedToAnOrdinaryUser) {
    fs::permissions(dir_, fs::perms::all);
    g729io::write_raw_pcm(p("in.raw"), some_speech());
    put(p("ro.wav"), {'o', 'l', 'd'});
    fs::permissions(p("ro.wav"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (::chown(p("ro.wav").c_str(), ordinary_user().first, ordinary_user().second) != 0) {
        ASSERT_NE(::geteuid(), 0u);
    }
    const std::optional<RunResult> r = run_as_user(
        orvane_test::pelhost_command() + " transcode " + q("in.raw") + " " + q("ro.wav"), PELHOST_PATH, dir_);
    if (!r) GTEST_SKIP() << "no ordinary user can run " << PELHOST_PATH;
    expect_one_line_failure({r->status, r->err}, p("ro.wav") + ": cannot write: Permission denied", {"NOTICE["});
    EXPECT_EQ(bytes_of(p("ro.wav")), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST_F(PelhostFiles, ASignalRemovesTheOutputInProgressAndKeepsTheOldOne) {
    const std::vector<uint8_t> audio = g729io::pcm_to_le_bytes(some_speech());
    for (const int sig : cleanup_signals) {
        SCOPED_TRACE(sig);
        put(p("out.raw"), {'o', 'l', 'd'});
        const int status = stop_while_writing(
            program_argv(G729_CHILD_LAUNCHER, PELHOST_PATH, {"transcode", p("in.raw"), p("out.raw")}),
            {{p("in.raw"), std::vector<uint8_t>(audio.begin(), audio.begin() + 1600)}}, 1, sig, dir_);
        expect_ended_by(status, sig);
        EXPECT_TRUE(temp_files(dir_).empty());
        EXPECT_EQ(bytes_of(p("out.raw")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
}

TEST_F(PelhostFiles, TranscodesInFramesUpToTheAdvertisedSecond) {
    g729io::write_raw_pcm(p("in.raw"), orvane_test::speech());
    for (const char* ms : {"996", "999", "1000"}) {
        SCOPED_TRACE(ms);
        const RunResult r = pelhost("transcode " + q("in.raw") + " " + q("out.raw") + " --packet-ms " + ms);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(bytes_of(p("out.raw")).size(), (orvane_test::speech().size() + 79) / 80 * 160);
    }
}

}  // namespace files

}  // namespace
