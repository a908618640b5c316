#include "tools/g729/pcap_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "codec/g729.h"
#include "tools/g729/command.h"
#include "tools/io/audio_kind.h"
#include "tools/io/audio_reader.h"
#include "tools/io/audio_writer.h"
#include "tools/io/file_io.h"
#include "tools/io/safe_output.h"
#include "tools/rtp/capture_decoder.h"
#include "tools/rtp/capture_reader.h"
#include "tools/rtp/capture_writer.h"

namespace g729tool {

namespace {

// "1a2b3c4d" or "0x1A2B3C4D": up to 8 hex digits.
bool parse_ssrc(const std::string& text, uint32_t& out) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 8 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    out = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    return true;
}

// Writes each decoded frame to the stream's audio output as it comes.
class OutputSink : public g729rtp::FrameSink {
public:
    explicit OutputSink(const std::string& path) : out_(g729io::AudioWriter::create(path)) {}
    void frame(g729rtp::FrameKind, std::span<const int16_t> samples) override { out_->write(samples); }
    void commit() { out_->commit(); }

private:
    std::unique_ptr<g729io::AudioWriter> out_;
};

void report_warnings(const g729io::AudioReader& reader, std::size_t* shown) {
    const auto& w = reader.warnings();
    for (; *shown < w.size(); ++*shown) warn(w[*shown]);
}

}  // namespace

std::string stream_output_name(const std::string& output, uint32_t ssrc) {
    const std::filesystem::path p(output);
    const std::string stem = p.stem().string();
    const std::string name = (stem.empty() ? p.filename().string() : stem) + "-" +
                             g729rtp::ssrc_hex(ssrc) + p.extension().string();
    return (p.parent_path() / name).string();
}

bool uses_pcap_format(const std::string& format, const std::string& capture_path) {
    if (!format.empty()) return format == "pcap";
    return g729io::has_extension(capture_path, ".pcap") ||
           g729io::has_extension(capture_path, ".pcapng");
}

int run_pcap_decode(const PcapDecodeOptions& o) {
    uint32_t wanted = 0;
    if (!o.ssrc.empty() && !parse_ssrc(o.ssrc, wanted)) {
        report("--ssrc " + o.ssrc + ": expected up to 8 hex digits");
        return exit_usage;
    }
    if (o.payload_type < 0 || o.payload_type > 127) {
        report("--pt " + std::to_string(o.payload_type) + ": expected 0 to 127");
        return exit_usage;
    }
    if (o.input == "-") {
        report("a capture is read twice (streams first, then audio): give a file, not -");
        return exit_usage;
    }
    if (output_name_refused(g729io::refuse_unwritten_audio_name, o.output)) return exit_usage;
    g729io::refuse_same_file(o.input, o.output);

    g729rtp::ScanOptions scan_options;
    scan_options.payload_type = o.payload_type;
    const g729rtp::CaptureScan scan = g729rtp::scan_capture(o.input, scan_options);
    std::vector<g729rtp::StreamInfo> streams = scan.streams;
    if (streams.empty()) {
        report(o.input + ": no G.729 RTP stream (payload type " + std::to_string(o.payload_type) +
               ") among its " + std::to_string(scan.packets) + " packets (" +
               std::to_string(scan.udp) + " UDP)");
        return exit_failure;
    }
    if (!o.ssrc.empty()) {
        const auto it = std::find_if(streams.begin(), streams.end(),
                                     [&](const auto& s) { return s.ssrc == wanted; });
        if (it == streams.end()) {
            std::string found;
            for (const auto& s : streams) found += (found.empty() ? "" : ", ") + g729rtp::ssrc_hex(s.ssrc);
            report(o.input + ": no G.729 stream with SSRC " + g729rtp::ssrc_hex(wanted) +
                   " (streams: " + found + ")");
            return exit_failure;
        }
        streams = {*it};
    }
    if (streams.size() > 1 && o.output == "-") {
        report(o.input + ": " + std::to_string(streams.size()) +
               " G.729 streams cannot share standard output: give --ssrc or a file name");
        return exit_usage;
    }

    std::vector<std::string> names;
    for (const auto& s : streams) {
        names.push_back(streams.size() == 1 ? o.output : stream_output_name(o.output, s.ssrc));
        g729io::refuse_same_file(o.input, names.back());
    }
    if (streams.size() > 1) {
        std::string list;
        for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
        report(std::to_string(streams.size()) + " G.729 streams, one file each: " + list);
    }

    std::map<uint32_t, std::unique_ptr<OutputSink>> sinks;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        sinks[streams[i].ssrc] = std::make_unique<OutputSink>(names[i]);
    }
    g729rtp::TimelineOptions timeline;
    const auto results = g729rtp::decode_capture(
        o.input, streams, [&](uint32_t ssrc) -> g729rtp::FrameSink& { return *sinks.at(ssrc); },
        scan_options, timeline);
    for (auto& [ssrc, sink] : sinks) sink->commit();

    for (const auto& r : results) report(g729rtp::summary_line(r));
    if (scan.fragments != 0) {
        report("skipped " + std::to_string(scan.fragments) + " IP fragments (not reassembled)");
    }
    if (!scan.truncation.empty()) {
        report(scan.truncation + "; the streams up to there were written");
        return exit_failure;
    }
    return exit_ok;
}

int run_pcap_encode(const PcapEncodeOptions& o) {
    g729rtp::WriterOptions w = g729rtp::default_writer_options();
    if (!g729rtp::valid_ptime(o.ptime_ms)) {
        report("--ptime " + std::to_string(o.ptime_ms) + ": expected 10 to 200 ms in steps of 10");
        return exit_usage;
    }
    w.ptime_ms = o.ptime_ms;
    if (!o.ssrc.empty() && !parse_ssrc(o.ssrc, w.ssrc)) {
        report("--ssrc " + o.ssrc + ": expected up to 8 hex digits");
        return exit_usage;
    }
    for (const auto& [flag, text, endpoint] :
         {std::tuple{"--src", &o.src, &w.src}, std::tuple{"--dst", &o.dst, &w.dst}}) {
        if (text->empty()) continue;
        if (!g729rtp::parse_endpoint(*text, *endpoint) || endpoint->ipv6) {
            report(std::string(flag) + " " + *text + ": expected an IPv4 ADDR:PORT, e.g. 192.0.2.1:4000");
            return exit_usage;
        }
    }
    if (g729io::has_audio_extension(o.output)) {
        report(o.output + ": the name says audio file, but the output is a packet capture; name "
                          "it .pcap");
        return exit_usage;
    }
    g729io::refuse_same_file(o.input, o.output);

    const std::unique_ptr<g729io::AudioReader> input = g729io::AudioReader::open(o.input);
    if (!input->conversion_note().empty()) report(input->name() + ": " + input->conversion_note());
    std::size_t warnings_shown = 0;
    report_warnings(*input, &warnings_shown);
    g729io::SafeOutput output(o.output);
    g729rtp::CaptureWriter writer(output.file(), w);
    auto encoder = std::make_unique<g729_encoder_state>();
    g729_encoder_init(encoder.get(), o.dtx ? 1 : 0);

    int16_t block[G729_FRAME_SIZE];
    std::size_t filled = 0;
    uint64_t frames = 0;
    for (;;) {
        const std::size_t n = input->read(std::span<int16_t>(block + filled, G729_FRAME_SIZE - filled));
        if (n == 0) break;
        filled += n;
        if (filled < G729_FRAME_SIZE) continue;
        uint8_t bytes[G729_SPEECH_FRAME_BYTES];
        int32_t count = 0;
        g729_encode_frame(encoder.get(), block, bytes, &count);
        writer.add_frame(bytes, count);
        filled = 0;
        ++frames;
    }
    report_warnings(*input, &warnings_shown);
    const std::size_t stray = input->stray_bytes();
    if (frames == 0 && filled == 0 && stray == 0) {
        warn(input->name() + ": the input is empty; no packets written");
    } else if (filled != 0 || stray != 0) {
        std::string what = std::to_string(filled) + " samples";
        if (stray != 0) what += " and " + std::to_string(stray) + " byte";
        warn(input->name() + ": ignoring a partial final frame (" + what + ")");
    }
    writer.finish();
    output.commit();
    report("wrote " + std::to_string(writer.packets()) + " RTP packets (" + std::to_string(frames) +
           " frames, " + std::to_string(o.ptime_ms) + " ms per packet" + (o.dtx ? ", DTX" : "") +
           ") SSRC " + g729rtp::ssrc_hex(w.ssrc) + " " + w.src.to_string() + " -> " +
           w.dst.to_string() + " to " + o.output);
    return exit_ok;
}

}  // namespace g729tool
