#include "tools/eval/codec_runner.h"

#include <memory>
#include <stdexcept>

#include "codec/g729.h"

namespace g729eval {

using g729io::CodedFrame;
using g729io::FrameKind;

std::vector<CodedFrame> encode_samples(std::span<const int16_t> samples, bool dtx) {
    auto state = std::make_unique<g729_encoder_state>();
    g729_encoder_init(state.get(), dtx ? 1 : 0);
    const std::size_t frames = samples.size() / G729_FRAME_SIZE;
    std::vector<CodedFrame> out;
    out.reserve(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        uint8_t bytes[G729_SPEECH_FRAME_BYTES] = {};
        int32_t count = -1;
        g729_encode_frame(state.get(), samples.data() + f * G729_FRAME_SIZE, bytes, &count);
        try {
            out.push_back(CodedFrame::from_encoder(bytes, count));
        } catch (const std::invalid_argument& e) {
            throw std::runtime_error("frame " + std::to_string(f + 1) + ": " + e.what());
        }
        if (!dtx && count != G729_SPEECH_FRAME_BYTES) {
            throw std::runtime_error("frame " + std::to_string(f + 1) + ": encoder produced " +
                                     std::to_string(count) + " bytes with DTX off");
        }
    }
    return out;
}

Decoded decode_frames(std::span<const CodedFrame> frames) {
    auto state = std::make_unique<g729_decoder_state>();
    g729_decoder_init(state.get());
    Decoded out;
    out.samples.reserve(frames.size() * G729_FRAME_SIZE);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        int16_t pcm[G729_FRAME_SIZE] = {};
        const CodedFrame& frame = frames[f];
        int rc = 0;
        switch (frame.kind) {
        case FrameKind::speech:
        case FrameKind::sid:
            rc = g729_decode_frame(state.get(), pcm, frame.bytes.data(), frame.payload_bytes());
            break;
        case FrameKind::untransmitted:
            rc = g729_decode_untransmitted_frame(state.get(), pcm);
            break;
        case FrameKind::lost:
            rc = g729_decode_lost_frame(state.get(), pcm);
            break;
        }
        if (rc != 0) {
            out.error = "frame " + std::to_string(f + 1) + ": the decoder refused the " +
                        g729io::kind_name(frame.kind) + " frame";
            return out;
        }
        out.samples.insert(out.samples.end(), pcm, pcm + G729_FRAME_SIZE);
    }
    return out;
}

}  // namespace g729eval
