// SPDX-License-Identifier: BSD-2-Clause
// The JSON form of a stream's figures, shared by the stream listing and the capture decoder:
// one object per stream with its SSRC, addresses, payload type, codec, network figures, the
// call-quality estimate of a G.729 stream and, after decoding, its frames by kind.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "lib/rtp/capture_decoder.h"

namespace g729rtp {

// "2026-12-09T21:56:14.123Z": a capture time (microseconds since the epoch) in UTC, to the
// millisecond.
std::string iso8601_utc(int64_t microseconds);

// The stream's object. codec: "G.729" when g729, else null; r_factor and mos are the estimate
// for a G.729 stream (null for others), with network_delay_ms of one-way network delay.
nlohmann::ordered_json stream_json(const StreamInfo& info, int payload_type, bool g729, const NetworkStats& network,
                           double network_delay_ms);

// A listed stream.
nlohmann::ordered_json stream_json(const RtpStream& stream, double network_delay_ms);

// A decoded G.729 stream, with "frames": {"speech", "sid", "lost", "pause"}.
nlohmann::ordered_json stream_json(const StreamResult& result, int payload_type, double network_delay_ms);

}  // namespace g729rtp
