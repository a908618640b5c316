#include "tools/rtp/capture_decoder.h"

#include <cstdio>
#include <memory>
#include <unordered_map>

#include "tools/rtp/capture_reader.h"

namespace g729rtp {

namespace {

// Calls visit(rtp, udp) for every RTP-looking UDP datagram of the capture.
template <typename Visit>
void for_each_rtp(const std::string& path, CaptureScan& counts, Visit&& visit) {
    CaptureReader reader(path);
    CapturedPacket packet;
    while (reader.next(packet)) {
        ++counts.packets;
        UdpDatagram udp;
        switch (parse_packet(reader.link_type(), packet.bytes, udp)) {
        case PacketKind::udp: break;
        case PacketKind::fragment: ++counts.fragments; continue;
        case PacketKind::malformed: ++counts.malformed; continue;
        case PacketKind::other: continue;
        }
        ++counts.udp;
        RtpHeader rtp;
        if (parse_rtp(udp.payload, rtp)) visit(rtp, udp);
    }
    counts.truncation = reader.truncation();
}

}  // namespace

CaptureScan scan_capture(const std::string& path, const ScanOptions& options) {
    CaptureScan scan;
    std::unordered_map<uint32_t, std::size_t> index;
    std::vector<StreamInfo> seen;
    for_each_rtp(path, scan, [&](const RtpHeader& rtp, const UdpDatagram& udp) {
        if (rtp.payload_type != options.payload_type) return;
        auto it = index.find(rtp.ssrc);
        if (it == index.end()) {
            if (seen.size() >= options.max_streams) {
                ++scan.ignored_streams;
                return;
            }
            it = index.emplace(rtp.ssrc, seen.size()).first;
            seen.push_back({rtp.ssrc, udp.src, udp.dst, 0});
        }
        ++seen[it->second].packets;
    });
    for (const StreamInfo& s : seen) {
        if (s.packets >= options.min_packets) scan.streams.push_back(s);
    }
    return scan;
}

std::vector<StreamResult> decode_capture(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(uint32_t)>& sink_for,
                                         const ScanOptions& scan,
                                         const TimelineOptions& timeline) {
    std::unordered_map<uint32_t, std::size_t> index;
    std::vector<std::unique_ptr<StreamTimeline>> timelines;
    for (const StreamInfo& s : streams) {
        if (index.emplace(s.ssrc, timelines.size()).second) {
            timelines.push_back(std::make_unique<StreamTimeline>(sink_for(s.ssrc), timeline));
        }
    }
    CaptureScan counts;
    for_each_rtp(path, counts, [&](const RtpHeader& rtp, const UdpDatagram&) {
        const auto it = index.find(rtp.ssrc);
        if (it != index.end()) {
            timelines[it->second]->add(rtp, rtp.payload_type == scan.payload_type);
        }
    });
    std::vector<StreamResult> results;
    for (const StreamInfo& s : streams) {
        StreamTimeline& t = *timelines[index.at(s.ssrc)];
        t.finish();
        results.push_back({s, t.stats()});
    }
    return results;
}

std::string ssrc_hex(uint32_t ssrc) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", ssrc);
    return text;
}

std::string summary_line(const StreamResult& r) {
    const StreamStats& s = r.stats;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f s", static_cast<double>(s.samples) / 8000.0);
    std::string line = "stream " + ssrc_hex(r.info.ssrc) + " " + r.info.src.to_string() + " -> " +
                       r.info.dst.to_string() + ": " + std::to_string(s.packets) + " packets; " +
                       std::to_string(s.speech_frames) + " speech, " +
                       std::to_string(s.sid_frames) + " SID, " +
                       std::to_string(s.lost_frames) + " lost (concealed), " +
                       std::to_string(s.pause_frames) + " comfort-noise pause frames; " +
                       std::to_string(s.duplicates) + " duplicates, " +
                       std::to_string(s.reordered) + " reordered, " +
                       std::to_string(s.damaged) + " damaged";
    if (s.late != 0) line += ", " + std::to_string(s.late) + " too late (dropped)";
    if (s.other_payload != 0) {
        line += ", " + std::to_string(s.other_payload) + " of another payload type";
    }
    if (s.skipped_jumps != 0) {
        line += ", " + std::to_string(s.skipped_jumps) + " timestamp jumps not filled";
    }
    return line + "; " + duration;
}

}  // namespace g729rtp
