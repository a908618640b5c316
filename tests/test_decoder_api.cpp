// SPDX-License-Identifier: BSD-2-Clause
// Decoder entry points: unit lengths, initial state, output conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "codec/g729.h"
#include "codec/output_conversion.h"

using namespace g729;

TEST(OutputConversion, RoundsHalfAwayAndSaturates) {
    EXPECT_EQ(double_to_pcm16(32767.4), 32767);
    EXPECT_EQ(double_to_pcm16(32767.6), 32767);
    EXPECT_EQ(double_to_pcm16(-32768.6), -32768);
    EXPECT_EQ(double_to_pcm16(-40000.0), -32768);
    EXPECT_EQ(double_to_pcm16(2.5), 3);
    EXPECT_EQ(double_to_pcm16(-2.5), -3);
    EXPECT_EQ(double_to_pcm16(-0.4), 0);
    EXPECT_EQ(double_to_pcm16(-0.5), -1);
    EXPECT_EQ(double_to_pcm16(0.49), 0);
    EXPECT_EQ(double_to_pcm16(NAN), 0);
    EXPECT_EQ(double_to_pcm16(INFINITY), 0);
}

TEST(DecoderApi, RefusesOtherUnitLengthsWithoutSideEffects) {
    static g729_decoder_state st, before;
    g729_decoder_init(&st);
    const uint8_t frame[10] = {0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e};
    int16_t out[80];
    ASSERT_EQ(g729_decode_frame(&st, out, frame, 10), 0);
    std::memcpy(&before, &st, sizeof(st));
    for (int len : {9, 3, 0, 1, 11, 20, -10}) {
        int16_t samples[80];
        for (int16_t& s : samples) s = 1234;
        EXPECT_EQ(g729_decode_frame(&st, samples, frame, len), -1) << len;
        for (int16_t s : samples) EXPECT_EQ(s, 1234);
        EXPECT_EQ(std::memcmp(&before, &st, sizeof(st)), 0) << len;
    }
}

TEST(DecoderApi, InitialState) {
    static g729_decoder_state st;
    std::memset(&st, 0x5a, sizeof(st));
    g729_decoder_init(&st);
    EXPECT_EQ(st.prev_t0, 60);
    EXPECT_EQ(st.sharp, 0.2);
    EXPECT_EQ(st.erasure_seed, 21845);
    EXPECT_EQ(st.cng_seed, 11111);
    EXPECT_EQ(st.prev_frame_type, 1);
    EXPECT_EQ(st.postfilter.agc_gain, 1.0);
    EXPECT_EQ(st.cng.sid_gain, 0.502);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(st.lsp_prev[k], initial_lsp[k]);
        EXPECT_EQ(st.cng.lsp_sid[k], std::cos(initial_lsf[k]));
        EXPECT_EQ(st.lsp_decoder_state.prev_lsf[k], initial_lsf[k]);
    }
    for (int k = 0; k < 4; ++k) EXPECT_EQ(st.gain_pred_mem[k], -14.0);
}

namespace {

// Energy of the component at `hz` in samples [from, end): |sum v[n] e^{-jwn}|^2.
double tone_energy(const std::vector<double>& v, std::size_t from, double hz) {
    double c = 0.0, s = 0.0;
    for (std::size_t n = from; n < v.size(); ++n) {
        c += v[n] * std::cos(2 * M_PI * hz * n / 8000.0);
        s += v[n] * std::sin(2 * M_PI * hz * n / 8000.0);
    }
    return c * c + s * s;
}

}  // namespace

TEST(DecoderApi, EncoderDecoderRoundTripKeepsBothTonesOfATwoToneSignal) {
    static g729_encoder_state enc;
    static g729_decoder_state dec;
    g729_encoder_init(&enc, 0);
    g729_decoder_init(&dec);
    std::vector<double> in, out;
    for (int f = 0; f < 100; ++f) {
        int16_t x[80];
        for (int i = 0; i < 80; ++i) {
            const double t = (f * 80 + i) / 8000.0;
            x[i] = static_cast<int16_t>(3000.0 * std::sin(2 * M_PI * 440.0 * t) +
                                        1500.0 * std::sin(2 * M_PI * 1250.0 * t));
            in.push_back(x[i]);
        }
        uint8_t bytes[10];
        int32_t count = 0;
        g729_encode_frame(&enc, x, bytes, &count);
        ASSERT_EQ(count, 10);
        int16_t y[80];
        ASSERT_EQ(g729_decode_frame(&dec, y, bytes, count), 0);
        out.insert(out.end(), y, y + 80);
    }
    // Measured after the first 20 frames (start-up): level -1.3 dB, 440 Hz -0.7 dB, 1250 Hz
    // -7.4 dB, everything else 15.5 dB below the output. The bounds leave a margin for
    // legitimate changes of the searches, not for a lost tone or a wrong level.
    const std::size_t from = 1600;
    double in_energy = 0.0, out_energy = 0.0;
    for (std::size_t n = from; n < in.size(); ++n) {
        in_energy += in[n] * in[n];
        out_energy += out[n] * out[n];
    }
    const double level_db = 10.0 * std::log10(out_energy / in_energy);
    EXPECT_GT(level_db, -3.0);
    EXPECT_LT(level_db, 1.0);
    const double low_db = 10.0 * std::log10(tone_energy(out, from, 440.0) / tone_energy(in, from, 440.0));
    EXPECT_GT(low_db, -2.0);
    EXPECT_LT(low_db, 1.0);
    const double high_db =
        10.0 * std::log10(tone_energy(out, from, 1250.0) / tone_energy(in, from, 1250.0));
    EXPECT_GT(high_db, -10.0);
    EXPECT_LT(high_db, 1.0);
    // Energy of the two tones in the output against the rest: E_tone = 2 |X|^2 / N.
    const double n = static_cast<double>(out.size() - from);
    const double tones = 2.0 * (tone_energy(out, from, 440.0) + tone_energy(out, from, 1250.0)) / n;
    EXPECT_GT(10.0 * std::log10(out_energy / (out_energy - tones)), 12.0);
}
