// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/pcap_commands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <tuple>
#include <vector>

#include <g729/g729.h>
#include "tools/g729/batch_runner.h"
#include "tools/g729/command.h"
#include "tools/g729/stereo_decode.h"
#include "lib/io/audio_kind.h"
#include "lib/io/audio_reader.h"
#include "lib/io/audio_writer.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/capture_reader.h"
#include "lib/rtp/capture_writer.h"
#include "lib/rtp/stream_json.h"

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

// True when both names lead to the same file, existing or not.
bool same_path(const std::string& a, const std::string& b) {
    if (a == "-" || b == "-") return a == b;
    std::error_code ec_a, ec_b;
    const auto pa = std::filesystem::weakly_canonical(a, ec_a), pb = std::filesystem::weakly_canonical(b, ec_b);
    return ec_a || ec_b ? a == b : pa == pb;
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

std::string stream_output_name(const std::string& output, uint32_t ssrc, int number) {
    const std::filesystem::path p(output);
    const std::string stem = p.stem().string();
    std::string name = (stem.empty() ? p.filename().string() : stem) + "-" + g729rtp::ssrc_hex(ssrc);
    if (number > 0) name.append("-").append(std::to_string(number));
    return (p.parent_path() / (name + p.extension().string())).string();
}

std::vector<std::string> stream_output_names(const std::string& output,
                                             std::span<const g729rtp::StreamInfo> streams) {
    if (streams.size() == 1) return {output};
    std::map<uint32_t, int> uses, numbered;
    for (const auto& s : streams) ++uses[s.ssrc];
    std::vector<std::string> names;
    for (const auto& s : streams) {
        names.push_back(stream_output_name(output, s.ssrc, uses[s.ssrc] > 1 ? ++numbered[s.ssrc] : 0));
    }
    return names;
}

bool uses_pcap_format(const std::string& format, const std::string& capture_path) {
    if (!format.empty()) return format == "pcap";
    return g729io::has_extension(capture_path, ".pcap") ||
           g729io::has_extension(capture_path, ".pcapng");
}

std::string no_stream_message(const std::string& input, const g729rtp::CaptureScan& scan, int payload_type) {
    const std::string none = "no G.729 RTP stream (payload type " + std::to_string(payload_type) + ")";
    if (!scan.truncation.empty()) return scan.truncation + "; " + none + " before that";
    std::string line = input + ": " + none + " among its " + std::to_string(scan.packets) +
                       " packets (" + std::to_string(scan.udp) + " UDP)";
    if (scan.cut != 0) {
        line += "; " + std::to_string(scan.cut) + " packets were cut at capture time to the snapshot length of " +
                std::to_string(scan.snapshot_length) + " bytes: capture again with a larger one (tcpdump -s 0)";
    }
    std::vector<std::pair<uint64_t, int>> seen;
    for (int pt = 0; pt < 128; ++pt) {
        if (pt != payload_type && scan.payload_types[static_cast<std::size_t>(pt)] != 0) {
            seen.emplace_back(scan.payload_types[static_cast<std::size_t>(pt)], pt);
        }
    }
    std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (!seen.empty()) {
        line += "; RTP payload types seen:";
        for (std::size_t i = 0; i < seen.size() && i < 5; ++i) {
            line += std::string(i == 0 ? " " : ", ") + std::to_string(seen[i].second) + " (" +
                    std::to_string(seen[i].first) + " packets)";
        }
        if (seen.size() > 5) line += ", ...";
        line += "; for G.729 under a dynamic payload type give --pt";
    }
    if (scan.ignored_streams != 0) {
        line += "; " + std::to_string(scan.ignored_streams) +
                " lookalike streams ignored (one packet, or no G.729 payload length)";
    }
    return line;
}

int finish_pcap_decode(const g729rtp::CaptureScan& scan, const g729rtp::ScanOptions& scan_options,
                       std::span<const g729rtp::StreamResult> results,
                       const PcapDecodeOptions& options) {
    for (const auto& r : results) report(g729rtp::summary_line(r, options.network_delay_ms));
    if (!options.json_path.empty()) {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& r : results) {
            array.push_back(g729rtp::stream_json(r, scan_options.payload_type, options.network_delay_ms));
        }
        const std::string text = array.dump(2) + "\n";
        g729io::SafeOutput json(options.json_path);
        json.write(text.data(), text.size());
        json.commit();
    }
    for (const auto& r : results) {
        if (r.stats.stuck_timestamps == 0) continue;
        warn("stream " + g729rtp::ssrc_hex(r.info.ssrc) + " " + r.info.src.to_string() + " -> " +
             r.info.dst.to_string() + ": the RTP timestamps of " + std::to_string(r.stats.stuck_timestamps) +
             " of its packets do not advance past the previous packet's (stuck or running backwards); "
             "their frames were decoded one after another in sequence order");
    }
    if (scan.fragments != 0) {
        report("skipped " + std::to_string(scan.fragments) + " IP fragments (not reassembled)");
    }
    if (scan.cut != 0) {
        warn(std::to_string(scan.cut) + " packets were cut at capture time to the snapshot length of " +
             std::to_string(scan.snapshot_length) + " bytes");
    }
    if (scan.ignored_streams != 0) {
        report("ignored " + std::to_string(scan.ignored_streams) +
               " lookalike streams (one packet, or no G.729 payload length)");
    }
    if (!scan.truncation.empty()) {
        report(scan.truncation + "; the streams up to there were written");
        return exit_failure;
    }
    if (scan.untracked_packets != 0) {
        report(std::to_string(scan.untracked_packets) + " packets of further streams were not decoded: at most " +
               std::to_string(scan_options.max_streams) + " streams are tracked at once; decode them with --ssrc");
        return exit_failure;
    }
    return exit_ok;
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
    if (!o.json_path.empty()) {
        if (o.json_path == "-" && o.output == "-") {
            report("--json -: the decoded audio goes to standard output already; give the JSON a file name");
            return exit_usage;
        }
        if (o.json_path != "-" && same_path(o.json_path, o.output)) {
            report("--json " + o.json_path + ": the decoded audio goes there; give the JSON another name");
            return exit_usage;
        }
        g729io::refuse_same_file(o.input, o.json_path);
    }
    if (!std::isfinite(o.network_delay_ms) || o.network_delay_ms < 0) {
        report("--network-delay-ms: expected 0 or more");
        return exit_usage;
    }

    g729rtp::ScanOptions scan_options;
    scan_options.payload_type = o.payload_type;
    if (!o.ssrc.empty()) scan_options.ssrc = wanted;
    const g729rtp::CaptureScan scan = g729rtp::scan_capture(o.input, scan_options);
    const std::vector<g729rtp::StreamInfo>& streams = scan.streams;
    if (streams.empty() && !o.ssrc.empty() && scan.truncation.empty()) {
        // Name the streams there are.
        scan_options.ssrc.reset();
        const g729rtp::CaptureScan all = g729rtp::scan_capture(o.input, scan_options);
        if (!all.streams.empty()) {
            std::string found;
            for (std::size_t i = 0; i < all.streams.size() && i < 20; ++i) {
                found += (found.empty() ? "" : ", ") + g729rtp::ssrc_hex(all.streams[i].ssrc);
            }
            if (all.streams.size() > 20) found += ", ...";
            report(o.input + ": no G.729 stream with SSRC " + g729rtp::ssrc_hex(wanted) +
                   " (streams: " + found + ")");
            return exit_failure;
        }
    }
    if (streams.empty()) {
        report(no_stream_message(o.input, scan, o.payload_type));
        return exit_failure;
    }
    if (o.stereo) return run_pcap_stereo_decode(o, scan, scan_options);
    if (streams.size() > 1 && o.output == "-") {
        report(o.input + ": " + std::to_string(streams.size()) +
               " G.729 streams cannot share standard output: give --ssrc or a file name");
        return exit_usage;
    }
    std::error_code ec;
    const auto status = std::filesystem::status(o.output, ec);
    if (streams.size() > 1 && !ec && std::filesystem::exists(status) &&
        !std::filesystem::is_regular_file(status)) {
        report(o.input + ": " + std::to_string(streams.size()) + " G.729 streams cannot share " + o.output +
               " (not a regular file): give --ssrc or a file name");
        return exit_usage;
    }

    const std::vector<std::string> names = stream_output_names(o.output, streams);
    for (const std::string& n : names) {
        g729io::refuse_same_file(o.input, n);
        if (!o.json_path.empty() && o.json_path != "-" && same_path(o.json_path, n)) {
            report("--json " + o.json_path + ": a decoded stream goes there; give the JSON another name");
            return exit_usage;
        }
    }
    if (!open_files_allow(o.input, streams.size(), "files", "raise it, or decode fewer with --ssrc")) {
        return exit_failure;
    }
    if (streams.size() > 1) {
        std::string list;
        for (std::size_t i = 0; i < names.size() && i < 20; ++i) list += (list.empty() ? "" : ", ") + names[i];
        if (names.size() > 20) list += ", ...";
        report(std::to_string(streams.size()) + " G.729 streams, one file each: " + list);
    }

    std::vector<std::unique_ptr<OutputSink>> sinks;
    for (const std::string& n : names) sinks.push_back(std::make_unique<OutputSink>(n));
    g729rtp::TimelineOptions timeline;
    const auto results = g729rtp::decode_streams(
        o.input, streams, [&](std::size_t i) -> g729rtp::FrameSink& { return *sinks[i]; },
        scan_options, timeline);
    for (auto& sink : sinks) sink->commit();

    return finish_pcap_decode(scan, scan_options, results, o);
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
