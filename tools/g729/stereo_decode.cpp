// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/stereo_decode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "lib/io/channels_writer.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"
#include "tools/g729/batch_runner.h"
#include "tools/g729/command.h"

namespace g729tool {

namespace {

[[noreturn]] void scratch_failure(const char* what) {
    throw g729io::IoError(std::string("scratch file for the decoded audio: ") + what + ": " + std::strerror(errno));
}

std::string stream_name(const g729rtp::StreamInfo& s) {
    return "stream " + g729rtp::ssrc_hex(s.ssrc) + " " + s.src.to_string() + " -> " + s.dst.to_string();
}

}  // namespace

ScratchStream::ScratchStream() : file_(std::tmpfile()) {
    if (file_ == nullptr) scratch_failure("cannot create");
}

ScratchStream::~ScratchStream() { std::fclose(file_); }

void ScratchStream::frame(g729rtp::FrameKind kind, std::span<const int16_t> samples) {
    if (std::fwrite(samples.data(), sizeof(int16_t), samples.size(), file_) != samples.size()) {
        scratch_failure("write error");
    }
    samples_ += samples.size();
    frames_.push_back({kind, static_cast<uint16_t>(samples.size()),
                       static_cast<float>(g729report::level_dbfs(samples.data(), samples.size()))});
}

void ScratchStream::rewind() {
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) scratch_failure("write error");
}

std::size_t ScratchStream::read(std::span<int16_t> out) {
    const std::size_t n = std::fread(out.data(), sizeof(int16_t), out.size(), file_);
    if (n < out.size() && std::ferror(file_)) scratch_failure("read error");
    return n;
}

int64_t capture_offset_samples(int64_t start_us, int64_t earliest_us) {
    return ((start_us - earliest_us) * 8 + 500) / 1000;
}

StereoLayout stereo_layout(const g729rtp::CallStreams& call, std::span<const int64_t> start_us) {
    StereoLayout layout;
    layout.left = call.first;
    if (!call.second) return layout;
    layout.right = *call.second;
    if (start_us[*call.second] < start_us[call.first]) std::swap(layout.left, *layout.right);
    layout.right_offset = capture_offset_samples(start_us[*layout.right], start_us[layout.left]);
    return layout;
}

uint64_t mix_stereo(StereoChannel left, StereoChannel right,
                    const std::function<void(std::span<const int16_t>)>& out) {
    const StereoChannel channels[2] = {left, right};
    int64_t total = 0;
    for (const StereoChannel& c : channels) {
        if (c.stream != nullptr) {
            c.stream->rewind();
            total = std::max(total, c.offset + static_cast<int64_t>(c.stream->samples()));
        }
    }
    constexpr int64_t block = 4096;
    std::vector<int16_t> mono(block), stereo(2 * block);
    for (int64_t at = 0; at < total; at += block) {
        const int64_t n = std::min(block, total - at);
        std::fill(stereo.begin(), stereo.end(), int16_t{0});
        for (int side = 0; side < 2; ++side) {
            const StereoChannel& c = channels[side];
            if (c.stream == nullptr) continue;
            // The part of this block that the stream covers, read in order.
            const int64_t end = c.offset + static_cast<int64_t>(c.stream->samples());
            const int64_t from = std::max(at, c.offset), to = std::min(at + n, end);
            if (to <= from) continue;
            const std::size_t got = c.stream->read(std::span<int16_t>(mono.data(), static_cast<std::size_t>(to - from)));
            for (std::size_t i = 0; i < got; ++i) {
                stereo[2 * (static_cast<std::size_t>(from - at) + i) + static_cast<std::size_t>(side)] = mono[i];
            }
        }
        out(std::span<const int16_t>(stereo.data(), static_cast<std::size_t>(2 * n)));
    }
    return static_cast<uint64_t>(total);
}

std::vector<std::string> stereo_output_names(const std::string& output,
                                             std::span<const g729rtp::StreamInfo> streams,
                                             std::span<const g729rtp::CallStreams> calls) {
    std::vector<g729rtp::StreamInfo> firsts;
    for (const auto& c : calls) firsts.push_back(streams[c.first]);
    return stream_output_names(output, firsts);
}

int64_t stream_start_us(const g729rtp::StreamResult& result) { return result.network.start_us; }

int run_pcap_stereo_decode(const PcapDecodeOptions& o, const g729rtp::CaptureScan& scan,
                           const g729rtp::ScanOptions& scan_options) {
    const std::vector<g729rtp::StreamInfo>& streams = scan.streams;
    const std::vector<g729rtp::CallStreams> calls = g729rtp::pair_calls(streams);
    if (calls.size() > 1) {
        std::error_code ec;
        const auto status = std::filesystem::status(o.output, ec);
        if (o.output == "-" || (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))) {
            report(o.input + ": " + std::to_string(calls.size()) + " calls cannot share " +
                   (o.output == "-" ? std::string("standard output") : o.output + " (not a regular file)") +
                   ": give --ssrc or a file name");
            return exit_usage;
        }
    }
    const std::vector<std::string> names = stereo_output_names(o.output, streams, calls);
    for (const std::string& n : names) g729io::refuse_same_file(o.input, n);
    if (!open_files_allow(o.input, streams.size(), "scratch files",
                          "raise it, or decode fewer with --ssrc")) {
        return exit_failure;
    }
    if (calls.size() > 1) {
        std::string list;
        for (std::size_t i = 0; i < names.size() && i < 20; ++i) list += (list.empty() ? "" : ", ") + names[i];
        if (names.size() > 20) list += ", ...";
        report(std::to_string(calls.size()) + " calls, one stereo file each: " + list);
    }
    for (const auto& c : calls) {
        if (!c.second) {
            report(stream_name(streams[c.first]) + ": no stream the other way; written on the left, the right "
                   "channel silent");
        }
    }

    std::vector<std::unique_ptr<ScratchStream>> scratch;
    for (std::size_t i = 0; i < streams.size(); ++i) scratch.push_back(std::make_unique<ScratchStream>());
    const auto results = g729rtp::decode_streams(
        o.input, streams, [&](std::size_t i) -> g729rtp::FrameSink& { return *scratch[i]; }, scan_options, {});
    std::vector<int64_t> starts;
    for (const auto& r : results) starts.push_back(stream_start_us(r));
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const StereoLayout l = stereo_layout(calls[i], starts);
        g729io::ChannelsWriter out(names[i], 2);
        mix_stereo({scratch[l.left].get(), l.left_offset},
                   {l.right ? scratch[*l.right].get() : nullptr, l.right_offset},
                   [&](std::span<const int16_t> s) { out.write(s); });
        out.commit();
        // The scratch files of a written call are not needed any more.
        scratch[l.left].reset();
        if (l.right) scratch[*l.right].reset();
    }
    return finish_pcap_decode(scan, scan_options, results, o);
}

}  // namespace g729tool
