// SPDX-License-Identifier: BSD-2-Clause
// pelhost: a stand-in Pellarion host that loads a translator module and drives it.
//
//   pelhost [--module PATH] cli "COMMAND"
//   pelhost [--module PATH] transcode INPUT OUTPUT [--packet-ms N]
//   pelhost [--module PATH] show translation
//
// transcode reads what the g729 tool encodes (any audio file libsndfile reads, converted to
// 8000 Hz mono 16-bit, or raw PCM; "-" for stdin) and writes WAV for *.wav, raw PCM otherwise
// ("-" for stdout), streaming. Log lines go to stderr; stdout carries only what the command
// prints (the transcode report goes to stderr when the audio goes to stdout).
// Exit status: 0 on success, 1 when the work failed, 2 on a usage error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "host/pel_host_control.h"
#include "host/transcode.h"
#include "lib/io/audio_reader.h"
#include "lib/io/audio_writer.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"

namespace {

constexpr int kSampleRate = 8000;
constexpr double kCostSeconds = 10.0;
constexpr int kExitUsage = 2;
constexpr std::size_t kReadBlock = 4000;  // half a second

std::string default_module_path() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "../lib/codec_orvane.so";
    std::string path(exe, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    return dir + "/../lib/codec_orvane.so";
}

pel_translator* require_translator(const char* name) {
    pel_translator* t = pelhost::find_translator(name);
    if (t == nullptr) throw std::runtime_error(std::string("no translator ") + name + " registered");
    return t;
}

int run_cli_command(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& w : words) line += (line.empty() ? "" : " ") + w;
    std::fflush(stdout);  // the command writes to the descriptor itself
    const int result = pelhost::run_cli(line, STDOUT_FILENO);
    if (result == -1) {
        std::fprintf(stderr, "No such command '%s'. Registered commands:\n", line.c_str());
        for (const std::string& c : pelhost::cli_commands()) std::fprintf(stderr, "  %s\n", c.c_str());
    }
    if (const int err = pelhost::cli_write_error(); err != 0) {
        throw std::runtime_error(g729io::standard_output_write_error(err));
    }
    return result == 0 ? 0 : 1;
}

int run_transcode(const std::string& input, const std::string& output, int packet_ms) {
    pel_translator* enc = require_translator("lintog729");
    pel_translator* dec = require_translator("g729tolin");
    const std::unique_ptr<g729io::AudioReader> reader = g729io::AudioReader::open(input);
    if (!reader->conversion_note().empty()) {
        std::fprintf(stderr, "pelhost: %s: %s\n", reader->name().c_str(),
                     reader->conversion_note().c_str());
    }
    std::size_t warned = 0;
    auto warn_new = [&] {
        for (; warned < reader->warnings().size(); ++warned) {
            std::fprintf(stderr, "pelhost: warning: %s\n", reader->warnings()[warned].c_str());
        }
    };
    warn_new();
    const std::unique_ptr<g729io::AudioWriter> writer = g729io::AudioWriter::create(output);
    const int packet = packet_ms * kSampleRate / 1000;
    pelhost::Transcoder t(enc, dec, packet,
                          [&writer](std::span<const int16_t> s) { writer->write(s); });
    std::vector<int16_t> block(kReadBlock);
    for (;;) {
        const std::size_t n = reader->read(block);
        t.feed(std::span<const int16_t>(block.data(), n));
        if (n < block.size()) break;
    }
    t.finish();
    warn_new();
    if (t.result().input_samples == 0) {
        std::fprintf(stderr, "pelhost: warning: %s: the input is empty; no audio written\n",
                     reader->name().c_str());
    }
    writer->commit();

    // The report goes where the audio does not.
    std::FILE* report = g729io::is_std_stream(output) ? stderr : stdout;
    const pelhost::TranscodeResult& r = t.result();
    const std::string in_name = g729io::display_name(input, false);
    const std::string out_name = g729io::display_name(output, true);
    const double seconds = static_cast<double>(r.input_samples) / kSampleRate;
    std::fprintf(report, "input:      %s, %zu samples (%.2f s)", in_name.c_str(), r.input_samples,
                 seconds);
    if (r.padding_samples != 0) {
        std::fprintf(report, ", padded with %zu samples of silence to whole 10 ms blocks",
                     r.padding_samples);
    }
    std::fprintf(report, "\npackets:    %d ms (%d samples)", packet_ms, packet);
    if (r.split_frames != 0) {
        std::fprintf(report, ", %ld of them sent in two parts to fit the %d-sample buffer of lintog729",
                     r.split_frames, enc->buffer_samples);
    }
    std::fprintf(report, "\n");
    std::fprintf(report,
                 "lintog729:  %ld slin frames in, %ld G.729 frames out, %ld bytes (%ld 10-byte frames)\n",
                 r.encode.frames_in, r.encode.frames_out, r.encode.bytes_out, r.encode.bytes_out / 10);
    std::fprintf(report, "g729tolin:  %ld G.729 frames in, %ld slin frames out, %ld samples\n",
                 r.decode.frames_in, r.decode.frames_out, r.decode.samples_out);
    std::fprintf(report, "cost:       lintog729 %.3f ms CPU per second of audio\n",
                 pelhost::cpu_ms_per_audio_second(r.encode.cpu_seconds, r.encode.samples_out));
    std::fprintf(report, "            g729tolin %.3f ms CPU per second of audio\n",
                 pelhost::cpu_ms_per_audio_second(r.decode.cpu_seconds, r.decode.samples_out));
    std::fprintf(report, "output:     %s, %s\n", writer->format_name(), out_name.c_str());
    return 0;
}

int run_show_translation() {
    std::printf("Translation cost in ms of CPU per second of audio, measured on each translator's\n"
                "own sample frame (30 ms of speech / five G.729 frames) repeated for %.0f s of audio:\n",
                kCostSeconds);
    for (const char* name : {"lintog729", "g729tolin"}) {
        pel_translator* t = require_translator(name);
        const pelhost::CostResult c = pelhost::measure_translation_cost(t, kCostSeconds);
        std::printf("  %-10s %s -> %s  %8.3f\n", t->name, t->src_codec.name, t->dst_codec.name,
                    pelhost::cpu_ms_per_audio_second(c.cpu_seconds, c.audio_samples));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    g729io::protect_standard_streams();
    CLI::App app{"pelhost: a stand-in Pellarion host for translator modules"};
    std::string module_path = default_module_path();
    app.add_option("--module", module_path, "module file to load (default: ../lib/codec_orvane.so "
                                            "beside this program)");
    app.require_subcommand(1);

    std::vector<std::string> cli_words;
    CLI::App* cli = app.add_subcommand("cli", "run a CLI command of the loaded module");
    cli->add_option("command", cli_words, "the command, e.g. \"g729 show version\"")->required();

    std::string input;
    std::string output;
    int packet_ms = 20;
    CLI::App* transcode = app.add_subcommand(
        "transcode", "send audio through lintog729 and g729tolin and report the cost");
    transcode->add_option("input", input, "audio file (any rate, channels and sample format "
                                          "libsndfile reads), raw 8 kHz 16-bit PCM, or - for stdin")
        ->required();
    transcode->add_option("output", output, "decoded audio: WAV for *.wav, raw PCM otherwise, "
                                            "- for stdout")
        ->required();
    transcode->add_option("--packet-ms", packet_ms, "host frame length in ms (default 20)")
        ->check(CLI::Range(1, 1000));

    CLI::App* show = app.add_subcommand("show", "show host information");
    show->require_subcommand(1);
    CLI::App* translation =
        show->add_subcommand("translation", "CPU cost of the module's translators");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help
            app.exit(e);
            const std::string error = g729io::standard_output_error();
            if (error.empty()) return 0;
            std::fprintf(stderr, "pelhost: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "pelhost: %s (see pelhost --help)\n", e.what());
        return kExitUsage;
    }
    // Before the module is loaded or anything is opened for writing: the output must name a
    // format that is written, and must not be the input.
    if (transcode->parsed()) {
        try {
            g729io::refuse_unwritten_audio_name(output);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pelhost: %s\n", e.what());
            return kExitUsage;
        }
        try {
            g729io::refuse_same_file(input, output);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pelhost: %s\n", e.what());
            return 1;
        }
    }

    std::string error;
    pelhost::LoadedModule* module = pelhost::load_module_file(module_path, &error);
    if (module == nullptr) {
        std::fprintf(stderr, "pelhost: %s\n", error.c_str());
        return 1;
    }
    int status = 1;
    try {
        if (cli->parsed()) {
            status = run_cli_command(cli_words);
        } else if (transcode->parsed()) {
            status = run_transcode(input, output, packet_ms);
        } else if (translation->parsed()) {
            status = run_show_translation();
        }
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "pelhost: %s\n", e.what());
        status = 1;
    }
    // What was printed (the report, the command output) must have reached standard output.
    if (const std::string lost = g729io::standard_output_error(); !lost.empty() && status == 0) {
        std::fprintf(stderr, "pelhost: %s\n", lost.c_str());
        status = 1;
    }
    if (pelhost::unload_module(module) != 0) status = 1;
    return status;
}
