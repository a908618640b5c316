#include "tools/io/audio_kind.h"

#include <cstring>

#include "tools/io/file_io.h"

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
