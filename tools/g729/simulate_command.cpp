// SPDX-License-Identifier: BSD-2-Clause
// g729 simulate: the whole file is read at its own rate and channel count, mixed to mono, sent
// through the channel simulation, and written in the input's format with the result on every
// channel.
#include "tools/g729/simulate_command.h"

#include <CLI/CLI.hpp>
#include <sndfile.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "lib/eval/channel_simulation.h"
#include "lib/io/audio_kind.h"
#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"
#include "tools/g729/command.h"

namespace g729tool {

namespace {

// Closes a libsndfile handle on every path out.
struct SndfileHandle {
    SNDFILE* sf = nullptr;
    ~SndfileHandle() {
        if (sf != nullptr) sf_close(sf);
    }
};

// Sample formats of 16 bits or fewer: written from 16-bit samples rounded as the codec's
// input is, so that a 16-bit file comes out as the same samples the library gives.
bool sixteen_bits_or_fewer(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return true;
    default:
        return false;
    }
}

std::string lower_extension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

CLI::App* add_simulate_command(CLI::App& app, SimulateOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "simulate", "Send audio through a G.729A telephone call and back: coded, packetized, "
                    "packets lost in bursts, decoded with concealment; the result in the input's "
                    "format, rate, channels and length, lined up with it");
    cmd->add_option("INPUT", o.input, "Any audio file libsndfile reads")->required();
    cmd->add_option("OUTPUT", o.output, "The result (the input's format; give it the input's "
                                        "extension)")->required();
    cmd->add_option("--loss", o.loss, "Long-run share of packets lost, 0 to 1 (default 0)")
        ->type_name("P");
    cmd->add_option("--burst", o.burst, "Burst ratio of the losses: 1 independent (default), "
                                        "2 runs twice as long as independent loss gives")
        ->type_name("B");
    cmd->add_flag("--dtx", o.dtx, "Discontinuous transmission: SID frames and comfort noise in "
                                  "pauses");
    cmd->add_option("--seed", o.seed, "Seed of the loss pattern, 0 to 2^64-1 (default random); "
                                      "the same seed gives the same result")
        ->type_name("N");
    cmd->add_option("--ptime", o.ptime_ms, "ms of audio per packet, 10 to 200 in steps of 10 "
                                           "(default 20)")
        ->type_name("MS");
    return cmd;
}

int run_simulate(const SimulateOptions& o) {
    g729eval::ChannelSettings settings;
    settings.loss = o.loss;
    settings.burst = o.burst;
    settings.dtx = o.dtx;
    settings.ptime_ms = o.ptime_ms;
    try {
        g729eval::check_channel_settings(settings);
    } catch (const std::invalid_argument& e) {
        report(std::string("--") + e.what());
        return exit_usage;
    }
    if (o.seed.empty()) {
        std::random_device device;
        settings.seed = (static_cast<uint64_t>(device()) << 32) ^ device();
    } else {
        const char* end = o.seed.data() + o.seed.size();
        const auto [ptr, ec] = std::from_chars(o.seed.data(), end, settings.seed);
        if (ec != std::errc() || ptr != end) {
            report("--seed " + o.seed + ": expected a whole number from 0 to 18446744073709551615");
            return exit_usage;
        }
    }
    if (o.input == "-" || o.output == "-") {
        report("simulate reads and writes files (the whole input is read before anything is "
               "written): give file names, not -");
        return exit_usage;
    }
    const std::string in_ext = lower_extension(o.input);
    if (g729io::has_audio_extension(o.output) && lower_extension(o.output) != in_ext) {
        report(o.output + ": the result is written in the input's format; name it " +
               (in_ext.empty() ? std::string("like the input") : "*" + in_ext));
        return exit_usage;
    }
    g729io::check_readable(o.input);
    g729io::refuse_same_file(o.input, o.output);

    SF_INFO info{};
    SndfileHandle in;
    in.sf = sf_open(o.input.c_str(), SFM_READ, &info);
    if (in.sf == nullptr) {
        throw g729io::IoError(o.input + ": not an audio file libsndfile reads (" +
                              sf_strerror(nullptr) + ")");
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved;
    std::vector<float> block(4096 * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(in.sf, block.data(), 4096);
        if (got < 0 || sf_error(in.sf) != SF_ERR_NO_ERROR) {
            throw g729io::IoError(o.input + ": read error (" + sf_strerror(in.sf) + ")");
        }
        if (got == 0) break;
        interleaved.insert(interleaved.end(), block.begin(),
                           block.begin() + static_cast<std::ptrdiff_t>(got) * info.channels);
    }
    const std::size_t frames = interleaved.size() / channels;
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        double sum = 0;
        for (std::size_t c = 0; c < channels; ++c) sum += interleaved[i * channels + c];
        mono[i] = static_cast<float>(sum / static_cast<double>(channels));
    }
    interleaved = {};

    const std::vector<float> result = g729eval::simulate_channel(mono, info.samplerate, settings);

    g729io::SafeOutput output(o.output);
    if (!output.seekable()) {
        throw g729io::IoError(o.output + ": simulate writes a regular file (the audio file's "
                                         "header is completed at the end)");
    }
    SF_INFO out_info{};
    out_info.samplerate = info.samplerate;
    out_info.channels = info.channels;
    out_info.format = info.format;
    SndfileHandle out;
    out.sf = sf_open_fd(fileno(output.file()), SFM_WRITE, &out_info, SF_FALSE);
    if (out.sf == nullptr) {
        throw g729io::IoError(o.output + ": cannot write the input's format here (" +
                              sf_strerror(nullptr) + ")");
    }
    const bool shorts = sixteen_bits_or_fewer(info.format);
    if (!shorts) sf_command(out.sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    constexpr std::size_t chunk = 4096;
    std::vector<int16_t> short_block;
    std::vector<float> float_block;
    for (std::size_t start = 0; start < result.size(); start += chunk) {
        const std::size_t n = std::min(chunk, result.size() - start);
        sf_count_t written = 0;
        if (shorts) {
            short_block.resize(n * channels);
            for (std::size_t i = 0; i < n; ++i) {
                const long s = std::lrint(static_cast<double>(result[start + i]) * 32768.0);
                const auto v = static_cast<int16_t>(std::clamp<long>(s, -32768, 32767));
                std::fill_n(short_block.begin() + static_cast<std::ptrdiff_t>(i * channels), channels, v);
            }
            written = sf_writef_short(out.sf, short_block.data(), static_cast<sf_count_t>(n));
        } else {
            float_block.resize(n * channels);
            for (std::size_t i = 0; i < n; ++i) {
                std::fill_n(float_block.begin() + static_cast<std::ptrdiff_t>(i * channels), channels,
                            result[start + i]);
            }
            written = sf_writef_float(out.sf, float_block.data(), static_cast<sf_count_t>(n));
        }
        if (written != static_cast<sf_count_t>(n)) {
            throw g729io::IoError(o.output + ": write error (" + sf_strerror(out.sf) + ")");
        }
    }
    SNDFILE* finished = out.sf;
    out.sf = nullptr;
    if (sf_close(finished) != 0) {
        throw g729io::IoError(o.output + ": write error while finishing the audio file");
    }
    output.commit();
    return exit_ok;
}

}  // namespace g729tool
