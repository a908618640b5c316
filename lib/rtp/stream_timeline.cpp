// SPDX-License-Identifier: BSD-2-Clause
#include "lib/rtp/stream_timeline.h"

#include <algorithm>

namespace g729rtp {

namespace {

constexpr int frame_samples = G729_FRAME_SIZE;
constexpr std::size_t received_ring = 1024;  // sequence numbers remembered for duplicates

}  // namespace

const char* frame_kind_name(FrameKind kind) {
    switch (kind) {
    case FrameKind::speech: return "speech";
    case FrameKind::sid: return "SID";
    case FrameKind::lost: return "lost";
    case FrameKind::pause: return "pause";
    }
    return "?";
}

StreamTimeline::StreamTimeline(FrameSink& sink, TimelineOptions options)
    : sink_(sink),
      options_(options),
      decoder_(std::make_unique<g729_decoder_state>()),
      received_(received_ring, false) {
    options_.reorder_window = std::max<std::size_t>(options_.reorder_window, 1);
    g729_decoder_init(decoder_.get());
}

bool StreamTimeline::was_released_and_received(int64_t seq) const {
    if (next_release_ - seq > static_cast<int64_t>(received_ring)) return false;
    return received_[static_cast<std::size_t>(seq) % received_ring];
}

void StreamTimeline::add(const RtpHeader& packet, bool is_g729, int64_t capture_us) {
    if (!clock_started_) {
        clock_started_ = true;
        first_capture_us_ = latest_capture_us_ = capture_us;
    }
    latest_capture_us_ = std::max(latest_capture_us_, capture_us);
    if (is_g729) {
        ++stats_.packets;
    } else {
        ++stats_.other_payload;
    }
    Held h;
    h.timestamp = packet.timestamp;
    h.marker = packet.marker;
    h.is_g729 = is_g729;
    h.payload.assign(packet.payload.begin(), packet.payload.end());

    const int64_t seq = extend(packet.sequence);
    if (started_ && highest_seq_ - seq > static_cast<int64_t>(received_ring)) {
        // Far behind the stream: a stray packet, or the sender started its sequence numbers
        // anew. Two in a row mean a new start.
        if (far_pending_ && packet.sequence == static_cast<uint16_t>(far_sequence_ + 1)) {
            --stats_.late;
            restart_numbering();
            insert(extend(far_sequence_), std::move(far_packet_));
            insert(extend(packet.sequence), std::move(h));
            far_pending_ = false;
            return;
        }
        far_pending_ = true;
        far_sequence_ = packet.sequence;
        far_packet_ = std::move(h);
        ++stats_.late;
        return;
    }
    if (released_any_ && seq < next_release_) {
        if (was_released_and_received(seq)) {
            ++stats_.duplicates;
        } else {
            ++stats_.late;
        }
        return;
    }
    far_pending_ = false;
    if (held_.contains(seq)) {
        ++stats_.duplicates;
        return;
    }
    if (started_ && seq < highest_seq_) ++stats_.reordered;
    insert(seq, std::move(h));
}

int64_t StreamTimeline::extend(uint16_t sequence) const {
    if (!started_) return sequence;
    // The sequence number nearest the highest one seen: wrap-around in either direction.
    const auto delta =
        static_cast<int16_t>(static_cast<uint16_t>(sequence - static_cast<uint16_t>(highest_seq_)));
    return highest_seq_ + delta;
}

void StreamTimeline::insert(int64_t seq, Held packet) {
    if (!started_ || seq > highest_seq_) highest_seq_ = seq;
    started_ = true;
    held_[seq] = std::move(packet);
    while (held_.size() > options_.reorder_window) {
        auto first = held_.begin();
        release(first->first, first->second);
        held_.erase(first);
    }
}

void StreamTimeline::restart_numbering() {
    for (const auto& [seq, packet] : held_) release(seq, packet);
    held_.clear();
    started_ = false;
    released_any_ = false;
    numbering_restarted_ = true;
}

void StreamTimeline::finish() {
    for (const auto& [seq, packet] : held_) {
        release(seq, packet);
    }
    held_.clear();
    if (timeline_started_ && last_damaged_) {
        // The damaged last packet's duration is unknown: take the last good packet's.
        const int frames = last_frames_ > 0 ? last_frames_ : 2;
        const int64_t length = std::min<int64_t>(frames * frame_samples, fill_allowed(frames * frame_samples));
        limit_ = cursor_ + length;
        for (int64_t i = 0; i < (length + frame_samples - 1) / frame_samples; ++i) {
            emit(FrameKind::lost, nullptr, 0);
        }
        limit_ = -1;
        last_damaged_ = false;
    }
}

void StreamTimeline::release(int64_t seq, const Held& packet) {
    // Remember which of the recent sequence numbers arrived, to tell duplicates from late
    // packets.
    if (released_any_) {
        const int64_t missing = std::min<int64_t>(seq - next_release_, received_ring);
        for (int64_t k = 0; k < missing; ++k) {
            received_[static_cast<std::size_t>(seq - 1 - k) % received_ring] = false;
        }
    }
    received_[static_cast<std::size_t>(seq) % received_ring] = true;
    next_release_ = seq + 1;
    released_any_ = true;

    const int64_t seq_gap = timeline_started_ && !numbering_restarted_ ? seq - last_seq_ - 1 : 0;
    numbering_restarted_ = false;
    last_seq_ = seq;
    if (!packet.is_g729) return;  // holds its sequence number only

    const std::size_t length = packet.payload.size();
    const int speech = static_cast<int>(length / G729_SPEECH_FRAME_BYTES);
    const std::size_t rest = length % G729_SPEECH_FRAME_BYTES;
    const bool damaged = length == 0 || (rest != 0 && rest != G729_SID_FRAME_BYTES);

    int64_t position = 0;
    if (timeline_started_) {
        // Timestamps advance modulo 2^32: the signed difference handles wrap-around.
        const int64_t step = static_cast<int32_t>(static_cast<uint32_t>(packet.timestamp - last_timestamp_));
        if (step <= 0 && -step <= static_cast<int64_t>(options_.max_overlap_samples)) {
            // Not later than the previous packet: a sender whose clock is stuck or runs
            // backwards. Its frames follow what was decoded, in sequence order.
            ++stats_.stuck_timestamps;
            position = cursor_ + skipped_;
        } else {
            position = last_position_ + step;
        }
    }
    timeline_started_ = true;
    last_timestamp_ = packet.timestamp;
    last_position_ = position;
    // The packet's own length is the margin of the capture-clock bound for the gap before it.
    const int own = damaged ? (last_frames_ > 0 ? last_frames_ : 2)
                            : speech + (rest == G729_SID_FRAME_BYTES ? 1 : 0);
    place(position, seq_gap, packet.marker, int64_t{own} * frame_samples);

    if (damaged) {
        ++stats_.damaged;
        last_damaged_ = true;
        return;
    }
    const uint8_t* bytes = packet.payload.data();
    for (int i = 0; i < speech; ++i) {
        emit(FrameKind::speech, bytes + i * G729_SPEECH_FRAME_BYTES, G729_SPEECH_FRAME_BYTES);
    }
    last_ended_with_sid_ = rest == G729_SID_FRAME_BYTES;
    if (last_ended_with_sid_) {
        emit(FrameKind::sid, bytes + speech * G729_SPEECH_FRAME_BYTES, G729_SID_FRAME_BYTES);
        sender_uses_dtx_ = true;
    }
    last_frames_ = speech + (last_ended_with_sid_ ? 1 : 0);
    last_damaged_ = false;
}

int64_t StreamTimeline::fill_allowed(int64_t slack) const {
    // Microseconds to samples at 8 kHz.
    const int64_t span = (latest_capture_us_ - first_capture_us_) * 8 / 1000;
    return std::max<int64_t>(0, span + slack - filled_);
}

void StreamTimeline::place(int64_t position, int64_t seq_gap, bool marker, int64_t slack) {
    int64_t target = position - skipped_;
    int64_t gap = target - cursor_;
    if (gap > static_cast<int64_t>(options_.max_gap_samples) ||
        gap < -static_cast<int64_t>(options_.max_overlap_samples)) {
        ++stats_.skipped_jumps;
        skipped_ += gap;
        return;
    }
    if (gap > 0 && gap > fill_allowed(slack)) {
        // Longer than the capture clock shows: fill only what it shows.
        ++stats_.unconfirmed_jumps;
        const int64_t allowed = fill_allowed(slack);
        skipped_ += gap - allowed;
        target -= gap - allowed;
        gap = allowed;
    }
    if (gap > 0) {
        const int64_t frames = (gap + frame_samples - 1) / frame_samples;
        // Missing packets are taken to be as long as the last good one; the rest of the gap
        // is a pause when the sender uses DTX, else more concealment.
        int64_t lost = 0;
        if (last_damaged_) {
            lost = frames;
        } else if (seq_gap > 0) {
            lost = std::min<int64_t>(frames, seq_gap * std::max(last_frames_, 1));
        }
        const bool pause = last_ended_with_sid_ || sender_uses_dtx_ || marker;
        limit_ = target;
        for (int64_t i = 0; i < frames; ++i) {
            emit(i < lost || !pause ? FrameKind::lost : FrameKind::pause, nullptr, 0);
        }
        limit_ = -1;
    }
    // A gap ends at the packet's timestamp; overlapping timestamps move back, and what was
    // already written is not written again.
    cursor_ = target;
}

void StreamTimeline::emit(FrameKind kind, const uint8_t* bytes, int length) {
    int16_t pcm[frame_samples] = {};
    switch (kind) {
    case FrameKind::speech:
        ++stats_.speech_frames;
        g729_decode_frame(decoder_.get(), pcm, bytes, length);
        break;
    case FrameKind::sid:
        ++stats_.sid_frames;
        g729_decode_frame(decoder_.get(), pcm, bytes, length);
        break;
    case FrameKind::lost:
        ++stats_.lost_frames;
        g729_decode_lost_frame(decoder_.get(), pcm);
        break;
    case FrameKind::pause:
        ++stats_.pause_frames;
        g729_decode_untransmitted_frame(decoder_.get(), pcm);
        break;
    }
    const int64_t start = cursor_;
    const int64_t from = std::max(start, written_);
    const int64_t to = limit_ >= 0 ? std::min(start + frame_samples, limit_) : start + frame_samples;
    if (to > from) {
        sink_.frame(kind, std::span<const int16_t>(pcm + (from - start),
                                                   static_cast<std::size_t>(to - from)));
        stats_.samples += static_cast<uint64_t>(to - from);
        if (kind == FrameKind::lost || kind == FrameKind::pause) filled_ += to - from;
        written_ = to;
    }
    cursor_ += frame_samples;
}

}  // namespace g729rtp
