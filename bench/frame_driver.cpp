// SPDX-License-Identifier: BSD-2-Clause
// g729_frame_driver: codes a given number of frames of real speech, for instruction counting.
//
//   g729_frame_driver encode FRAMES [SPEECH]     encode FRAMES frames of the speech
//   g729_frame_driver decode FRAMES BITSTREAM    decode FRAMES 10-byte frames of the file
//   g729_frame_driver write-bits SPEECH OUT      our encoder's bitstream of the whole speech
//
// The input file is read whole whatever FRAMES is, so that a run with FRAMES = 0 costs what a
// run with FRAMES = N costs outside the codec; the difference divided by N is the codec's cost
// per frame. Input shorter than FRAMES is cycled. Only a checksum of the last frame is printed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/speech_corpus.h"
#include "codec/g729.h"
#include "lib/io/file_io.h"

namespace {

// Keeps the compiler from dropping a frame whose output nobody reads, at no cost.
inline void escape(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

long parse_frames(const char* text) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < 0) throw std::runtime_error("bad frame count");
    return n;
}

unsigned checksum(const uint8_t* p, std::size_t n) {
    unsigned s = 0;
    for (std::size_t i = 0; i < n; ++i) s = s * 31u + p[i];
    return s;
}

int run_encode(long frames, const std::string& path) {
    const g729bench::Speech speech = g729bench::load_speech(path);
    auto enc = std::make_unique<g729_encoder_state>();
    g729_encoder_init(enc.get(), 0);
    uint8_t bytes[G729_SPEECH_FRAME_BYTES] = {};
    int32_t count = 0;
    const long available = speech.frames();
    for (long k = 0; k < frames; ++k) {
        const int16_t* in = speech.samples.data() + (k % available) * G729_FRAME_SIZE;
        g729_encode_frame(enc.get(), in, bytes, &count);
        escape(bytes);
    }
    std::printf("encoded %ld frames of %s, last frame checksum %08x\n", frames, path.c_str(),
                checksum(bytes, sizeof bytes));
    return 0;
}

int run_decode(long frames, const std::string& path) {
    const std::vector<uint8_t> bits = g729io::read_file(path);
    const long available = static_cast<long>(bits.size()) / G729_SPEECH_FRAME_BYTES;
    if (available == 0) throw std::runtime_error(path + ": no whole 10-byte frame");
    auto dec = std::make_unique<g729_decoder_state>();
    g729_decoder_init(dec.get());
    int16_t out[G729_FRAME_SIZE] = {};
    for (long k = 0; k < frames; ++k) {
        const uint8_t* in = bits.data() + (k % available) * G729_SPEECH_FRAME_BYTES;
        g729_decode_frame(dec.get(), out, in, G729_SPEECH_FRAME_BYTES);
        escape(out);
    }
    std::printf("decoded %ld frames of %s, last frame checksum %08x\n", frames, path.c_str(),
                checksum(reinterpret_cast<const uint8_t*>(out), sizeof out));
    return 0;
}

int run_write_bits(const std::string& speech_path, const std::string& out_path) {
    const g729bench::Speech speech = g729bench::load_speech(speech_path);
    const std::vector<uint8_t> bits = g729bench::encode_stream(speech.samples);
    g729io::write_file(out_path, bits);
    std::printf("%d frames\n", speech.frames());
    return 0;
}

int usage(std::FILE* to, int status) {
    std::fprintf(to,
                 "usage: g729_frame_driver encode FRAMES [SPEECH]\n"
                 "       g729_frame_driver decode FRAMES BITSTREAM\n"
                 "       g729_frame_driver write-bits SPEECH OUT\n"
                 "default SPEECH: %s\n",
                 g729bench::default_speech_path().c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (argc == 2 && (mode == "--help" || mode == "-h")) return usage(stdout, 0);
        if (mode == "encode" && (argc == 3 || argc == 4)) {
            return run_encode(parse_frames(argv[2]),
                              argc == 4 ? argv[3] : g729bench::default_speech_path());
        }
        if (mode == "decode" && argc == 4) return run_decode(parse_frames(argv[2]), argv[3]);
        if (mode == "write-bits" && argc == 4) return run_write_bits(argv[2], argv[3]);
        return usage(stderr, 2);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "g729_frame_driver: %s\n", e.what());
        return 1;
    }
}
