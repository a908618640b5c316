// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/audio_reader.h"

#include <sys/stat.h>

#include "lib/io/audio_kind.h"
#include "lib/io/file_io.h"
#include "lib/io/raw_pcm_reader.h"
#include "lib/io/sndfile_reader.h"

namespace g729io {

std::unique_ptr<AudioReader> AudioReader::open(const std::string& path) {
    if (is_std_stream(path)) {
        auto raw = std::make_unique<RawPcmReader>(path);
        // libsndfile seeks in the files it reads, which a pipe cannot do: say so rather than
        // take a header for samples.
        const std::string kind = audio_magic(raw->peek(audio_magic_bytes));
        if (!kind.empty()) {
            throw IoError("stdin: starts like a " + kind + " file, but standard input is read "
                          "as raw 16-bit PCM only; give the file's name instead of '-'");
        }
        return raw;
    }
    if (has_audio_extension(path)) return open_audio_file(path);
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        InputStream probe(path);
        const std::span<const uint8_t> head = probe.peek(audio_magic_bytes);
        if (!audio_magic(head).empty()) return open_audio_file(path);
        // A capture read as raw PCM would code its headers as sound.
        const std::string capture = capture_magic(head);
        if (!capture.empty()) {
            throw IoError(path + ": is a packet capture (" + capture + "), not audio; to hear "
                          "the calls in it use 'g729 decode --format pcap'");
        }
    }
    return open_raw(path);
}

std::unique_ptr<AudioReader> AudioReader::open_audio_file(const std::string& path) {
    return std::make_unique<SndfileReader>(path);
}

std::unique_ptr<AudioReader> AudioReader::open_raw(const std::string& path) {
    return std::make_unique<RawPcmReader>(path);
}

std::size_t AudioReader::read(std::span<int16_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t n = read_some(out.subspan(done));
        if (n == 0) break;
        done += n;
    }
    return done;
}

std::vector<int16_t> read_all(AudioReader& reader) {
    std::vector<int16_t> samples;
    int16_t block[8192];
    for (;;) {
        const std::size_t n = reader.read(block);
        samples.insert(samples.end(), block, block + n);
        if (n < std::size(block)) break;
    }
    return samples;
}

}  // namespace g729io
