// SPDX-License-Identifier: BSD-2-Clause
// Reading one ITU serial frame from any byte source: the whole-buffer parser and the streaming
// reader share it, so both give the same frames and the same messages.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "lib/io/coded_io.h"

namespace g729io {

// A byte source over memory, with the read() and offset() of InputStream.
class SpanSource {
public:
    explicit SpanSource(std::span<const uint8_t> data) : data_(data) {}
    std::size_t read(uint8_t* out, std::size_t n) {
        const std::size_t k = std::min(n, data_.size() - pos_);
        if (k == 0) return 0;  // an empty span may have no data pointer at all
        std::memcpy(out, data_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    uint64_t offset() const { return pos_; }

private:
    std::span<const uint8_t> data_;
    std::size_t pos_ = 0;
};

namespace itu_detail {

inline uint16_t word_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline std::string hex4(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
}

inline std::string where(std::string_view name, std::size_t frame_index, uint64_t offset) {
    return std::string(name) + ": frame " + std::to_string(frame_index + 1) + " at byte offset " +
           std::to_string(offset) + ": ";
}

inline void set_bit(uint8_t* bytes, int k) {
    bytes[k / 8] = static_cast<uint8_t>(bytes[k / 8] | (0x80 >> (k % 8)));
}

}  // namespace itu_detail

// Reads the next frame. Returns false at the clean end of the input (error stays empty) or at
// the first problem (error names it; nothing after the faulty header or word is read).
template <class Source>
bool next_itu_frame(Source& source, std::string_view name, std::size_t index, CodedFrame& frame,
                    std::string& error) {
    using namespace itu_detail;
    const uint64_t pos = source.offset();
    uint8_t header[4];
    const std::size_t got = source.read(header, sizeof header);
    if (got == 0) return false;
    if (got < sizeof header) {
        error = where(name, index, pos) + "truncated frame (header needs 4 bytes, " +
                std::to_string(got) + " left)";
        return false;
    }
    const uint16_t sync = word_at(header);
    const uint16_t length = word_at(header + 2);
    if (sync != itu_sync_received && sync != itu_sync_lost) {
        error = where(name, index, pos) + "unknown sync word " + hex4(sync) +
                " (expected 0x6B21 or 0x6B20)";
        return false;
    }
    if (length != itu_speech_bits && length != itu_sid_bits && length != 0) {
        error = where(name, index, pos) + "length word " + std::to_string(length) +
                ", expected 80, 16 or 0";
        return false;
    }
    uint8_t words[2 * itu_speech_bits];
    const std::size_t word_bytes = 2 * static_cast<std::size_t>(length);
    const std::size_t got_words = source.read(words, word_bytes);
    if (got_words < word_bytes) {
        error = where(name, index, pos) + "truncated frame (needs " + std::to_string(4 + word_bytes) +
                " bytes, " + std::to_string(4 + got_words) + " left)";
        return false;
    }

    uint8_t bytes[speech_frame_bytes] = {};
    int erased_words = 0;
    for (int k = 0; k < length; ++k) {
        const uint16_t w = word_at(words + 2 * k);
        if (w == itu_bit_one) {
            // The final bit of a SID frame is padding and always reads as 0.
            if (k < 15 || length == itu_speech_bits) set_bit(bytes, k);
        } else if (w == itu_bit_erased) {
            ++erased_words;
        } else if (w != itu_bit_zero) {
            error = where(name, index, pos + 4 + 2 * static_cast<uint64_t>(k)) +
                    "unknown bit word " + hex4(w) + " (expected 0x007F or 0x0081)";
            return false;
        }
    }
    if (erased_words != 0 && erased_words != length) {
        error = where(name, index, pos) + "mixes erased (0x0000) and valid bit words";
        return false;
    }

    if (sync == itu_sync_lost || (length != 0 && erased_words == length)) {
        frame = CodedFrame::lost();
    } else if (length == itu_speech_bits) {
        frame = CodedFrame::speech(bytes);
    } else if (length == itu_sid_bits) {
        frame = CodedFrame::sid(bytes);
    } else {
        frame = CodedFrame::untransmitted();
    }
    return true;
}

}  // namespace g729io
