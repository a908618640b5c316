// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/coded_stream.h"

#include <vector>

#include "lib/io/audio_kind.h"
#include "lib/io/file_io.h"
#include "lib/io/itu_frame_parser.h"
#include "lib/io/safe_output.h"

namespace g729io {

namespace {

class ItuReader final : public CodedReader {
public:
    explicit ItuReader(std::unique_ptr<InputStream> in) : in_(std::move(in)) {}
    bool next(CodedFrame& frame) override {
        if (!error_.empty()) return false;
        if (!next_itu_frame(*in_, in_->name(), frames_, frame, error_)) return false;
        ++frames_;
        return true;
    }

private:
    std::unique_ptr<InputStream> in_;
};

class RawCodedReader final : public CodedReader {
public:
    explicit RawCodedReader(std::unique_ptr<InputStream> in) : in_(std::move(in)) {}
    bool next(CodedFrame& frame) override {
        if (!error_.empty()) return false;
        uint8_t bytes[speech_frame_bytes];
        const uint64_t offset = in_->offset();
        const std::size_t got = in_->read(bytes, sizeof bytes);
        if (got == 0) return false;
        if (got < sizeof bytes) {
            error_ = in_->name() + ": partial frame at byte offset " + std::to_string(offset) +
                     " (" + std::to_string(got) + " of 10 bytes)";
            return false;
        }
        frame = CodedFrame::speech(bytes);
        ++frames_;
        return true;
    }

private:
    std::unique_ptr<InputStream> in_;
};

class StreamCodedWriter final : public CodedWriter {
public:
    StreamCodedWriter(const std::string& path, CodedFormat format) : out_(path), format_(format) {}
    void write(const CodedFrame& frame) override {
        bytes_.clear();
        if (format_ == CodedFormat::itu) {
            append_itu(bytes_, frame);
        } else {
            if (frame.kind != FrameKind::speech) {
                throw IoError("frame " + std::to_string(frames_ + 1) + " is " + kind_name(frame.kind) +
                              "; the raw format carries speech frames only");
            }
            bytes_.assign(frame.bytes.begin(), frame.bytes.end());
        }
        out_.write(bytes_.data(), bytes_.size());
        ++frames_;
    }
    void flush() override {
        if (!out_.seekable()) out_.flush();
    }
    void commit() override { out_.commit(); }

private:
    SafeOutput out_;
    CodedFormat format_;
    std::vector<uint8_t> bytes_;
    std::size_t frames_ = 0;
};

}  // namespace

CodedFormat coded_format_for_name(const std::string& path) {
    return has_extension(path, ".bit") ? CodedFormat::itu : CodedFormat::raw;
}

void refuse_audio_name_for_coded(const std::string& path) {
    if (!is_std_stream(path) && has_audio_extension(path)) {
        throw IoError(path + ": the name says audio file, but the output is coded frames; name "
                             "it .bit (ITU serial) or .g729 (raw frames)");
    }
}

std::unique_ptr<CodedReader> CodedReader::open(const std::string& path, CodedFormat format) {
    auto in = std::make_unique<InputStream>(path);
    const std::string kind = audio_magic(in->peek(audio_magic_bytes));
    if (!kind.empty()) {
        throw IoError(in->name() + ": starts like a " + kind +
                      " file, not coded frames; to code audio use 'g729 encode'");
    }
    const std::string capture = capture_magic(in->peek(audio_magic_bytes));
    if (!capture.empty()) {
        throw IoError(in->name() + ": is a packet capture (" + capture +
                      "); decode it with 'g729 decode --format pcap'");
    }
    if (format == CodedFormat::itu) return std::make_unique<ItuReader>(std::move(in));
    return std::make_unique<RawCodedReader>(std::move(in));
}

std::unique_ptr<CodedWriter> CodedWriter::create(const std::string& path, CodedFormat format) {
    refuse_audio_name_for_coded(path);
    return std::make_unique<StreamCodedWriter>(path, format);
}

}  // namespace g729io
