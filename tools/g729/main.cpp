// g729: encodes 8 kHz 16-bit audio to coded frames and decodes them back.
//
//   g729 encode [--format itu|raw] [--dtx] INPUT OUTPUT
//   g729 decode [--format itu|raw] INPUT OUTPUT
//
// Audio files named *.wav are WAV (16-bit PCM, mono, 8000 Hz); other names are raw 16-bit
// little-endian PCM. The coded format defaults to itu for names ending in .bit, raw otherwise.
// Exit status: 0 on full success, 1 on an input/output or data error, 2 on a usage error.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tools/eval/codec_runner.h"
#include "tools/io/coded_io.h"
#include "tools/io/file_io.h"
#include "tools/io/pcm_io.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;
constexpr std::size_t frame_samples = 80;

struct Options {
    std::string format;  // "", "itu" or "raw"
    bool dtx = false;
    std::string input;
    std::string output;
};

void report(const std::string& line) { std::fprintf(stderr, "g729: %s\n", line.c_str()); }

bool use_itu(const Options& o, const std::string& coded_path) {
    if (!o.format.empty()) {
        return o.format == "itu";
    }
    return g729io::has_extension(coded_path, ".bit");
}

int run_encode(const Options& o) {
    const bool itu = use_itu(o, o.output);
    if (o.dtx && !itu) {
        report("--dtx needs the itu format: raw frames cannot carry SID or untransmitted frames");
        return exit_usage;
    }
    const g729io::Pcm pcm = g729io::read_audio(o.input);
    const std::size_t rest = pcm.samples.size() % frame_samples;
    if (rest != 0 || pcm.stray_bytes != 0) {
        std::string what = std::to_string(rest) + " samples";
        if (pcm.stray_bytes != 0) {
            what += " and " + std::to_string(pcm.stray_bytes) + " byte";
        }
        report("warning: " + o.input + ": ignoring a partial final frame (" + what + ")");
    }
    const std::vector<g729io::CodedFrame> frames = g729eval::encode_samples(pcm.samples, o.dtx);
    g729io::write_file(o.output, itu ? g729io::format_itu(frames) : g729io::format_raw(frames));
    return exit_ok;
}

int run_decode(const Options& o) {
    const bool itu = use_itu(o, o.input);
    const std::vector<uint8_t> data = g729io::read_file(o.input);
    const g729io::CodedStream stream =
        itu ? g729io::parse_itu(data, o.input) : g729io::parse_raw(data, o.input);
    const g729eval::Decoded decoded = g729eval::decode_frames(stream.frames);
    // What was decoded before a problem is still written out.
    g729io::write_audio(o.output, decoded.samples);
    if (!decoded.ok()) {
        report(o.input + ": " + decoded.error);
        return exit_failure;
    }
    if (!stream.ok()) {
        report(stream.error + "; wrote the " + std::to_string(stream.frames.size()) +
               " complete frames before it");
        return exit_failure;
    }
    return exit_ok;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"G.729 Annex A speech codec: encode 8 kHz 16-bit audio, decode coded frames.\n"
                 "Audio files named *.wav are WAV (16-bit PCM, mono, 8000 Hz), other names raw\n"
                 "16-bit little-endian PCM. The coded format defaults to itu for *.bit, else raw.",
                 "g729"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("g729 ") + g729_version_string());

    Options enc;
    CLI::App* encode = app.add_subcommand("encode", "Encode audio into coded frames");
    encode->add_option("--format", enc.format, "Coded format: itu (serial bit words) or raw "
                                               "(concatenated 10-byte frames)")
        ->check(CLI::IsMember({"itu", "raw"}));
    encode->add_flag("--dtx", enc.dtx, "Discontinuous transmission: SID and untransmitted frames "
                                       "in pauses (itu format only)");
    encode->add_option("INPUT", enc.input, "Audio input (.wav or raw PCM)")->required();
    encode->add_option("OUTPUT", enc.output, "Coded output")->required();

    Options dec;
    CLI::App* decode = app.add_subcommand("decode", "Decode coded frames into audio");
    decode->add_option("--format", dec.format, "Coded format: itu or raw")
        ->check(CLI::IsMember({"itu", "raw"}));
    decode->add_option("INPUT", dec.input, "Coded input")->required();
    decode->add_option("OUTPUT", dec.output, "Audio output (.wav or raw PCM)")->required();

    // Name an unknown command, which the parser would only report as a missing one.
    if (argc >= 2 && argv[1][0] != '-' && std::string(argv[1]) != "encode" &&
        std::string(argv[1]) != "decode") {
        report(std::string("unknown command '") + argv[1] +
               "': expected encode or decode (see g729 --help)");
        return exit_usage;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help
        }
        report(std::string(e.what()) + " (see g729 --help)");
        return exit_usage;
    }

    try {
        return encode->parsed() ? run_encode(enc) : run_decode(dec);
    } catch (const std::exception& e) {
        report(e.what());
        return exit_failure;
    }
}
