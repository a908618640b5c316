// SPDX-License-Identifier: BSD-2-Clause
#include "lib/report/base64.h"

namespace g729report {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void group(const uint8_t* b, int n, std::string& out) {
    const uint32_t v = (uint32_t{b[0]} << 16) | (n > 1 ? uint32_t{b[1]} << 8 : 0) | (n > 2 ? b[2] : 0);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += n > 1 ? alphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? alphabet[v & 63] : '=';
}

}  // namespace

void Base64Encoder::add(std::span<const uint8_t> bytes, std::string& out) {
    std::size_t i = 0;
    while (count_ > 0 && count_ < 3 && i < bytes.size()) {
        if (count_ == 2) {
            const uint8_t b[3] = {held_[0], held_[1], bytes[i++]};
            group(b, 3, out);
            count_ = 0;
        } else {
            held_[count_++] = bytes[i++];
        }
    }
    out.reserve(out.size() + (bytes.size() - i) / 3 * 4 + 4);
    for (; i + 3 <= bytes.size(); i += 3) group(&bytes[i], 3, out);
    for (; i < bytes.size(); ++i) held_[count_++] = bytes[i];
}

void Base64Encoder::finish(std::string& out) {
    if (count_ > 0) group(held_, count_, out);
    count_ = 0;
}

std::string base64(std::span<const uint8_t> bytes) {
    Base64Encoder e;
    std::string out;
    e.add(bytes, out);
    e.finish(out);
    return out;
}

}  // namespace g729report
