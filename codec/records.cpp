// SPDX-License-Identifier: BSD-2-Clause
// The records' sizes for callers that cannot use sizeof (FFI), records the library allocates,
// and the split of an RTP payload into its units.
#include <cstdlib>

#include "codec/g729.h"

// GCC folds the two destroy calls, identical, into one; the folded one's debug information
// then has no address, and the ABI tools (scripts/check-abi.sh) would miss its declaration.
#if defined(__GNUC__) && !defined(__clang__)
#define G729_NOT_FOLDED __attribute__((noipa))
#else
#define G729_NOT_FOLDED
#endif

size_t g729_encoder_size(void) { return sizeof(g729_encoder_state); }

size_t g729_decoder_size(void) { return sizeof(g729_decoder_state); }

g729_encoder_state* g729_encoder_create(int dtx_flag) {
    auto* st = static_cast<g729_encoder_state*>(std::malloc(sizeof(g729_encoder_state)));
    if (st != nullptr) g729_encoder_init(st, dtx_flag);
    return st;
}

G729_NOT_FOLDED void g729_encoder_destroy(g729_encoder_state* st) { std::free(st); }

g729_decoder_state* g729_decoder_create(void) {
    auto* st = static_cast<g729_decoder_state*>(std::malloc(sizeof(g729_decoder_state)));
    if (st != nullptr) g729_decoder_init(st);
    return st;
}

G729_NOT_FOLDED void g729_decoder_destroy(g729_decoder_state* st) { std::free(st); }

int g729_payload_units(size_t payload_length, int32_t unit_lengths[], int capacity) {
    if (unit_lengths == nullptr || capacity < 0) return G729_ERROR;
    // Speech frames first, then at most one SID frame: the remainder is 0 or 2 bytes.
    const size_t remainder = payload_length % G729_SPEECH_FRAME_BYTES;
    if (remainder != 0 && remainder != G729_SID_FRAME_BYTES) return G729_ERROR;
    const size_t speech = payload_length / G729_SPEECH_FRAME_BYTES;
    const size_t count = speech + (remainder != 0 ? 1 : 0);
    if (count > static_cast<size_t>(capacity)) return G729_ERROR;
    for (size_t i = 0; i < speech; ++i) unit_lengths[i] = G729_SPEECH_FRAME_BYTES;
    if (remainder != 0) unit_lengths[speech] = G729_SID_FRAME_BYTES;
    return static_cast<int>(count);
}
