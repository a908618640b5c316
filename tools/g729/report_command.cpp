// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/report_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "lib/io/audio_kind.h"
#include "lib/io/channels_writer.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"
#include "lib/report/base64.h"
#include "lib/report/html_report.h"
#include "lib/rtp/call_pairing.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/stream_json.h"
#include "tools/g729/batch_runner.h"
#include "tools/g729/command.h"
#include "tools/g729/pcap_commands.h"
#include "tools/g729/stereo_decode.h"

namespace g729tool {

namespace {

std::string fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// A WAV file made by `fill` in a scratch file, streamed into the page as base64.
void write_wav_base64(int channels, const std::function<void(g729io::ChannelsWav&)>& fill,
                      const g729report::Write& out) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    if (!file) throw g729io::IoError(std::string("scratch file for the report's audio: ") + std::strerror(errno));
    {
        g729io::ChannelsWav wav(file.get(), channels, "scratch file for the report's audio");
        fill(wav);
        wav.finish();
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
        throw g729io::IoError(std::string("scratch file for the report's audio: ") + std::strerror(errno));
    }
    g729report::Base64Encoder encoder;
    std::vector<uint8_t> bytes(48 * 1024);
    std::string text;
    for (;;) {
        const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), file.get());
        if (n == 0) break;
        text.clear();
        encoder.add(std::span<const uint8_t>(bytes.data(), n), text);
        out(text);
    }
    if (std::ferror(file.get())) throw g729io::IoError("scratch file for the report's audio: read error");
    text.clear();
    encoder.finish(text);
    out(text);
}

std::vector<std::pair<std::string, std::string>> figures_of(const g729rtp::StreamResult& r,
                                                            const g729eval::EModelResult& q,
                                                            double offset_s) {
    const g729rtp::NetworkStats& n = r.network;
    const g729rtp::StreamStats& s = r.stats;
    return {
        {"Packets received", std::to_string(n.packets)},
        {"Packets expected", std::to_string(n.expected)},
        {"Lost", std::to_string(n.lost) + " (" + fixed(n.lost_percent, 2) + " %)"},
        {"Duplicates", std::to_string(n.duplicates)},
        {"Reordered", std::to_string(n.reordered)},
        {"Sequence errors", std::to_string(n.sequence_errors)},
        {"Jitter mean / max", fixed(n.jitter_mean_ms, 2) + " / " + fixed(n.jitter_max_ms, 2) + " ms"},
        {"Delta min / mean / max",
         fixed(n.delta_min_ms, 1) + " / " + fixed(n.delta_mean_ms, 1) + " / " + fixed(n.delta_max_ms, 1) + " ms"},
        {"Packetization", fixed(n.packet_ms, 0) + " ms"},
        {"Loss burst ratio", fixed(n.burst_ratio, 2)},
        {"Start", g729rtp::iso8601_utc(n.start_us) + " (+" + fixed(offset_s, 3) + " s)"},
        {"Duration (packets)", fixed(n.duration_s, 2) + " s"},
        {"Duration (audio)", fixed(static_cast<double>(s.samples) / 8000.0, 2) + " s"},
        {"Frames: speech / SID", std::to_string(s.speech_frames) + " / " + std::to_string(s.sid_frames)},
        {"Frames: lost (concealed) / DTX pause",
         std::to_string(s.lost_frames) + " / " + std::to_string(s.pause_frames)},
        {"R-factor", fixed(q.r_factor, 1)},
        {"MOS (estimate)", fixed(q.mos, 2)},
    };
}

}  // namespace

int run_report(const ReportOptions& o) {
    if (o.payload_type < 0 || o.payload_type > 127) {
        report("--pt " + std::to_string(o.payload_type) + ": expected 0 to 127");
        return exit_usage;
    }
    if (o.input == "-") {
        report("a capture is read twice (streams first, then audio): give a file, not -");
        return exit_usage;
    }
    if (g729io::has_audio_extension(o.output)) {
        report(o.output + ": the name says audio file, but the report is an HTML page; name it .html");
        return exit_usage;
    }
    g729io::refuse_same_file(o.input, o.output);

    g729rtp::ScanOptions scan_options;
    scan_options.payload_type = o.payload_type;
    const g729rtp::CaptureScan scan = g729rtp::scan_capture(o.input, scan_options);
    const std::vector<g729rtp::StreamInfo>& streams = scan.streams;
    if (streams.empty()) {
        report(no_stream_message(o.input, scan, o.payload_type));
        return exit_failure;
    }
    if (!open_files_allow(o.input, streams.size(), "scratch files", "raise it")) return exit_failure;
    const std::vector<g729rtp::CallStreams> calls = g729rtp::pair_calls(streams);

    std::vector<std::unique_ptr<ScratchStream>> scratch;
    for (std::size_t i = 0; i < streams.size(); ++i) scratch.push_back(std::make_unique<ScratchStream>());
    const auto results = g729rtp::decode_streams(
        o.input, streams, [&](std::size_t i) -> g729rtp::FrameSink& { return *scratch[i]; }, scan_options, {});
    std::vector<int64_t> starts;
    for (const auto& r : results) starts.push_back(stream_start_us(r));

    g729report::ReportPage page;
    page.source = o.input;
    page.summary.push_back(std::to_string(streams.size()) + " G.729 RTP " +
                           (streams.size() == 1 ? "stream" : "streams") + " (payload type " +
                           std::to_string(o.payload_type) + ") in " + std::to_string(calls.size()) +
                           (calls.size() == 1 ? " call" : " calls") + ", among " + std::to_string(scan.packets) +
                           " packets");
    if (!scan.truncation.empty()) page.summary.push_back(scan.truncation + "; the streams up to there are shown");
    for (const auto& call : calls) {
        const StereoLayout layout = stereo_layout(call, starts);
        g729report::CallPanel panel;
        std::vector<std::pair<std::size_t, int64_t>> sides = {{layout.left, layout.left_offset}};
        if (layout.right) sides.emplace_back(*layout.right, layout.right_offset);
        int64_t end = 0;
        for (const auto& [i, offset] : sides) end = std::max(end, offset + static_cast<int64_t>(scratch[i]->samples()));
        for (const auto& [i, offset] : sides) {
            const g729rtp::StreamResult& r = results[i];
            const g729eval::EModelResult q = g729rtp::g729_quality(r.network, 0);
            const double offset_s = static_cast<double>(offset) / 8000.0;
            g729report::StreamPanel s;
            s.direction = r.info.src.to_string() + " \u2192 " + r.info.dst.to_string();
            s.ssrc = g729rtp::ssrc_hex(r.info.ssrc);
            s.mos = q.mos;
            s.r_factor = q.r_factor;
            s.lost_percent = r.network.lost_percent;
            s.figures = figures_of(r, q, offset_s);
            s.chart.frames = scratch[i]->frames();
            for (const auto& j : r.network.jitter) s.chart.jitter.push_back({j.time_s, j.jitter_ms});
            s.chart.offset_s = offset_s;
            s.chart.axis_s = static_cast<double>(end) / 8000.0;
            s.chart.label = "Timeline of " + s.direction + " (SSRC " + s.ssrc + ")";
            s.duration_s = static_cast<double>(scratch[i]->samples()) / 8000.0;
            if (scratch[i]->samples() != 0) {
                ScratchStream* stream = scratch[i].get();
                s.audio = [stream](const g729report::Write& out) {
                    write_wav_base64(1, [stream](g729io::ChannelsWav& wav) {
                        stream->rewind();
                        std::vector<int16_t> block(8192);
                        while (const std::size_t n = stream->read(block)) wav.write(std::span(block.data(), n));
                    }, out);
                };
            }
            panel.streams.push_back(std::move(s));
        }
        if (!layout.right) {
            panel.note = "No stream the other way in this capture: the stereo mix has this direction on the left "
                         "and silence on the right.";
        }
        if (end != 0) {
            panel.mix_duration_s = static_cast<double>(end) / 8000.0;
            ScratchStream* left = scratch[layout.left].get();
            ScratchStream* right = layout.right ? scratch[*layout.right].get() : nullptr;
            panel.mix = [=](const g729report::Write& out) {
                write_wav_base64(2, [&](g729io::ChannelsWav& wav) {
                    mix_stereo({left, layout.left_offset}, {right, layout.right_offset},
                               [&](std::span<const int16_t> s) { wav.write(s); });
                }, out);
            };
        }
        page.calls.push_back(std::move(panel));
    }

    g729io::SafeOutput out(o.output);
    g729report::write_report(page, [&](std::string_view text) { out.write(text.data(), text.size()); });
    out.commit();
    report("report of " + std::to_string(calls.size()) + (calls.size() == 1 ? " call" : " calls") + " (" +
           std::to_string(streams.size()) + (streams.size() == 1 ? " stream" : " streams") + ") written to " +
           g729io::display_name(o.output, true));
    if (!scan.truncation.empty()) {
        report(scan.truncation + "; the streams up to there are in the report");
        return exit_failure;
    }
    return exit_ok;
}

}  // namespace g729tool
