// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/capture_decoder.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <unordered_map>

#include <g729/g729.h>

#include "lib/rtp/capture_reader.h"

namespace g729rtp {

namespace {

// Calls visit(rtp, udp, capture_us) for every RTP-looking UDP datagram of the capture.
template <typename Visit>
void for_each_rtp(const std::string& path, CaptureScan& counts, Visit&& visit) {
    CaptureReader reader(path);
    counts.snapshot_length = reader.snapshot_length();
    CapturedPacket packet;
    while (reader.next(packet)) {
        ++counts.packets;
        if (packet.original_length > packet.bytes.size()) ++counts.cut;
        UdpDatagram udp;
        switch (parse_packet(reader.link_type(), packet.bytes, udp)) {
        case PacketKind::udp: break;
        case PacketKind::fragment: ++counts.fragments; continue;
        case PacketKind::malformed: ++counts.malformed; continue;
        case PacketKind::other: continue;
        }
        ++counts.udp;
        RtpHeader rtp;
        if (parse_rtp(udp.payload, rtp)) visit(rtp, udp, capture_time_us(packet));
    }
    counts.truncation = reader.truncation();
}

struct StreamKey {
    uint32_t ssrc = 0;
    Endpoint src;
    Endpoint dst;
    bool operator==(const StreamKey&) const = default;
};

struct StreamKeyHash {
    std::size_t operator()(const StreamKey& k) const {
        uint64_t h = 1469598103934665603ull ^ k.ssrc;  // FNV-1a over the key's fields
        auto mix = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
        for (const Endpoint* e : {&k.src, &k.dst}) {
            mix(e->port);
            mix(e->ipv6);
            for (uint8_t b : e->address) mix(b);
        }
        return static_cast<std::size_t>(h);
    }
};

StreamKey key_of(uint32_t ssrc, const UdpDatagram& udp) { return {ssrc, udp.src, udp.dst}; }
StreamKey key_of(const StreamInfo& s) { return {s.ssrc, s.src, s.dst}; }

}  // namespace

bool g729_payload_length(std::size_t bytes) {
    const std::size_t rest = bytes % G729_SPEECH_FRAME_BYTES;
    return bytes != 0 && (rest == 0 || rest == G729_SID_FRAME_BYTES);
}

CaptureScan scan_capture(const std::string& path, const ScanOptions& options) {
    struct Entry {
        StreamInfo info;
        uint64_t order = 0;   // of first appearance
        uint64_t valid = 0;   // packets with a G.729 payload length
        bool lookalike() const { return info.packets < 2 || valid == 0; }
    };
    CaptureScan scan;
    std::unordered_map<StreamKey, Entry, StreamKeyHash> table;
    // Streams in order of creation, the candidates for eviction: each is looked at once, and
    // dropped from here when it has become a real stream.
    std::deque<StreamKey> candidates;
    uint64_t created = 0;
    auto make_room = [&] {
        while (!candidates.empty()) {
            const StreamKey key = candidates.front();
            candidates.pop_front();
            const auto it = table.find(key);
            if (it != table.end() && it->second.lookalike()) {
                table.erase(it);
                ++scan.ignored_streams;
                return true;
            }
        }
        return false;
    };
    for_each_rtp(path, scan, [&](const RtpHeader& rtp, const UdpDatagram& udp, int64_t) {
        ++scan.payload_types[rtp.payload_type];
        if (rtp.payload_type != options.payload_type) return;
        if (options.ssrc && rtp.ssrc != *options.ssrc) return;
        const StreamKey key = key_of(rtp.ssrc, udp);
        auto it = table.find(key);
        if (it == table.end()) {
            if (table.size() >= options.max_streams && !make_room()) {
                ++scan.untracked_packets;
                return;
            }
            it = table.emplace(key, Entry{{rtp.ssrc, udp.src, udp.dst, 0}, created++, 0}).first;
            candidates.push_back(key);
        }
        ++it->second.info.packets;
        if (g729_payload_length(rtp.payload.size())) ++it->second.valid;
    });
    std::vector<const Entry*> kept;
    for (const auto& [key, e] : table) {
        if (e.info.packets >= options.min_packets && e.valid != 0) {
            kept.push_back(&e);
        } else {
            ++scan.ignored_streams;
        }
    }
    std::sort(kept.begin(), kept.end(), [](const Entry* a, const Entry* b) { return a->order < b->order; });
    for (const Entry* e : kept) scan.streams.push_back(e->info);
    return scan;
}

std::vector<StreamResult> decode_streams(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(std::size_t)>& sink_for,
                                         const ScanOptions& scan,
                                         const TimelineOptions& timeline) {
    std::unordered_map<StreamKey, std::size_t, StreamKeyHash> index;
    std::vector<std::unique_ptr<StreamTimeline>> timelines;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (index.emplace(key_of(streams[i]), timelines.size()).second) {
            timelines.push_back(std::make_unique<StreamTimeline>(sink_for(i), timeline));
        }
    }
    CaptureScan counts;
    for_each_rtp(path, counts, [&](const RtpHeader& rtp, const UdpDatagram& udp, int64_t capture_us) {
        const auto it = index.find(key_of(rtp.ssrc, udp));
        if (it != index.end()) {
            timelines[it->second]->add(rtp, rtp.payload_type == scan.payload_type, capture_us);
        }
    });
    std::vector<StreamResult> results;
    for (const StreamInfo& s : streams) {
        StreamTimeline& t = *timelines[index.at(key_of(s))];
        t.finish();
        results.push_back({s, t.stats()});
    }
    return results;
}

std::vector<StreamResult> decode_capture(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(uint32_t)>& sink_for,
                                         const ScanOptions& scan,
                                         const TimelineOptions& timeline) {
    return decode_streams(
        path, streams, [&](std::size_t i) -> FrameSink& { return sink_for(streams[i].ssrc); },
        scan, timeline);
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
    if (s.unconfirmed_jumps != 0) {
        line += ", " + std::to_string(s.unconfirmed_jumps) +
                " timestamp jumps longer than the capture clock shows (not filled)";
    }
    if (s.stuck_timestamps != 0) {
        line += ", " + std::to_string(s.stuck_timestamps) +
                " timestamps not advancing (decoded in sequence order)";
    }
    return line + "; " + duration;
}

}  // namespace g729rtp
