// SPDX-License-Identifier: BSD-2-Clause
// Base64 (RFC 4648, standard alphabet, padded), for audio embedded in a page as a data URL.
// Encodes in pieces, so that a long recording streams from its file into the page.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace g729report {

class Base64Encoder {
public:
    // Appends the text of the bytes given so far that make whole groups of three.
    void add(std::span<const uint8_t> bytes, std::string& out);
    // Appends the last group, padded with '='. The encoder is then empty again.
    void finish(std::string& out);

private:
    uint8_t held_[2] = {};
    int count_ = 0;
};

std::string base64(std::span<const uint8_t> bytes);

}  // namespace g729report
