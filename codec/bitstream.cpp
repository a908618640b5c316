// SPDX-License-Identifier: BSD-2-Clause
// Packing of parameter arrays into 10-byte speech frames and 2-byte SID frames, most
// significant bit first, and the pitch parity bit.
#include <cstring>

#include "codec/g729.h"

namespace {

int32_t top_six_ones(int32_t p1) {
    int32_t ones = 0;
    for (int bit = 2; bit < 8; ++bit) ones += (p1 >> bit) & 1;
    return ones;
}

void put_be32(uint8_t* out, uint32_t word) {
    out[0] = static_cast<uint8_t>(word >> 24);
    out[1] = static_cast<uint8_t>(word >> 16);
    out[2] = static_cast<uint8_t>(word >> 8);
    out[3] = static_cast<uint8_t>(word);
}

uint32_t get_be32(const uint8_t* in) {
    return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
           (static_cast<uint32_t>(in[2]) << 8) | static_cast<uint32_t>(in[3]);
}

uint32_t field(int32_t value, int bits) {
    return static_cast<uint32_t>(value) & ((1u << bits) - 1u);
}

}  // namespace

int32_t g729_pitch_parity(int32_t p1) { return (1 + top_six_ones(p1)) % 2; }

int32_t g729_pitch_parity_check(int32_t p1, int32_t received_p0) {
    return (1 + top_six_ones(p1) + (received_p0 & 1)) % 2;
}

int g729_pack_frame(const int32_t params[G729_PARAMS_SIZE], uint8_t* bytes, int32_t* byte_count) {
    if (params == nullptr || byte_count == nullptr) return G729_ERROR;
    const bool carries_bytes = params[0] == G729_FRAME_SPEECH || params[0] == G729_FRAME_SID;
    if (carries_bytes && bytes == nullptr) return G729_ERROR;
    if (params[0] == G729_FRAME_SPEECH) {
        const uint32_t c1 = field(params[5], 13);
        const uint32_t c2 = field(params[9], 13);
        const uint32_t w0 = (field(params[1], 8) << 24) | (field(params[2], 10) << 14) |
                            (field(params[3], 8) << 6) | (field(params[4], 1) << 5) | (c1 >> 8);
        const uint32_t w1 = ((c1 & 0xFFu) << 24) | (field(params[6], 4) << 20) |
                            (field(params[7], 7) << 13) | (field(params[8], 5) << 8) | (c2 >> 5);
        const uint32_t w2 = ((c2 & 0x1Fu) << 11) | (field(params[10], 4) << 7) | field(params[11], 7);
        put_be32(bytes, w0);
        put_be32(bytes + 4, w1);
        bytes[8] = static_cast<uint8_t>(w2 >> 8);
        bytes[9] = static_cast<uint8_t>(w2);
        *byte_count = G729_SPEECH_FRAME_BYTES;
    } else if (params[0] == G729_FRAME_SID) {
        const uint32_t w = (field(params[1], 1) << 15) | (field(params[2], 5) << 10) |
                           (field(params[3], 4) << 6) | (field(params[4], 5) << 1);
        bytes[0] = static_cast<uint8_t>(w >> 8);
        bytes[1] = static_cast<uint8_t>(w);
        *byte_count = G729_SID_FRAME_BYTES;
    } else {
        *byte_count = 0;
    }
    return G729_OK;
}

int g729_unpack_frame(int32_t decoded[G729_DECODED_PARAMS_SIZE], const uint8_t* bytes,
                      int32_t frame_type) {
    if (decoded == nullptr) return G729_ERROR;
    const bool carries_bytes = frame_type == G729_FRAME_SPEECH || frame_type == G729_FRAME_SID;
    if (carries_bytes && bytes == nullptr) return G729_ERROR;
    std::memset(decoded, 0, sizeof(int32_t) * G729_DECODED_PARAMS_SIZE);
    decoded[0] = 0;
    decoded[1] = frame_type;
    if (frame_type == G729_FRAME_SPEECH) {
        const uint32_t w0 = get_be32(bytes);
        const uint32_t w1 = get_be32(bytes + 4);
        const uint32_t w2 = (static_cast<uint32_t>(bytes[8]) << 8) | bytes[9];
        decoded[2] = static_cast<int32_t>(w0 >> 24);
        decoded[3] = static_cast<int32_t>((w0 >> 14) & 0x3FFu);
        decoded[4] = static_cast<int32_t>((w0 >> 6) & 0xFFu);
        const int32_t received_p0 = static_cast<int32_t>((w0 >> 5) & 1u);
        decoded[6] = static_cast<int32_t>(((w0 & 0x1Fu) << 8) | (w1 >> 24));
        decoded[7] = static_cast<int32_t>((w1 >> 20) & 0xFu);
        decoded[8] = static_cast<int32_t>((w1 >> 13) & 0x7Fu);
        decoded[9] = static_cast<int32_t>((w1 >> 8) & 0x1Fu);
        decoded[10] = static_cast<int32_t>(((w1 & 0xFFu) << 5) | (w2 >> 11));
        decoded[11] = static_cast<int32_t>((w2 >> 7) & 0xFu);
        decoded[12] = static_cast<int32_t>(w2 & 0x7Fu);
        decoded[5] = g729_pitch_parity_check(decoded[4], received_p0);
    } else if (frame_type == G729_FRAME_SID) {
        const uint32_t w = (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
        decoded[2] = static_cast<int32_t>(w >> 15);
        decoded[3] = static_cast<int32_t>((w >> 10) & 0x1Fu);
        decoded[4] = static_cast<int32_t>((w >> 6) & 0xFu);
        decoded[5] = static_cast<int32_t>((w >> 1) & 0x1Fu);
    } else {
        // No bytes for this frame: it is decoded as an erased frame.
        decoded[0] = 1;
        decoded[1] = G729_FRAME_NO_TRANSMISSION;
    }
    return G729_OK;
}
