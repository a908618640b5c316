// SPDX-License-Identifier: BSD-2-Clause
// Coded streams: raw concatenated 10-byte frames and the ITU serial format.
//
// ITU serial format: per frame, 16-bit little-endian words: a sync word (0x6B21 received,
// 0x6B20 lost), a length word (80 speech, 16 SID, 0 untransmitted) and that many bit words
// (0x007F a 0 bit, 0x0081 a 1 bit, MSB of byte 0 first). A frame whose bit words are all
// 0x0000 is an erased frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace g729io {

enum class FrameKind { speech, sid, untransmitted, lost };

inline constexpr int speech_frame_bytes = 10;
inline constexpr int sid_frame_bytes = 2;

inline constexpr uint16_t itu_sync_received = 0x6B21;
inline constexpr uint16_t itu_sync_lost = 0x6B20;
inline constexpr uint16_t itu_bit_zero = 0x007F;
inline constexpr uint16_t itu_bit_one = 0x0081;
inline constexpr uint16_t itu_bit_erased = 0x0000;
inline constexpr int itu_speech_bits = 80;
inline constexpr int itu_sid_bits = 16;  // 15 bits and a final 0

struct CodedFrame {
    FrameKind kind = FrameKind::lost;
    std::array<uint8_t, speech_frame_bytes> bytes{};  // 10 used by speech, 2 by SID

    static CodedFrame speech(const uint8_t* b);
    static CodedFrame sid(const uint8_t* b);
    static CodedFrame untransmitted();
    static CodedFrame lost();
    // From an encoder output of 10, 2 or 0 bytes; any other count throws std::invalid_argument.
    static CodedFrame from_encoder(const uint8_t* b, int32_t byte_count);

    int payload_bytes() const;
    bool operator==(const CodedFrame&) const = default;
};

const char* kind_name(FrameKind kind);

// Parse result: the frames read before the first problem, and a one-line message naming the
// problem (empty when the whole input was read).
struct CodedStream {
    std::vector<CodedFrame> frames;
    std::string error;
    bool ok() const { return error.empty(); }
};

// Whole-buffer parsing and formatting, for inputs known to be small. name is used in messages
// only.
CodedStream parse_itu(std::span<const uint8_t> data, std::string_view name);
void append_itu(std::vector<uint8_t>& out, const CodedFrame& frame);
std::vector<uint8_t> format_itu(std::span<const CodedFrame> frames);

CodedStream parse_raw(std::span<const uint8_t> data, std::string_view name);
// Raw frames carry speech only: any other frame kind throws IoError.
std::vector<uint8_t> format_raw(std::span<const CodedFrame> frames);

}  // namespace g729io
