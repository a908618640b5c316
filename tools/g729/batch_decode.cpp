// SPDX-License-Identifier: BSD-2-Clause
// g729 decode --output-dir DIR FILE...: many coded files decoded at once, each exactly as
// 'g729 decode FILE DIR/NAME.wav' decodes it, with the same messages: a damaged file is
// decoded up to its first fault and what was decoded is kept.
#include <memory>
#include <span>
#include <vector>

#include <g729/g729.h>
#include "lib/eval/codec_runner.h"
#include "tools/g729/batch_command.h"
#include "tools/g729/batch_runner.h"
#include "tools/g729/pcap_commands.h"
#include "lib/io/audio_writer.h"
#include "lib/io/coded_stream.h"
#include "lib/io/file_io.h"

namespace g729tool {

namespace {

constexpr std::size_t frame = G729_FRAME_SIZE;
constexpr std::size_t block_frames = 50;  // half a second written at a time

struct DecodeSettings {
    std::string format;  // "", "itu" or "raw"
};

int32_t unit_length(const g729io::CodedFrame& f) {
    switch (f.kind) {
        case g729io::FrameKind::speech:
            return G729_SPEECH_FRAME_BYTES;
        case g729io::FrameKind::sid:
            return g729io::sid_frame_bytes;
        case g729io::FrameKind::untransmitted:
            return G729_UNIT_UNTRANSMITTED;
        case g729io::FrameKind::lost:
            return G729_UNIT_LOST;
    }
    return G729_UNIT_LOST;
}

std::unique_ptr<g729io::CodedReader> open_coded(const std::string& input,
                                                const DecodeSettings& settings) {
    if (uses_pcap_format(settings.format, input)) {
        throw g729io::IoError(input +
                              ": a packet capture is decoded on its own ('g729 decode "
                              "CAPTURE OUTPUT'), not with --output-dir");
    }
    Options o;
    o.format = settings.format;
    return g729io::CodedReader::open(input, coded_format(o, input));
}

class DecodeChannel {
public:
    DecodeChannel(const BatchJob& job, const DecodeSettings& settings, BatchConsole& console)
        : console_(console),
          in_name_(g729io::display_name(job.input, false)),
          out_name_(g729io::display_name(job.output, true)),
          reader_(open_coded(job.input, settings)),
          writer_(g729io::AudioWriter::create(job.output)),
          state_(std::make_unique<g729_decoder_state>()),
          block_(block_frames * frame) {
        g729_decoder_init(state_.get());
    }

    bool prepare() {
        if (!reader_->next(frame_)) return false;
        if (used_ == block_frames) {
            writer_->write(block_);
            used_ = 0;
        }
        return true;
    }

    static void code(std::span<DecodeChannel* const> channels) {
        const std::size_t n = channels.size();
        g729_decoder_state* states[max_batch_channels];
        int16_t* samples[max_batch_channels];
        const uint8_t* bytes[max_batch_channels];
        int32_t lengths[max_batch_channels];
        int32_t results[max_batch_channels];
        for (std::size_t i = 0; i < n; ++i) {
            DecodeChannel& c = *channels[i];
            states[i] = c.state_.get();
            samples[i] = c.block_.data() + c.used_ * frame;
            bytes[i] = c.frame_.bytes.data();
            lengths[i] = unit_length(c.frame_);
        }
        // The batched decoder's work records live in this worker's own memory (see the
        // encoder).
        thread_local std::vector<unsigned char> workspace(
            g729_decode_frames_workspace_size(static_cast<int>(max_batch_channels)));
        g729_decode_frames_ws(states, static_cast<int>(n), samples, bytes, lengths, results,
                              workspace.data(), workspace.size());
        for (std::size_t i = 0; i < n; ++i) channels[i]->result_ = results[i];
    }

    bool store() {
        if (result_ != 0) {
            refused_ = in_name_ + ": " + g729eval::refused_message(decoded_, frame_);
            return false;
        }
        ++used_;
        ++decoded_;
        return true;
    }

    bool finish() {
        writer_->write(std::span<const int16_t>(block_.data(), used_ * frame));
        used_ = 0;
        const std::string fault = !refused_.empty() ? refused_ : reader_->error();
        if (fault.empty()) {
            if (decoded_ == 0)
                console_.warning(in_name_ + ": the input is empty; no audio written");
            writer_->commit();
            return true;
        }
        // What was decoded before the fault is kept on purpose: it is the usable part.
        if (decoded_ == 0) {
            console_.message(fault + "; no output written");
            return false;
        }
        writer_->commit();
        console_.message(fault + "; kept the " + std::to_string(decoded_) +
                         " frames decoded before it in " + out_name_);
        return false;
    }

private:
    BatchConsole& console_;
    const std::string in_name_;
    const std::string out_name_;
    std::unique_ptr<g729io::CodedReader> reader_;
    std::unique_ptr<g729io::AudioWriter> writer_;
    std::unique_ptr<g729_decoder_state> state_;
    std::vector<int16_t> block_;
    std::size_t used_ = 0;  // frames of block_ decoded and not yet written
    std::size_t decoded_ = 0;
    g729io::CodedFrame frame_;
    int32_t result_ = 0;
    std::string refused_;
};

}  // namespace

int run_batch_decode(const BatchOptions& o) {
    return run_batch_files<DecodeChannel>(o, ".wav", "decoded", DecodeSettings{o.format});
}

}  // namespace g729tool
