// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the encoder fed arbitrary 16-bit samples and hostile signals (full-scale square
// waves, DC, alternating -32768 / +32767, bursts, sweeps), with DTX on or off (input layout in
// fuzz_ops.h). After every frame the encoder state must be finite, the frame must have a legal
// size (always 10 bytes with DTX off) and a consistent pitch parity bit, and a decoder fed the
// result must stay finite too. On request the input is coded a second time by a fresh encoder,
// which must give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/fuzz/fuzz_ops.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/state_check.h"

namespace {

using g729_fuzz::fail;

constexpr int kMaxFrames = 150;

// The signal described by the input, frame by frame.
std::vector<int16_t> build_signal(g729_fuzz::ByteReader& in) {
    namespace op = g729_fuzz::encoder_op;
    std::vector<int16_t> s;
    int phase = 0;
    while (!in.empty() && s.size() < static_cast<std::size_t>(kMaxFrames) * 80) {
        const uint8_t g = in.byte();
        const int frames = 1 + in.byte() % 32;
        const std::size_t n = static_cast<std::size_t>(frames) * 80;
        switch (g % 8) {
        case op::raw:
            for (std::size_t i = 0; i < n; ++i) {
                const uint8_t lo = in.byte();
                const uint8_t hi = in.byte();
                s.push_back(static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8))));
            }
            break;
        case op::square: {
            const int half = 1 + in.byte() % 64;
            for (std::size_t i = 0; i < n; ++i, ++phase) {
                s.push_back((phase / half) % 2 == 0 ? int16_t{32767} : int16_t{-32768});
            }
            break;
        }
        case op::dc: {
            const uint8_t lo = in.byte();
            const uint8_t hi = in.byte();
            const auto level = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
            s.insert(s.end(), n, level);
            break;
        }
        case op::alternating:
            for (std::size_t i = 0; i < n; ++i, ++phase) {
                s.push_back(phase % 2 == 0 ? int16_t{-32768} : int16_t{32767});
            }
            break;
        case op::silence: s.insert(s.end(), n, int16_t{0}); break;
        case op::bursts:
            for (std::size_t i = 0; i < n; ++i, ++phase) {
                const bool on = (phase / 80) % 2 == 0;
                s.push_back(on ? ((phase / 7) % 2 == 0 ? int16_t{32767} : int16_t{-32768})
                               : int16_t{0});
            }
            break;
        case op::noise: {
            uint32_t x = 0x9e3779b9u * (1u + in.byte());
            for (std::size_t i = 0; i < n; ++i) {
                x = x * 1664525u + 1013904223u;
                s.push_back(static_cast<int16_t>(static_cast<int32_t>(x >> 16) % 64 - 32));
            }
            break;
        }
        default:
            for (std::size_t i = 0; i < n; ++i, ++phase) {
                const double t = phase / 8000.0;
                const double v = 32767.0 * std::sin(2.0 * 3.14159265358979 * (50.0 + 2000.0 * t) * t);
                s.push_back(static_cast<int16_t>(v));
            }
            break;
        }
    }
    s.resize(std::min(s.size(), static_cast<std::size_t>(kMaxFrames) * 80) / 80 * 80);
    return s;
}

// The coded bytes of the whole signal, each frame checked as it comes.
std::vector<uint8_t> encode_checked(const std::vector<int16_t>& signal, int dtx) {
    static g729_encoder_state enc;
    static g729_decoder_state dec;
    g729_encoder_init(&enc, dtx);
    g729_decoder_init(&dec);
    std::vector<uint8_t> coded;
    const int frames = static_cast<int>(signal.size() / 80);
    for (int f = 0; f < frames; ++f) {
        uint8_t bytes[10];
        std::memset(bytes, 0xee, sizeof bytes);
        int32_t n = -1;
        if (g729_encode_frame(&enc, signal.data() + f * 80, bytes, &n) != 0) {
            fail("encode_frame failed at frame %d", f);
        }
        if (dtx == 0 ? n != 10 : (n != 10 && n != 2 && n != 0)) {
            fail("frame %d coded to %d bytes with DTX %s", f, n, dtx != 0 ? "on" : "off");
        }
        for (int i = n; i < 10; ++i) {
            if (bytes[i] != 0xee) fail("frame %d of %d bytes wrote byte %d", f, n, i);
        }
        const std::string bad = g729_check::first_nonfinite(enc);
        if (!bad.empty()) fail("encoder state not finite after frame %d: %s", f, bad.c_str());

        int16_t out[80];
        if (n == 10) {
            // The parity bit covers the six high bits of the subframe-1 pitch index.
            const int32_t p1 = ((bytes[2] & 0x3f) << 2) | (bytes[3] >> 6);
            const int32_t p0 = (bytes[3] >> 5) & 1;
            if (g729_pitch_parity(p1) != p0) fail("frame %d carries a wrong parity bit", f);
            g729_decode_frame(&dec, out, bytes, 10);
        } else if (n == 2) {
            if ((bytes[1] & 1) != 0) fail("SID frame %d has its last bit set", f);
            g729_decode_frame(&dec, out, bytes, 2);
        } else {
            g729_decode_untransmitted_frame(&dec, out);
        }
        const std::string dbad = g729_check::first_nonfinite(dec);
        if (!dbad.empty()) fail("decoder state not finite after frame %d: %s", f, dbad.c_str());
        const std::string broken = g729_check::decoder_invariant_violation(dec);
        if (!broken.empty()) fail("decoder invariant broken at frame %d: %s", f, broken.c_str());

        coded.push_back(static_cast<uint8_t>(n));
        coded.insert(coded.end(), bytes, bytes + n);
    }
    return coded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    namespace op = g729_fuzz::encoder_op;
    if (size == 0) return 0;
    g729_fuzz::ByteReader in(data, size);
    const uint8_t flags = in.byte();
    const int dtx = (flags & op::dtx_flag) != 0 ? 1 : 0;
    const std::vector<int16_t> signal = build_signal(in);

    const std::vector<uint8_t> first = encode_checked(signal, dtx);
    if ((flags & op::twice_flag) != 0 && encode_checked(signal, dtx) != first) {
        fail("two fresh encoders coded the same input differently");
    }
    return 0;
}
