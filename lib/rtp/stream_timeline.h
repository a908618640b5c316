// SPDX-License-Identifier: BSD-2-Clause
// One RTP stream's timeline: puts packets back in sequence order, drops duplicates, and
// decodes the stream so that every sample lands where its RTP timestamp puts it. Sequence
// gaps are concealed as lost frames, timestamp jumps after a SID (or whenever the sender
// shows it uses DTX) are decoded as comfort-noise pauses. The output is exactly as long as
// the timestamp span plus the last packet's duration.
//
// What is made up (concealment and comfort noise for gaps) never exceeds the time the
// stream's packets span on the capture clock plus one packet: a timestamp jump the capture
// clock does not show is counted and not filled. Received frames are always decoded. A packet
// whose timestamp does not advance past its predecessor's (a faulty sender) is decoded right
// after it, in sequence order, and counted.
//
// Memory stays bounded: only the reorder window's packets are held; decoded frames go
// straight to the sink.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <g729/g729.h>
#include "lib/rtp/frame_sink.h"
#include "lib/rtp/packet_parse.h"

namespace g729rtp {

struct TimelineOptions {
    // Packets held for reordering; a packet arriving after this many later ones is too late.
    std::size_t reorder_window = 64;
    // A forward timestamp jump beyond this many samples is not filled (a sender restart or a
    // corrupt timestamp would otherwise write hours of noise); it is counted instead.
    uint64_t max_gap_samples = 8000ull * 600;
    // A packet may overlap what was already decoded by this much (its overlapping samples are
    // not written again); a timestamp further back is a jump, counted and not filled.
    uint64_t max_overlap_samples = 8000;
};

struct StreamStats {
    uint64_t packets = 0;          // G.729 packets received, duplicates included
    uint64_t speech_frames = 0;
    uint64_t sid_frames = 0;
    uint64_t lost_frames = 0;      // concealed: missing or damaged packets
    uint64_t pause_frames = 0;     // comfort noise for untransmitted frames
    uint64_t duplicates = 0;
    uint64_t reordered = 0;        // arrived after a later packet, put back in place
    uint64_t late = 0;             // arrived after its place was already concealed; dropped
    uint64_t damaged = 0;          // payload length not N x 10 (+ 2) bytes
    uint64_t other_payload = 0;    // same SSRC, another payload type (e.g. telephone events)
    uint64_t skipped_jumps = 0;    // timestamp jumps beyond the limits, not filled
    uint64_t unconfirmed_jumps = 0;  // timestamp jumps longer than the capture clock shows
    uint64_t stuck_timestamps = 0;   // packets whose timestamp did not advance; decoded in order
    uint64_t samples = 0;          // written to the sink
};

class StreamTimeline {
public:
    explicit StreamTimeline(FrameSink& sink, TimelineOptions options = {});

    // A packet of the stream, captured at capture_us (microseconds on the capture clock). A
    // packet whose payload type is not the stream's only holds its sequence number (no loss),
    // and is not decoded.
    void add(const RtpHeader& packet, bool is_g729, int64_t capture_us);
    // Decodes what the reorder window still holds. Call once at the end.
    void finish();

    const StreamStats& stats() const { return stats_; }

private:
    struct Held {
        uint32_t timestamp = 0;
        bool marker = false;
        bool is_g729 = true;
        std::vector<uint8_t> payload;
    };

    int64_t extend(uint16_t sequence) const;
    void insert(int64_t seq, Held packet);
    void restart_numbering();
    void release(int64_t seq, const Held& packet);
    void place(int64_t position, int64_t seq_gap, bool marker, int64_t slack);
    int64_t fill_allowed(int64_t slack) const;
    void emit(FrameKind kind, const uint8_t* bytes, int length);
    bool was_released_and_received(int64_t seq) const;

    FrameSink& sink_;
    TimelineOptions options_;
    StreamStats stats_;
    std::unique_ptr<g729_decoder_state> decoder_;
    std::map<int64_t, Held> held_;

    // Sequence numbers, extended past 16 bits.
    bool started_ = false;
    bool released_any_ = false;
    int64_t highest_seq_ = 0;
    int64_t next_release_ = 0;      // every lower sequence number has been released
    std::vector<bool> received_;    // ring over recently released sequence numbers
    bool numbering_restarted_ = false;  // the next release has no sequence gap
    bool far_pending_ = false;      // a packet far behind the stream, kept aside
    uint16_t far_sequence_ = 0;
    Held far_packet_;

    // Timeline, in samples from the first decoded packet's timestamp.
    bool timeline_started_ = false;
    int64_t last_seq_ = 0;          // of the last released G.729 packet or placeholder
    uint32_t last_timestamp_ = 0;   // of the last released G.729 packet
    int64_t last_position_ = 0;     // its extended timestamp
    int64_t skipped_ = 0;           // samples of unfilled jumps
    int64_t cursor_ = 0;            // position of the next decoded sample
    int64_t written_ = 0;           // samples written: nothing before this is written again
    int64_t limit_ = -1;            // while filling a gap: write nothing past its end
    int64_t filled_ = 0;            // samples written for gaps (lost and pause frames)

    // Capture clock, in microseconds: first and latest capture time of the stream's packets.
    bool clock_started_ = false;
    int64_t first_capture_us_ = 0;
    int64_t latest_capture_us_ = 0;
    int last_frames_ = 0;           // frames in the last good packet
    bool last_damaged_ = false;
    bool last_ended_with_sid_ = false;
    bool sender_uses_dtx_ = false;
};

}  // namespace g729rtp
