// SPDX-License-Identifier: BSD-2-Clause
// Encoder and decoder in lock step: over real speech with pauses, coded with DTX, the
// decoder rebuilds exactly the excitation, the LSPs, the LSF predictor memory and the noise
// seed that the encoder used, frame by frame (speech, SID and untransmitted frames alike).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "lib/io/pcm_io.h"

namespace fs = std::filesystem;

namespace {

struct SyncCounts {
    int speech = 0;
    int sid = 0;
    int untransmitted = 0;
};

// Runs the stream and checks, after every frame, the state both sides must share.
SyncCounts run_in_lock_step(const std::vector<int16_t>& pcm) {
    static g729_encoder_state enc;
    static g729_decoder_state dec;
    g729_encoder_init(&enc, 1);
    g729_decoder_init(&dec);
    SyncCounts counts;
    const size_t frames = pcm.size() / 80;
    for (size_t f = 0; f < frames; ++f) {
        uint8_t bytes[10];
        int32_t count = -1;
        g729_encode_frame(&enc, &pcm[f * 80], bytes, &count);
        int16_t out[80];
        if (count == 10) {
            ++counts.speech;
            EXPECT_EQ(g729_decode_frame(&dec, out, bytes, 10), 0);
        } else if (count == 2) {
            ++counts.sid;
            EXPECT_EQ(g729_decode_frame(&dec, out, bytes, 2), 0);
        } else {
            EXPECT_EQ(count, 0);
            ++counts.untransmitted;
            g729_decode_untransmitted_frame(&dec, out);
        }
        // Both histories have just been shifted: the frame's excitation now sits at 74..153.
        EXPECT_EQ(std::memcmp(enc.exc_buf + 74, dec.exc_buf + 74, 80 * sizeof(double)), 0)
            << "excitation differs at frame " << f << " (byte count " << count << ")";
        EXPECT_EQ(std::memcmp(enc.lsp_prev_q, dec.lsp_prev, sizeof(enc.lsp_prev_q)), 0)
            << "LSPs differ at frame " << f;
        EXPECT_EQ(std::memcmp(enc.lsf_ma_memory, dec.lsp_decoder_state.lsf_ma_memory,
                              sizeof(enc.lsf_ma_memory)),
                  0)
            << "LSF predictor memory differs at frame " << f;
        EXPECT_EQ(std::memcmp(enc.gain_pred_mem, dec.gain_pred_mem, sizeof(enc.gain_pred_mem)), 0)
            << "gain predictor memory differs at frame " << f;
        EXPECT_EQ(enc.cng_seed, dec.cng_seed) << "noise seed differs at frame " << f;
        if (::testing::Test::HasFailure()) break;
    }
    return counts;
}

}  // namespace

TEST(EncoderDecoderSync, ProjectRecordingWithPauses) {
    const fs::path wav = fs::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav";
    std::vector<int16_t> pcm = g729io::read_wav(wav.string());
    // Append two seconds of low-level noise so that a long pause is certainly coded as such.
    uint32_t seed = 1;
    for (int i = 0; i < 16000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        pcm.push_back(static_cast<int16_t>(static_cast<int32_t>(seed >> 24) - 128) / 8);
    }
    const SyncCounts c = run_in_lock_step(pcm);
    EXPECT_GT(c.speech, 100);
    EXPECT_GT(c.sid, 0);
    EXPECT_GT(c.untransmitted, 50);
}

TEST(EncoderDecoderSync, ItuSequenceWithPauses) {
    const fs::path in = fs::path(G729_SHARED_DIR) / "itu-vectors" / "annex-ab" / "tstseq1.in";
    if (!fs::exists(in)) GTEST_SKIP() << "no " << in;
    const SyncCounts c = run_in_lock_step(g729io::read_raw_pcm(in.string()).samples);
    EXPECT_GT(c.speech, 100);
    EXPECT_GT(c.sid, 10);
    EXPECT_GT(c.untransmitted, 100);
}
