// SPDX-License-Identifier: BSD-2-Clause
// Recognizing audio files by name and by their first bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace g729io {

// Bytes audio_magic() needs to see.
inline constexpr std::size_t audio_magic_bytes = 12;

// The kind of audio file the bytes start like ("WAV (RIFF/WAVE)", "FLAC", "Ogg", "AIFF
// (FORM/AIFF)", ...), or "" when they start like none.
std::string audio_magic(std::span<const uint8_t> head);

// "pcap" or "pcapng" when the bytes start like a packet capture file, else "".
std::string capture_magic(std::span<const uint8_t> head);

// True for names ending in an audio file extension (.wav, .aiff, .flac, .ogg, ...).
bool has_audio_extension(const std::string& path);

}  // namespace g729io
