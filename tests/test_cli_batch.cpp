// SPDX-License-Identifier: BSD-2-Clause
// g729 encode|decode --output-dir DIR FILE...: many files coded at once on worker threads, each
// output byte for byte what the single-file command writes, failures confined to their file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "tests/audio_test_files.h"
#include "lib/io/coded_io.h"
#include "lib/io/pcm_io.h"

namespace fs = std::filesystem;
using namespace test_audio;

namespace {

std::string tool() { return std::string(G729_CHILD_LAUNCHER) + "'" + G729_TOOL_PATH + "'"; }

bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

std::size_t lines(const std::string& s) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
}

// Tone bursts between pauses of low noise, so that DTX makes SID and untransmitted frames.
std::vector<int16_t> bursts(std::size_t samples, unsigned seed) {
    std::vector<int16_t> s(samples);
    uint32_t r = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < samples; ++i) {
        r = r * 1664525u + 1013904223u;
        const double noise = static_cast<double>(static_cast<int32_t>(r >> 16) - 32768) / 256.0;
        const bool talk = (i / 4000 + seed) % 3 != 0;
        const double t = static_cast<double>(i) / 8000.0;
        const double tone = 5000.0 * std::sin(2 * std::numbers::pi * (300.0 + 37.0 * seed) * t);
        s[i] = static_cast<int16_t>(std::lround(noise + (talk ? tone : 0.0)));
    }
    return s;
}

class BatchTest : public TempDirTest {
protected:
    RunResult g729(const std::string& args) const {
        return run_captured(tool() + " " + args, dir_);
    }

    // The inputs' names, quoted for the shell.
    std::string quoted(const std::vector<std::string>& names) const {
        std::string s;
        for (const std::string& n : names) s.append(" ").append(q(n));
        return s;
    }

    // Each input coded on its own by the single-file command: its output must be the batch's,
    // and its messages together the batch's (in any order).
    void expect_single_runs_match(const std::string& command, const std::string& options,
                                  const std::vector<std::string>& inputs,
                                  const std::string& out_dir, const std::string& ext,
                                  const std::string& batch_err) const {
        std::vector<std::string> single_lines;
        for (const std::string& in : inputs) {
            SCOPED_TRACE(in);
            const std::string stem = fs::path(in).stem().string();
            const RunResult r =
                g729(command + " " + options + " " + q(in) + " " + q("single" + ext));
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<uint8_t> batch = bytes_of(file(out_dir) / (stem + ext));
            EXPECT_FALSE(batch.empty() && fs::file_size(file(in)) > 1000);
            EXPECT_TRUE(batch == bytes_of(file("single" + ext)));
            std::istringstream err(r.err);
            for (std::string line; std::getline(err, line);) single_lines.push_back(line);
        }
        std::vector<std::string> batch_lines;
        std::istringstream err(batch_err);
        for (std::string line; std::getline(err, line);) batch_lines.push_back(line);
        std::sort(single_lines.begin(), single_lines.end());
        std::sort(batch_lines.begin(), batch_lines.end());
        EXPECT_EQ(batch_lines, single_lines);
    }

    std::vector<std::string> dir_names(const std::string& d) const {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(file(d)))
            n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }
};

// More files than two workers hold at once (2 x 32), of every length from empty to the ITU
// vectors, coded in each encoder setting and decoded again (with SID, untransmitted and lost
// frames): every output is the single-file command's.
TEST_F(BatchTest, OutputsAreTheSingleFileCommandsByteForByte) {
    std::vector<std::string> audio;
    for (unsigned i = 0; i < 66; ++i) {
        const std::string name = "gen" + std::to_string(i) + (i % 3 == 0 ? ".wav" : ".raw");
        const std::size_t samples = i == 0 ? 0 : (i * 1237u) % 24000u + (i % 5 == 0 ? 37 : 0);
        if (i % 3 == 0) {
            std::vector<double> v;
            for (const int16_t x : bursts(samples, i)) v.push_back(x / 32768.0);
            // Some at 16 kHz stereo, so that they are converted on the way in.
            put(file(name), i % 2 == 0 ? wav_file(wav_spec(1, 8000, Sample::s16), v)
                                       : wav_file(wav_spec(2, 16000, Sample::s16), [&] {
                                             std::vector<double> st;
                                             for (double x : v) st.insert(st.end(), {x, x});
                                             return st;
                                         }()));
        } else {
            g729io::write_raw_pcm(file(name).string(), bursts(samples, i));
        }
        audio.push_back(name);
    }
    fs::copy_file(fs::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav", file("sample.wav"));
    audio.push_back("sample.wav");
    const fs::path itu = fs::path(G729_SHARED_DIR) / "itu-vectors";
    const bool have_itu = fs::exists(itu);
    if (have_itu) {
        for (const char* v : {"annex-a/speech.in", "annex-ab/tstseq1.in", "annex-ab/tstseq2.in"}) {
            const std::string name = "itu-" + fs::path(v).filename().string();
            fs::copy_file(itu / v, file(name));
            audio.push_back(name);
        }
    }

    struct Case {
        std::string options;
        std::string ext;
        std::string out_dir;
    };
    for (const Case& c : {Case{"", ".bit", "itu"}, Case{"--dtx", ".bit", "dtx"},
                          Case{"--format raw", ".g729", "raw"}}) {
        SCOPED_TRACE(c.options);
        const RunResult r = g729("encode " + c.options + " --threads 2 --output-dir " +
                                 q(c.out_dir) + quoted(audio));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir_names(c.out_dir).size(), audio.size());  // no temporary file left
        expect_single_runs_match("encode", c.options + (c.ext == ".bit" ? " --format itu" : ""),
                                 audio, c.out_dir, c.ext, r.err);
        EXPECT_TRUE(contains(r.err, "gen3.wav: input: 16000 Hz stereo")) << r.err;
        EXPECT_TRUE(contains(r.err, "gen0.wav: the input is empty")) << r.err;
        EXPECT_TRUE(contains(r.err, "gen5.raw: ignoring a partial final frame (62 samples)"))
            << r.err;
    }
    // With few file descriptors allowed, fewer files are open at once; the outputs are the same.
    const RunResult few = run_captured("ulimit -n 40 && " + tool() + " encode --threads 2 " +
                                           "--output-dir " + q("few") + quoted(audio),
                                       dir_);
    EXPECT_EQ(few.status, 0) << few.err;
    for (const std::string& n : dir_names("itu")) {
        EXPECT_TRUE(bytes_of(file("few") / n) == bytes_of(file("itu") / n)) << n;
    }

    // Decoding: the DTX outputs, a recording with lost frames, the ITU vectors with erasures.
    std::vector<std::string> coded;
    for (const std::string& a : audio)
        coded.push_back("dtx/" + fs::path(a).stem().string() + ".bit");
    fs::copy_file(fs::path(G729_SOURCE_DIR) / "data" / "noise_pause_lossy.bit", file("lossy.bit"));
    coded.push_back("lossy.bit");
    if (have_itu) {
        for (const char* v :
             {"annex-a/erasure.bit", "annex-a/parity.bit", "annex-ab/tstseq6.bit"}) {
            const std::string name = "v-" + fs::path(v).filename().string();
            fs::copy_file(itu / v, file(name));
            coded.push_back(name);
        }
    }
    const RunResult r = g729("decode --threads 2 --output-dir " + q("dec") + quoted(coded));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "dtx/gen0.bit: the input is empty; no audio written")) << r.err;
    expect_single_runs_match("decode", "", coded, "dec", ".wav", r.err);
}

// A bad file among good ones: one line naming it, the others coded, exit status 1, nothing of
// the bad file left in DIR (an existing output of that name kept as it was).
TEST_F(BatchTest, AFailedFileIsNamedAndTheOthersAreCoded) {
    for (int i = 0; i < 4; ++i)
        g729io::write_raw_pcm(file("ok" + std::to_string(i) + ".raw").string(),
                              bursts(4000 + 800 * i, i));
    put(file("notaudio.wav"), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'x'});
    fs::create_directory(file("folder.raw"));
    ASSERT_EQ(
        g729("encode --output-dir " + q("c") + quoted({"ok0.raw", "ok1.raw", "ok2.raw", "ok3.raw"}))
            .status,
        0);
    std::vector<uint8_t> bits = bytes_of(file("c/ok1.bit"));
    bits[5 * 164] = 0x99;  // the sync word of frame 6
    put(file("damaged.bit"), bits);
    bits.resize(3);
    put(file("cut.bit"), bits);
    put(file("call.pcap"), {0xd4, 0xc3, 0xb2, 0xa1});
    fs::create_directory(file("d"));
    put(file("d/cut.wav"), {'o', 'l', 'd'});
    fs::create_directory(file("d/ok3.wav"));  // an output that cannot be written

    struct Case {
        std::string command;
        std::vector<std::string> inputs;
        std::string out_dir;
        std::vector<std::vector<std::string>> messages;  // one line each: what it must name
        std::vector<std::string> outputs;                // what DIR holds afterwards
    };
    const std::vector<Case> cases = {
        {"encode",
         {"ok0.raw", "notaudio.wav", "missing.raw", "folder.raw", "ok2.raw"},
         "e",
         {{"notaudio.wav", "not an audio file"},
          {"missing.raw", "No such file"},
          {"folder.raw", "directory"}},
         {"ok0.bit", "ok2.bit"}},
        {"decode",
         {"c/ok0.bit", "damaged.bit", "cut.bit", "ok1.raw", "call.pcap", "c/ok2.bit", "c/ok3.bit"},
         "d",
         {{"damaged.bit", "frame 6", "kept the 5 frames"},
          {"cut.bit", "truncated frame", "no output written"},
          {"call.pcap", "decoded on its own"},
          {"d/ok3.wav", "directory"}},
         {"cut.wav", "damaged.wav", "ok0.wav", "ok1.wav", "ok2.wav", "ok3.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const RunResult r =
            g729(c.command + " --threads 2 --output-dir " + q(c.out_dir) + quoted(c.inputs));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(lines(r.err), c.messages.size()) << r.err;
        for (const auto& m : c.messages) {
            const auto line_has_all = [&](const std::string& line) {
                return std::all_of(m.begin(), m.end(),
                                   [&](const std::string& w) { return contains(line, w); });
            };
            std::istringstream err(r.err);
            bool found = false;
            for (std::string line; std::getline(err, line);) found = found || line_has_all(line);
            EXPECT_TRUE(found) << m[0] << " in " << r.err;
        }
        EXPECT_EQ(dir_names(c.out_dir), c.outputs);
    }
    // damaged.bit kept its first 5 frames; cut.wav is the old file.
    EXPECT_EQ(g729io::read_wav(file("d/damaged.wav").string()).size(), 5u * 80u);
    EXPECT_EQ(bytes_of(file("d/cut.wav")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    expect_single_runs_match("decode", "", {"c/ok0.bit", "c/ok2.bit"}, "d", ".wav", "");
}

// Outputs that would be the same file are refused: two inputs of one base name (the first is
// coded), and an output that is an input under any name (both refused, the input untouched).
TEST_F(BatchTest, OutputsThatWouldClashOrDestroyAnInputAreRefused) {
    fs::create_directories(file("a"));
    fs::create_directories(file("b"));
    fs::create_directories(file("o"));
    for (const char* n : {"a/x.raw", "b/x.raw", "c.raw", "y.raw"})
        g729io::write_raw_pcm(file(n).string(), bursts(1600, n[0]));
    put(file("o/c.bit"), {'k', 'e', 'e', 'p'});
    fs::create_symlink(file("y.raw"), file("o/y.bit"));
    put(file("plain"), {'f'});
    struct Case {
        std::string args;
        int status;
        std::vector<std::string> messages;  // a line each, in this order
    };
    const std::vector<Case> cases = {
        {"encode --output-dir " + q("o") + quoted({"a/x.raw", "b/x.raw"}),
         1,
         {"b/x.raw: not coded: its output " + file("o/x.bit").string() + " is already that of " +
          file("a/x.raw").string()}},
        {"encode --output-dir " + q("o") + quoted({"c.raw", "o/c.bit"}),
         1,
         {"c.raw: not coded: its output " + file("o/c.bit").string() +
              " is the same file as the input",
          "o/c.bit: not coded"}},
        {"encode --output-dir " + q("o") + quoted({"y.raw"}), 1, {"y.raw: not coded"}},
        // The same file twice, under one name or two, is coded once.
        {"encode --output-dir " + q("d") + quoted({"c.raw", "c.raw"}),
         0,
         {file("c.raw").string() + ": given more than once; coded once, to " +
          file("d/c.bit").string()}},
        {"decode --output-dir " + q("d") + quoted({"d/c.bit", "a/../d/c.bit", "d/c.bit"}),
         0,
         {"a/../d/c.bit: given more than once (also as " + file("d/c.bit").string() + ")",
          "d/c.bit: given more than once; coded once"}},
        {"encode --output-dir " + q("plain") + quoted({"c.raw"}), 1, {"is not a folder"}},
        {"encode --output-dir " + q("new/deeper") + quoted({"c.raw"}), 0, {}},
        {"encode --format pcap --output-dir " + q("u") + " " + q("c.raw"),
         2,
         {"--format pcap INPUT OUTPUT"}},
        {"decode --ssrc 1 --output-dir " + q("u") + " " + q("c.raw"), 2, {"--ssrc"}},
        {"encode --dtx --format raw --output-dir " + q("u") + " " + q("c.raw"), 2, {"--dtx"}},
        {"decode --output-dir " + q("u") + " -", 2, {"standard input"}},
        {"encode --output-dir " + q("u"), 2, {"no input files"}},
        {"encode --threads 0 --output-dir " + q("u") + " " + q("c.raw"), 2, {"--threads"}},
        {"encode --threads 2 " + q("c.raw") + " " + q("u.bit"),
         2,
         {"--threads needs --output-dir"}},
        {"decode " + quoted({"c.raw", "u.wav", "v.wav"}),
         2,
         {"expected INPUT OUTPUT, or --output-dir DIR FILE... (3 names given"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = g729(c.args);
        EXPECT_EQ(r.status, c.status);
        ASSERT_EQ(lines(r.err), c.messages.size()) << r.err;
        std::istringstream err(r.err);
        for (const std::string& m : c.messages) {
            std::string line;
            std::getline(err, line);
            EXPECT_TRUE(contains(line, m)) << line;
        }
    }
    EXPECT_FALSE(fs::exists(file("u")));
    EXPECT_EQ(bytes_of(file("o/c.bit")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_symlink(file("o/y.bit")));
    EXPECT_EQ(g729io::read_raw_pcm(file("y.raw").string()).samples, bursts(1600, 'y'));
    EXPECT_EQ(dir_names("o"), (std::vector<std::string>{"c.bit", "x.bit", "y.bit"}));
    EXPECT_EQ(dir_names("d"), (std::vector<std::string>{"c.bit", "c.wav"}));
    expect_single_runs_match("encode", "--format itu", {"a/x.raw"}, "o", ".bit", "");
    expect_single_runs_match("encode", "--format itu", {"c.raw"}, "new/deeper", ".bit", "");
}

// On a terminal, a progress line rewritten in place while the files are coded and a summary at
// the end; elsewhere nothing but the messages. The input is a pipe fed slowly, so that the run
// lasts long enough for the progress line to be drawn.
TEST_F(BatchTest, ProgressAndSummaryOnlyOnATerminal) {
    g729io::write_raw_pcm(file("a.raw").string(), bursts(8000, 1));
    ASSERT_EQ(::mkfifo(file("slow.raw").c_str(), 0600), 0);
    std::vector<std::string> words;
    std::istringstream launcher(G729_CHILD_LAUNCHER);
    for (std::string w; launcher >> w;) words.push_back(w);
    for (const std::string& w :
         {std::string(G729_TOOL_PATH), std::string("encode"), std::string("--threads"),
          std::string("2"), std::string("--output-dir"), file("o").string(), file("a.raw").string(),
          file("slow.raw").string()}) {
        words.push_back(w);
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    // The pipe opens for writing once the tool reads it (given up after 10 s).
    int feed = -1;
    for (int tries = 0; feed < 0 && tries < 1000; ++tries) {
        feed = ::open(file("slow.raw").c_str(), O_WRONLY | O_NONBLOCK);
        if (feed < 0) ::usleep(10 * 1000);
    }
    if (feed >= 0) {
        ::fcntl(feed, F_SETFL, 0);
        const std::vector<uint8_t> half = g729io::pcm_to_le_bytes(bursts(8000, 2));
        EXPECT_EQ(::write(feed, half.data(), half.size()), static_cast<ssize_t>(half.size()));
        ::usleep(700 * 1000);
        EXPECT_EQ(::write(feed, half.data(), half.size()), static_cast<ssize_t>(half.size()));
        ::close(feed);
    }
    std::string shown;
    char buf[512];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
        shown.append(buf, static_cast<std::size_t>(n));
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << shown;
    EXPECT_TRUE(contains(shown, "\r\033[Kg729: 1/2 files, 0.00 h of audio, ")) << shown;
    const std::string summary =
        "\r\033[Kg729: encoded 2 of 2 files (0 failed), 0.00 h of audio in ";
    EXPECT_TRUE(contains(shown, summary)) << shown;
    EXPECT_TRUE(shown.ends_with("x real time\r\n")) << shown;
    EXPECT_GE(feed, 0);
    EXPECT_EQ(bytes_of(file("o/slow.bit")).size(), 200u * 164u);

    const RunResult r = g729("encode --output-dir " + q("p") + " " + q("a.raw"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(bytes_of(file("p/a.bit")), bytes_of(file("o/a.bit")));
}

}  // namespace
