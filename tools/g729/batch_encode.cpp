// SPDX-License-Identifier: BSD-2-Clause
// g729 encode --output-dir DIR FILE...: many audio files coded at once, each exactly as
// 'g729 encode FILE DIR/NAME.bit' codes it, with the same messages.
#include <memory>
#include <span>
#include <vector>

#include <g729/g729.h>
#include "tools/g729/batch_command.h"
#include "tools/g729/batch_runner.h"
#include "lib/io/audio_reader.h"
#include "lib/io/file_io.h"
#include "lib/io/coded_stream.h"

namespace g729tool {

namespace {

constexpr std::size_t frame = G729_FRAME_SIZE;
constexpr std::size_t block_samples = 50 * frame;  // half a second read at a time

struct EncodeSettings {
    g729io::CodedFormat format;
    bool dtx;
};

class EncodeChannel {
public:
    EncodeChannel(const BatchJob& job, const EncodeSettings& settings, BatchConsole& console)
        : console_(console),
          dtx_(settings.dtx),
          reader_(g729io::AudioReader::open(job.input)),
          writer_(g729io::CodedWriter::create(job.output, settings.format)),
          state_(std::make_unique<g729_encoder_state>()),
          block_(block_samples) {
        g729_encoder_init(state_.get(), dtx_ ? 1 : 0);
        if (!reader_->conversion_note().empty()) {
            console_.message(reader_->name() + ": " + reader_->conversion_note());
        }
        show_warnings();
    }

    bool prepare() {
        if (pos_ + frame > filled_) {
            if (ended_) return false;
            filled_ = reader_->read(block_);
            pos_ = 0;
            total_ += filled_;
            ended_ = filled_ < block_.size();
            if (filled_ < frame) return false;
        }
        samples_ = block_.data() + pos_;
        pos_ += frame;
        return true;
    }

    static void code(std::span<EncodeChannel* const> channels) {
        const std::size_t n = channels.size();
        g729_encoder_state* states[max_batch_channels];
        const int16_t* samples[max_batch_channels];
        uint8_t* bytes[max_batch_channels];
        int32_t counts[max_batch_channels];
        for (std::size_t i = 0; i < n; ++i) {
            states[i] = channels[i]->state_.get();
            samples[i] = channels[i]->samples_;
            bytes[i] = channels[i]->bytes_;
        }
        // The batched encoder's work records live in this worker's own memory, so that it
        // runs its widest passes without a deep stack.
        thread_local std::vector<unsigned char> workspace(
            g729_encode_frames_workspace_size(static_cast<int>(max_batch_channels)));
        g729_encode_frames_ws(states, static_cast<int>(n), samples, bytes, counts,
                              workspace.data(), workspace.size());
        for (std::size_t i = 0; i < n; ++i) channels[i]->count_ = counts[i];
    }

    bool store() {
        ++frames_;
        if (!dtx_ && count_ != G729_SPEECH_FRAME_BYTES) {
            throw g729io::IoError(reader_->name() + ": frame " + std::to_string(frames_) +
                                  ": encoder produced " + std::to_string(count_) +
                                  " bytes with DTX off");
        }
        writer_->write(g729io::CodedFrame::from_encoder(bytes_, count_));
        return true;
    }

    bool finish() {
        show_warnings();
        const std::size_t rest = filled_ - pos_;
        const std::size_t stray = reader_->stray_bytes();
        if (total_ == 0 && stray == 0) {
            console_.warning(reader_->name() + ": the input is empty; no frames written");
        } else if (rest != 0 || stray != 0) {
            std::string what = std::to_string(rest) + " samples";
            if (stray != 0) what += " and " + std::to_string(stray) + " byte";
            console_.warning(reader_->name() + ": ignoring a partial final frame (" + what + ")");
        }
        writer_->commit();
        return true;
    }

private:
    void show_warnings() {
        const auto& w = reader_->warnings();
        for (; warnings_shown_ < w.size(); ++warnings_shown_) console_.warning(w[warnings_shown_]);
    }

    BatchConsole& console_;
    const bool dtx_;
    std::unique_ptr<g729io::AudioReader> reader_;
    std::unique_ptr<g729io::CodedWriter> writer_;
    std::unique_ptr<g729_encoder_state> state_;
    std::vector<int16_t> block_;
    std::size_t filled_ = 0;  // samples in block_
    std::size_t pos_ = 0;     // the next frame's first sample in block_
    bool ended_ = false;
    std::size_t total_ = 0;  // samples read
    std::size_t frames_ = 0;
    std::size_t warnings_shown_ = 0;
    const int16_t* samples_ = nullptr;
    uint8_t bytes_[G729_SPEECH_FRAME_BYTES] = {};
    int32_t count_ = 0;
};

}  // namespace

int run_batch_encode(const BatchOptions& o) {
    const g729io::CodedFormat format =
        o.format == "raw" ? g729io::CodedFormat::raw : g729io::CodedFormat::itu;
    if (o.dtx && format != g729io::CodedFormat::itu) {
        report("--dtx needs the itu format: raw frames cannot carry SID or untransmitted frames");
        return exit_usage;
    }
    return run_batch_files<EncodeChannel>(o, format == g729io::CodedFormat::itu ? ".bit" : ".g729",
                                          "encoded", EncodeSettings{format, o.dtx});
}

}  // namespace g729tool
