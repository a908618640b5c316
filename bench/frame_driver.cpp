// SPDX-License-Identifier: BSD-2-Clause
// g729_frame_driver: codes a given number of frames of real speech, for instruction counting.
//
//   g729_frame_driver encode FRAMES [SPEECH]     encode FRAMES frames of the speech
//   g729_frame_driver decode FRAMES BITSTREAM    decode FRAMES 10-byte frames of the file
//   g729_frame_driver write-bits SPEECH OUT      our encoder's bitstream of the whole speech
//   g729_frame_driver duplex ENGINE CHANNELS FRAMES [SPEECH]
//                                                CHANNELS full-duplex channels, FRAMES frames
//                                                each, through the batched calls with a
//                                                workspace (ENGINE batch) or channel by
//                                                channel (ENGINE solo)
//
// The input file is read whole whatever FRAMES is, so that a run with FRAMES = 0 costs what a
// run with FRAMES = N costs outside the codec; the difference divided by N is the codec's cost
// per frame. Input shorter than FRAMES is cycled. Only a checksum of the last frame is
// printed; duplex prints one of every frame of every channel, the same from either engine, and
// the entry points it called.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

long parse_count(const char* text, const char* what = "frame") {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < 0) {
        throw std::runtime_error(std::string("bad ") + what + " count " + text);
    }
    return n;
}

// A checksum of whole 8-byte words and the bytes after them, cheap next to a frame's coding
// (the duplex runs are timed and profiled as a whole).
uint64_t fold(uint64_t s, const void* data, std::size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w = 0;
        std::memcpy(&w, p, 8);
        s = (s ^ w) * 0x100000001b3u;
    }
    for (; n > 0; --n, ++p) s = (s ^ *p) * 0x100000001b3u;
    return s;
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

// Each channel encodes the speech from its own starting frame and decodes what it encoded
// (DTX off, so every frame is a 10-byte speech frame); the checksum covers every byte and
// sample of every channel and frame, in channel order.
int run_duplex(const std::string& engine, long channels, long frames, const std::string& path) {
    if (engine != "batch" && engine != "solo") throw std::runtime_error("bad engine " + engine);
    const bool batched = engine == "batch";
    if (channels < 1 || channels > 4096) throw std::runtime_error("bad channel count");
    const g729bench::Speech speech = g729bench::load_speech(path);
    const long available = speech.frames();
    if (available == 0) throw std::runtime_error(path + ": no whole frame of speech");
    const auto n = static_cast<std::size_t>(channels);
    std::vector<g729_encoder_state> enc(n);
    std::vector<g729_decoder_state> dec(n);
    std::vector<g729_encoder_state*> enc_at(n);
    std::vector<g729_decoder_state*> dec_at(n);
    for (std::size_t c = 0; c < n; ++c) {
        g729_encoder_init(&enc[c], 0);
        g729_decoder_init(&dec[c]);
        enc_at[c] = &enc[c];
        dec_at[c] = &dec[c];
    }
    std::vector<uint8_t> enc_ws(g729_encode_frames_workspace_size(static_cast<int>(n)));
    std::vector<uint8_t> dec_ws(g729_decode_frames_workspace_size(static_cast<int>(n)));
    std::vector<uint8_t> bytes(n * G729_SPEECH_FRAME_BYTES);
    std::vector<int16_t> out(n * G729_FRAME_SIZE);
    std::vector<const int16_t*> in(n);
    std::vector<uint8_t*> to(n);
    std::vector<int16_t*> samples(n);
    std::vector<int32_t> counts(n);
    for (std::size_t c = 0; c < n; ++c) {
        to[c] = bytes.data() + c * G729_SPEECH_FRAME_BYTES;
        samples[c] = out.data() + c * G729_FRAME_SIZE;
    }
    const int count = static_cast<int>(n);
    uint64_t sum = 0;
    for (long k = 0; k < frames; ++k) {
        for (std::size_t c = 0; c < n; ++c) {
            const long frame = (k + 37 * static_cast<long>(c)) % available;
            in[c] = speech.samples.data() + frame * G729_FRAME_SIZE;
        }
        int status = G729_OK;
        if (batched) {
            status = g729_encode_frames_ws(enc_at.data(), count, in.data(), to.data(),
                                           counts.data(), enc_ws.data(), enc_ws.size());
            if (status == G729_OK) {
                status = g729_decode_frames_ws(dec_at.data(), count, samples.data(), to.data(),
                                               counts.data(), nullptr, dec_ws.data(),
                                               dec_ws.size());
            }
        } else {
            for (std::size_t c = 0; c < n && status == G729_OK; ++c) {
                status = g729_encode_frame(enc_at[c], in[c], to[c], &counts[c]);
                if (status == G729_OK) {
                    status = g729_decode_frame(dec_at[c], samples[c], to[c], counts[c]);
                }
            }
        }
        if (status != G729_OK) throw std::runtime_error("the codec refused a frame");
        escape(out.data());
        sum = fold(sum, bytes.data(), bytes.size());
        sum = fold(sum, out.data(), out.size() * sizeof(int16_t));
    }
    // Which calls coded the frames: a test that both engines give the same checksum needs to
    // know that they were two different ones.
    std::printf("entry points: %s\n", batched ? "g729_encode_frames_ws g729_decode_frames_ws"
                                               : "g729_encode_frame g729_decode_frame");
    std::printf("%ld channels, %ld frames of %s, checksum %016llx\n", channels, frames,
                path.c_str(), static_cast<unsigned long long>(sum));
    return 0;
}

int usage(std::FILE* to, int status) {
    std::fprintf(to,
                 "usage: g729_frame_driver encode FRAMES [SPEECH]\n"
                 "       g729_frame_driver decode FRAMES BITSTREAM\n"
                 "       g729_frame_driver write-bits SPEECH OUT\n"
                 "       g729_frame_driver duplex batch|solo CHANNELS FRAMES [SPEECH]\n"
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
            return run_encode(parse_count(argv[2]),
                              argc == 4 ? argv[3] : g729bench::default_speech_path());
        }
        if (mode == "decode" && argc == 4) return run_decode(parse_count(argv[2]), argv[3]);
        if (mode == "write-bits" && argc == 4) return run_write_bits(argv[2], argv[3]);
        if (mode == "duplex" && (argc == 5 || argc == 6)) {
            return run_duplex(argv[2], parse_count(argv[3], "channel"), parse_count(argv[4]),
                              argc == 6 ? argv[5] : g729bench::default_speech_path());
        }
        return usage(stderr, 2);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "g729_frame_driver: %s\n", e.what());
        return 1;
    }
}
