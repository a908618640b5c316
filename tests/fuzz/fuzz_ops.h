// SPDX-License-Identifier: BSD-2-Clause
// Byte layouts of the fuzz targets' inputs, shared by the targets and the seed maker so that
// the seeds mean what the targets read.
#pragma once

#include <cstdint>

namespace g729_fuzz {

// ---- Decoder target: a sequence of operations, each an operation byte and its operands ----
//
// byte & 7:
//   0, 1, 2  a received 10-byte speech unit follows
//   3        a received 2-byte SID unit follows
//   4        a lost frame (erasure concealment)
//   5        an untransmitted frame (DTX pause)
//   6        a unit of a refused length: one operand byte, length = operand % 13, never 2 or 10
//   7        a repeated unit: one count byte, then a 10-byte unit (bit 3 of the operation
//            byte clear) or a 2-byte unit (bit 3 set), decoded 1 + count times
namespace decoder_op {
inline constexpr uint8_t speech = 0;
inline constexpr uint8_t sid = 3;
inline constexpr uint8_t lost = 4;
inline constexpr uint8_t untransmitted = 5;
inline constexpr uint8_t refused = 6;
inline constexpr uint8_t repeat = 7;
inline constexpr uint8_t repeat_sid_flag = 8;
}  // namespace decoder_op

// Refused unit length from its operand: 0..12 without 2 and 10.
inline int refused_length(uint8_t operand) {
    const int n = operand % 13;
    return (n == 2 || n == 10) ? n + 1 : n;
}

// ---- Module target: host frames for a decoder and an encoder instance ----
//
// byte % 8:
//   0..4  a G.729 payload for the decoder instance: one length byte L (0..249: L % 64 bytes;
//         250..254: (L - 249) * 3000 bytes; 255: a frame with a negative data length), then the
//         payload bytes (zeros when the input runs out)
//   5     the decoder instance's frame-out (drains its output)
//   6     a slin frame for the encoder instance: a count byte N and a shortfall byte S; the frame
//         announces 2 * N samples (N = 255: 8001 samples) and carries 2 * (2 * N) bytes less
//         S % 8 when S >= 192 (a frame shorter than it claims), then the sample bytes
//   7     the encoder instance's frame-out
namespace module_op {
inline constexpr uint8_t payload = 0;
inline constexpr uint8_t decoder_out = 5;
inline constexpr uint8_t slin = 6;
inline constexpr uint8_t encoder_out = 7;
inline constexpr uint8_t negative_length = 255;
inline constexpr uint8_t long_payload_first = 250;
inline constexpr int long_payload_step = 3000;
inline constexpr uint8_t oversized_count = 255;
inline constexpr uint8_t short_frame_first = 192;
}  // namespace module_op

// ---- Encoder target ----
//
// First byte: bit 0 DTX on, bit 1 encode the whole input twice and compare.
// Then segments, each a generator byte G and a frame count byte F (1 + F % 32 frames):
//   G % 8 = 0  raw samples from the input, 2 bytes each, little endian (zeros when it runs out)
//           1  full-scale square wave, half period 1 + operand % 64 samples (one operand byte)
//           2  DC at a level from two operand bytes
//           3  alternating -32768 / +32767
//           4  silence
//           5  full-scale square wave gated on and off every frame (bursts and pauses)
//           6  low-level noise from a seed operand byte
//           7  a sine sweep at full scale
namespace encoder_op {
inline constexpr uint8_t dtx_flag = 1;
inline constexpr uint8_t twice_flag = 2;
inline constexpr uint8_t raw = 0;
inline constexpr uint8_t square = 1;
inline constexpr uint8_t dc = 2;
inline constexpr uint8_t alternating = 3;
inline constexpr uint8_t silence = 4;
inline constexpr uint8_t bursts = 5;
inline constexpr uint8_t noise = 6;
inline constexpr uint8_t sweep = 7;
}  // namespace encoder_op

// ---- Readers target ----
//
// First byte % 6 selects the reader; the rest of the input is the file content, except for 4:
//   0  an audio file of any format, through libsndfile and the conversion to 8 kHz mono
//   1  ITU serial, streamed and whole
//   2  raw coded frames, streamed and whole
//   3  raw PCM (through a file)
//   4  a well-formed WAV file built from the input: a rate byte (a common rate, or one from
//      1000 to 193000 Hz), a channels byte (1 to 8), a sample format byte (8, 16, 24-bit,
//      float) and the sample data; it must be read, and converted to the right length
//   5  a packet capture (libpcap, through a file): its G.729 RTP streams are found and decoded
namespace reader_op {
inline constexpr uint8_t wav = 0;
inline constexpr uint8_t itu = 1;
inline constexpr uint8_t raw_coded = 2;
inline constexpr uint8_t raw_pcm = 3;
inline constexpr uint8_t converted = 4;
inline constexpr uint8_t capture = 5;
inline constexpr uint8_t count = 6;
}  // namespace reader_op

}  // namespace g729_fuzz
