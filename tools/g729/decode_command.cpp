// SPDX-License-Identifier: BSD-2-Clause
// g729 decode: coded frames in, audio out, one block of frames at a time. A damaged coded
// file is decoded up to its first fault, and what was decoded is kept.
#include <vector>

#include "lib/eval/codec_runner.h"
#include "tools/g729/command.h"
#include "lib/io/audio_writer.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"

namespace g729tool {

namespace {

constexpr std::size_t block_frames = 50;

}  // namespace

int run_decode(const Options& o) {
    const g729io::CodedFormat format = coded_format(o, o.input);
    if (output_name_refused(g729io::refuse_unwritten_audio_name, o.output)) return exit_usage;
    g729io::refuse_same_file(o.input, o.output);

    const std::unique_ptr<g729io::CodedReader> reader = g729io::CodedReader::open(o.input, format);
    const std::unique_ptr<g729io::AudioWriter> writer = g729io::AudioWriter::create(o.output);
    const std::string in_name = g729io::display_name(o.input, false);
    const std::string out_name = g729io::display_name(o.output, true);

    g729eval::FrameDecoder decoder;
    std::vector<int16_t> block;
    block.reserve(block_frames * g729eval::frame_samples);
    std::string refused;
    std::size_t decoded = 0;
    g729io::CodedFrame frame;
    while (reader->next(frame)) {
        block.resize(block.size() + g729eval::frame_samples);
        if (!decoder.decode(frame, block.data() + block.size() - g729eval::frame_samples)) {
            block.resize(block.size() - g729eval::frame_samples);
            refused = in_name + ": " + g729eval::refused_message(decoded, frame);
            break;
        }
        ++decoded;
        if (block.size() == block_frames * g729eval::frame_samples) {
            writer->write(block);
            block.clear();
        }
    }
    writer->write(block);

    const std::string fault = !refused.empty() ? refused : reader->error();
    if (fault.empty()) {
        if (decoded == 0) warn(in_name + ": the input is empty; no audio written");
        writer->commit();
        return exit_ok;
    }
    // What was decoded before the fault is kept on purpose: it is the usable part.
    if (decoded == 0) {
        report(fault + "; no output written");
        return exit_failure;
    }
    writer->commit();
    report(fault + "; kept the " + std::to_string(decoded) + " frames decoded before it in " +
           out_name);
    return exit_failure;
}

}  // namespace g729tool
