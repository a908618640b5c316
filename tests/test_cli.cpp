// SPDX-License-Identifier: BSD-2-Clause
// The g729 command-line tool run as a program.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "lib/eval/codec_runner.h"
#include "lib/eval/metrics.h"
#include "lib/io/coded_io.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"
#include "tests/audio_test_files.h"

namespace fs = std::filesystem;
using g729io::CodedFrame;
using g729io::FrameKind;
using test_audio::bytes_of;
using test_audio::itu_header;
using test_audio::itu_speech_frame_of_zero_bits;
using test_audio::le16;
using test_audio::le32;
using test_audio::put;

namespace {

// ---- helpers ----

// A canonical 44-byte-header PCM WAV, written by hand so that the reader is checked against an
// independent writer.
std::vector<uint8_t> wav_file(int channels, int rate, int bits, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F'};
    le32(v, static_cast<uint32_t>(36 + data.size()));
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le32(v, 16);
    le16(v, 1);  // PCM
    le16(v, static_cast<unsigned>(channels));
    le32(v, static_cast<uint32_t>(rate));
    le32(v, static_cast<uint32_t>(rate * channels * bits / 8));
    le16(v, static_cast<unsigned>(channels * bits / 8));
    le16(v, static_cast<unsigned>(bits));
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    le32(v, static_cast<uint32_t>(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

// Two tones and a slow sweep, loud enough to code well.
std::vector<int16_t> test_signal(std::size_t n) {
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        const double v = 4000.0 * std::sin(2 * std::numbers::pi * 440.0 * t) +
                         2500.0 * std::sin(2 * std::numbers::pi * 1250.0 * t) +
                         1500.0 * std::sin(2 * std::numbers::pi * (300.0 + 400.0 * t) * t);
        s[i] = static_cast<int16_t>(std::lround(v));
    }
    return s;
}

using test_audio::RunResult;

class CliTest : public test_audio::TempDirTest {
protected:
    RunResult run(const std::string& args) const {
        return test_audio::run_captured(
            std::string(G729_CHILD_LAUNCHER) + "'" + G729_TOOL_PATH + "' " + args, dir_);
    }
};

int line_count(const std::string& s) {
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

// Expects a failed run that printed exactly one line containing every fragment.
void expect_one_line_failure(const RunResult& r, const std::vector<std::string>& fragments) {
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(line_count(r.err), 1) << r.err;
    for (const std::string& f : fragments) {
        EXPECT_NE(r.err.find(f), std::string::npos) << "missing '" << f << "' in: " << r.err;
    }
}

// ---- the tool ----

TEST_F(CliTest, WavRoundTripMatchesLibraryAndWarnsOnPartialFrame) {
    const std::vector<int16_t> signal = test_signal(100 * 80 + 37);
    put(file("in.wav"), wav_file(1, 8000, 16, g729io::pcm_to_le_bytes(signal)));

    const RunResult enc = run("encode " + q("in.wav") + " " + q("coded.bit"));
    ASSERT_EQ(enc.status, 0) << enc.err;
    EXPECT_NE(enc.err.find("warning"), std::string::npos) << enc.err;
    EXPECT_NE(enc.err.find("37 samples"), std::string::npos) << enc.err;

    // The .bit name selects the ITU format by default.
    const g729io::CodedStream coded = g729io::parse_itu(bytes_of(file("coded.bit")), "coded.bit");
    ASSERT_TRUE(coded.ok()) << coded.error;
    ASSERT_EQ(coded.frames.size(), 100u);
    const std::vector<int16_t> whole(signal.begin(), signal.begin() + 8000);
    EXPECT_EQ(coded.frames, g729eval::encode_samples(whole, false));

    const RunResult dec = run("decode " + q("coded.bit") + " " + q("out.wav"));
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_TRUE(dec.err.empty()) << dec.err;
    const std::vector<int16_t> out = g729io::read_wav(file("out.wav").string());
    ASSERT_EQ(out.size(), 8000u);
    EXPECT_EQ(out, g729eval::decode_frames(coded.frames).samples);
    // Tones survive the codec: decoded output, delayed by the codec, resembles the input.
    EXPECT_GT(g729eval::snr_at_shift(whole, out, 40), 3.0);
}

TEST_F(CliTest, RawAndItuFormatsCarryTheSameFrames) {
    const std::vector<int16_t> signal = test_signal(30 * 80);
    g729io::write_raw_pcm(file("in.pcm").string(), signal);
    ASSERT_EQ(run("encode --format raw " + q("in.pcm") + " " + q("a.g729")).status, 0);
    ASSERT_EQ(run("encode --format itu " + q("in.pcm") + " " + q("b.dat")).status, 0);
    const std::vector<uint8_t> raw = bytes_of(file("a.g729"));
    ASSERT_EQ(raw.size(), 300u);
    const g729io::CodedStream itu = g729io::parse_itu(bytes_of(file("b.dat")), "b.dat");
    ASSERT_TRUE(itu.ok()) << itu.error;
    EXPECT_EQ(g729io::format_raw(itu.frames), raw);

    // Decoding either gives the same PCM; a name without .wav is raw PCM out.
    ASSERT_EQ(run("decode " + q("a.g729") + " " + q("a.pcm")).status, 0);
    ASSERT_EQ(run("decode --format itu " + q("b.dat") + " " + q("b.pcm")).status, 0);
    EXPECT_EQ(bytes_of(file("a.pcm")).size(), 30u * 160u);
    EXPECT_EQ(bytes_of(file("a.pcm")), bytes_of(file("b.pcm")));
}

// WAV files other than 16-bit mono 8 kHz used to be refused; they are converted now, and the
// tool says what it converted (tests/test_cli_files.cpp checks the converted samples).
TEST_F(CliTest, ConvertsWavOtherThan16BitMono8k) {
    const std::vector<uint8_t> pcm16(1600, 0);
    struct Case {
        std::string name;
        std::vector<uint8_t> file;
        std::string note;
        std::size_t frames;
    };
    const std::vector<Case> cases = {
        {"rate.wav", wav_file(1, 16000, 16, pcm16), "input: 16000 Hz mono 16-bit", 5},
        {"stereo.wav", wav_file(2, 8000, 16, pcm16), "input: 8000 Hz stereo 16-bit", 5},
        {"byte.wav", wav_file(1, 8000, 8, std::vector<uint8_t>(800, 128)),
         "input: 8000 Hz mono 8-bit unsigned", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(file(c.name), c.file);
        const RunResult r = run("encode " + q(c.name) + " " + q("x.bit"));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "g729: " + file(c.name).string() + ": " + c.note +
                             ", converted to 8000 Hz mono 16-bit\n");
        const g729io::CodedStream coded = g729io::parse_itu(bytes_of(file("x.bit")), "x.bit");
        EXPECT_EQ(coded.frames.size(), c.frames);
    }
}

TEST_F(CliTest, PartialRawCodedFrameDecodesCompleteFramesAndFails) {
    const std::vector<int16_t> signal = test_signal(3 * 80);
    g729io::write_raw_pcm(file("in.pcm").string(), signal);
    ASSERT_EQ(run("encode " + q("in.pcm") + " " + q("full.g729")).status, 0);
    std::vector<uint8_t> coded = bytes_of(file("full.g729"));
    ASSERT_EQ(coded.size(), 30u);
    coded.resize(25);
    put(file("cut.g729"), coded);
    expect_one_line_failure(run("decode " + q("cut.g729") + " " + q("out.pcm")),
                            {"cut.g729", "byte offset 20"});
    EXPECT_EQ(bytes_of(file("out.pcm")).size(), 2u * 160u);
}

TEST_F(CliTest, MalformedItuStreamsAreNamedByFrameAndOffset) {
    std::vector<uint8_t> bad_sync = itu_speech_frame_of_zero_bits();
    const auto tail = itu_header(0x6B22, 80);
    bad_sync.insert(bad_sync.end(), tail.begin(), tail.end());
    put(file("sync.bit"), bad_sync);
    expect_one_line_failure(run("decode " + q("sync.bit") + " " + q("o.pcm")),
                            {"frame 2", "byte offset 164", "sync word 0x6B22"});
    EXPECT_EQ(bytes_of(file("o.pcm")).size(), 160u);

    put(file("length.bit"), itu_header(0x6B21, 40));
    expect_one_line_failure(run("decode " + q("length.bit") + " " + q("o.pcm")),
                            {"frame 1", "byte offset 0", "length word 40"});
}

TEST_F(CliTest, UsageAndFileErrorsGiveOneLine) {
    expect_one_line_failure(run("decode " + q("missing.bit") + " " + q("o.pcm")),
                            {"missing.bit", "No such file"});
    expect_one_line_failure(run("encode " + q("missing.wav") + " " + q("o.bit")),
                            {"missing.wav", "No such file"});
    g729io::write_raw_pcm(file("in.pcm").string(), test_signal(160));
    expect_one_line_failure(run("encode --dtx --format raw " + q("in.pcm") + " " + q("o.g729")),
                            {"--dtx"});
    expect_one_line_failure(run("encode --dtx " + q("in.pcm") + " " + q("o.g729")), {"--dtx"});
    expect_one_line_failure(run("encode --format xyz " + q("in.pcm") + " " + q("o.g729")),
                            {"xyz"});
    expect_one_line_failure(run("transcode a b"), {"transcode"});
    expect_one_line_failure(run(""), {"subcommand"});
    expect_one_line_failure(run("decode " + q("in.pcm")), {"OUTPUT"});
    expect_one_line_failure(run("decode " + q("") + " " + q("o.pcm")), {"is a directory"});
}

TEST_F(CliTest, HelpExitsZero) {
    const RunResult top = run("--help");
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("encode"), std::string::npos);
    EXPECT_NE(top.out.find("decode"), std::string::npos);
    const RunResult sub = run("encode --help");
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.out.find("--dtx"), std::string::npos);
    EXPECT_NE(sub.out.find("--format"), std::string::npos);
}

TEST_F(CliTest, PartialPcmFrameWarnsAndSucceeds) {
    std::vector<uint8_t> pcm = g729io::pcm_to_le_bytes(test_signal(3 * 80 + 10));
    pcm.push_back(0x55);  // a stray odd byte
    put(file("in.raw"), pcm);
    const RunResult r = run("encode " + q("in.raw") + " " + q("o.g729"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(line_count(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("10 samples and 1 byte"), std::string::npos) << r.err;
    EXPECT_EQ(bytes_of(file("o.g729")).size(), 30u);
}

TEST_F(CliTest, DtxSilenceGivesNonSpeechFramesThatDecode) {
    g729io::write_raw_pcm(file("silence.raw").string(), std::vector<int16_t>(100 * 80, 0));
    ASSERT_EQ(run("encode --dtx " + q("silence.raw") + " " + q("s.bit")).status, 0);
    const g729io::CodedStream s = g729io::parse_itu(bytes_of(file("s.bit")), "s.bit");
    ASSERT_TRUE(s.ok()) << s.error;
    ASSERT_EQ(s.frames.size(), 100u);
    const auto non_speech = std::count_if(s.frames.begin(), s.frames.end(), [](const auto& f) {
        return f.kind != FrameKind::speech;
    });
    EXPECT_GT(non_speech, 0);
    const RunResult dec = run("decode " + q("s.bit") + " " + q("s.pcm"));
    EXPECT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(bytes_of(file("s.pcm")).size(), 100u * 160u);
}

}  // namespace
