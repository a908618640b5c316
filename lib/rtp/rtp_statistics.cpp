// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/rtp_statistics.h"

#include <algorithm>
#include <cmath>

namespace g729rtp {

// How the counts relate: every packet counts in `packets`. Of them, a sequence number already
// received is a duplicate; a number below the highest one received, not received before, is
// reordered (and counts as received); and a number off the numbering by more than the
// dropout or misorder reach is a sequence error. Such a packet is kept aside: when the next
// packet follows it (its number + 1), the sender has started its numbering anew, and the
// numbering so far is closed and a new one starts with the two packets (one sequence error
// for the restart); otherwise it stays a stray packet, one sequence error, outside `expected`.
// `expected` adds up the closed numberings and the current one, each as its highest extended
// number minus its lowest plus one, so the gap of a restart is never counted as loss. `lost`
// is expected minus the unique packets received, duplicates and strays not counted.

void RtpStatistics::LossRuns::settle(bool received) {
    if (!received) {
        ++current;
    } else if (current != 0) {
        ++runs;
        total += current;
        current = 0;
    }
}

RtpStatistics::RtpStatistics(int clock_rate) : clock_rate_(clock_rate > 0 ? clock_rate : 8000) {}

void RtpStatistics::start_numbering(uint16_t sequence, uint32_t timestamp) {
    max_sequence_ = sequence;
    max_timestamp_ = timestamp;
    // Extended numbers start one wrap up, so that packets arriving late for numbers below
    // the first one never make them negative.
    base_ = highest_ = settled_ = 65536 + static_cast<int64_t>(sequence);
    std::fill(seen_.begin(), seen_.end(), false);
    seen_[static_cast<std::size_t>(highest_ % window)] = true;
    unique_ = 1;
}

void RtpStatistics::close_numbering() {
    for (; settled_ <= highest_; ++settled_) {
        loss_runs_.settle(seen_[static_cast<std::size_t>(settled_ % window)]);
    }
    closed_expected_ += static_cast<uint64_t>(highest_ - base_ + 1);
    closed_unique_ += unique_;
}

// Moves the highest number up: the numbers leaving the ring are settled for the loss runs
// (nothing can arrive for them any more: they are beyond the misorder reach).
void RtpStatistics::advance_to(int64_t extended) {
    for (int64_t n = highest_ + 1; n <= extended; ++n) {
        const int64_t leaving = n - window;
        if (leaving >= settled_) {
            for (; settled_ <= leaving; ++settled_) {
                loss_runs_.settle(seen_[static_cast<std::size_t>(settled_ % window)]);
            }
        }
        seen_[static_cast<std::size_t>(n % window)] = false;
    }
    highest_ = extended;
}

// RFC 3550 6.4.1: D = (R_i - R_j) - (S_i - S_j) in timestamp units, J += (|D| - J) / 16.
void RtpStatistics::update_jitter(uint32_t timestamp, int64_t capture_us) {
    const double arrival_units =
        static_cast<double>(capture_us - last_arrival_us_) * clock_rate_ / 1e6;
    const auto sent_units = static_cast<double>(static_cast<int32_t>(timestamp - last_timestamp_));
    jitter_ += (std::fabs(arrival_units - sent_units) - jitter_) / 16.0;
    last_timestamp_ = timestamp;
    last_arrival_us_ = capture_us;
}

void RtpStatistics::add(uint16_t sequence, uint32_t timestamp, int64_t capture_us) {
    ++packets_;
    if (packets_ == 1) {
        first_us_ = previous_us_ = min_us_ = max_us_ = capture_us;
        started_ = true;
        start_numbering(sequence, timestamp);
        last_timestamp_ = timestamp;
        last_arrival_us_ = capture_us;
        return;
    }
    const double delta_ms = static_cast<double>(capture_us - previous_us_) / 1000.0;
    if (packets_ == 2) {
        delta_min_ms_ = delta_max_ms_ = delta_ms;
    } else {
        delta_min_ms_ = std::min(delta_min_ms_, delta_ms);
        delta_max_ms_ = std::max(delta_max_ms_, delta_ms);
    }
    previous_us_ = capture_us;
    min_us_ = std::min(min_us_, capture_us);
    max_us_ = std::max(max_us_, capture_us);

    const auto step = static_cast<uint16_t>(sequence - max_sequence_);
    bool counted = true;  // in the numbering, and so in the jitter
    if (step == 0) {
        ++duplicates_;
    } else if (step < max_dropout) {
        if (step == 1) {
            const uint32_t ts_step = timestamp - max_timestamp_;
            if (static_cast<int32_t>(ts_step) > 0) {
                auto it = std::find_if(steps_.begin(), steps_.end(),
                                       [&](const auto& s) { return s.first == ts_step; });
                if (it != steps_.end()) {
                    ++it->second;
                } else if (steps_.size() < 32) {
                    steps_.emplace_back(ts_step, 1);
                }
            }
        }
        advance_to(highest_ + step);
        seen_[static_cast<std::size_t>(highest_ % window)] = true;
        ++unique_;
        max_sequence_ = sequence;
        max_timestamp_ = timestamp;
    } else if (step <= 65536 - max_misorder) {
        if (stray_pending_ && sequence == static_cast<uint16_t>(stray_sequence_ + 1)) {
            // The sender numbers anew from the stray packet on: it opens the new numbering, and
            // the jitter goes on from it (its timestamps need not follow the old ones).
            close_numbering();
            start_numbering(stray_sequence_, stray_timestamp_);
            advance_to(highest_ + 1);
            seen_[static_cast<std::size_t>(highest_ % window)] = true;
            ++unique_;
            max_sequence_ = sequence;
            max_timestamp_ = timestamp;
            last_timestamp_ = stray_timestamp_;
            last_arrival_us_ = stray_us_;
            stray_pending_ = false;
        } else {
            ++sequence_errors_;
            stray_pending_ = true;
            stray_sequence_ = sequence;
            stray_timestamp_ = timestamp;
            stray_us_ = capture_us;
            counted = false;
        }
    } else {
        // Behind the highest number, within the misorder reach (less than the ring).
        const int64_t extended = highest_ - (65536 - step);
        const auto slot = static_cast<std::size_t>(extended % window);
        if (extended < base_) {
            // Earlier than the first packet of the numbering: the numbering starts here.
            base_ = settled_ = extended;
            seen_[slot] = true;
            ++unique_;
            ++reordered_;
        } else if (seen_[slot]) {
            ++duplicates_;
        } else {
            seen_[slot] = true;
            ++unique_;
            ++reordered_;
        }
    }
    if (counted) {
        stray_pending_ = false;
        update_jitter(timestamp, capture_us);
    }
    const double jitter_ms = jitter_ * 1000.0 / clock_rate_;
    jitter_sum_ms_ += jitter_ms;
    jitter_max_ms_ = std::max(jitter_max_ms_, jitter_ms);
    jitter_points_.push_back({static_cast<double>(capture_us - first_us_) / 1e6, jitter_ms});
}

NetworkStats RtpStatistics::result() const {
    NetworkStats s;
    s.packets = packets_;
    if (!started_) return s;
    s.duplicates = duplicates_;
    s.reordered = reordered_;
    s.sequence_errors = sequence_errors_;
    s.expected = closed_expected_ + static_cast<uint64_t>(highest_ - base_ + 1);
    const uint64_t unique = closed_unique_ + unique_;
    s.lost = s.expected > unique ? s.expected - unique : 0;
    s.lost_percent = 100.0 * static_cast<double>(s.lost) / static_cast<double>(s.expected);

    // The loss runs still open in the ring end here: the highest number was received.
    LossRuns runs = loss_runs_;
    for (int64_t n = settled_; n <= highest_; ++n) {
        runs.settle(seen_[static_cast<std::size_t>(n % window)]);
    }
    if (runs.runs != 0 && s.lost_percent < 100.0) {
        // Random loss at this rate would give runs of 1 / (1 - Ppl/100) on average.
        const double observed = static_cast<double>(runs.total) / static_cast<double>(runs.runs);
        s.burst_ratio = observed * (1.0 - s.lost_percent / 100.0);
    }

    const auto points = static_cast<double>(jitter_points_.size());
    if (!jitter_points_.empty()) {
        s.jitter_mean_ms = jitter_sum_ms_ / points;
        s.jitter_max_ms = jitter_max_ms_;
        s.delta_min_ms = delta_min_ms_;
        s.delta_max_ms = delta_max_ms_;
        s.delta_mean_ms = static_cast<double>(previous_us_ - first_us_) / 1000.0 / points;
    }
    s.jitter = jitter_points_;
    s.start_us = first_us_;
    s.duration_s = static_cast<double>(max_us_ - min_us_) / 1e6;
    if (!steps_.empty()) {
        const auto most = std::max_element(steps_.begin(), steps_.end(), [](const auto& a, const auto& b) {
            return a.second != b.second ? a.second < b.second : a.first > b.first;
        });
        s.packet_ms = static_cast<double>(most->first) * 1000.0 / clock_rate_;
    }
    return s;
}

}  // namespace g729rtp
