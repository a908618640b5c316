// SPDX-License-Identifier: BSD-2-Clause
#include "lib/io/audio_kind.h"

#include <cstring>

#include "lib/io/file_io.h"

namespace g729io {

namespace {

bool starts(std::span<const uint8_t> head, std::size_t at, const char* tag) {
    const std::size_t n = std::strlen(tag);
    return head.size() >= at + n && std::memcmp(head.data() + at, tag, n) == 0;
}

}  // namespace

std::string audio_magic(std::span<const uint8_t> head) {
    if (starts(head, 0, "RIFF") && starts(head, 8, "WAVE")) return "WAV (RIFF/WAVE)";
    if (starts(head, 0, "RF64") && starts(head, 8, "WAVE")) return "RF64 WAV";
    if (starts(head, 0, "FORM") && (starts(head, 8, "AIFF") || starts(head, 8, "AIFC"))) {
        return "AIFF (FORM/AIFF)";
    }
    if (starts(head, 0, "fLaC")) return "FLAC";
    if (starts(head, 0, "OggS")) return "Ogg";
    if (starts(head, 0, "caff")) return "CAF";
    if (starts(head, 0, ".snd")) return "Sun/NeXT audio (.snd)";
    return "";
}

std::string capture_magic(std::span<const uint8_t> head) {
    if (head.size() < 4) return "";
    const uint32_t le = static_cast<uint32_t>(head[0] | (head[1] << 8) | (head[2] << 16)) |
                        (static_cast<uint32_t>(head[3]) << 24);
    // Classic pcap in either byte order, microsecond or nanosecond timestamps.
    for (const uint32_t magic : {0xa1b2c3d4u, 0xa1b23c4du}) {
        const uint32_t swapped = ((magic & 0xffu) << 24) | ((magic & 0xff00u) << 8) |
                                 ((magic >> 8) & 0xff00u) | (magic >> 24);
        if (le == magic || le == swapped) return "pcap";
    }
    if (le == 0x0a0d0d0au) return "pcapng";  // section header block, the same in both orders
    return "";
}

bool has_audio_extension(const std::string& path) {
    static const char* const extensions[] = {".wav", ".wave", ".aif", ".aiff", ".aifc",
                                             ".flac", ".ogg", ".oga", ".opus", ".mp3",
                                             ".au", ".snd", ".caf", ".w64", ".rf64"};
    for (const char* e : extensions) {
        if (has_extension(path, e)) return true;
    }
    return false;
}

}  // namespace g729io
