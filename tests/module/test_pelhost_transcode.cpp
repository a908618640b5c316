// The host's transcoding job: slin through lintog729, the G.729 frames through g729tolin.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/transcode.h"
#include "host/wav_io.h"
#include "module_test_support.h"

namespace {

using orvane_test::decode_direct;
using orvane_test::encode_direct;

constexpr std::size_t kLength = 12345;  // not a whole number of 10 ms blocks

// The codec run directly over the input padded with silence to whole blocks.
std::vector<int16_t> expected_output(std::vector<int16_t> input) {
    input.resize((input.size() + 79) / 80 * 80, 0);
    const std::vector<uint8_t> coded = encode_direct(input);
    const std::vector<int> units(coded.size() / 10, 10);
    return decode_direct(coded, units);
}

class Transcode : public orvane_test::ModuleTest {};

TEST_F(Transcode, MatchesTheCodecRunDirectlyForAnyPacketSize) {
    const std::vector<int16_t> input(orvane_test::speech().begin(),
                                     orvane_test::speech().begin() + kLength);
    const std::vector<int16_t> expected = expected_output(input);
    for (int packet : {160, 56, 200, 8000}) {
        SCOPED_TRACE(packet);
        const pelhost::TranscodeResult r = pelhost::transcode(encoder(), decoder(), input, packet);
        EXPECT_EQ(r.output, expected);
        EXPECT_EQ(r.input_samples, kLength);
        EXPECT_EQ(r.padding_samples, 55u);
        EXPECT_EQ(r.encode.frames_in, static_cast<long>((kLength + 55 + packet - 1) / packet));
        EXPECT_EQ(r.encode.bytes_out, static_cast<long>((kLength + 55) / 8));
        EXPECT_EQ(r.encode.samples_out, static_cast<long>(kLength + 55));
        EXPECT_EQ(r.decode.frames_in, r.encode.frames_out);
        EXPECT_EQ(r.decode.samples_out, static_cast<long>(kLength + 55));
        EXPECT_GT(r.encode.cpu_seconds, 0.0);
        EXPECT_GT(r.decode.cpu_seconds, 0.0);
    }
    EXPECT_TRUE(log_.lines().empty());
}

TEST(Pelhost, TranscodeWritesTheDecodedSpeech) {
    const std::string dir = ::testing::TempDir();
    const std::string in = dir + "orvane_in_" + std::to_string(getpid()) + ".wav";
    const std::string out = dir + "orvane_out_" + std::to_string(getpid()) + ".wav";
    const std::vector<int16_t> input(orvane_test::speech().begin(),
                                     orvane_test::speech().begin() + kLength);
    pelhost::write_wav(in, input);
    int status = 0;
    const std::string printed = orvane_test::run(
        orvane_test::pelhost_command() + " transcode " + in + " " + out + " --packet-ms 30 2>/dev/null",
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(printed.find("lintog729"), std::string::npos);
    EXPECT_NE(printed.find("ms CPU per second of audio"), std::string::npos);
    EXPECT_NE(printed.find("1550 bytes"), std::string::npos);  // 155 frames of 10 bytes
    // The path of the written file closes the report.
    EXPECT_EQ(printed.substr(printed.rfind(out)), out + "\n");
    EXPECT_EQ(pelhost::read_wav(out), expected_output(input));

    EXPECT_EQ(orvane_test::run(orvane_test::pelhost_command() + " transcode " + in + " " + out +
                                   " --packet-ms 0 2>/dev/null",
                               &status),
              "");
    EXPECT_NE(status, 0);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(Pelhost, ShowTranslationGivesACostForBothTranslators) {
    int status = 0;
    const std::string printed =
        orvane_test::run(orvane_test::pelhost_command() + " show translation 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(printed.find("lintog729  slin -> g729"), std::string::npos) << printed;
    EXPECT_NE(printed.find("g729tolin  g729 -> slin"), std::string::npos) << printed;
}

}  // namespace
