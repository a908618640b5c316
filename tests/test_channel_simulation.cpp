// SPDX-License-Identifier: BSD-2-Clause
// The telephone-channel simulation: output lined up with the input at every rate, the loss
// chain's long-run loss and run lengths, the many-clip form equal to the one-clip form, and
// at 8000 Hz without loss exactly the codec's own round trip with its delay taken out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "lib/eval/channel_simulation.h"
#include "lib/eval/codec_runner.h"
#include "lib/io/pcm_io.h"
#include "lib/io/resampler.h"

namespace {

using g729eval::ChannelSettings;

std::vector<float> speech_8k() {
    const auto pcm = g729io::read_audio(
        (std::filesystem::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav").string());
    std::vector<float> x;
    for (const int16_t s : pcm.samples) x.push_back(static_cast<float>(s) / 32768.0f);
    return x;
}

std::vector<float> at_rate(const std::vector<float>& x8, double rate) {
    if (rate == 8000) return x8;
    g729io::Resampler r(8000, rate);
    std::vector<float> out;
    r.process(x8.data(), x8.size(), out);
    r.flush(out);
    return out;
}

// The lag in -max..max at which sum x[n] y[n + lag] peaks.
int peak_lag(const std::vector<float>& x, const std::vector<float>& y, int max) {
    int best = 0;
    double best_value = -1e300;
    for (int lag = -max; lag <= max; ++lag) {
        double sum = 0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            const auto m = static_cast<std::ptrdiff_t>(n) + lag;
            if (m >= 0 && m < static_cast<std::ptrdiff_t>(y.size())) sum += double(x[n]) * y[std::size_t(m)];
        }
        if (sum > best_value) {
            best_value = sum;
            best = lag;
        }
    }
    return best;
}

TEST(ChannelSimulation, OutputHasTheInputsLengthAndLinesUpWithItAtEveryRate) {
    std::vector<float> x8 = speech_8k();
    x8.resize(4 * 8000);  // 4 s: the correlation over every lag stays quick under emulation
    for (const double rate : {8000.0, 11025.0, 16000.0, 44100.0, 48000.0}) {
        for (const bool dtx : {false, true}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, dtx " << dtx);
            std::vector<float> x = at_rate(x8, rate);
            x.resize(x.size() - 37);  // not a whole number of frames at any rate
            ChannelSettings s;
            s.dtx = dtx;
            const std::vector<float> y = g729eval::simulate_channel(x, rate, s);
            ASSERT_EQ(y.size(), x.size());
            // At 8000 Hz the peak is at lag 0. At higher rates it is within half a sample of
            // 8000 Hz: speech leaves the codec a fraction of a sample early, a fraction that
            // varies a little with the signal (the simulation takes out 39.7 samples).
            const int lag = peak_lag(x, y, static_cast<int>(rate / 400));
            EXPECT_LE(std::abs(lag), static_cast<int>(0.5 * rate / 8000)) << lag;
            // The end is coded too: the last 10 ms carry sound where the input does.
            double tail_in = 0, tail_out = 0;
            for (std::size_t n = x.size() - std::size_t(rate / 100); n < x.size(); ++n) {
                tail_in += double(x[n]) * x[n];
                tail_out += double(y[n]) * y[n];
            }
            if (tail_in > 1e-4) {
                EXPECT_GT(tail_out, tail_in * 0.05);
            }
        }
    }
}

TEST(ChannelSimulation, WithoutLossAt8kHzItIsTheCodecRoundTripLessItsDelay) {
    const std::vector<float> x = speech_8k();
    std::vector<int16_t> pcm;
    for (const float v : x) pcm.push_back(static_cast<int16_t>(std::lrint(v * 32768.0)));
    pcm.resize(pcm.size() + 2 * g729eval::frame_samples, 0);
    const auto decoded = g729eval::decode_frames(g729eval::encode_samples(pcm, false));
    const std::vector<float> y = g729eval::simulate_channel(x, 8000, ChannelSettings{});
    ASSERT_EQ(y.size(), x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        ASSERT_EQ(y[n] * 32768.0f, decoded.samples[n + g729eval::codec_delay_samples]) << n;
    }
}

// The share lost is `loss`; the mean run of losses is burst / (1 - loss), the run independent
// loss gives times the burst ratio.
TEST(ChannelSimulation, LossPatternHasTheAskedLossAndBurstRatio) {
    struct Case {
        double loss, burst;
    };
    for (const Case c : {Case{0.02, 1}, Case{0.1, 1}, Case{0.1, 3}, Case{0.3, 2}, Case{0.5, 1},
                         Case{0.6, 4}, Case{0.05, 8}}) {
        SCOPED_TRACE(testing::Message() << "loss " << c.loss << " burst " << c.burst);
        const auto lost = g729eval::loss_pattern(400000, c.loss, c.burst, 7);
        std::size_t total = 0, runs = 0;
        for (std::size_t i = 0; i < lost.size(); ++i) {
            total += lost[i];
            if (lost[i] != 0 && (i == 0 || lost[i - 1] == 0)) ++runs;
        }
        EXPECT_NEAR(double(total) / double(lost.size()), c.loss, 0.01);
        const double mean_run = c.burst / (1.0 - c.loss);
        EXPECT_NEAR(double(total) / double(runs), mean_run, 0.05 * mean_run);
        EXPECT_EQ(lost, g729eval::loss_pattern(400000, c.loss, c.burst, 7));
        EXPECT_NE(lost, g729eval::loss_pattern(400000, c.loss, c.burst, 8));
    }
    EXPECT_EQ(g729eval::loss_pattern(100, 0.0, 1, 1), std::vector<uint8_t>(100, 0));
    EXPECT_EQ(g729eval::loss_pattern(100, 1.0, 1, 1), std::vector<uint8_t>(100, 1));
}

TEST(ChannelSimulation, RefusesSettingsOutOfRange) {
    const auto with = [](double loss, double burst, int ptime) {
        ChannelSettings s;
        s.loss = loss;
        s.burst = burst;
        s.ptime_ms = ptime;
        return s;
    };
    for (const ChannelSettings& s : {with(-0.1, 1, 20), with(1.1, 1, 20), with(NAN, 1, 20),
                                     with(0.1, 0.5, 20), with(0.1, INFINITY, 20),
                                     with(0.1, 1, 0), with(0.1, 1, 15),
                                     with(0.1, 1, 210)}) {
        EXPECT_THROW(g729eval::check_channel_settings(s), std::invalid_argument);
    }
    EXPECT_NO_THROW(g729eval::check_channel_settings(with(0.7, 1, 200)));
    EXPECT_NO_THROW(g729eval::check_channel_settings(with(1.0, 3, 10)));
    EXPECT_THROW(g729eval::simulate_channel(std::vector<float>(80), 0.0, {}), std::invalid_argument);
}

TEST(ChannelSimulation, ManyClipsComeOutAsEachAlone) {
    const std::vector<float> x = at_rate(speech_8k(), 16000);
    std::vector<std::vector<float>> inputs;
    std::vector<g729eval::ChannelClip> clips;
    for (int i = 0; i < 21; ++i) {  // more than one group of clips, of different lengths
        inputs.emplace_back(x.begin() + i * 1000, x.begin() + i * 1000 + 8000 + i * 333);
    }
    for (int i = 0; i < 21; ++i) {
        ChannelSettings s;
        s.loss = 0.05 * (i % 5);
        s.burst = 1 + i % 3;
        s.dtx = i % 2 == 1;
        s.ptime_ms = 10 * (1 + i % 4);
        s.seed = static_cast<uint64_t>(i);
        clips.push_back({inputs[static_cast<std::size_t>(i)], s});
    }
    const auto many = g729eval::simulate_channels(clips, 16000, 3);
    ASSERT_EQ(many.size(), clips.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        EXPECT_EQ(many[i], g729eval::simulate_channel(clips[i].samples, 16000, clips[i].settings)) << i;
    }
    // Lost packets change the result; the same seed gives the same result.
    ChannelSettings lossy;
    lossy.loss = 0.3;
    lossy.seed = 5;
    const auto clean = g729eval::simulate_channel(x, 16000, {});
    const auto concealed = g729eval::simulate_channel(x, 16000, lossy);
    EXPECT_NE(clean, concealed);
    EXPECT_EQ(concealed, g729eval::simulate_channel(x, 16000, lossy));
}

}  // namespace
