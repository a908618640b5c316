// SPDX-License-Identifier: BSD-2-Clause
// g729 encode: audio in, coded frames out, one block of frames at a time.
#include <vector>

#include "lib/eval/codec_runner.h"
#include "tools/g729/command.h"
#include "lib/io/audio_reader.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"

namespace g729tool {

namespace {

constexpr std::size_t block_frames = 50;  // half a second of audio per block

void report_warnings(const g729io::AudioReader& reader, std::size_t* shown) {
    const auto& w = reader.warnings();
    for (; *shown < w.size(); ++*shown) warn(w[*shown]);
}

}  // namespace

int run_encode(const Options& o) {
    const g729io::CodedFormat format = coded_format(o, o.output);
    if (o.dtx && format != g729io::CodedFormat::itu) {
        report("--dtx needs the itu format: raw frames cannot carry SID or untransmitted frames");
        return exit_usage;
    }
    if (output_name_refused(g729io::refuse_audio_name_for_coded, o.output)) return exit_usage;
    g729io::refuse_same_file(o.input, o.output);

    const std::unique_ptr<g729io::AudioReader> reader = g729io::AudioReader::open(o.input);
    if (!reader->conversion_note().empty()) report(reader->name() + ": " + reader->conversion_note());
    std::size_t warnings_shown = 0;
    report_warnings(*reader, &warnings_shown);

    const std::unique_ptr<g729io::CodedWriter> writer = g729io::CodedWriter::create(o.output, format);
    g729eval::FrameEncoder encoder(o.dtx);
    std::vector<int16_t> block(block_frames * g729eval::frame_samples);
    std::size_t total = 0;
    std::size_t rest = 0;
    for (;;) {
        const std::size_t n = reader->read(block);
        total += n;
        const std::size_t frames = n / g729eval::frame_samples;
        for (std::size_t f = 0; f < frames; ++f) {
            writer->write(encoder.encode(block.data() + f * g729eval::frame_samples));
        }
        writer->flush();
        if (n < block.size()) {
            rest = n % g729eval::frame_samples;
            break;
        }
    }
    report_warnings(*reader, &warnings_shown);

    const std::size_t stray = reader->stray_bytes();
    if (total == 0 && stray == 0) {
        warn(reader->name() + ": the input is empty; no frames written");
    } else if (rest != 0 || stray != 0) {
        std::string what = std::to_string(rest) + " samples";
        if (stray != 0) what += " and " + std::to_string(stray) + " byte";
        warn(reader->name() + ": ignoring a partial final frame (" + what + ")");
    }
    writer->commit();
    return exit_ok;
}

}  // namespace g729tool
