// SPDX-License-Identifier: BSD-2-Clause
// Golden outputs: the exact bytes the codec produces for speech with and without DTX, for
// comfort-noise and erased frames, and for the project's own inputs. Any change to the
// codec's arithmetic shows up here and must be explained.
//
// The ITU vectors live outside the repository; the tests over the project's own inputs (the
// recording, the generated noise-and-pause signal, the stored lossy stream) always run, so a
// clone of this repository alone still pins every part of the codec: encoder, VAD and DTX,
// decoder, comfort noise, erasure concealment and the parity check.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/noise_pause_signal.h"
#include "lib/eval/codec_runner.h"
#include "lib/io/coded_io.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"

namespace fs = std::filesystem;

namespace {

// ======================================================================================
// EXPECTED HASHES: FNV-1a 64 of the codec's outputs. A change here must be explained in the
// commit that makes it. 0 = not yet recorded: the test then fails and prints the actual value.
constexpr uint64_t golden_encode_speech_hash = 0x76c1f99c5d9dd7c2ull;  // speech.in, DTX off: all 10-byte frames
constexpr uint64_t golden_decode_speech_hash = 0x5a480389a431495full;  // speech.bit: PCM, 16-bit little-endian
constexpr uint64_t golden_encode_tstseq1_dtx_hash = 0x6c4a1d40851a7445ull;  // tstseq1.in, DTX on: ITU serial bytes
constexpr uint64_t golden_encode_tstseq2_dtx_hash = 0x913b3624a94ca2cfull;  // tstseq2.in, DTX on: ITU serial bytes
constexpr uint64_t golden_decode_tstseq1_hash = 0xb086b57efc3b447dull;  // tstseq1.bit: speech, SID, untransmitted
constexpr uint64_t golden_decode_tstseq6_hash = 0x63d7a5dad21d3d98ull;  // tstseq6.bit: SID, untransmitted, lost
constexpr uint64_t golden_decode_erasure_hash = 0xa2f348a760a3bbb3ull;  // erasure.bit: 60 erased frames
constexpr uint64_t golden_recording_encode_hash = 0xa8ddab6aa50512acull;  // data/speech_sample.wav, DTX off
constexpr uint64_t golden_recording_dtx_decode_hash = 0x43b75c69d5e3bce5ull;  // the same, DTX on, decoded
constexpr uint64_t golden_noise_pause_encode_hash = 0x1293f0c68320ee38ull;      // noise_pause_signal(), DTX off: raw
constexpr uint64_t golden_noise_pause_dtx_encode_hash = 0x7c8523ec9d8981e5ull;  // the same, DTX on: ITU serial bytes
constexpr uint64_t golden_noise_pause_dtx_decode_hash = 0x8eac6e85f9dea59dull;  // the DTX frames decoded: PCM
constexpr uint64_t golden_lossy_stream_decode_hash = 0x8e3ee1bb3f06862cull;     // data/noise_pause_lossy.bit decoded
// ======================================================================================

uint64_t fnv1a64(const std::vector<uint8_t>& data) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : data) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string hex(uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%016llxull", static_cast<unsigned long long>(v));
    return buf;
}

fs::path vector_file(const char* annex, const char* name) {
    return fs::path(G729_SHARED_DIR) / "itu-vectors" / annex / name;
}

fs::path speech(const char* ext) {
    return fs::path(G729_SHARED_DIR) / "itu-vectors" / "annex-a" / (std::string("speech") + ext);
}

void check_hash(uint64_t actual, uint64_t expected, const char* constant) {
    if (expected == 0) {
        ADD_FAILURE() << constant << " is not recorded yet; the actual hash is " << hex(actual);
        return;
    }
    EXPECT_EQ(actual, expected) << constant << ": actual hash " << hex(actual);
}

TEST(Golden, FnvHashKnownValues) {
    EXPECT_EQ(fnv1a64({}), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnv1a64({'a'}), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv1a64({'f', 'o', 'o', 'b', 'a', 'r'}), 0x85944171f73967e8ull);
}

TEST(Golden, EncodeSpeech) {
    if (!fs::exists(speech(".in"))) {
        GTEST_SKIP() << "no " << speech(".in");
    }
    const std::vector<int16_t> pcm = g729io::read_raw_pcm(speech(".in").string()).samples;
    const std::vector<g729io::CodedFrame> frames = g729eval::encode_samples(pcm, false);
    ASSERT_EQ(frames.size(), 3750u);
    const std::vector<uint8_t> bytes = g729io::format_raw(frames);
    check_hash(fnv1a64(bytes), golden_encode_speech_hash, "golden_encode_speech_hash");
}

TEST(Golden, DecodeSpeech) {
    if (!fs::exists(speech(".bit"))) {
        GTEST_SKIP() << "no " << speech(".bit");
    }
    const g729io::CodedStream s =
        g729io::parse_itu(g729io::read_file(speech(".bit").string()), "speech.bit");
    ASSERT_TRUE(s.ok()) << s.error;
    const g729eval::Decoded d = g729eval::decode_frames(s.frames);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.samples.size(), 3750u * 80u);
    check_hash(fnv1a64(g729io::pcm_to_le_bytes(d.samples)), golden_decode_speech_hash,
               "golden_decode_speech_hash");
}

void check_dtx_encode(const char* name, uint64_t expected, const char* constant) {
    const fs::path in = vector_file("annex-ab", name);
    if (!fs::exists(in)) GTEST_SKIP() << "no " << in;
    const std::vector<int16_t> pcm = g729io::read_raw_pcm(in.string()).samples;
    const std::vector<g729io::CodedFrame> frames = g729eval::encode_samples(pcm, true);
    check_hash(fnv1a64(g729io::format_itu(frames)), expected, constant);
}

void check_decode(const char* annex, const char* name, uint64_t expected, const char* constant) {
    const fs::path bit = vector_file(annex, name);
    if (!fs::exists(bit)) GTEST_SKIP() << "no " << bit;
    const g729io::CodedStream s = g729io::parse_itu(g729io::read_file(bit.string()), name);
    ASSERT_TRUE(s.ok()) << s.error;
    const g729eval::Decoded d = g729eval::decode_frames(s.frames);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.samples.size(), s.frames.size() * 80u);
    check_hash(fnv1a64(g729io::pcm_to_le_bytes(d.samples)), expected, constant);
}

TEST(Golden, EncodeWithDtx) {
    check_dtx_encode("tstseq1.in", golden_encode_tstseq1_dtx_hash, "golden_encode_tstseq1_dtx_hash");
    check_dtx_encode("tstseq2.in", golden_encode_tstseq2_dtx_hash, "golden_encode_tstseq2_dtx_hash");
}

TEST(Golden, DecodeComfortNoiseAndLostFrames) {
    check_decode("annex-ab", "tstseq1.bit", golden_decode_tstseq1_hash, "golden_decode_tstseq1_hash");
    check_decode("annex-ab", "tstseq6.bit", golden_decode_tstseq6_hash, "golden_decode_tstseq6_hash");
    check_decode("annex-a", "erasure.bit", golden_decode_erasure_hash, "golden_decode_erasure_hash");
}

// Needs nothing outside the repository, so it guards the output even without the vectors.
TEST(Golden, ProjectRecording) {
    const fs::path wav = fs::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav";
    const std::vector<int16_t> pcm = g729io::read_wav(wav.string());
    ASSERT_GT(pcm.size(), 8000u);
    const std::vector<g729io::CodedFrame> frames = g729eval::encode_samples(pcm, false);
    check_hash(fnv1a64(g729io::format_raw(frames)), golden_recording_encode_hash,
               "golden_recording_encode_hash");

    const std::vector<g729io::CodedFrame> dtx_frames = g729eval::encode_samples(pcm, true);
    const g729eval::Decoded d = g729eval::decode_frames(dtx_frames);
    ASSERT_TRUE(d.ok()) << d.error;
    check_hash(fnv1a64(g729io::pcm_to_le_bytes(d.samples)), golden_recording_dtx_decode_hash,
               "golden_recording_dtx_decode_hash");
}

size_t count_kind(const std::vector<g729io::CodedFrame>& frames, g729io::FrameKind kind) {
    size_t n = 0;
    for (const g729io::CodedFrame& f : frames) n += (f.kind == kind) ? 1 : 0;
    return n;
}

// Background noise, voiced bursts, a louder stretch and digital silence, with and without
// DTX: the detector's decisions, the SID frames and the comfort noise the decoder makes.
TEST(Golden, NoisePauseSignal) {
    const std::vector<int16_t> pcm = g729test::noise_pause_signal();
    ASSERT_EQ(pcm.size(), 450u * 80u);

    const std::vector<g729io::CodedFrame> frames = g729eval::encode_samples(pcm, false);
    check_hash(fnv1a64(g729io::format_raw(frames)), golden_noise_pause_encode_hash,
               "golden_noise_pause_encode_hash");

    const std::vector<g729io::CodedFrame> dtx = g729eval::encode_samples(pcm, true);
    // The signal must reach every DTX path, or the hashes below would not cover them.
    EXPECT_GE(count_kind(dtx, g729io::FrameKind::speech), 100u);
    EXPECT_GE(count_kind(dtx, g729io::FrameKind::sid), 3u);
    EXPECT_GE(count_kind(dtx, g729io::FrameKind::untransmitted), 100u);
    check_hash(fnv1a64(g729io::format_itu(dtx)), golden_noise_pause_dtx_encode_hash,
               "golden_noise_pause_dtx_encode_hash");

    const g729eval::Decoded d = g729eval::decode_frames(dtx);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.samples.size(), pcm.size());
    check_hash(fnv1a64(g729io::pcm_to_le_bytes(d.samples)), golden_noise_pause_dtx_decode_hash,
               "golden_noise_pause_dtx_decode_hash");
}

// A stored stream, so that it pins the decoder alone: the DTX coding of noise_pause_signal()
// made by `g729 encode --dtx`, then 21 frames marked lost (a burst of five, a lost SID frame
// and the two after it, others spread over speech and pauses) and the parity bit of speech
// frame 60 flipped.
TEST(Golden, DecodeStoredLossyStream) {
    const fs::path bit = fs::path(G729_SOURCE_DIR) / "data" / "noise_pause_lossy.bit";
    const g729io::CodedStream s = g729io::parse_itu(g729io::read_file(bit.string()), bit.string());
    ASSERT_TRUE(s.ok()) << s.error;
    ASSERT_EQ(s.frames.size(), 450u);
    EXPECT_EQ(count_kind(s.frames, g729io::FrameKind::lost), 21u);
    EXPECT_GE(count_kind(s.frames, g729io::FrameKind::sid), 3u);
    EXPECT_GE(count_kind(s.frames, g729io::FrameKind::untransmitted), 100u);
    EXPECT_GE(count_kind(s.frames, g729io::FrameKind::speech), 100u);

    const g729eval::Decoded d = g729eval::decode_frames(s.frames);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.samples.size(), 450u * 80u);
    check_hash(fnv1a64(g729io::pcm_to_le_bytes(d.samples)), golden_lossy_stream_decode_hash,
               "golden_lossy_stream_decode_hash");
}

}  // namespace
