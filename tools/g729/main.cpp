// SPDX-License-Identifier: BSD-2-Clause
// g729: encodes audio to coded frames and decodes them back, streaming any length.
//
//   g729 encode [--format itu|raw] [--dtx] INPUT OUTPUT
//   g729 decode [--format itu|raw] INPUT OUTPUT
//   g729 encode --format pcap INPUT OUTPUT.pcap [--ptime MS] [--dtx] [--ssrc HEX] [--src/--dst ADDR:PORT]
//   g729 decode --format pcap CAPTURE OUTPUT [--ssrc HEX] [--pt N] [--stereo]
//               [--json FILE|-] [--network-delay-ms MS]
//   g729 report CAPTURE OUTPUT.html [--pt N]
//   g729 streams CAPTURE [--json] [--network-delay-ms MS]
//   g729 simulate INPUT OUTPUT [--loss P] [--burst B] [--dtx] [--seed N] [--ptime MS]
//   g729 encode [--format itu|raw] [--dtx] [--threads N] --output-dir DIR FILE...
//   g729 decode [--format itu|raw] [--threads N] --output-dir DIR FILE...
//
// Encoding takes any audio file libsndfile reads (converted to 8000 Hz mono 16-bit, with a
// note on stderr) or raw 16-bit little-endian 8 kHz mono PCM (any other name). Decoded audio
// is WAV for names ending in .wav, raw PCM otherwise. The coded format defaults to itu for
// names ending in .bit, raw otherwise. "-" is standard input or output. With --output-dir,
// every FILE is coded into DIR (see batch_command.h), on worker threads.
// Exit status: 0 on success, 1 on an input/output or data error, 2 on a usage error.

#include <CLI/CLI.hpp>

#include <exception>
#include <string>

#include <g729/g729.h>
#include "tools/g729/batch_command.h"
#include "tools/g729/command.h"
#include "tools/g729/pcap_commands.h"
#include "tools/g729/report_command.h"
#include "tools/g729/simulate_command.h"
#include "tools/g729/streams_command.h"
#include "lib/io/safe_output.h"

using namespace g729tool;

namespace {

std::string batch_form_help(const std::string& command, const std::string& options) {
    return "One file, or many at once:\n  g729 " + command + " [OPTIONS] INPUT OUTPUT\n\n  g729 " +
           command + " " + options + " [--threads N] --output-dir DIR FILE...\n\n"
           "With --output-dir each FILE is coded as on its own, in batches of channels on every\n"
           "processor; a file that fails is named on stderr and the others go on (exit status\n"
           "1). A file given twice is coded once; inputs whose outputs would be the same file,\n"
           "or an input, are refused. On a terminal a progress line shows files done, hours of\n"
           "audio and speed.";
}

// The batch form takes no pcap options, no standard input and at least one file.
int check_batch_form(const CLI::App& command, const Options& o, const std::string& dir,
                     const std::vector<std::string>& files) {
    if (o.format == "pcap") {
        report("--output-dir codes itu and raw files; code a packet capture on its own "
               "(g729 " + command.get_name() + " --format pcap INPUT OUTPUT)");
        return exit_usage;
    }
    for (const char* flag : {"--ssrc", "--pt", "--ptime", "--src", "--dst", "--stereo", "--json",
                             "--network-delay-ms"}) {
        const CLI::Option* given = command.get_option_no_throw(flag);
        if (given != nullptr && given->count() > 0) {
            report(std::string(flag) + " needs --format pcap, which --output-dir does not take");
            return exit_usage;
        }
    }
    if (dir.empty()) {
        report("--output-dir: empty folder name");
        return exit_usage;
    }
    if (files.empty()) {
        report("--output-dir: no input files given (see g729 " + command.get_name() + " --help)");
        return exit_usage;
    }
    for (const std::string& f : files) {
        if (f == "-") {
            report("--output-dir: standard input (-) cannot be one of the inputs; name files");
            return exit_usage;
        }
    }
    return exit_ok;
}

int run_tool(int argc, char** argv) {
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
    encode->add_option("--format", enc.format, "Coded format: itu (serial bit words), raw "
                                               "(concatenated 10-byte frames) or pcap (RTP packet "
                                               "capture; the default for *.pcap)")
        ->check(CLI::IsMember({"itu", "raw", "pcap"}));
    encode->add_flag("--dtx", enc.dtx, "Discontinuous transmission: SID and untransmitted frames "
                                       "in pauses (itu and pcap formats)");
    PcapEncodeOptions pcap_enc;
    encode->add_option("--ptime", pcap_enc.ptime_ms, "pcap: ms of audio per packet, 10 to 200 in "
                                                    "steps of 10 (default 20)");
    encode->add_option("--ssrc", pcap_enc.ssrc, "pcap: the stream's SSRC in hex (default random)");
    encode->add_option("--src", pcap_enc.src, "pcap: source IPv4 ADDR:PORT (default 127.0.0.1:40000)");
    encode->add_option("--dst", pcap_enc.dst, "pcap: destination IPv4 ADDR:PORT "
                                             "(default 127.0.0.1:40002)");
    std::vector<std::string> enc_files;
    encode->add_option("FILE", enc_files, "INPUT OUTPUT: the audio input (an audio file, raw "
                                          "PCM, or - for stdin) and the coded output (- for "
                                          "stdout); with --output-dir: the audio inputs");
    BatchOptions enc_batch;
    encode->add_option("--output-dir", enc_batch.output_dir,
                       "Code every FILE to DIR/NAME.bit (itu, the default here) or "
                       "DIR/NAME.g729 (raw), NAME being its name without the extension; DIR is "
                       "made when missing")
        ->type_name("DIR");
    encode->add_option("--threads", enc_batch.threads, "With --output-dir: worker threads "
                                                      "(default: one per processor)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    encode->add_flag("--quiet", enc_batch.quiet, "With --output-dir: no progress line and no "
                                                "summary on a terminal (messages still come)");
    encode->footer(batch_form_help("encode", "[--format itu|raw] [--dtx]"));

    Options dec;
    CLI::App* decode = app.add_subcommand("decode", "Decode coded frames into audio");
    decode->add_option("--format", dec.format, "Coded format: itu, raw or pcap (RTP in a pcap or "
                                               "pcapng capture; the default for *.pcap, *.pcapng)")
        ->check(CLI::IsMember({"itu", "raw", "pcap"}));
    PcapDecodeOptions pcap_dec;
    decode->add_option("--ssrc", pcap_dec.ssrc, "pcap: decode only the stream with this SSRC (hex); "
                                               "default: every G.729 stream, several each to "
                                               "OUTPUT-SSRC");
    decode->add_option("--pt", pcap_dec.payload_type, "pcap: RTP payload type of the G.729 stream "
                                                     "(default 18)");
    std::vector<std::string> dec_files;
    decode->add_option("FILE", dec_files, "INPUT OUTPUT: the coded input (- for stdin) and the "
                                          "audio output (.wav, raw PCM, or - for stdout); with "
                                          "--output-dir: the coded inputs");
    BatchOptions dec_batch;
    decode->add_option("--output-dir", dec_batch.output_dir,
                       "Decode every FILE to DIR/NAME.wav, NAME being its name without the "
                       "extension (the coded format from --format or each name); DIR is made "
                       "when missing")
        ->type_name("DIR");
    decode->add_option("--threads", dec_batch.threads, "With --output-dir: worker threads "
                                                      "(default: one per processor)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    decode->add_flag("--quiet", dec_batch.quiet, "With --output-dir: no progress line and no "
                                                "summary on a terminal (messages still come)");
    decode->add_flag("--stereo", pcap_dec.stereo, "pcap: both directions of each call in one stereo "
                                                 "output, left the one that starts first, each at "
                                                 "its capture time; a stream without partner goes "
                                                 "left, the right silent");
    decode->add_option("--json", pcap_dec.json_path, "pcap: also write each stream's network figures, "
                                                    "quality estimate and frames by kind as JSON to "
                                                    "FILE (- for stdout)")
        ->type_name("FILE");
    decode->add_option("--network-delay-ms", pcap_dec.network_delay_ms,
                       "pcap: one-way network delay in ms for the quality estimate (default 0)")
        ->type_name("MS")
        ->check(CLI::Range(0.0, 100000.0));
    decode->footer(batch_form_help("decode", "[--format itu|raw]"));

    ReportOptions report_options;
    CLI::App* report_app = app.add_subcommand(
        "report", "Write an HTML page on the G.729 calls of a packet capture: figures, quality "
                  "estimate, timelines and audio of each direction");
    report_app->add_option("CAPTURE", report_options.input, "The packet capture (pcap or pcapng)")->required();
    report_app->add_option("OUTPUT", report_options.output, "The page to write (.html; - for stdout)")->required();
    report_app->add_option("--pt", report_options.payload_type, "RTP payload type of the G.729 streams "
                                                               "(default 18)");

    StreamsOptions streams_options;
    CLI::App* streams_app = app.add_subcommand(
        "streams", "List every RTP stream of a packet capture, any payload type, with its loss, "
                   "jitter and other network figures, and the quality estimate of G.729 streams");
    streams_app->add_option("CAPTURE", streams_options.input, "The packet capture (pcap or pcapng; "
                                                              "- for stdin)")->required();
    streams_app->add_flag("--json", streams_options.json, "A JSON array of the streams on stdout "
                                                          "instead of a table");
    streams_app->add_option("--network-delay-ms", streams_options.network_delay_ms,
                            "One-way network delay in ms for the quality estimate (default 0)")
        ->type_name("MS")
        ->check(CLI::Range(0.0, 100000.0));

    SimulateOptions simulate_options;
    CLI::App* simulate_app = add_simulate_command(app, simulate_options);

    // Name an unknown command, which the parser would only report as a missing one.
    if (argc >= 2 && argv[1][0] != '-' && std::string(argv[1]) != "encode" &&
        std::string(argv[1]) != "decode" && std::string(argv[1]) != "report" &&
        std::string(argv[1]) != "streams" && std::string(argv[1]) != "simulate") {
        report(std::string("unknown command '") + argv[1] +
               "': expected encode, decode, report, streams or simulate (see g729 --help)");
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

    // The commands of one form: their failures escape as exceptions, one line and status 1.
    const auto guarded = [](auto&& run) {
        try {
            return run();
        } catch (const std::exception& e) {
            report(e.what());
            return exit_failure;
        }
    };
    if (report_app->parsed()) return guarded([&] { return run_report(report_options); });
    if (simulate_app->parsed()) return guarded([&] { return run_simulate(simulate_options); });
    if (streams_app->parsed()) return guarded([&] { return run_streams(streams_options); });
    const CLI::App* command = encode->parsed() ? encode : decode;
    Options& o = encode->parsed() ? enc : dec;
    std::vector<std::string>& files = encode->parsed() ? enc_files : dec_files;
    BatchOptions& batch = encode->parsed() ? enc_batch : dec_batch;
    const char* name = encode->parsed() ? "encode" : "decode";

    if (command->count("--output-dir") > 0) {
        if (const int status = check_batch_form(*command, o, batch.output_dir, files);
            status != exit_ok) return status;
        batch.format = o.format;
        batch.dtx = o.dtx;
        batch.inputs = files;
        try {
            return encode->parsed() ? run_batch_encode(batch) : run_batch_decode(batch);
        } catch (const std::exception& e) {
            report(e.what());
            return exit_failure;
        }
    }
    if (command->count("--threads") > 0) {
        report(std::string("--threads needs --output-dir (see g729 ") + name + " --help)");
        return exit_usage;
    }
    if (command->count("--quiet") > 0) {
        report(std::string("--quiet needs --output-dir (see g729 ") + name + " --help)");
        return exit_usage;
    }
    if (files.size() != 2) {
        report(std::string(name) + ": expected INPUT OUTPUT, or --output-dir DIR FILE... (" +
               std::to_string(files.size()) + (files.size() == 1 ? " name" : " names") +
               " given; see g729 " + name + " --help)");
        return exit_usage;
    }
    o.input = files[0];
    o.output = files[1];

    // The capture options belong to the pcap format.
    const bool pcap = uses_pcap_format(o.format, encode->parsed() ? o.output : o.input);
    for (const char* flag : {"--ssrc", "--pt", "--ptime", "--src", "--dst", "--stereo", "--json",
                             "--network-delay-ms"}) {
        const CLI::Option* given = command->get_option_no_throw(flag);
        if (!pcap && given != nullptr && given->count() > 0) {
            report(std::string(flag) + " needs --format pcap (see g729 --help)");
            return exit_usage;
        }
    }

    try {
        if (pcap && encode->parsed()) {
            pcap_enc.input = enc.input;
            pcap_enc.output = enc.output;
            pcap_enc.dtx = enc.dtx;
            return run_pcap_encode(pcap_enc);
        }
        if (pcap) {
            pcap_dec.input = dec.input;
            pcap_dec.output = dec.output;
            return run_pcap_decode(pcap_dec);
        }
        return encode->parsed() ? run_encode(enc) : run_decode(dec);
    } catch (const std::exception& e) {
        report(e.what());
        return exit_failure;
    }
}

}  // namespace

int main(int argc, char** argv) {
    g729io::protect_standard_streams();
    const int status = run_tool(argc, argv);
    // Help and version text must have reached standard output too (a failed output has been
    // reported already).
    if (status == exit_ok) {
        if (const std::string error = g729io::standard_output_error(); !error.empty()) {
            report(error);
            return exit_failure;
        }
    }
    return status;
}
