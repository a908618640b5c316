// SPDX-License-Identifier: BSD-2-Clause
// The calls for callers that cannot see the records (sizes, library-allocated records), the
// RTP payload split, and the codec's delay as the header states it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <cstdint>
#include <vector>

#include "codec/g729.h"
#include "tests/noise_pause_signal.h"

namespace {

// Codes pcm frame by frame with the given records, decoding what the encoder sends (comfort
// noise for untransmitted frames); returns the coded bytes followed by the decoded samples.
std::vector<int32_t> code_with(g729_encoder_state* enc, g729_decoder_state* dec,
                               const std::vector<int16_t>& pcm) {
    std::vector<int32_t> out;
    for (std::size_t at = 0; at + G729_FRAME_SIZE <= pcm.size(); at += G729_FRAME_SIZE) {
        uint8_t bytes[G729_SPEECH_FRAME_BYTES];
        int32_t count = -1;
        int16_t decoded[G729_FRAME_SIZE];
        EXPECT_EQ(g729_encode_frame(enc, &pcm[at], bytes, &count), G729_OK);
        const int r = count == 0 ? g729_decode_untransmitted_frame(dec, decoded)
                                 : g729_decode_frame(dec, decoded, bytes, count);
        EXPECT_EQ(r, G729_OK);
        out.insert(out.end(), bytes, bytes + count);
        out.insert(out.end(), decoded, decoded + G729_FRAME_SIZE);
    }
    return out;
}

// The sizes are the records' sizeof; a library-allocated pair codes a stream exactly as a
// caller-allocated pair does (DTX off and on); destroying NULL does nothing.
TEST(AbiHelpers, SizesAndLibraryAllocatedRecords) {
    EXPECT_EQ(g729_encoder_size(), sizeof(g729_encoder_state));
    EXPECT_EQ(g729_decoder_size(), sizeof(g729_decoder_state));
    const std::vector<int16_t> pcm = g729test::noise_pause_signal();
    for (const int dtx : {0, 1}) {
        SCOPED_TRACE(dtx ? "DTX on" : "DTX off");
        g729_encoder_state enc;
        g729_decoder_state dec;
        ASSERT_EQ(g729_encoder_init(&enc, dtx), G729_OK);
        ASSERT_EQ(g729_decoder_init(&dec), G729_OK);
        const std::vector<int32_t> expected = code_with(&enc, &dec, pcm);

        g729_encoder_state* made_enc = g729_encoder_create(dtx);
        g729_decoder_state* made_dec = g729_decoder_create();
        ASSERT_NE(made_enc, nullptr);
        ASSERT_NE(made_dec, nullptr);
        EXPECT_EQ(made_enc->dtx_enabled, dtx);
        EXPECT_EQ(code_with(made_enc, made_dec, pcm), expected);
        g729_encoder_destroy(made_enc);
        g729_decoder_destroy(made_dec);
    }
    g729_encoder_destroy(nullptr);
    g729_decoder_destroy(nullptr);
}

TEST(AbiHelpers, PayloadUnits) {
    constexpr int32_t S = G729_SPEECH_FRAME_BYTES;
    constexpr int32_t D = G729_SID_FRAME_BYTES;
    struct Case {
        const char* what;
        std::size_t length;
        int capacity;
        bool null_array;
        int result;
        std::vector<int32_t> units;
    };
    const Case cases[] = {
        {"empty", 0, 4, false, 0, {}},
        {"one speech frame", 10, 4, false, 1, {S}},
        {"three speech frames", 30, 3, false, 3, {S, S, S}},
        {"only a SID frame", 2, 1, false, 1, {D}},
        {"SID at the end", 22, 4, false, 3, {S, S, D}},
        {"room for exactly the count", 12, 2, false, 2, {S, D}},
        {"one byte", 1, 4, false, G729_ERROR, {}},
        {"three bytes", 3, 4, false, G729_ERROR, {}},
        {"a speech frame and a stray byte", 13, 4, false, G729_ERROR, {}},
        {"two SID frames", 4, 4, false, G729_ERROR, {}},
        {"a speech frame between SID frames", 14, 4, false, G729_ERROR, {}},
        {"nine bytes after a frame", 19, 4, false, G729_ERROR, {}},
        {"capacity one short", 22, 2, false, G729_ERROR, {}},
        {"capacity 0 for a frame", 10, 0, false, G729_ERROR, {}},
        {"negative capacity", 10, -1, false, G729_ERROR, {}},
        {"null array", 10, 4, true, G729_ERROR, {}},
        {"null array, empty payload", 0, 0, true, G729_ERROR, {}},
        {"huge length", SIZE_MAX - SIZE_MAX % 10, 4, false, G729_ERROR, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<int32_t> units(8, 99);
        const int r = g729_payload_units(c.length, c.null_array ? nullptr : units.data(),
                                         c.capacity);
        ASSERT_EQ(r, c.result);
        const int written = r < 0 ? 0 : r;
        EXPECT_EQ(std::vector<int32_t>(units.begin(), units.begin() + written), c.units);
        // Nothing beyond the units (nothing at all on an error) is written.
        for (std::size_t i = written; i < units.size(); ++i) EXPECT_EQ(units[i], 99) << i;
    }
}

// Two signals with no energy below 300 Hz (the encoder's high-pass input filter shifts the
// phase of lower tones) and no fixed period (so no lag but the true one lines the waveforms
// up), coded with DTX off: the normalised cross-correlation of the decoded output against the
// input peaks at a lag of 40 samples, as the header states, and clearly so.
std::vector<int16_t> sweep_signal(bool harmonics) {
    g729test::NoiseSource noise(7u);
    std::vector<int16_t> pcm;
    double phase = 0.0;
    const int total = 200 * G729_FRAME_SIZE;
    for (int n = 0; n < total; ++n) {
        // A tone sweeping 300 .. 3000 Hz, or a buzz at a pitch wandering 60 .. 180 Hz whose
        // harmonics 3 .. 20 are kept.
        const double freq = harmonics ? 120.0 + 60.0 * std::sin(n / 3000.0)
                                      : 300.0 + 2700.0 * n / total;
        phase += freq / 8000.0;
        phase -= std::floor(phase);
        double v = 0.0;
        if (harmonics) {
            for (int h = 3; h <= 20; ++h)
                v += 4000.0 * std::sin(2.0 * std::numbers::pi * h * phase) / h;
            v += noise.next(100);
        } else {
            v = 8000.0 * std::sin(2.0 * std::numbers::pi * phase);
        }
        pcm.push_back(static_cast<int16_t>(std::lround(v)));
    }
    return pcm;
}

TEST(AbiHelpers, DecodedOutputLagsTheInputBy40Samples) {
    for (const bool harmonics : {false, true}) {
        SCOPED_TRACE(harmonics ? "wandering buzz" : "tone sweep");
        const std::vector<int16_t> pcm = sweep_signal(harmonics);
        g729_encoder_state enc;
        g729_decoder_state dec;
        ASSERT_EQ(g729_encoder_init(&enc, 0), G729_OK);
        ASSERT_EQ(g729_decoder_init(&dec), G729_OK);
        std::vector<int16_t> out(pcm.size());
        for (std::size_t at = 0; at < pcm.size(); at += G729_FRAME_SIZE) {
            uint8_t bytes[G729_SPEECH_FRAME_BYTES];
            int32_t count = 0;
            ASSERT_EQ(g729_encode_frame(&enc, &pcm[at], bytes, &count), G729_OK);
            ASSERT_EQ(g729_decode_frame(&dec, &out[at], bytes, count), G729_OK);
        }
        const int max_lag = 2 * G729_FRAME_SIZE;
        const std::size_t span = pcm.size() - max_lag;
        std::vector<double> corr;
        for (int lag = 0; lag <= max_lag; ++lag) {
            double xy = 0.0, xx = 0.0, yy = 0.0;
            for (std::size_t n = 0; n < span; ++n) {
                const double x = pcm[n], y = out[n + lag];
                xy += x * y;
                xx += x * x;
                yy += y * y;
            }
            corr.push_back(xy / std::sqrt(xx * yy));
        }
        int best_lag = 0;
        for (int lag = 1; lag <= max_lag; ++lag)
            if (corr[lag] > corr[best_lag]) best_lag = lag;
        const double best = corr[best_lag];
        // The best correlation more than 2 samples away from the peak.
        double second = -1.0;
        for (int lag = 0; lag <= max_lag; ++lag)
            if (std::abs(lag - best_lag) > 2) second = std::max(second, corr[lag]);
        EXPECT_EQ(best_lag, 40);
        EXPECT_GT(best, 0.8);
        EXPECT_LT(second, best - 0.1);
    }
}

}  // namespace
