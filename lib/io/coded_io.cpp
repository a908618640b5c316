// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/coded_io.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "lib/io/file_io.h"
#include "lib/io/itu_frame_parser.h"

namespace g729io {

namespace {

void put_word(std::vector<uint8_t>& out, uint16_t w) {
    out.push_back(static_cast<uint8_t>(w & 0xff));
    out.push_back(static_cast<uint8_t>(w >> 8));
}

// Bit k of a frame: bit 0 is the most significant bit of byte 0.
int get_bit(const uint8_t* bytes, int k) { return (bytes[k / 8] >> (7 - k % 8)) & 1; }

}  // namespace

CodedFrame CodedFrame::speech(const uint8_t* b) {
    CodedFrame f;
    f.kind = FrameKind::speech;
    std::copy(b, b + speech_frame_bytes, f.bytes.begin());
    return f;
}

CodedFrame CodedFrame::sid(const uint8_t* b) {
    CodedFrame f;
    f.kind = FrameKind::sid;
    f.bytes[0] = b[0];
    f.bytes[1] = static_cast<uint8_t>(b[1] & 0xfe);  // the 16th bit is always 0
    return f;
}

CodedFrame CodedFrame::untransmitted() {
    CodedFrame f;
    f.kind = FrameKind::untransmitted;
    return f;
}

CodedFrame CodedFrame::lost() { return CodedFrame{}; }

CodedFrame CodedFrame::from_encoder(const uint8_t* b, int32_t byte_count) {
    switch (byte_count) {
    case speech_frame_bytes: return speech(b);
    case sid_frame_bytes: return sid(b);
    case 0: return untransmitted();
    default:
        throw std::invalid_argument("encoder produced " + std::to_string(byte_count) +
                                    " bytes; expected 10, 2 or 0");
    }
}

int CodedFrame::payload_bytes() const {
    switch (kind) {
    case FrameKind::speech: return speech_frame_bytes;
    case FrameKind::sid: return sid_frame_bytes;
    default: return 0;
    }
}

const char* kind_name(FrameKind kind) {
    switch (kind) {
    case FrameKind::speech: return "speech";
    case FrameKind::sid: return "SID";
    case FrameKind::untransmitted: return "untransmitted";
    case FrameKind::lost: return "lost";
    }
    return "?";
}

CodedStream parse_itu(std::span<const uint8_t> data, std::string_view name) {
    CodedStream out;
    SpanSource source(data);
    CodedFrame frame;
    while (next_itu_frame(source, name, out.frames.size(), frame, out.error)) {
        out.frames.push_back(frame);
    }
    return out;
}

void append_itu(std::vector<uint8_t>& out, const CodedFrame& frame) {
    switch (frame.kind) {
    case FrameKind::speech:
        put_word(out, itu_sync_received);
        put_word(out, itu_speech_bits);
        for (int k = 0; k < itu_speech_bits; ++k) {
            put_word(out, get_bit(frame.bytes.data(), k) ? itu_bit_one : itu_bit_zero);
        }
        break;
    case FrameKind::sid:
        put_word(out, itu_sync_received);
        put_word(out, itu_sid_bits);
        for (int k = 0; k < itu_sid_bits - 1; ++k) {
            put_word(out, get_bit(frame.bytes.data(), k) ? itu_bit_one : itu_bit_zero);
        }
        put_word(out, itu_bit_zero);
        break;
    case FrameKind::untransmitted:
        put_word(out, itu_sync_received);
        put_word(out, 0);
        break;
    case FrameKind::lost:
        // Both markings: the lost sync word and erased bit words.
        put_word(out, itu_sync_lost);
        put_word(out, itu_speech_bits);
        for (int k = 0; k < itu_speech_bits; ++k) {
            put_word(out, itu_bit_erased);
        }
        break;
    }
}

std::vector<uint8_t> format_itu(std::span<const CodedFrame> frames) {
    std::vector<uint8_t> out;
    out.reserve(frames.size() * (4 + 2 * itu_speech_bits));
    for (const CodedFrame& f : frames) {
        append_itu(out, f);
    }
    return out;
}

CodedStream parse_raw(std::span<const uint8_t> data, std::string_view name) {
    CodedStream out;
    const std::size_t complete = data.size() / speech_frame_bytes;
    out.frames.reserve(complete);
    for (std::size_t i = 0; i < complete; ++i) {
        out.frames.push_back(CodedFrame::speech(data.data() + i * speech_frame_bytes));
    }
    const std::size_t rest = data.size() % speech_frame_bytes;
    if (rest != 0) {
        const std::size_t offset = complete * speech_frame_bytes;
        out.error = std::string(name) + ": partial frame at byte offset " +
                    std::to_string(offset) + " (" + std::to_string(rest) + " of 10 bytes)";
    }
    return out;
}

std::vector<uint8_t> format_raw(std::span<const CodedFrame> frames) {
    std::vector<uint8_t> out;
    out.reserve(frames.size() * speech_frame_bytes);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].kind != FrameKind::speech) {
            throw IoError("frame " + std::to_string(i + 1) + " is " + kind_name(frames[i].kind) +
                          "; the raw format carries speech frames only");
        }
        out.insert(out.end(), frames[i].bytes.begin(), frames[i].bytes.end());
    }
    return out;
}

}  // namespace g729io
