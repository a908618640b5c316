// SPDX-License-Identifier: BSD-2-Clause
// Both directions of a call as one stereo recording:
//   g729 decode --format pcap CAPTURE OUTPUT --stereo
//
// The streams are paired into calls (lib/rtp/call_pairing.h). Each stream is decoded to a
// scratch file first (its timeline as the mono decode writes it), so memory stays small
// however long the call; then the two are interleaved: left the stream whose first packet was
// captured first, right the other, each starting at its first packet's capture time, silence
// before it and after its end. A stream without a partner is written the same way, with a
// silent right channel, and named on stderr. One output per call: OUTPUT for one call, else
// OUTPUT-SSRC (the SSRC of the call's stream seen first), as the mono decode names streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lib/report/svg_timeline.h"
#include "lib/rtp/call_pairing.h"
#include "lib/rtp/capture_decoder.h"
#include "tools/g729/pcap_commands.h"

namespace g729tool {

// A stream's decoded audio in a scratch file (removed when closed, or when the process ends),
// and each frame's kind, length and level.
class ScratchStream : public g729rtp::FrameSink {
public:
    ScratchStream();  // throws IoError when no scratch file can be made
    ~ScratchStream() override;
    ScratchStream(const ScratchStream&) = delete;
    ScratchStream& operator=(const ScratchStream&) = delete;

    void frame(g729rtp::FrameKind kind, std::span<const int16_t> samples) override;

    uint64_t samples() const { return samples_; }
    const std::vector<g729report::FrameLevel>& frames() const { return frames_; }
    // Reading back from the first sample: rewind(), then read() until it returns 0.
    void rewind();
    std::size_t read(std::span<int16_t> out);

private:
    std::FILE* file_ = nullptr;
    uint64_t samples_ = 0;
    std::vector<g729report::FrameLevel> frames_;
};

// Samples at 8000 Hz from the earliest start to this one, rounded to the nearest.
int64_t capture_offset_samples(int64_t start_us, int64_t earliest_us);

// A call's layout in the stereo output: stream indices and where each starts.
struct StereoLayout {
    std::size_t left = 0;
    std::optional<std::size_t> right;
    int64_t left_offset = 0;   // samples
    int64_t right_offset = 0;
};

// Left is the stream captured first (on a tie the one seen first), right its partner; the
// offsets are on the capture clock, the earlier stream at 0. start_us: each stream's first
// capture time, indexed as the streams.
StereoLayout stereo_layout(const g729rtp::CallStreams& call, std::span<const int64_t> start_us);

struct StereoChannel {
    ScratchStream* stream = nullptr;  // none: silence
    int64_t offset = 0;
};

// Interleaves the two channels (left, right) from their offsets, silence elsewhere, in blocks
// handed to out; returns the sample frames written (the later end of the two).
uint64_t mix_stereo(StereoChannel left, StereoChannel right,
                    const std::function<void(std::span<const int16_t>)>& out);

// One output per call, named as the mono decode names its streams' outputs, by the SSRC of
// the call's first stream.
std::vector<std::string> stereo_output_names(const std::string& output,
                                             std::span<const g729rtp::StreamInfo> streams,
                                             std::span<const g729rtp::CallStreams> calls);

// The rest of run_pcap_decode for --stereo, once the streams are known. Returns the exit
// status; input/output failures escape as exceptions.
int run_pcap_stereo_decode(const PcapDecodeOptions& options, const g729rtp::CaptureScan& scan,
                           const g729rtp::ScanOptions& scan_options);

// The first capture time of a decoded stream, microseconds.
int64_t stream_start_us(const g729rtp::StreamResult& result);

}  // namespace g729tool
