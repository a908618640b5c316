// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/stream_json.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace g729rtp {

namespace {

// Figures to a fixed number of decimals: measurements, not binary fractions.
double rounded(double value, int decimals) {
    if (!std::isfinite(value)) return 0;
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

}  // namespace

std::string iso8601_utc(int64_t microseconds) {
    int64_t seconds = microseconds / 1000000;
    int64_t rest = microseconds % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return "";
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(rest / 1000));
    return text;
}

nlohmann::ordered_json stream_json(const StreamInfo& info, int payload_type, bool g729, const NetworkStats& n,
                           double network_delay_ms) {
    nlohmann::ordered_json j;
    j["ssrc"] = ssrc_hex(info.ssrc);
    j["src"] = info.src.to_string();
    j["dst"] = info.dst.to_string();
    j["payload_type"] = payload_type;
    j["codec"] = g729 ? nlohmann::ordered_json("G.729") : nlohmann::ordered_json(nullptr);
    j["packets"] = n.packets;
    j["expected"] = n.expected;
    j["lost"] = n.lost;
    j["lost_percent"] = rounded(n.lost_percent, 3);
    j["duplicates"] = n.duplicates;
    j["reordered"] = n.reordered;
    j["sequence_errors"] = n.sequence_errors;
    j["jitter_ms"] = {{"mean", rounded(n.jitter_mean_ms, 3)}, {"max", rounded(n.jitter_max_ms, 3)}};
    j["delta_ms"] = {{"min", rounded(n.delta_min_ms, 3)},
                     {"mean", rounded(n.delta_mean_ms, 3)},
                     {"max", rounded(n.delta_max_ms, 3)}};
    j["start"] = iso8601_utc(n.start_us);
    j["duration_s"] = rounded(n.duration_s, 3);
    if (g729) {
        const g729eval::EModelResult q = g729_quality(n, network_delay_ms);
        j["r_factor"] = rounded(q.r_factor, 2);
        j["mos"] = rounded(q.mos, 2);
    } else {
        j["r_factor"] = nullptr;
        j["mos"] = nullptr;
    }
    return j;
}

nlohmann::ordered_json stream_json(const RtpStream& s, double network_delay_ms) {
    return stream_json(s.info, s.payload_type, s.looks_g729, s.network, network_delay_ms);
}

nlohmann::ordered_json stream_json(const StreamResult& r, int payload_type, double network_delay_ms) {
    nlohmann::ordered_json j = stream_json(r.info, payload_type, true, r.network, network_delay_ms);
    j["frames"] = {{"speech", r.stats.speech_frames},
                   {"sid", r.stats.sid_frames},
                   {"lost", r.stats.lost_frames},
                   {"pause", r.stats.pause_frames}};
    return j;
}

}  // namespace g729rtp
