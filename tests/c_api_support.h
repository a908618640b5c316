// SPDX-License-Identifier: BSD-2-Clause
// Functions compiled as C (tests/c_api_support.c) that the public-API tests call: what a C
// program sees of the header's records, and a whole stream coded through the C entry points.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Sizes and member offsets of the state records as the C compiler lays them out.
typedef struct g729test_c_layout {
    size_t encoder_size;
    size_t decoder_size;
    size_t encoder_vad_offset;
    size_t encoder_dtx_enabled_offset;
    size_t decoder_postfilter_offset;
    size_t decoder_synth_buf_offset;
} g729test_c_layout;

g729test_c_layout g729test_c_layout_of_records(void);

// Encodes `frames` frames of pcm (DTX as given) and decodes them back into decoded (80 per
// frame), taking every frame whose index is a multiple of lose_every (if > 0) as lost.
// Returns the number of coded bytes, or -1 when a call fails.
long g729test_c_round_trip(const int16_t* pcm, int frames, int dtx, int lose_every,
                           int16_t* decoded);

// Calls every entry point with a null pointer from C; the number of calls that did not
// return G729_ERROR.
int g729test_c_null_pointer_calls(void);

#ifdef __cplusplus
}
#endif
