// SPDX-License-Identifier: BSD-2-Clause
#include "lib/eval/codec_runner.h"

#include <stdexcept>

#include <g729/g729.h>

namespace g729eval {

using g729io::CodedFrame;
using g729io::FrameKind;

FrameEncoder::FrameEncoder(bool dtx) : state_(std::make_unique<g729_encoder_state>()), dtx_(dtx) {
    g729_encoder_init(state_.get(), dtx ? 1 : 0);
}

FrameEncoder::~FrameEncoder() = default;

CodedFrame FrameEncoder::encode(const int16_t* samples) {
    uint8_t bytes[G729_SPEECH_FRAME_BYTES] = {};
    int32_t count = -1;
    g729_encode_frame(state_.get(), samples, bytes, &count);
    ++frames_;
    if (!dtx_ && count != G729_SPEECH_FRAME_BYTES) {
        throw std::runtime_error("frame " + std::to_string(frames_) + ": encoder produced " +
                                 std::to_string(count) + " bytes with DTX off");
    }
    try {
        return CodedFrame::from_encoder(bytes, count);
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error("frame " + std::to_string(frames_) + ": " + e.what());
    }
}

FrameDecoder::FrameDecoder() : state_(std::make_unique<g729_decoder_state>()) {
    g729_decoder_init(state_.get());
}

FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::decode(const CodedFrame& frame, int16_t* samples) {
    int rc = 0;
    switch (frame.kind) {
    case FrameKind::speech:
    case FrameKind::sid:
        rc = g729_decode_frame(state_.get(), samples, frame.bytes.data(), frame.payload_bytes());
        break;
    case FrameKind::untransmitted:
        rc = g729_decode_untransmitted_frame(state_.get(), samples);
        break;
    case FrameKind::lost:
        rc = g729_decode_lost_frame(state_.get(), samples);
        break;
    }
    return rc == 0;
}

std::vector<CodedFrame> encode_samples(std::span<const int16_t> samples, bool dtx) {
    FrameEncoder encoder(dtx);
    const std::size_t frames = samples.size() / frame_samples;
    std::vector<CodedFrame> out;
    out.reserve(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        out.push_back(encoder.encode(samples.data() + f * frame_samples));
    }
    return out;
}

std::string refused_message(std::size_t frame_index, const CodedFrame& frame) {
    return "frame " + std::to_string(frame_index + 1) + ": the decoder refused the " +
           g729io::kind_name(frame.kind) + " frame";
}

Decoded decode_frames(std::span<const CodedFrame> frames) {
    FrameDecoder decoder;
    Decoded out;
    out.samples.reserve(frames.size() * frame_samples);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        int16_t pcm[frame_samples] = {};
        if (!decoder.decode(frames[f], pcm)) {
            out.error = refused_message(f, frames[f]);
            return out;
        }
        out.samples.insert(out.samples.end(), pcm, pcm + frame_samples);
    }
    return out;
}

}  // namespace g729eval
