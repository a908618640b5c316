// SPDX-License-Identifier: BSD-2-Clause
// The public header as C and C++ programs see it: the version, the state records' layout in
// both languages, and a stream coded from C giving exactly what the C++ stream runner gives.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "codec/g729.h"
#include "tests/c_api_support.h"
#include "tests/noise_pause_signal.h"
#include "lib/eval/codec_runner.h"

namespace {

TEST(PublicApi, VersionStringMatchesTheMacros) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%d.%d.%d", G729_VERSION_MAJOR, G729_VERSION_MINOR,
                  G729_VERSION_PATCH);
    EXPECT_STREQ(g729_version_string(), expected);
    EXPECT_EQ(G729_VERSION_MAJOR, 1);
}

TEST(PublicApi, RecordsHaveTheSameLayoutInCAndCpp) {
    const g729test_c_layout c = g729test_c_layout_of_records();
    EXPECT_EQ(c.encoder_size, sizeof(g729_encoder_state));
    EXPECT_EQ(c.decoder_size, sizeof(g729_decoder_state));
    EXPECT_EQ(c.encoder_vad_offset, offsetof(g729_encoder_state, vad));
    EXPECT_EQ(c.encoder_dtx_enabled_offset, offsetof(g729_encoder_state, dtx_enabled));
    EXPECT_EQ(c.decoder_postfilter_offset, offsetof(g729_decoder_state, postfilter));
    EXPECT_EQ(c.decoder_synth_buf_offset, offsetof(g729_decoder_state, synth_buf));
}

// The C caller and the C++ runner code the noise-and-pause signal, DTX off and on, with every
// seventh frame lost on the way: the same coded byte count and the same decoded samples.
TEST(PublicApi, StreamCodedFromCMatchesTheCppRunner) {
    const std::vector<int16_t> pcm = g729test::noise_pause_signal();
    const int frames = static_cast<int>(pcm.size() / G729_FRAME_SIZE);
    for (const int dtx : {0, 1}) {
        SCOPED_TRACE(dtx ? "DTX on" : "DTX off");
        std::vector<g729io::CodedFrame> coded = g729eval::encode_samples(pcm, dtx != 0);
        long cpp_bytes = 0;
        for (g729io::CodedFrame& f : coded) cpp_bytes += f.payload_bytes();
        for (std::size_t i = 0; i < coded.size(); i += 7) coded[i] = g729io::CodedFrame::lost();
        const g729eval::Decoded cpp = g729eval::decode_frames(coded);
        ASSERT_TRUE(cpp.ok()) << cpp.error;

        std::vector<int16_t> c_decoded(pcm.size());
        const long c_bytes = g729test_c_round_trip(pcm.data(), frames, dtx, 7, c_decoded.data());
        EXPECT_EQ(c_bytes, cpp_bytes);
        EXPECT_EQ(c_decoded, cpp.samples);
    }
}

TEST(PublicApi, ResultCodesKeepTheirValues) {
    EXPECT_EQ(G729_OK, 0);
    EXPECT_EQ(G729_ERROR, -1);
}

// Every single-channel entry point, the initialisations, the packer and the unpacker, with each
// pointer they need null in turn: G729_ERROR, and nothing written (states, samples, bytes,
// counts and parameter records keep what they held).
TEST(PublicApi, NullPointersAreRefusedWithNothingWritten) {
    g729_encoder_state enc;
    g729_encoder_init(&enc, 1);
    g729_decoder_state dec;
    g729_decoder_init(&dec);
    const g729_encoder_state enc_before = enc;
    const g729_decoder_state dec_before = dec;
    int16_t in[80];
    for (int i = 0; i < 80; ++i) in[i] = static_cast<int16_t>(i * 300 - 12000);
    const g729_params params = {G729_FRAME_SPEECH, 1, 2, 3, 0, 5, 6, 7, 8, 9, 10, 11};
    const uint8_t unit[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    int16_t pcm[80];
    uint8_t bytes[10];
    int32_t count = 0;
    g729_decoded_params decoded;
    const auto fill = [&] {
        std::memset(pcm, 0x5A, sizeof pcm);
        std::memset(bytes, 0xEE, sizeof bytes);
        count = -7;
        std::memset(decoded, 0x33, sizeof decoded);
    };
    struct Case {
        const char* what;
        std::function<int()> call;
    };
    const Case cases[] = {
        {"encoder init: state", [&] { return g729_encoder_init(nullptr, 1); }},
        {"decoder init: state", [&] { return g729_decoder_init(nullptr); }},
        {"encode: state", [&] { return g729_encode_frame(nullptr, in, bytes, &count); }},
        {"encode: samples", [&] { return g729_encode_frame(&enc, nullptr, bytes, &count); }},
        {"encode: bytes", [&] { return g729_encode_frame(&enc, in, nullptr, &count); }},
        {"encode: count", [&] { return g729_encode_frame(&enc, in, bytes, nullptr); }},
        {"decode: state", [&] { return g729_decode_frame(nullptr, pcm, unit, 10); }},
        {"decode: samples", [&] { return g729_decode_frame(&dec, nullptr, unit, 10); }},
        {"decode: speech bytes", [&] { return g729_decode_frame(&dec, pcm, nullptr, 10); }},
        {"decode: SID bytes", [&] { return g729_decode_frame(&dec, pcm, nullptr, 2); }},
        {"lost: state", [&] { return g729_decode_lost_frame(nullptr, pcm); }},
        {"lost: samples", [&] { return g729_decode_lost_frame(&dec, nullptr); }},
        {"untransmitted: state", [&] { return g729_decode_untransmitted_frame(nullptr, pcm); }},
        {"untransmitted: samples", [&] { return g729_decode_untransmitted_frame(&dec, nullptr); }},
        {"pack: params", [&] { return g729_pack_frame(nullptr, bytes, &count); }},
        {"pack: bytes", [&] { return g729_pack_frame(params, nullptr, &count); }},
        {"pack: count", [&] { return g729_pack_frame(params, bytes, nullptr); }},
        {"unpack: record", [&] { return g729_unpack_frame(nullptr, unit, G729_FRAME_SPEECH); }},
        {"unpack: speech bytes", [&] { return g729_unpack_frame(decoded, nullptr, 1); }},
        {"unpack: SID bytes", [&] { return g729_unpack_frame(decoded, nullptr, 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fill();
        EXPECT_EQ(c.call(), G729_ERROR);
        EXPECT_EQ(std::memcmp(&enc, &enc_before, sizeof enc), 0);
        EXPECT_EQ(std::memcmp(&dec, &dec_before, sizeof dec), 0);
        EXPECT_EQ(pcm[0], 0x5A5A);
        EXPECT_EQ(bytes[0], 0xEE);
        EXPECT_EQ(count, -7);
        EXPECT_EQ(decoded[0], 0x33333333);
    }
    // Bytes are needed only for a frame that has them.
    fill();
    g729_params pause = {G729_FRAME_NO_TRANSMISSION};
    EXPECT_EQ(g729_pack_frame(pause, nullptr, &count), G729_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(g729_unpack_frame(decoded, nullptr, G729_FRAME_NO_TRANSMISSION), G729_OK);
    EXPECT_EQ(decoded[0], 1);  // erased
    EXPECT_EQ(g729_encoder_init(&enc, 0), G729_OK);
    EXPECT_EQ(g729_decoder_init(&dec), G729_OK);
    EXPECT_EQ(g729_pack_frame(params, bytes, &count), G729_OK);
    EXPECT_EQ(count, 10);
}

// The same refusals seen from C, where the initialisations' and the packer's results are new.
TEST(PublicApi, NullPointersAreRefusedFromC) { EXPECT_EQ(g729test_c_null_pointer_calls(), 0); }

}  // namespace
