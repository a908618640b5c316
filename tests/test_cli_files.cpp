// SPDX-License-Identifier: BSD-2-Clause
// The g729 tool and its audio I/O module with the files people have: outputs that never
// destroy a file, audio in every format libsndfile reads, damaged and mislabelled files, and
// streaming through pipes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/audio_test_files.h"
#include "lib/eval/codec_runner.h"
#include "lib/io/audio_reader.h"
#include "lib/io/coded_io.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"
#include "lib/io/safe_output.h"

namespace fs = std::filesystem;
using namespace test_audio;

namespace {

// The shell command that starts the tool (through the emulator in a cross build).
std::string tool() { return std::string(G729_CHILD_LAUNCHER) + "'" + G729_TOOL_PATH + "'"; }

// The same as words for exec: the emulator's words, then the tool and its arguments.
std::vector<std::string> tool_argv(std::vector<std::string> args) {
    std::vector<std::string> argv;
    std::istringstream launcher(G729_CHILD_LAUNCHER);
    for (std::string w; launcher >> w;) argv.push_back(w);
    argv.push_back(G729_TOOL_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

class FilesTest : public TempDirTest {
protected:
    RunResult g729(const std::string& args) const {
        return run_captured(tool() + " " + args, dir_);
    }
    // Files in the folder other than the captured output: no temporary file may stay behind.
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(dir_)) n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }

};

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }


// ---- never destroy a file ----

TEST_F(FilesTest, RefusesAnOutputThatIsTheInputUnderAnyName) {
    g729io::write_raw_pcm(file("in.raw").string(), speechlike(800));
    ASSERT_EQ(g729("encode " + q("in.raw") + " " + q("in.bit")).status, 0);
    fs::create_directory(file("sub"));
    fs::create_symlink(file("in.raw"), file("link.raw"));
    fs::create_hard_link(file("in.raw"), file("hard.raw"));
    fs::create_symlink(file("in.bit"), file("link.bit"));
    fs::create_hard_link(file("in.bit"), file("hard.bit"));
    const std::vector<uint8_t> raw = bytes_of(file("in.raw"));
    const std::vector<uint8_t> bit = bytes_of(file("in.bit"));
    struct Case {
        std::string args;
    };
    const std::vector<Case> cases = {
        {"encode " + q("in.raw") + " " + q("in.raw")},
        {"encode " + q("in.raw") + " " + q("sub/../in.raw")},
        {"encode " + q("in.raw") + " " + q("link.raw")},
        {"encode " + q("link.raw") + " " + q("hard.raw")},
        {"encode --format itu " + q("in.raw") + " " + q("hard.raw")},
        {"decode " + q("in.bit") + " " + q("in.bit")},
        {"decode " + q("in.bit") + " " + q("link.bit")},
        {"decode --format itu " + q("hard.bit") + " " + q("sub/../in.bit")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = g729(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "is the same file as")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(bytes_of(file("in.raw")), raw);
        EXPECT_EQ(bytes_of(file("in.bit")), bit);
    }
    EXPECT_TRUE(fs::is_symlink(file("link.raw")));
    EXPECT_EQ(names(), (std::vector<std::string>{"hard.bit", "hard.raw", "in.bit", "in.raw",
                                                 "link.bit", "link.raw", "sub"}));
}

TEST_F(FilesTest, AnExistingOutputIsReplacedOnlyByACompleteResult) {
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    put(file("out.raw"), old);
    // An audio file libsndfile cannot read, and a coded file broken in its first frame.
    put(file("broken.wav"), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'x'});
    put(file("broken.bit"), {0x22, 0x6B, 0x50, 0x00, 0x7F, 0x00});
    const RunResult enc = g729("encode " + q("broken.wav") + " " + q("out.raw"));
    EXPECT_EQ(enc.status, 1) << enc.err;
    const RunResult dec = g729("decode " + q("broken.bit") + " " + q("out.raw"));
    EXPECT_EQ(dec.status, 1);
    EXPECT_TRUE(contains(dec.err, "no output written")) << dec.err;
    EXPECT_EQ(bytes_of(file("out.raw")), old);

    // A complete result replaces the file and keeps its permissions; no temporary file stays.
    fs::permissions(file("out.raw"), fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read);
    g729io::write_raw_pcm(file("in.raw").string(), speechlike(160));
    ASSERT_EQ(g729("encode " + q("in.raw") + " " + q("out.raw")).status, 0);
    EXPECT_EQ(bytes_of(file("out.raw")).size(), 20u);
    EXPECT_EQ(fs::status(file("out.raw")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(names(), (std::vector<std::string>{"broken.bit", "broken.wav", "in.raw", "out.raw"}));
}

TEST_F(FilesTest, APartialResultOfADamagedFileIsKeptAndTheMessageSaysSo) {
    g729io::write_raw_pcm(file("in.raw").string(), speechlike(5 * 80));
    ASSERT_EQ(g729("encode " + q("in.raw") + " " + q("in.bit")).status, 0);
    std::vector<uint8_t> bit = bytes_of(file("in.bit"));
    ASSERT_EQ(bit.size(), 5u * 164u);
    bit[3 * 164] = 0x99;  // the sync word of frame 4
    put(file("damaged.bit"), bit);
    put(file("out.wav"), {'o', 'l', 'd'});
    const RunResult r = g729("decode " + q("damaged.bit") + " " + q("out.wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(contains(r.err, "frame 4 at byte offset 492")) << r.err;
    EXPECT_TRUE(contains(r.err, "kept the 3 frames decoded before it in " + file("out.wav").string()))
        << r.err;
    EXPECT_EQ(g729io::read_wav(file("out.wav").string()).size(), 3u * 80u);
}

// ---- the audio people have ----

void write_with_libsndfile(const fs::path& p, int format, int rate, int channels,
                           const std::vector<double>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(p.string().c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_double(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    sf_close(f);
}

// SNR of the samples against the tone they should be, away from the ends.
double tone_snr_db(const std::vector<int16_t>& got, double hz, double amplitude) {
    double sig = 0;
    double err = 0;
    for (std::size_t i = 800; i + 800 < got.size(); ++i) {
        const double want = 32768.0 * amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 8000.0);
        sig += want * want;
        err += (got[i] - want) * (got[i] - want);
    }
    return 10 * std::log10(sig / std::max(err, 1e-9));
}

TEST_F(FilesTest, EveryAudioFormatIsConvertedTo8kMono16Bit) {
    struct Case {
        std::string name;
        std::string note;      // what the reader says it converted
        double min_snr_db;     // against the ideal 8 kHz tone
        double amplitude;      // of the mono result
        std::function<void(const fs::path&)> make;
    };
    const double a = 0.24;
    auto wav = [&](WavSpec spec, std::vector<double> v) {
        return [spec, v](const fs::path& p) { put(p, wav_file(spec, v)); };
    };
    auto lib = [&](int format, int rate, int channels) {
        return [=](const fs::path& p) {
            write_with_libsndfile(p, format, rate, channels, tone(440, a, rate, channels, 1.0));
        };
    };
    // Left channel only: the mix to mono halves it.
    std::vector<double> left_only = tone(440, a, 8000, 2, 1.0);
    for (std::size_t i = 1; i < left_only.size(); i += 2) left_only[i] = 0;
    const std::vector<Case> cases = {
        {"f32.wav", "8000 Hz mono float", 70, a, wav(wav_spec(1, 8000, Sample::f32), tone(440, a, 8000, 1, 1.0))},
        {"f32x.wav", "44100 Hz stereo float", 50, a,
         wav(wav_spec(2, 44100, Sample::f32, true), tone(440, a, 44100, 2, 1.0))},
        {"s24.wav", "16000 Hz mono 24-bit", 50, a, wav(wav_spec(1, 16000, Sample::s24), tone(440, a, 16000, 1, 1.0))},
        {"u8.wav", "8000 Hz mono 8-bit unsigned", 25, a, wav(wav_spec(1, 8000, Sample::u8), tone(440, a, 8000, 1, 1.0))},
        {"left.wav", "8000 Hz stereo 16-bit", 60, a / 2, wav(wav_spec(2, 8000, Sample::s16), left_only)},
        {"s16x.wav", "48000 Hz mono 16-bit", 50, a,
         wav(wav_spec(1, 48000, Sample::s16, true), tone(440, a, 48000, 1, 1.0))},
        {"tone.aiff", "22050 Hz mono 16-bit", 50, a, lib(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050, 1)},
        {"tone.flac", "48000 Hz stereo 16-bit", 50, a, lib(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2)},
        {"tone.ogg", "44100 Hz mono Vorbis", 15, a, lib(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.make(file(c.name));
        const auto reader = g729io::AudioReader::open(file(c.name).string());
        EXPECT_EQ(reader->conversion_note(), "input: " + c.note + ", converted to 8000 Hz mono 16-bit");
        const std::vector<int16_t> got = g729io::read_all(*reader);
        EXPECT_NEAR(static_cast<double>(got.size()), 8000.0, 2.0);
        EXPECT_GT(tone_snr_db(got, 440, c.amplitude), c.min_snr_db);
        EXPECT_TRUE(reader->warnings().empty());
    }
    // The tool says what it converted, and codes the tone at its level.
    const RunResult r = g729("encode " + q("f32x.wav") + " " + q("f32x.bit"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "g729: " + file("f32x.wav").string() +
                         ": input: 44100 Hz stereo float, converted to 8000 Hz mono 16-bit\n");
    ASSERT_EQ(g729("decode " + q("f32x.bit") + " " + q("f32x.raw")).status, 0);
    const std::vector<int16_t> decoded = g729io::read_raw_pcm(file("f32x.raw").string()).samples;
    const double level_db = 20 * std::log10(rms(decoded, 800) / (32768.0 * a / std::sqrt(2.0)));
    EXPECT_NEAR(level_db, 0.0, 1.5);
}

TEST_F(FilesTest, EightKilohertzMono16BitPassesThroughUnchanged) {
    const std::vector<int16_t> s = speechlike(4000);
    put(file("s.wav"), wav_file(wav_spec(1, 8000, Sample::s16), {}));
    g729io::write_wav(file("s.wav").string(), s);
    g729io::write_raw_pcm(file("s.raw").string(), s);
    for (const char* name : {"s.wav", "s.raw"}) {
        const auto reader = g729io::AudioReader::open(file(name).string());
        EXPECT_EQ(g729io::read_all(*reader), s) << name;
        EXPECT_EQ(reader->conversion_note(), "") << name;
    }
    // A WAV file under a name that does not say so is still read as one.
    fs::copy_file(file("s.wav"), file("wav-named.pcm"));
    EXPECT_EQ(g729io::read_audio(file("wav-named.pcm").string()).samples, s);
}

TEST_F(FilesTest, WavDataLengthThatDisagreesWithTheFileIsReadAsFarAsTheDataGoes) {
    const std::vector<double> second = tone(440, 0.24, 8000, 1, 1.0);
    const std::vector<uint8_t> list_chunk = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    struct Case {
        std::string name;
        WavSpec spec;
        std::size_t samples;
        std::string warning;  // "" for none
    };
    const std::vector<Case> cases = {
        {"zero.wav", wav_spec(1, 8000, Sample::s16, false, 0), 8000,
         "declares 0 bytes of audio data but the file holds 16000"},
        {"unset.wav", wav_spec(1, 8000, Sample::s16, false, 0xFFFFFFFF), 8000,
         "declares 4294967295 bytes of audio data but the file holds 16000"},
        {"beyond.wav", wav_spec(1, 8000, Sample::s16, false, 4000000000), 8000,
         "declares 4000000000 bytes of audio data but the file holds 16000"},
        {"short.wav", wav_spec(1, 8000, Sample::s16, false, 4000), 8000,
         "declares 4000 bytes of audio data but the file holds 16000"},
        {"listed.wav", wav_spec(1, 8000, Sample::s16, false, -1, list_chunk), 8000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(file(c.name), wav_file(c.spec, second));
        const auto reader = g729io::AudioReader::open(file(c.name).string());
        const std::vector<int16_t> got = g729io::read_all(*reader);
        EXPECT_EQ(got.size(), c.samples);
        if (c.warning.empty()) {
            EXPECT_TRUE(reader->warnings().empty());
        } else {
            ASSERT_EQ(reader->warnings().size(), 1u);
            EXPECT_TRUE(contains(reader->warnings()[0], c.warning)) << reader->warnings()[0];
        }
    }
    // Through the tool: a whole second of frames, and the warning naming both figures.
    const RunResult r = g729("encode " + q("zero.wav") + " " + q("zero.g729"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "warning")) << r.err;
    EXPECT_TRUE(contains(r.err, "declares 0 bytes of audio data but the file holds 16000")) << r.err;
    EXPECT_EQ(bytes_of(file("zero.g729")).size(), 1000u);
}

// ---- saying what is wrong ----

TEST_F(FilesTest, AudioGivenAsCodedInputIsRefusedWithAPointerToEncode) {
    struct Case {
        std::vector<uint8_t> head;
        std::string kind;
    };
    const std::vector<Case> cases = {
        {{'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A', 'V', 'E'}, "WAV (RIFF/WAVE)"},
        {{'f', 'L', 'a', 'C', 0, 0, 0, 0x22}, "FLAC"},
        {{'O', 'g', 'g', 'S', 0, 2}, "Ogg"},
        {{'F', 'O', 'R', 'M', 0, 0, 0, 0x40, 'A', 'I', 'F', 'F'}, "AIFF (FORM/AIFF)"},
    };
    for (const Case& c : cases) {
        for (const char* format : {"itu", "raw"}) {
            SCOPED_TRACE(c.kind + " as " + format);
            std::vector<uint8_t> data = c.head;
            data.resize(1600, 0);  // a size the raw format would take as 160 frames
            put(file("audio.g729"), data);
            const RunResult r = g729(std::string("decode --format ") + format + " " +
                                     q("audio.g729") + " " + q("out.raw"));
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(contains(r.err, "starts like a " + c.kind + " file")) << r.err;
            EXPECT_TRUE(contains(r.err, "g729 encode")) << r.err;
            EXPECT_FALSE(fs::exists(file("out.raw")));
        }
    }
}

TEST_F(FilesTest, OutputNamesThatSayTheWrongFormatAreRefused) {
    g729io::write_raw_pcm(file("in.raw").string(), speechlike(800));
    ASSERT_EQ(g729("encode " + q("in.raw") + " " + q("in.bit")).status, 0);
    for (const std::string& args :
         {"encode " + q("in.raw") + " " + q("coded.wav"), "encode " + q("in.raw") + " " + q("coded.FLAC"),
          "decode " + q("in.bit") + " " + q("audio.flac"), "decode " + q("in.bit") + " " + q("audio.ogg")}) {
        SCOPED_TRACE(args);
        const RunResult r = g729(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_TRUE(contains(g729("encode " + q("in.raw") + " " + q("coded.wav")).err, "name it .bit"));
    EXPECT_EQ(names(), (std::vector<std::string>{"in.bit", "in.raw"}));
}

TEST_F(FilesTest, EmptyInputIsAWarning) {
    put(file("empty.raw"), {});
    put(file("empty.bit"), {});
    const RunResult enc = g729("encode " + q("empty.raw") + " " + q("e.bit"));
    EXPECT_EQ(enc.status, 0);
    EXPECT_TRUE(contains(enc.err, "warning")) << enc.err;
    EXPECT_TRUE(contains(enc.err, "empty")) << enc.err;
    const RunResult dec = g729("decode " + q("empty.bit") + " " + q("e.raw"));
    EXPECT_EQ(dec.status, 0);
    EXPECT_TRUE(contains(dec.err, "warning")) << dec.err;
    EXPECT_TRUE(contains(dec.err, "empty")) << dec.err;
    put(file("empty.wav"), wav_file(wav_spec(1, 8000, Sample::s16), {}));
    EXPECT_TRUE(contains(g729("encode " + q("empty.wav") + " " + q("e.bit")).err, "empty"));
}

// ---- streaming ----

struct Child {
    pid_t pid = -1;
    int in = -1;   // its stdin
    int out = -1;  // its stdout
    int err = -1;  // its stderr
};

Child spawn(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    c.in = in[1];
    c.out = out[0];
    c.err = err[0];
    return c;
}

bool readable_within(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

std::string drain(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

// Exit status, or -1 when the child is still running after ms.
int exit_within(pid_t pid, int ms) {
    for (int waited = 0; waited <= ms; waited += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void write_all(int fd, const std::vector<uint8_t>& b) {
    std::size_t done = 0;
    while (done < b.size()) {
        const ssize_t n = write(fd, b.data() + done, b.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

TEST(Streaming, OutputComesBeforeTheInputEnds) {
    signal(SIGPIPE, SIG_IGN);
    const std::vector<int16_t> s = speechlike(4 * 8000);
    const std::vector<uint8_t> bytes = g729io::pcm_to_le_bytes(s);
    Child c = spawn(tool_argv({"encode", "--format", "raw", "-", "-"}));
    ASSERT_GT(c.pid, 0);
    // Two seconds of audio in, the pipe left open: coded frames must come out already.
    write_all(c.in, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 32000));
    ASSERT_TRUE(readable_within(c.out, 10000)) << "no output while the input is still open";
    char first[10];
    ASSERT_EQ(read(c.out, first, sizeof first), 10);
    write_all(c.in, std::vector<uint8_t>(bytes.begin() + 32000, bytes.end()));
    close(c.in);
    const std::string rest = drain(c.out);
    EXPECT_EQ(exit_within(c.pid, 10000), 0) << drain(c.err);
    const std::string coded = std::string(first, sizeof first) + rest;
    EXPECT_EQ(coded.size(), 4000u);
    const std::vector<uint8_t> want = g729io::format_raw(g729eval::encode_samples(s, false));
    EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.end()), want);
    close(c.out);
    close(c.err);
}

TEST(Streaming, AFaultInTheFirstFrameStopsAtOnce) {
    signal(SIGPIPE, SIG_IGN);
    Child c = spawn(tool_argv({"decode", "--format", "itu", "-", "/dev/null"}));
    ASSERT_GT(c.pid, 0);
    std::vector<uint8_t> frame = {0x22, 0x6B, 0x50, 0x00};
    frame.resize(164, 0x7F);
    write_all(c.in, frame);
    // The input stays open: the tool must not wait for the rest of it.
    const int status = exit_within(c.pid, 10000);
    if (status == -1) kill(c.pid, SIGKILL);
    EXPECT_EQ(status, 1);
    const std::string err = drain(c.err);
    EXPECT_TRUE(contains(err, "stdin: frame 1 at byte offset 0: unknown sync word 0x6B22")) << err;
    close(c.in);
    close(c.out);
    close(c.err);
}

TEST_F(FilesTest, StandardInputAndOutputCarryRawData) {
    const std::vector<int16_t> s = speechlike(20 * 80);
    g729io::write_raw_pcm(file("in.raw").string(), s);
    const std::string g729_cmd = tool();
    const RunResult r = run_captured(g729_cmd + " encode - - <" + q("in.raw") + " | " + g729_cmd +
                                         " decode - - | " + g729_cmd + " encode --format itu - " + q("again.bit"),
                                     dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int16_t> decoded = g729eval::decode_frames(g729eval::encode_samples(s, false)).samples;
    const g729io::CodedStream again = g729io::parse_itu(bytes_of(file("again.bit")), "again.bit");
    EXPECT_EQ(again.frames, g729eval::encode_samples(decoded, false));
    // Audio files cannot come through a pipe (libsndfile seeks): refused with the reason.
    g729io::write_wav(file("in.wav").string(), s);
    const RunResult w = run_captured(g729_cmd + " encode - " + q("x.bit") + " <" + q("in.wav"), dir_);
    EXPECT_EQ(w.status, 1);
    EXPECT_TRUE(contains(w.err, "give the file's name")) << w.err;
    // Nor can WAV go to a pipe; raw PCM can.
    const RunResult p = run_captured(g729_cmd + " decode " + q("again.bit") + " /dev/stdout | wc -c", dir_);
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(std::stoul(p.out), 20u * 160u);
}

}  // namespace
