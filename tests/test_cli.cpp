// SPDX-License-Identifier: BSD-2-Clause
// The g729 command-line tool run as a program, and its file-format library.

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

namespace {

// ---- helpers ----

std::vector<uint8_t> bytes_of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const fs::path& p, const std::vector<uint8_t>& data) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void le16(std::vector<uint8_t>& v, unsigned x) {
    v.push_back(static_cast<uint8_t>(x & 0xff));
    v.push_back(static_cast<uint8_t>((x >> 8) & 0xff));
}

void le32(std::vector<uint8_t>& v, uint32_t x) {
    le16(v, x & 0xffff);
    le16(v, x >> 16);
}

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

std::vector<uint8_t> itu_header(unsigned sync, unsigned length) {
    std::vector<uint8_t> v;
    le16(v, sync);
    le16(v, length);
    return v;
}

std::vector<uint8_t> itu_speech_frame_of_zero_bits() {
    std::vector<uint8_t> v = itu_header(0x6B21, 80);
    for (int k = 0; k < 80; ++k) {
        le16(v, 0x007F);
    }
    return v;
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

    const fs::path p = fs::temp_directory_path() / ("g729_pcm_" + std::to_string(::getpid()) + ".WAV");
    g729io::write_audio(p.string(), s);  // the extension is matched without regard to case
    const std::vector<uint8_t> file = bytes_of(p);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(g729io::read_audio(p.string()).samples, s);
    fs::remove(p);
}

}  // namespace
