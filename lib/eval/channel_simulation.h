// SPDX-License-Identifier: BSD-2-Clause
// A G.729A telephone channel for audio at any rate: resampled to 8000 Hz, encoded (with or
// without DTX), packetized, packets lost in bursts, decoded with concealment and comfort
// noise, and resampled back. The result has the input's length and lines up with it: the
// codec's delay is taken out (at 8000 Hz its 40 samples; at higher rates also the fraction of
// a sample by which speech comes out earlier, to the nearest output sample), and the
// resamplers add none.
//
// Packet loss follows a two-state (Gilbert-Elliott) chain over the packets actually sent: a
// packet after a received one is lost with probability p = loss / burst, a packet after a lost
// one is received with probability q = (1 - loss) / burst. The long-run share of lost packets
// p / (p + q) is `loss`, and `burst` is the burst ratio the E-model and the capture statistics
// use: the mean run of lost packets, 1 / q, over the mean run independent loss gives at the
// same share, 1 / (1 - loss). burst = 1 is independent loss; at low loss `burst` is near the
// mean run length itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace g729eval {

struct ChannelSettings {
    double loss = 0.0;   // long-run share of packets lost, 0 to 1
    double burst = 1.0;  // burst ratio, 1 (independent loss) or more
    bool dtx = false;    // discontinuous transmission: SID frames and pauses, comfort noise
    int ptime_ms = 20;   // audio per packet: 10 to 200 ms in steps of 10
    uint64_t seed = 0;   // of the loss pattern
};

// Input sample n comes out of the decoder as sample n + codec_delay_samples (at 8000 Hz).
inline constexpr std::size_t codec_delay_samples = 40;

// Throws std::invalid_argument with a one-line message naming the setting that is out of range.
void check_channel_settings(const ChannelSettings& settings);

// The loss pattern of `packets` packets: 1 lost, 0 received. The first packet is lost with
// probability `loss`; the same arguments give the same pattern.
std::vector<uint8_t> loss_pattern(std::size_t packets, double loss, double burst, uint64_t seed);

// One mono clip at `rate` Hz (full scale 1.0) through the channel: as many samples out, at the
// same rate. Throws std::invalid_argument for bad settings or rate, g729io::IoError when the
// rate cannot be converted.
std::vector<float> simulate_channel(std::span<const float> samples, double rate,
                                    const ChannelSettings& settings);

struct ChannelClip {
    std::span<const float> samples;
    ChannelSettings settings;
};

// Many clips at once: groups of clips coded side by side with the library's many-channel
// calls, the groups spread over `threads` threads (0: one per processor). Clip i comes out
// exactly as simulate_channel(clips[i].samples, rate, clips[i].settings) gives it.
std::vector<std::vector<float>> simulate_channels(std::span<const ChannelClip> clips, double rate,
                                                  unsigned threads = 0);

}  // namespace g729eval
