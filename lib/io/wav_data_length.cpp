// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/wav_data_length.h"

#include <unistd.h>

#include <cstring>

namespace g729io {

namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool read_at(int fd, uint64_t offset, uint8_t* out, std::size_t n) {
    return ::pread(fd, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

bool is_chunk_id(const uint8_t* id) {
    for (int i = 0; i < 4; ++i) {
        if (id[i] < 0x20 || id[i] > 0x7e) return false;
    }
    return true;
}

}  // namespace

WavDataLength inspect_wav_data_length(int fd, uint64_t file_size) {
    WavDataLength w;
    uint8_t head[12];
    if (!read_at(fd, 0, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        return w;
    }
    uint64_t block_align = 1;
    uint64_t pos = 12;
    uint8_t chunk[8];
    // A bounded walk: a file of nonsense chunk sizes ends the loop at the file's end.
    for (int guard = 0; guard < 10000 && pos + 8 <= file_size; ++guard) {
        if (!read_at(fd, pos, chunk, sizeof chunk)) return w;
        const uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 14) {
            uint8_t fmt[14];
            if (read_at(fd, pos + 8, fmt, sizeof fmt)) {
                const unsigned align = fmt[12] | (fmt[13] << 8);
                if (align > 0) block_align = align;
            }
        }
        if (std::memcmp(chunk, "data", 4) == 0) {
            w.found = true;
            w.length_field = pos + 4;
            w.data_offset = pos + 8;
            w.declared = size;
            const uint64_t held = file_size - w.data_offset;
            const uint64_t end = w.data_offset + size;
            bool unfixed = size == 0 || size == 0xFFFFFFFFu || end > file_size;
            if (!unfixed && end + (size & 1) + 8 <= file_size) {
                // Whatever follows the data must be another chunk.
                uint8_t next[4];
                unfixed = read_at(fd, end + (size & 1), next, 4) && !is_chunk_id(next);
            }
            w.actual = unfixed ? held / block_align * block_align : size;
            return w;
        }
        pos += 8 + static_cast<uint64_t>(size) + (size & 1);
    }
    return w;
}

std::string describe(const WavDataLength& w) {
    return "the WAV header declares " + std::to_string(w.declared) +
           " bytes of audio data but the file holds " + std::to_string(w.actual);
}

}  // namespace g729io
