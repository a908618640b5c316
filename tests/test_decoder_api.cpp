// Decoder entry points: unit lengths, initial state, output conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/g729.h"
#include "codec/output_conversion.h"

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

TEST(DecoderApi, EncoderDecoderRoundTripIsFiniteAndAudible) {
    static g729_encoder_state enc;
    static g729_decoder_state dec;
    g729_encoder_init(&enc, 0);
    g729_decoder_init(&dec);
    double in_energy = 0.0, out_energy = 0.0;
    for (int f = 0; f < 100; ++f) {
        int16_t in[80];
        for (int i = 0; i < 80; ++i) {
            const double t = (f * 80 + i) / 8000.0;
            in[i] = static_cast<int16_t>(3000.0 * std::sin(2 * M_PI * 440.0 * t) +
                                         1500.0 * std::sin(2 * M_PI * 1250.0 * t));
        }
        uint8_t bytes[10];
        int32_t count = 0;
        g729_encode_frame(&enc, in, bytes, &count);
        ASSERT_EQ(count, 10);
        int16_t out[80];
        ASSERT_EQ(g729_decode_frame(&dec, out, bytes, count), 0);
        if (f >= 20) {
            for (int i = 0; i < 80; ++i) {
                in_energy += double(in[i]) * in[i];
                out_energy += double(out[i]) * out[i];
            }
        }
    }
    // A steady two-tone signal comes back at roughly its own level.
    const double ratio_db = 10.0 * std::log10(out_energy / in_energy);
    EXPECT_GT(ratio_db, -3.0);
    EXPECT_LT(ratio_db, 3.0);
}
