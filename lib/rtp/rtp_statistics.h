// SPDX-License-Identifier: BSD-2-Clause
// The figures RTP analyzers show for a stream, from its packets in arrival order: packets
// expected and lost (RFC 3550 A.3), duplicates, reordering, sequence errors, interarrival
// jitter (RFC 3550 6.4.1 / A.8), the time between arrivals, and the loss runs the quality
// estimate needs. Works on sequence numbers, timestamps and capture times only; nothing is
// decoded, so it serves any payload type.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace g729rtp {

// One packet's jitter as it stood after the packet arrived (for charts over time).
struct JitterPoint {
    double time_s = 0;     // capture time since the stream's first packet
    double jitter_ms = 0;
};

struct NetworkStats {
    uint64_t packets = 0;          // received, duplicates included
    uint64_t expected = 0;         // extended highest - first sequence number + 1
    uint64_t lost = 0;             // expected - unique packets received (never below 0)
    double lost_percent = 0;       // lost / expected x 100
    uint64_t duplicates = 0;       // a sequence number already received
    uint64_t reordered = 0;        // arrived after a packet with a higher sequence number
    uint64_t sequence_errors = 0;  // jumps the reorder window cannot explain (restarts)
    double jitter_mean_ms = 0;     // RFC 3550 J after each packet, averaged over the packets
    double jitter_max_ms = 0;
    double delta_min_ms = 0;       // between consecutive arrivals
    double delta_mean_ms = 0;
    double delta_max_ms = 0;
    int64_t start_us = 0;          // first packet's capture time, microseconds since the epoch
    double duration_s = 0;         // first to last capture time
    double packet_ms = 0;          // packetization: the most common timestamp step / 8
    double burst_ratio = 1;        // mean observed loss run / mean run random loss would give
    std::vector<JitterPoint> jitter;  // one point per packet after the first
};

class RtpStatistics {
public:
    // clock_rate: RTP timestamp units per second (8000 for G.729).
    explicit RtpStatistics(int clock_rate = 8000);
    // One packet, in arrival order; capture_us is its capture time in microseconds.
    void add(uint16_t sequence, uint32_t timestamp, int64_t capture_us);
    NetworkStats result() const;

private:
    // Sequence numbers within this many after the highest are taken as progress (losses in
    // between), within this many before it as late or repeated packets; any other jump is a
    // sequence error (the values RFC 3550 A.1 suggests).
    static constexpr uint16_t max_dropout = 3000;
    static constexpr uint16_t max_misorder = 100;
    // Received flags of the latest sequence numbers: more than the misorder reach, so that
    // every number a packet may still arrive for is remembered.
    static constexpr int64_t window = 256;

    struct LossRuns {
        uint64_t current = 0;  // missing numbers in a row so far
        uint64_t runs = 0;     // runs ended
        uint64_t total = 0;    // their missing numbers
        void settle(bool received);
    };

    void start_numbering(uint16_t sequence, uint32_t timestamp);
    void close_numbering();
    void advance_to(int64_t extended);
    void update_jitter(uint32_t timestamp, int64_t capture_us);

    int clock_rate_;
    uint64_t packets_ = 0;
    uint64_t duplicates_ = 0;
    uint64_t reordered_ = 0;
    uint64_t sequence_errors_ = 0;

    // The current numbering: the sender's sequence numbers since the start or its last restart,
    // extended past 16 bits.
    bool started_ = false;
    uint16_t max_sequence_ = 0;
    uint32_t max_timestamp_ = 0;     // of the packet with the highest sequence number
    int64_t base_ = 0;               // lowest extended sequence number received
    int64_t highest_ = 0;
    uint64_t unique_ = 0;
    std::vector<bool> seen_ = std::vector<bool>(window, false);  // ring over the latest numbers
    int64_t settled_ = 0;            // loss runs are counted for every number below this
    LossRuns loss_runs_;
    // Numberings ended by a restart.
    uint64_t closed_expected_ = 0;
    uint64_t closed_unique_ = 0;
    // A packet far off the numbering, kept to see whether the next one follows it (a restart).
    bool stray_pending_ = false;
    uint16_t stray_sequence_ = 0;
    uint32_t stray_timestamp_ = 0;
    int64_t stray_us_ = 0;

    // Jitter (timestamp units) and its reference: the previous packet taken into account.
    double jitter_ = 0;
    uint32_t last_timestamp_ = 0;
    int64_t last_arrival_us_ = 0;
    double jitter_sum_ms_ = 0;
    double jitter_max_ms_ = 0;
    std::vector<JitterPoint> jitter_points_;

    // Arrivals.
    int64_t first_us_ = 0;
    int64_t previous_us_ = 0;
    int64_t min_us_ = 0;
    int64_t max_us_ = 0;
    double delta_min_ms_ = 0;
    double delta_max_ms_ = 0;

    // Timestamp steps between packets one sequence number apart, and how often each came
    // (a few distinct values: a stream has one packetization, rarely a handful).
    std::vector<std::pair<uint32_t, uint64_t>> steps_;
};

}  // namespace g729rtp
