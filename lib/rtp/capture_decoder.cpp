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

// Drops the oldest stream of `candidates` (in order of creation, each looked at once) that is
// still a lookalike (Entry::lookalike()), counting it in `ignored`; false when none is.
template <class Table>
bool evict_lookalike(Table& table, std::deque<StreamKey>& candidates, uint64_t& ignored) {
    while (!candidates.empty()) {
        const StreamKey key = candidates.front();
        candidates.pop_front();
        const auto it = table.find(key);
        if (it != table.end() && it->second.lookalike()) {
            table.erase(it);
            ++ignored;
            return true;
        }
    }
    return false;
}

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
    auto make_room = [&] { return evict_lookalike(table, candidates, scan.ignored_streams); };
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

namespace {

// A payload type's packets within a listed stream, and how their lengths and timestamps fit
// G.729.
struct PayloadCount {
    uint8_t payload_type = 0;
    uint64_t packets = 0;
    uint64_t g729_lengths = 0;   // payloads of N x 10 bytes, with at most one 2-byte SID frame
    uint64_t exact_steps = 0;    // next packet's timestamp 80 per frame later
    uint64_t short_steps = 0;    // less than that: not G.729 frames at 8000 Hz
    uint16_t last_sequence = 0;
    uint32_t last_timestamp = 0;
    uint32_t last_frames = 0;    // 0: the last packet's length was not a G.729 one
    bool any = false;

    void add(const RtpHeader& rtp) {
        ++packets;
        const std::size_t bytes = rtp.payload.size();
        const bool g729 = g729_payload_length(bytes);
        if (g729) ++g729_lengths;
        if (any && last_frames != 0 && rtp.sequence == static_cast<uint16_t>(last_sequence + 1)) {
            const auto step = static_cast<int64_t>(static_cast<int32_t>(rtp.timestamp - last_timestamp));
            const int64_t frames_span = int64_t{G729_FRAME_SIZE} * last_frames;
            if (step < frames_span) {
                ++short_steps;
            } else if (step == frames_span) {
                ++exact_steps;
            }
        }
        any = true;
        last_sequence = rtp.sequence;
        last_timestamp = rtp.timestamp;
        last_frames = g729 ? static_cast<uint32_t>((bytes + G729_SPEECH_FRAME_BYTES - 1) / G729_SPEECH_FRAME_BYTES)
                           : 0;
    }
};

constexpr std::size_t max_payload_types_per_stream = 8;
// Sequence numbers this close after the previous packet's are a stream's own.
constexpr uint16_t following_reach = 100;

bool is_dynamic(int payload_type) { return payload_type >= 96 && payload_type <= 127; }
// Second-byte values of RTCP packets (RFC 5761): not RTP.
bool is_rtcp_range(int payload_type) { return payload_type >= 72 && payload_type <= 76; }

}  // namespace

RtpStreamList list_rtp_streams(const std::string& path, const ScanOptions& options) {
    struct Entry {
        StreamInfo info;
        uint64_t order = 0;
        uint16_t last_sequence = 0;
        uint64_t following = 0;   // packets a few numbers after the previous one's
        std::vector<PayloadCount> payloads;
        RtpStatistics statistics;
        bool lookalike() const { return info.packets < 2 || following == 0; }
        bool stream(uint64_t min_packets) const {
            return info.packets >= min_packets && following != 0 && 2 * following + 1 >= info.packets;
        }
    };
    RtpStreamList list;
    CaptureScan& scan = list.counts;
    std::unordered_map<StreamKey, Entry, StreamKeyHash> table;
    std::deque<StreamKey> candidates;  // as in scan_capture: eviction candidates, oldest first
    uint64_t created = 0;
    auto make_room = [&] { return evict_lookalike(table, candidates, scan.ignored_streams); };
    for_each_rtp(path, scan, [&](const RtpHeader& rtp, const UdpDatagram& udp, int64_t capture_us) {
        ++scan.payload_types[rtp.payload_type];
        if (is_rtcp_range(rtp.payload_type)) return;
        if (options.ssrc && rtp.ssrc != *options.ssrc) return;
        const StreamKey key = key_of(rtp.ssrc, udp);
        auto it = table.find(key);
        if (it == table.end()) {
            if (table.size() >= options.max_streams && !make_room()) {
                ++scan.untracked_packets;
                return;
            }
            Entry e;
            e.info = {rtp.ssrc, udp.src, udp.dst, 0};
            e.order = created++;
            it = table.emplace(key, std::move(e)).first;
            candidates.push_back(key);
        }
        Entry& e = it->second;
        if (e.info.packets != 0) {
            const auto ahead = static_cast<uint16_t>(rtp.sequence - e.last_sequence);
            if (ahead >= 1 && ahead <= following_reach) ++e.following;
        }
        ++e.info.packets;
        e.last_sequence = rtp.sequence;
        auto p = std::find_if(e.payloads.begin(), e.payloads.end(),
                              [&](const PayloadCount& c) { return c.payload_type == rtp.payload_type; });
        if (p == e.payloads.end() && e.payloads.size() < max_payload_types_per_stream) {
            e.payloads.push_back({});
            p = e.payloads.end() - 1;
            p->payload_type = rtp.payload_type;
        }
        if (p != e.payloads.end()) p->add(rtp);
        e.statistics.add(rtp.sequence, rtp.timestamp, capture_us);
    });
    std::vector<const Entry*> kept;
    for (const auto& [key, e] : table) {
        if (e.stream(options.min_packets)) {
            kept.push_back(&e);
        } else {
            ++scan.ignored_streams;
        }
    }
    std::sort(kept.begin(), kept.end(), [](const Entry* a, const Entry* b) { return a->order < b->order; });
    for (const Entry* e : kept) {
        RtpStream s;
        s.info = e->info;
        const auto main = std::max_element(e->payloads.begin(), e->payloads.end(),
                                           [](const PayloadCount& a, const PayloadCount& b) {
                                               return a.packets < b.packets;
                                           });
        if (main != e->payloads.end()) {
            s.payload_type = main->payload_type;
            // Payload type 18 is G.729 by the audio/video profile: what decode takes when some
            // of its payloads have G.729 lengths. A dynamic one must look it in every packet.
            s.looks_g729 = main->payload_type == g729_payload_type
                               ? main->g729_lengths != 0
                               : is_dynamic(main->payload_type) && main->g729_lengths == main->packets &&
                                     main->short_steps == 0 && main->exact_steps != 0;
        }
        s.network = e->statistics.result();
        list.streams.push_back(std::move(s));
    }
    return list;
}

std::vector<StreamResult> decode_streams(const std::string& path,
                                         std::span<const StreamInfo> streams,
                                         const std::function<FrameSink&(std::size_t)>& sink_for,
                                         const ScanOptions& scan,
                                         const TimelineOptions& timeline) {
    std::unordered_map<StreamKey, std::size_t, StreamKeyHash> index;
    std::vector<std::unique_ptr<StreamTimeline>> timelines;
    std::vector<RtpStatistics> statistics;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (index.emplace(key_of(streams[i]), timelines.size()).second) {
            timelines.push_back(std::make_unique<StreamTimeline>(sink_for(i), timeline));
            statistics.emplace_back();
        }
    }
    CaptureScan counts;
    for_each_rtp(path, counts, [&](const RtpHeader& rtp, const UdpDatagram& udp, int64_t capture_us) {
        const auto it = index.find(key_of(rtp.ssrc, udp));
        if (it != index.end()) {
            timelines[it->second]->add(rtp, rtp.payload_type == scan.payload_type, capture_us);
            // Every payload type: they share the sequence numbers (telephone events, say).
            statistics[it->second].add(rtp.sequence, rtp.timestamp, capture_us);
        }
    });
    std::vector<StreamResult> results;
    for (const StreamInfo& s : streams) {
        const std::size_t at = index.at(key_of(s));
        StreamTimeline& t = *timelines[at];
        t.finish();
        results.push_back({s, t.stats(), statistics[at].result()});
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

g729eval::EModelResult g729_quality(const NetworkStats& n, double network_delay_ms) {
    g729eval::EModelInput in;
    in.loss_percent = n.lost_percent;
    in.burst_ratio = n.burst_ratio;
    in.one_way_delay_ms = g729eval::g729_one_way_delay_ms(n.packet_ms, n.jitter_mean_ms, network_delay_ms);
    return g729eval::e_model(in);
}

std::string summary_line(const StreamResult& r, double network_delay_ms) {
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
    const NetworkStats& n = r.network;
    char network[160];
    std::snprintf(network, sizeof network, "; network: %.2f%% lost, jitter %.1f ms (max %.1f ms), MOS %.2f",
                  n.lost_percent, n.jitter_mean_ms, n.jitter_max_ms, g729_quality(n, network_delay_ms).mos);
    return line + "; " + duration + network;
}

}  // namespace g729rtp
