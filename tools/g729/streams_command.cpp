// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/streams_command.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/g729/command.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/stream_json.h"

namespace g729tool {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// Rows of cells under a header, each column as wide as its widest cell; numbers right-aligned.
std::string table(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right) {
    std::vector<std::size_t> width(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(width[c] - row[c].size(), ' ');
            if (c != 0) line += "  ";
            line += right[c] ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : "");
        }
        out += line + "\n";
    }
    return out;
}

std::string text_listing(const std::string& input, const g729rtp::RtpStreamList& list, double network_delay_ms) {
    const g729rtp::CaptureScan& scan = list.counts;
    if (list.streams.empty()) {
        return "no RTP stream among the " + std::to_string(scan.packets) + " packets (" +
               std::to_string(scan.udp) + " UDP) of " + input + "\n";
    }
    std::vector<std::vector<std::string>> rows = {
        {"SSRC", "SOURCE", "DESTINATION", "PT", "CODEC", "PACKETS", "LOST", "DUP", "REORD", "SEQ-ERR",
         "JITTER ms (max)", "MOS", "START (UTC)", "DURATION"}};
    std::string hints;
    for (const g729rtp::RtpStream& s : list.streams) {
        const g729rtp::NetworkStats& n = s.network;
        rows.push_back({g729rtp::ssrc_hex(s.info.ssrc), s.info.src.to_string(), s.info.dst.to_string(),
                        std::to_string(s.payload_type), s.looks_g729 ? "G.729" : "-",
                        std::to_string(n.packets),
                        std::to_string(n.lost) + " (" + format("%.1f", n.lost_percent) + "%)",
                        std::to_string(n.duplicates), std::to_string(n.reordered),
                        std::to_string(n.sequence_errors),
                        format("%.1f", n.jitter_mean_ms) + " (" + format("%.1f", n.jitter_max_ms) + ")",
                        s.looks_g729 ? format("%.2f", g729rtp::g729_quality(n, network_delay_ms).mos) : "-",
                        g729rtp::iso8601_utc(n.start_us), format("%.2f s", n.duration_s)});
        if (s.looks_g729 && s.payload_type != g729rtp::g729_payload_type) {
            hints += "stream " + g729rtp::ssrc_hex(s.info.ssrc) + " looks like G.729 at payload type " +
                     std::to_string(s.payload_type) + ": decode it with g729 decode --pt " +
                     std::to_string(s.payload_type) + " --ssrc " + g729rtp::ssrc_hex(s.info.ssrc) + " " +
                     input + " OUTPUT.wav\n";
        }
    }
    return table(rows, {false, false, false, true, false, true, true, true, true, true, true, true, false, true}) +
           hints;
}

}  // namespace

int run_streams(const StreamsOptions& o) {
    g729rtp::ScanOptions scan_options;
    const g729rtp::RtpStreamList list = g729rtp::list_rtp_streams(o.input, scan_options);
    std::string out;
    if (o.json) {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const g729rtp::RtpStream& s : list.streams) array.push_back(g729rtp::stream_json(s, o.network_delay_ms));
        out = array.dump(2) + "\n";
    } else {
        out = text_listing(o.input == "-" ? "-" : o.input, list, o.network_delay_ms);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);

    const g729rtp::CaptureScan& scan = list.counts;
    if (scan.cut != 0) {
        warn(std::to_string(scan.cut) + " packets were cut at capture time to the snapshot length of " +
             std::to_string(scan.snapshot_length) + " bytes: their payloads are incomplete");
    }
    if (scan.fragments != 0) {
        report("skipped " + std::to_string(scan.fragments) + " IP fragments (not reassembled)");
    }
    if (!scan.truncation.empty()) {
        report(scan.truncation + "; the streams up to there are listed");
        return exit_failure;
    }
    if (scan.untracked_packets != 0) {
        report(std::to_string(scan.untracked_packets) + " packets of further streams were not counted: at most " +
               std::to_string(scan_options.max_streams) + " streams are tracked at once");
        return exit_failure;
    }
    return exit_ok;
}

}  // namespace g729tool
