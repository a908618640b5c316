// SPDX-License-Identifier: BSD-2-Clause
// The batched entry points (plain and with a workspace, in turn) against the single-channel
// ones: random mixes of channels (speech from the ITU vectors and the project's recording at
// random places, silence and noise, DTX on and off, speech/SID/untransmitted/lost/invalid
// units, batches of every size in random order). After every batch each channel's output and
// its whole state record must equal, bit for bit, what the channel's solo run gives.
#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec/batch/lane_fixed_codebook.h"
#include "codec/batch/lane_gain_quantizer.h"
#include "codec/batch/lane_kernels.h"
#include "codec/batch/lane_lpc_analysis.h"
#include "codec/batch/lane_lsp_quantizer.h"
#include "codec/batch/lane_pitch.h"
#include "codec/batch/lane_postfilter.h"
#include "codec/batch/lane_primitives.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/g729.h"
#include "lib/io/pcm_io.h"

namespace fs = std::filesystem;

namespace {

using g729::highpass_lanes;
using namespace g729;

// Speech to draw channels from: the ITU inputs when present, and the project's recording.
std::vector<std::vector<int16_t>> speech_sources() {
    std::vector<std::vector<int16_t>> sources;
    sources.push_back(
        g729io::read_audio((fs::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav").string())
            .samples);
    for (const char* name : {"annex-a/speech.in", "annex-ab/tstseq1.in", "annex-ab/tstseq2.in"}) {
        const fs::path p = fs::path(G729_SHARED_DIR) / "itu-vectors" / name;
        if (fs::exists(p)) sources.push_back(g729io::read_audio(p.string()).samples);
    }
    return sources;
}

// One channel's input: a stretch of a source, with bursts of silence and of loud noise (the
// detector then sends SID frames and pauses).
std::vector<int16_t> channel_audio(std::mt19937_64& rng,
                                   const std::vector<std::vector<int16_t>>& sources, int frames) {
    const auto& src = sources[rng() % sources.size()];
    const std::size_t n = static_cast<std::size_t>(frames) * G729_FRAME_SIZE;
    std::vector<int16_t> out(n);
    const std::size_t start = src.size() > n ? rng() % (src.size() - n) : 0;
    for (std::size_t i = 0; i < n; ++i) out[i] = src.empty() ? 0 : src[(start + i) % src.size()];
    // A pause of 30 frames of faint noise somewhere, and single frames of silence and of loud
    // noise here and there.
    const int pause = static_cast<int>(rng() % static_cast<uint64_t>(frames > 30 ? frames - 30 : 1));
    for (int f = 0; f < frames; ++f) {
        const int kind = f >= pause && f < pause + 30 ? 2 : static_cast<int>(rng() % 16);
        for (int s = 0; s < G729_FRAME_SIZE; ++s) {
            int16_t& v = out[static_cast<std::size_t>(f) * G729_FRAME_SIZE + s];
            if (kind == 0) v = 0;
            if (kind == 1) v = static_cast<int16_t>(static_cast<int>(rng() % 65536) - 32768);
            if (kind == 2) v = static_cast<int16_t>(static_cast<int>(rng() % 9) - 4);
        }
    }
    return out;
}

struct EncoderChannel {
    g729_encoder_state batch;
    g729_encoder_state solo;
    std::vector<int16_t> audio;
    std::vector<std::vector<uint8_t>> units;  // the solo run's output, one unit per frame
    int next = 0;                             // next frame to code
};

struct DecoderChannel {
    g729_decoder_state batch;
    g729_decoder_state solo;
    std::vector<std::vector<uint8_t>> units;
    std::vector<int32_t> lengths;  // 10, 2, 0 (untransmitted), -1 (lost), or invalid
    int next = 0;
};

int32_t solo_decode(g729_decoder_state* st, int16_t out[80], const std::vector<uint8_t>& unit,
                    int32_t length) {
    if (length == G729_UNIT_LOST) return g729_decode_lost_frame(st, out);
    if (length == G729_UNIT_UNTRANSMITTED) return g729_decode_untransmitted_frame(st, out);
    return g729_decode_frame(st, out, unit.data(), length);
}

// Random batches over the channels until every channel has coded all its frames: each batch
// is a random subset in random order, so channels join and leave batches freely.
// Counts the SID frames and the pauses the encoders sent into *sids and *pauses.
void run_mix(uint64_t seed, int channel_count, int frames, int* sids, int* pauses) {
    std::mt19937_64 rng(seed);
    const auto sources = speech_sources();

    std::vector<EncoderChannel> enc(static_cast<std::size_t>(channel_count));
    std::vector<DecoderChannel> dec(enc.size());
    for (std::size_t c = 0; c < enc.size(); ++c) {
        const int dtx = c == 0 ? 1 : static_cast<int>(rng() % 2);
        g729_encoder_init(&enc[c].batch, dtx);
        g729_encoder_init(&enc[c].solo, dtx);
        enc[c].audio = channel_audio(rng, sources, frames);
        g729_decoder_init(&dec[c].batch);
        g729_decoder_init(&dec[c].solo);
    }

    // Odd batches go through the workspace calls, the workspace off any alignment.
    std::vector<uint8_t> enc_space(g729_encode_frames_workspace_size(channel_count) + 1);
    std::vector<uint8_t> dec_space(g729_decode_frames_workspace_size(channel_count) + 1);
    int batch_number = 0;
    *sids = 0;
    *pauses = 0;
    for (;;) {
        std::vector<int> members;
        for (int c = 0; c < channel_count; ++c) {
            if (enc[static_cast<std::size_t>(c)].next < frames && rng() % 4 != 0) {
                members.push_back(c);
            }
        }
        bool left = false;
        for (const auto& e : enc) left = left || e.next < frames;
        if (!left) break;
        if (members.empty()) continue;
        std::shuffle(members.begin(), members.end(), rng);

        const int n = static_cast<int>(members.size());
        std::vector<g729_encoder_state*> states;
        std::vector<const int16_t*> in;
        std::vector<std::vector<uint8_t>> bytes(members.size(), std::vector<uint8_t>(10, 0xEE));
        std::vector<uint8_t*> out;
        std::vector<int32_t> counts(members.size(), -7);
        for (std::size_t k = 0; k < members.size(); ++k) {
            EncoderChannel& e = enc[static_cast<std::size_t>(members[k])];
            states.push_back(&e.batch);
            in.push_back(e.audio.data() + static_cast<std::size_t>(e.next) * G729_FRAME_SIZE);
            out.push_back(bytes[k].data());
        }
        const bool ws = batch_number++ % 2 == 1;
        ASSERT_EQ(ws ? g729_encode_frames_ws(states.data(), n, in.data(), out.data(),
                                             counts.data(), enc_space.data() + 1,
                                             enc_space.size() - 1)
                     : g729_encode_frames(states.data(), n, in.data(), out.data(), counts.data()),
                  G729_OK);
        for (std::size_t k = 0; k < members.size(); ++k) {
            EncoderChannel& e = enc[static_cast<std::size_t>(members[k])];
            std::vector<uint8_t> solo(10, 0xEE);
            int32_t solo_count = -7;
            g729_encode_frame(&e.solo, in[k], solo.data(), &solo_count);
            ASSERT_EQ(counts[k], solo_count) << "channel " << members[k] << " frame " << e.next;
            ASSERT_EQ(bytes[k], solo) << "channel " << members[k] << " frame " << e.next;
            ASSERT_EQ(std::memcmp(&e.batch, &e.solo, sizeof e.solo), 0)
                << "encoder state of channel " << members[k] << " after frame " << e.next;
            solo.resize(static_cast<std::size_t>(solo_count));
            *sids += solo_count == G729_SID_FRAME_BYTES;
            *pauses += solo_count == 0;
            e.units.push_back(solo);
            ++e.next;
        }
    }

    // The decoders receive each encoder's units, some of them lost, some replaced by a pause,
    // a few with a length no decoder accepts.
    for (std::size_t c = 0; c < dec.size(); ++c) {
        for (const auto& u : enc[c].units) {
            const int r = static_cast<int>(rng() % 20);
            int32_t len = static_cast<int32_t>(u.size());
            if (r == 0) len = G729_UNIT_LOST;
            if (r == 1) len = G729_UNIT_UNTRANSMITTED;
            if (r == 2) len = 7;
            dec[c].units.push_back(u);
            dec[c].lengths.push_back(len);
        }
    }
    for (;;) {
        std::vector<int> members;
        bool left = false;
        for (int c = 0; c < channel_count; ++c) {
            const auto& d = dec[static_cast<std::size_t>(c)];
            left = left || d.next < frames;
            if (d.next < frames && rng() % 4 != 0) members.push_back(c);
        }
        if (!left) break;
        if (members.empty()) continue;
        std::shuffle(members.begin(), members.end(), rng);

        const int n = static_cast<int>(members.size());
        std::vector<g729_decoder_state*> states;
        std::vector<std::vector<int16_t>> pcm(members.size(), std::vector<int16_t>(80, 0x5555));
        std::vector<int16_t*> out;
        std::vector<const uint8_t*> in;
        std::vector<int32_t> lengths;
        std::vector<int32_t> results(members.size(), 99);
        bool any_invalid = false;
        for (std::size_t k = 0; k < members.size(); ++k) {
            DecoderChannel& d = dec[static_cast<std::size_t>(members[k])];
            const std::size_t f = static_cast<std::size_t>(d.next);
            states.push_back(&d.batch);
            out.push_back(pcm[k].data());
            const int32_t len = d.lengths[f];
            // Units without bytes are passed as null: they must not be read.
            in.push_back(len > 0 ? d.units[f].data() : nullptr);
            lengths.push_back(len);
            any_invalid = any_invalid || (len != 10 && len != 2 && len != 0 && len != -1);
        }
        const int rc = batch_number++ % 2 == 1
                           ? g729_decode_frames_ws(states.data(), n, out.data(), in.data(),
                                                   lengths.data(), results.data(),
                                                   dec_space.data() + 1, dec_space.size() - 1)
                           : g729_decode_frames(states.data(), n, out.data(), in.data(),
                                                lengths.data(), results.data());
        ASSERT_EQ(rc, any_invalid ? -1 : 0);
        for (std::size_t k = 0; k < members.size(); ++k) {
            DecoderChannel& d = dec[static_cast<std::size_t>(members[k])];
            const std::size_t f = static_cast<std::size_t>(d.next);
            std::vector<int16_t> solo(80, 0x5555);
            const int32_t solo_rc = solo_decode(&d.solo, solo.data(), d.units[f], d.lengths[f]);
            ASSERT_EQ(results[k], solo_rc) << "channel " << members[k] << " frame " << f;
            ASSERT_EQ(pcm[k], solo) << "channel " << members[k] << " frame " << f;
            ASSERT_EQ(std::memcmp(&d.batch, &d.solo, sizeof d.solo), 0)
                << "decoder state of channel " << members[k] << " after frame " << f;
            ++d.next;
        }
    }
}

// Mixes of 1 to 37 channels: one lane, part of a vector, several vectors, more than one pass
// of the batched entry points (32 channels).
TEST(BatchApi, EveryChannelEqualsItsSoloRun) {
    const int sizes[] = {1, 3, 8, 13, 37};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(sizes[i]);
        int sids = 0;
        int pauses = 0;
        run_mix(1000 + static_cast<uint64_t>(i), sizes[i], 120, &sids, &pauses);
        if (HasFatalFailure()) return;
        // Every mix really had SID frames and pauses in it (its first channel has DTX on).
        EXPECT_GT(sids, 0);
        EXPECT_GT(pauses, 0);
    }
}

// The same on every instruction set Highway built the kernels for that this processor runs.
TEST(BatchApi, EveryHighwayTarget) {
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t target : targets) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        EXPECT_GE(highpass_lanes(), 1);
        int sids = 0;
        int pauses = 0;
        run_mix(77 + static_cast<uint64_t>(target % 1000), 11, 60, &sids, &pauses);
        if (HasFatalFailure()) break;
    }
    hwy::SetSupportedTargetsForTest(0);
}

// The lanes' gain codebook search against the single quantizer, on every target: targets
// close to the adaptive-codebook vector (pitch gains near and above 1, where taming excludes
// candidates), random code vectors and predictor memories, taming on and off; the index, both
// gains and the predictor memory must come out identical.
TEST(BatchApi, GainSearchEqualsTheQuantizerOnEveryTarget) {
    constexpr int kChannels = 21;
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        std::mt19937_64 rng(static_cast<uint64_t>(target % 1000));
        std::normal_distribution<double> normal(0.0, 1000.0);
        int tamed_differently = 0;
        for (int trial = 0; trial < 40; ++trial) {
            double corr[kChannels][5];
            double* c[kChannels];
            double g0[kChannels];
            int taming[kChannels];
            double code[kChannels][40];
            double memory[kChannels][4];
            for (int k = 0; k < kChannels; ++k) {
                // x = gp y + gc z + a little noise, with gc near the predicted gain, so that the
                // preselection centres on the optimum; gp from 0.8 to 1.3.
                for (double& m : memory[k]) m = -14.0 + 0.5 * static_cast<double>(rng() % 40);
                for (int n = 0; n < 40; ++n) {
                    code[k][n] = n % 8 == static_cast<int>(rng() % 8) ? 1.0 : 0.0;
                }
                gain_predictor_predict(memory[k], code[k], 40, &g0[k]);
                const double gp = 0.8 + 0.01 * static_cast<double>(rng() % 50);
                const double gc = g0[k] * (0.3 + 0.05 * static_cast<double>(rng() % 30));
                double x[40];
                double y[40];
                double z[40];
                for (int n = 0; n < 40; ++n) {
                    y[n] = normal(rng);
                    z[n] = code[k][n] + 0.1 * code[k][(n + 39) % 40];
                    x[n] = gp * y[n] + gc * z[n] + 0.01 * normal(rng);
                }
                adaptive_codebook_gain(x, y, corr[k], 40);
                fixed_codebook_correlations(x, y, z, corr[k]);
                taming[k] = static_cast<int>(rng() % 2);
                c[k] = corr[k];
            }
            int row1[kChannels];
            int row2[kChannels];
            gain_search_channels(c, g0, taming, kChannels, row1, row2);
            for (int k = 0; k < kChannels; ++k) {
                double solo_memory[4];
                double untamed_memory[4];
                std::memcpy(solo_memory, memory[k], sizeof solo_memory);
                std::memcpy(untamed_memory, memory[k], sizeof untamed_memory);
                double gp = 0.0;
                double gc = 0.0;
                const int32_t index = quantize_gains(solo_memory, code[k], corr[k], 40, &gp, &gc,
                                                     taming[k]);
                double lane_gp = 0.0;
                double lane_gc = 0.0;
                const int32_t lane_index =
                    quantized_gains(memory[k], row1[k], row2[k], g0[k], &lane_gp, &lane_gc);
                ASSERT_EQ(lane_index, index) << "trial " << trial << " channel " << k;
                ASSERT_EQ(std::memcmp(&lane_gp, &gp, sizeof gp), 0);
                ASSERT_EQ(std::memcmp(&lane_gc, &gc, sizeof gc), 0);
                ASSERT_EQ(std::memcmp(memory[k], solo_memory, sizeof solo_memory), 0);
                if (taming[k] == 1) {
                    double ugp = 0.0;
                    double ugc = 0.0;
                    if (quantize_gains(untamed_memory, code[k], corr[k], 40, &ugp, &ugc, 0) !=
                        index) {
                        ++tamed_differently;
                    }
                }
            }
        }
        // The inputs really reached the candidates taming excludes.
        EXPECT_GT(tamed_differently, 0);
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(BatchApi, RejectsBadArguments) {
    g729_encoder_state es;
    g729_encoder_init(&es, 0);
    g729_encoder_state* states[1] = {&es};
    const int16_t pcm[80] = {};
    const int16_t* in[1] = {pcm};
    uint8_t buf[10];
    uint8_t* out[1] = {buf};
    int32_t count = 0;
    const g729_encoder_state before = es;
    EXPECT_EQ(g729_encode_frames(states, -1, in, out, &count), -1);
    const int16_t* missing[1] = {nullptr};
    EXPECT_EQ(g729_encode_frames(states, 1, missing, out, &count), -1);
    EXPECT_EQ(std::memcmp(&es, &before, sizeof es), 0);
    EXPECT_EQ(g729_encode_frames(states, 0, in, out, &count), 0);

    g729_decoder_state ds;
    g729_decoder_init(&ds);
    const g729_decoder_state dbefore = ds;
    g729_decoder_state* dstates[1] = {&ds};
    int16_t samples[80];
    int16_t* dout[1] = {samples};
    const int32_t speech_len[1] = {10};
    int32_t result = 5;
    // A speech unit with no bytes is refused before anything is decoded.
    EXPECT_EQ(g729_decode_frames(dstates, 1, dout, nullptr, speech_len, &result), -1);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(std::memcmp(&ds, &dbefore, sizeof ds), 0);
    // Lost frames need no bytes at all.
    const int32_t lost[1] = {G729_UNIT_LOST};
    EXPECT_EQ(g729_decode_frames(dstates, 1, dout, nullptr, lost, nullptr), 0);
}

// The workspace calls refuse what the plain ones refuse, and a missing or short workspace,
// with nothing coded or written.
TEST(BatchApi, WorkspaceCallsRejectBadArguments) {
    const std::size_t enc_size = g729_encode_frames_workspace_size(1);
    const std::size_t dec_size = g729_decode_frames_workspace_size(1);
    ASSERT_GT(enc_size, 0u);
    ASSERT_GT(dec_size, 0u);
    EXPECT_EQ(g729_encode_frames_workspace_size(-1), 0u);
    EXPECT_EQ(g729_decode_frames_workspace_size(-1), 0u);
    std::vector<uint8_t> enc_space(enc_size);
    std::vector<uint8_t> dec_space(dec_size);

    g729_encoder_state es;
    g729_encoder_init(&es, 0);
    g729_encoder_state* states[1] = {&es};
    const int16_t pcm[80] = {};
    const int16_t* in[1] = {pcm};
    uint8_t buf[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    uint8_t* out[1] = {buf};
    int32_t count = 77;
    const g729_encoder_state before = es;
    struct EncodeCase {
        const char* what;
        g729_encoder_state* const* states;
        int count;
        const int16_t* const* in;
        void* space;
        std::size_t size;
    };
    const EncodeCase encode_cases[] = {
        {"null workspace", states, 1, in, nullptr, enc_size},
        {"short workspace", states, 1, in, enc_space.data(), enc_size - 1},
        {"negative count", states, -1, in, enc_space.data(), enc_size},
        {"null states", nullptr, 1, in, enc_space.data(), enc_size},
        {"null samples", states, 1, nullptr, enc_space.data(), enc_size},
    };
    for (const EncodeCase& c : encode_cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(g729_encode_frames_ws(c.states, c.count, c.in, out, &count, c.space, c.size),
                  G729_ERROR);
        EXPECT_EQ(count, 77);
        EXPECT_EQ(buf[0], 1);
        EXPECT_EQ(std::memcmp(&es, &before, sizeof es), 0);
    }
    EXPECT_EQ(g729_encode_frames_ws(states, 1, in, out, &count, enc_space.data(), enc_size),
              G729_OK);
    EXPECT_EQ(count, 10);

    g729_decoder_state ds;
    g729_decoder_init(&ds);
    const g729_decoder_state dbefore = ds;
    g729_decoder_state* dstates[1] = {&ds};
    int16_t samples[80] = {};
    int16_t* dout[1] = {samples};
    const uint8_t* units[1] = {buf};
    const int32_t lengths[1] = {10};
    int32_t result = 5;
    EXPECT_EQ(g729_decode_frames_ws(dstates, 1, dout, units, lengths, &result, nullptr,
                                    dec_size),
              G729_ERROR);
    EXPECT_EQ(g729_decode_frames_ws(dstates, 1, dout, units, lengths, &result,
                                    dec_space.data(), dec_size - 1),
              G729_ERROR);
    EXPECT_EQ(g729_decode_frames_ws(dstates, 1, dout, nullptr, lengths, &result,
                                    dec_space.data(), dec_size),
              G729_ERROR);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(samples[0], 0);
    EXPECT_EQ(std::memcmp(&ds, &dbefore, sizeof ds), 0);
    EXPECT_EQ(g729_decode_frames_ws(dstates, 1, dout, units, lengths, &result, dec_space.data(),
                                    dec_size),
              G729_OK);
    EXPECT_EQ(result, G729_OK);
}

}  // namespace
