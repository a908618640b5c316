// g729: encodes audio to coded frames and decodes them back, streaming any length.
//
//   g729 encode [--format itu|raw] [--dtx] INPUT OUTPUT
//   g729 decode [--format itu|raw] INPUT OUTPUT
//
// Encoding takes any audio file libsndfile reads (converted to 8000 Hz mono 16-bit, with a
// note on stderr) or raw 16-bit little-endian 8 kHz mono PCM (any other name). Decoded audio
// is WAV for names ending in .wav, raw PCM otherwise. The coded format defaults to itu for
// names ending in .bit, raw otherwise. "-" is standard input or output.
// Exit status: 0 on success, 1 on an input/output or data error, 2 on a usage error.

#include <CLI/CLI.hpp>

#include <exception>
#include <string>

#include "codec/g729.h"
#include "tools/g729/command.h"

using namespace g729tool;

int main(int argc, char** argv) {
    CLI::App app{"G.729 Annex A speech codec: encode audio, decode coded frames.\n"
                 "Encoding reads any audio file libsndfile knows (WAV, AIFF, FLAC, Ogg...; mixed to\n"
                 "mono and converted to 8000 Hz 16-bit) or raw 16-bit little-endian 8 kHz mono PCM\n"
                 "(any other name). Decoding writes WAV for *.wav, raw PCM otherwise. The coded\n"
                 "format defaults to itu for *.bit, else raw. '-' is standard input/output.",
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
    encode->add_option("INPUT", enc.input, "Audio input (an audio file, raw PCM, or - for stdin)")
        ->required();
    encode->add_option("OUTPUT", enc.output, "Coded output (- for stdout)")->required();

    Options dec;
    CLI::App* decode = app.add_subcommand("decode", "Decode coded frames into audio");
    decode->add_option("--format", dec.format, "Coded format: itu or raw")
        ->check(CLI::IsMember({"itu", "raw"}));
    decode->add_option("INPUT", dec.input, "Coded input (- for stdin)")->required();
    decode->add_option("OUTPUT", dec.output, "Audio output (.wav, raw PCM, or - for stdout)")
        ->required();

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
