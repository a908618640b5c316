// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/pcm_io.h"

#include "lib/io/audio_reader.h"
#include "lib/io/audio_writer.h"
#include "lib/io/file_io.h"

namespace g729io {

namespace {

void write_with(std::unique_ptr<AudioWriter> writer, std::span<const int16_t> samples) {
    writer->write(samples);
    writer->commit();
}

Pcm read_with(std::unique_ptr<AudioReader> reader) {
    Pcm pcm;
    pcm.samples = read_all(*reader);
    pcm.stray_bytes = reader->stray_bytes();
    return pcm;
}

}  // namespace

std::vector<int16_t> pcm_from_le_bytes(std::span<const uint8_t> bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        samples[i] = static_cast<int16_t>(u);
    }
    return samples;
}

std::vector<uint8_t> pcm_to_le_bytes(std::span<const int16_t> samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<uint8_t>(u & 0xff);
        bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    return bytes;
}

Pcm read_raw_pcm(const std::string& path) { return read_with(AudioReader::open_raw(path)); }

void write_raw_pcm(const std::string& path, std::span<const int16_t> samples) {
    write_with(AudioWriter::create_raw(path), samples);
}

std::vector<int16_t> read_wav(const std::string& path) {
    return read_with(AudioReader::open_audio_file(path)).samples;
}

void write_wav(const std::string& path, std::span<const int16_t> samples) {
    write_with(AudioWriter::create_wav(path), samples);
}

bool is_wav_name(const std::string& path) { return writes_wav(path); }

Pcm read_audio(const std::string& path) { return read_with(AudioReader::open(path)); }

void write_audio(const std::string& path, std::span<const int16_t> samples) {
    write_with(AudioWriter::create(path), samples);
}

}  // namespace g729io
