// The public header as C and C++ programs see it: the version, the state records' layout in
// both languages, and a stream coded from C giving exactly what the C++ stream runner gives.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/g729.h"
#include "tests/c_api_support.h"
#include "tests/noise_pause_signal.h"
#include "tools/eval/codec_runner.h"

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

}  // namespace
