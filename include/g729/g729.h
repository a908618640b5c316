/* SPDX-License-Identifier: BSD-2-Clause */
/* G.729 Annex A speech codec with the Annex B machinery (VAD, DTX, comfort noise).
 *
 * The public header, for C (C99 and later) and C++: the encoder and decoder state records,
 * the entry points, the parameter arrays and the bitstream packer/unpacker. Every state record
 * is a plain value that owns no resources: place it anywhere, initialise it with its init
 * call, and use it from one thread at a time. Nothing here allocates memory (but the _create
 * calls, for callers who want the library to allocate), takes locks or keeps global mutable
 * state, so any number of instances run in parallel.
 *
 * Frames are 80 samples (10 ms at 8 kHz). A speech frame is 10 bytes, a SID frame 2 bytes.
 * With DTX off every frame is a 10-byte speech frame; with DTX on the encoder reports 10, 2 or
 * 0 bytes per frame, and every decoder turns SID frames and untransmitted frames into comfort
 * noise.
 *
 * A round trip:
 *
 *     g729_encoder_state enc;
 *     g729_decoder_state dec;
 *     g729_encoder_init(&enc, 0);
 *     g729_decoder_init(&dec);
 *     g729_encode_frame(&enc, pcm_in, frame, &frame_bytes);   // 80 samples -> 10 bytes
 *     g729_decode_frame(&dec, pcm_out, frame, frame_bytes);   // 10 bytes -> 80 samples
 *
 * Link with `pkg-config --cflags --libs g729` or, in CMake, find_package(G729) and the target
 * G729::g729.
 *
 * What an embedder needs to know:
 *   - Delay: the decoded audio lags the input by 40 samples (5 ms, the encoder's look-ahead):
 *     input sample n comes out as decoded sample n + 40 (the test suite measures it).
 *   - Whole frames only: every call codes exactly 80 samples. A trailing partial frame stays
 *     with the caller: keep it for the next call, or pad it with zeros to code it.
 *   - RTP payloads: N 10-byte speech frames followed by at most one 2-byte SID frame (N may be
 *     0; an empty payload carries nothing). g729_payload_units() splits a payload by its length.
 *   - Results: G729_OK (0) or G729_ERROR (-1), as each function states below
 *     (g729_payload_units: a count or G729_ERROR).
 *
 * ABI: the layout of g729_encoder_state and g729_decoder_state (and of every record inside
 * them) is part of the ABI of libg729.so.1 and frozen for that SONAME: programs allocate the
 * records by sizeof, so no field is added, removed, resized or moved while the SONAME stays.
 * Later 1.x releases only add functions; a changed record means a new SONAME. Callers that
 * cannot use sizeof (FFI, ctypes, Rust) ask g729_encoder_size()/g729_decoder_size() or let the
 * library allocate with the _create calls. scripts/check-abi.sh checks every build against
 * the stored baseline abi/libg729.so.1.abi.
 */
#ifndef G729_G729_H
#define G729_G729_H

#include <stddef.h>
#include <stdint.h>

/* Library version. g729_version_string() reports the version of the library in use. */
#define G729_VERSION_MAJOR 1
#define G729_VERSION_MINOR 1
#define G729_VERSION_PATCH 0

/* Marks the entry points the shared library exports; everything else in it is hidden. */
#ifndef G729_API
#if defined(__GNUC__) && __GNUC__ >= 4
#define G729_API __attribute__((visibility("default")))
#else
#define G729_API
#endif
#endif

/* Results of the entry points. Every entry point checks its pointers: a null pointer it
 * needs gives G729_ERROR with nothing written and no state changed. */
#define G729_OK 0
#define G729_ERROR (-1)

#define G729_FRAME_SIZE 80          /* samples per frame */
#define G729_SUBFRAME_SIZE 40       /* samples per subframe */
#define G729_SPEECH_FRAME_BYTES 10
#define G729_SID_FRAME_BYTES 2
#define G729_LPC_ORDER 10
#define G729_LPC_SIZE 11            /* 1, a1 .. a10 */

/* Frame types, as carried in element 0 of the parameter array. */
#define G729_FRAME_NO_TRANSMISSION 0
#define G729_FRAME_SPEECH 1
#define G729_FRAME_SID 2

/* Encoder parameter array: element 0 the frame type, then 11 speech parameters
 * (L0L1, L2L3, P1, P0, C1, S1, GA1GB1, P2, C2, S2, GA2GB2) or 4 SID parameters
 * (SID L0, SID L1, SID L2, SID gain). */
#define G729_PARAMS_SIZE 12
typedef int32_t g729_params[G729_PARAMS_SIZE];

/* Decoded-parameter record: erasure flag, frame type, then the parameters in the order of
 * g729_params elements 1.., with the parity-check result (0 correct, 1 error) in the P0 slot. */
#define G729_DECODED_PARAMS_SIZE 13
typedef int32_t g729_decoded_params[G729_DECODED_PARAMS_SIZE];

/* LSP decoder memory (speech LSP decoding and erasure concealment). */
typedef struct g729_lsp_decoder_state {
    double lsf_ma_memory[4][10];  /* quantized residuals of the last 4 frames, newest first */
    int32_t prev_ma_mode;         /* predictor mode of the last good speech frame */
    double prev_lsf[10];          /* quantized LSFs of the last good speech frame */
} g729_lsp_decoder_state;

/* Voice activity detector record. */
typedef struct g729_vad_state {
    double mean_lsf[10];
    double min_buffer[16];
    double prev_min;
    double next_min;
    double min_energy;
    double mean_energy;
    double mean_full_energy;
    double mean_low_energy;
    double mean_zero_crossing;
    double prev_energy;
    int32_t silence_count;
    int32_t update_count;
    int32_t extension_count;
    int32_t extension_enabled;
    int32_t forced_voice;
    int32_t low_energy_count;
} g729_vad_state;

/* DTX (SID encoding) record of the encoder. */
typedef struct g729_dtx_state {
    double lsp_sid_q[10];
    double past_coeff[11];
    double ref_autocorr[11];
    double autocorr_history[2][11];
    double autocorr_sums[3][11];
    double residual_energy[2];
    int32_t autocorr_frame;
    double noise_gain;
    int32_t energy_count;
    double sid_gain;
    int32_t filter_changed;
    double sid_energy;
    int32_t frames_since_sid;
} g729_dtx_state;

/* Comfort-noise record of the decoder. */
typedef struct g729_cng_state {
    double noise_gain;
    double lsp_sid[10];
    double sid_gain;
    double exc_err[4];
} g729_cng_state;

/* Postfilter record of the decoder. */
typedef struct g729_postfilter_state {
    double residual_history[183];          /* 143 past + 40 current residual samples */
    double postfilter_synthesis_memory[10];
    double tilt_memory;
    double agc_gain;
} g729_postfilter_state;

typedef struct g729_encoder_state {
    double speech_buf[240];      /* analysis window 0..239; frame 120..199; new block 160..239 */
    double wsp_buf[223];         /* weighted speech: 143 past + 80 current */
    double exc_buf[234];         /* excitation: 154 past + 80 current */
    double lsp_prev[10];         /* unquantized LSPs of the previous frame */
    double lsp_prev_q[10];       /* quantized LSPs of the previous frame */
    double mem_err_w[10];        /* weighted-error filter memory (target computation) */
    double mem_wsp[10];          /* weighted-speech filter memory */
    double mem_zero[10];         /* always zero: zero-state filtering */
    double sharp;                /* pitch-sharpening gain */
    int32_t vad_prev;
    int32_t vad_prev2;
    int16_t cng_seed;
    double lsf_ma_memory[4][10];
    g729_dtx_state dtx;
    double exc_err[4];           /* taming memory */
    double noise_ma_pred[2][4][10];
    g729_vad_state vad;
    double gain_pred_mem[4];     /* past quantized energy errors (dB), newest first */
    double hpf_mem[4];           /* pre-processing filter: x[n-1], x[n-2], y[n-1], y[n-2] */
    int32_t frame_count;
    int32_t dtx_enabled;
} g729_encoder_state;

typedef struct g729_decoder_state {
    double exc_buf[234];         /* excitation: 154 past + 80 current */
    double lsp_prev[10];
    double mem_syn[10];
    double sharp;
    int32_t prev_t0;
    double gain_code;
    double gain_pitch;
    int16_t erasure_seed;
    int32_t prev_frame_type;
    int16_t cng_seed;
    double exc_energy;
    g729_lsp_decoder_state lsp_decoder_state;
    g729_cng_state cng;
    double noise_ma_pred[2][4][10];
    double gain_pred_mem[4];
    double post_hpf_mem[4];
    g729_postfilter_state postfilter;
    double synth_buf[90];        /* 10 samples of synthesis memory + 80 of the current frame */
} g729_decoder_state;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version ---- */

/* "MAJOR.MINOR.PATCH" of the library in use (a static string). */
G729_API const char *g729_version_string(void);

/* ---- Record sizes, and records the library allocates ----
 *
 * None of these is needed by a C or C++ caller, who may place the records anywhere by sizeof;
 * they serve callers who cannot see the records (FFI). A record from a _create call is
 * initialised and used as any other; the codec calls themselves never allocate. */

/* sizeof(g729_encoder_state) and sizeof(g729_decoder_state) of the library in use. */
G729_API size_t g729_encoder_size(void);
G729_API size_t g729_decoder_size(void);

/* An encoder record allocated by the library and started as g729_encoder_init(state, dtx_flag)
 * starts it; NULL when memory runs out. Free it with g729_encoder_destroy. */
G729_API g729_encoder_state *g729_encoder_create(int dtx_flag);
/* Frees a record of g729_encoder_create; NULL is allowed and does nothing. */
G729_API void g729_encoder_destroy(g729_encoder_state *state);

/* A decoder record allocated by the library and started as g729_decoder_init starts it; NULL
 * when memory runs out. Free it with g729_decoder_destroy. */
G729_API g729_decoder_state *g729_decoder_create(void);
/* Frees a record of g729_decoder_create; NULL is allowed and does nothing. */
G729_API void g729_decoder_destroy(g729_decoder_state *state);

/* ---- RTP payloads ---- */

/* Splits an RTP payload of payload_length bytes into its units, in order: 10 for each speech
 * frame, then 2 for a trailing SID frame, written to unit_lengths[0 .. count-1]; each unit goes
 * to g729_decode_frame as is. Returns the count (0 for an empty payload), or G729_ERROR with
 * nothing written when unit_lengths is null, capacity is negative or smaller than the count,
 * or the length is not N x 10 (+ 2) bytes (e.g. 3, 13, 4: a SID frame that is not the last
 * unit). The split follows from the length alone, so the payload's bytes are not needed (and
 * a SID frame sent first, 2 + 10 bytes, cannot be told from 10 + 2). */
G729_API int g729_payload_units(size_t payload_length, int32_t unit_lengths[], int capacity);

/* ---- Entry points ----
 *
 * Stack: every entry point runs on a thread created with a 64 KB stack
 * (pthread_attr_setstacksize; or the C library's least, where that is more, as the 128 KB of
 * glibc on aarch64), as the test suite checks. The peak each takes of its thread's
 * stack, measured on x86-64 (GCC 12, -O3; the largest of the AVX-512, AVX2 and scalar
 * kernels):
 *   g729_encoder_init, g729_decoder_init, g729_pack_frame, g729_unpack_frame   under 1 KB
 *   g729_encode_frame                                                          14 KB
 *   g729_decode_frame, g729_decode_lost_frame, g729_decode_untransmitted_frame 7 KB
 *   g729_encode_frames 42 KB, g729_encode_frames_ws 31 KB
 *   g729_decode_frames 46 KB, g729_decode_frames_ws 21 KB */

/* Starts a new encoder stream. dtx_flag non-zero requests discontinuous transmission.
 * Returns G729_OK, or G729_ERROR for a null state. (Earlier releases returned nothing; the
 * result may be ignored.) */
G729_API int g729_encoder_init(g729_encoder_state *state, int dtx_flag);

/* Encodes 80 samples. Writes 10 (speech), 2 (SID) or 0 bytes and stores that count.
 * Returns G729_OK, or G729_ERROR (nothing coded or written) when a pointer is null. */
G729_API int g729_encode_frame(g729_encoder_state *state, const int16_t samples[80],
                               uint8_t *bytes, int32_t *byte_count);

/* Starts a new decoder stream. Returns G729_OK, or G729_ERROR for a null state. (Earlier
 * releases returned nothing; the result may be ignored.) */
G729_API int g729_decoder_init(g729_decoder_state *state);

/* Decodes one received unit (10-byte speech frame or 2-byte SID frame) into 80 samples.
 * Returns G729_OK, or G729_ERROR for any other unit length or a null pointer (nothing
 * decoded or written, state unchanged). */
G729_API int g729_decode_frame(g729_decoder_state *state, int16_t samples[80],
                               const uint8_t *bytes, int unit_length);

/* Decodes a frame that never arrived (erasure concealment) into 80 samples. Returns
 * G729_OK, or G729_ERROR (nothing written) when a pointer is null. */
G729_API int g729_decode_lost_frame(g729_decoder_state *state, int16_t samples[80]);

/* Decodes a frame the sender deliberately did not transmit (a DTX pause) into 80 samples of
 * comfort noise. Returns G729_OK, or G729_ERROR (nothing written) when a pointer is null. */
G729_API int g729_decode_untransmitted_frame(g729_decoder_state *state, int16_t samples[80]);

/* ---- Many channels at once ----
 *
 * Each channel has its own state; one call codes one frame of every channel, running the
 * channels' serial filters side by side in vector lanes. Every channel's output and state
 * afterwards are exactly what the single-channel entry points give it, in any mix of channels
 * (DTX on or off, any kind of unit, any count). The channels' states, samples and bytes must
 * not overlap. Nothing is allocated and no lock is taken.
 *
 * Two forms: the plain calls keep their work records on the stack and so code the channels
 * in small groups (4 channels a pass for the encoder, 8 for the decoder; where the processor
 * has vectors of more than two doubles, the plain encoder codes the channels one at a time,
 * which is faster there than its small groups); the _ws calls take a workspace from the
 * caller (any memory of the size the matching _workspace_size call gives, reused from call to
 * call by one thread at a time, no alignment needed) and code 32 channels a pass on the
 * widest vectors, which is faster. Both give exactly the same output. */

/* Unit lengths of g729_decode_frames besides 10 (speech) and 2 (SID). */
#define G729_UNIT_UNTRANSMITTED 0   /* a DTX pause: comfort noise */
#define G729_UNIT_LOST (-1)         /* a frame that never arrived: concealed */

/* Encodes 80 samples for each of count channels: channel i reads samples[i], writes 10, 2 or
 * 0 bytes to bytes[i] (room for 10) and stores that count in byte_counts[i]. Returns G729_OK,
 * or G729_ERROR (nothing coded or written) when count is negative or a needed pointer is
 * null. */
G729_API int g729_encode_frames(g729_encoder_state *const states[], int count,
                                const int16_t *const samples[], uint8_t *const bytes[],
                                int32_t byte_counts[]);

/* Bytes of workspace g729_encode_frames_ws needs for up to count channels a call (at present
 * the same for every count, about 233 KB); 0 for a negative count. */
G729_API size_t g729_encode_frames_workspace_size(int count);

/* g729_encode_frames with the caller's workspace: workspace_size bytes at workspace, at least
 * g729_encode_frames_workspace_size(count). G729_ERROR (nothing coded or written) also for a
 * null or too small workspace. */
G729_API int g729_encode_frames_ws(g729_encoder_state *const states[], int count,
                                   const int16_t *const samples[], uint8_t *const bytes[],
                                   int32_t byte_counts[], void *workspace,
                                   size_t workspace_size);

/* Decodes one frame for each of count channels into samples[i] (80 samples). unit_lengths[i]
 * is 10 or 2 for a unit in bytes[i], G729_UNIT_UNTRANSMITTED or G729_UNIT_LOST (bytes[i] is
 * then not read and may be null, as may bytes when no channel has a unit). A channel with any
 * other length is left alone, as g729_decode_frame leaves it. results, when not null,
 * receives each channel's g729_decode_frame-style result (G729_OK decoded, G729_ERROR invalid
 * length). Returns G729_OK when every channel was decoded, G729_ERROR otherwise (with nothing
 * decoded or written when count is negative or a needed pointer is null). */
G729_API int g729_decode_frames(g729_decoder_state *const states[], int count,
                                int16_t *const samples[], const uint8_t *const bytes[],
                                const int32_t unit_lengths[], int32_t results[]);

/* Bytes of workspace g729_decode_frames_ws needs for up to count channels a call (at present
 * the same for every count, about 164 KB); 0 for a negative count. */
G729_API size_t g729_decode_frames_workspace_size(int count);

/* g729_decode_frames with the caller's workspace: workspace_size bytes at workspace, at least
 * g729_decode_frames_workspace_size(count). G729_ERROR (nothing decoded or written) also for
 * a null or too small workspace. */
G729_API int g729_decode_frames_ws(g729_decoder_state *const states[], int count,
                                   int16_t *const samples[], const uint8_t *const bytes[],
                                   const int32_t unit_lengths[], int32_t results[],
                                   void *workspace, size_t workspace_size);

/* ---- Bitstream ---- */

/* Packs a parameter array: 10 bytes for a speech frame, 2 for a SID frame, nothing otherwise,
 * and stores that count. Returns G729_OK, or G729_ERROR (nothing written) when params or
 * byte_count is null, or bytes is null for a speech or SID frame. (Earlier releases returned
 * nothing; the result may be ignored.) */
G729_API int g729_pack_frame(const int32_t params[G729_PARAMS_SIZE], uint8_t *bytes,
                             int32_t *byte_count);

/* Unpacks bytes of the given frame type (1 speech, 2 SID; 0 or anything else: erased frame,
 * bytes not read and may be null). Returns G729_OK, or G729_ERROR (nothing written) when
 * decoded is null, or bytes is null for a speech or SID frame. (Earlier releases returned
 * nothing; the result may be ignored.) */
G729_API int g729_unpack_frame(int32_t decoded[G729_DECODED_PARAMS_SIZE], const uint8_t *bytes,
                               int32_t frame_type);

/* Parity bit of the 8-bit subframe-1 pitch index. */
G729_API int32_t g729_pitch_parity(int32_t p1);

/* Parity check: 0 when the received bit matches, 1 on a parity error. */
G729_API int32_t g729_pitch_parity_check(int32_t p1, int32_t received_p0);

#ifdef __cplusplus
}
#endif

#endif /* G729_G729_H */
