// SPDX-License-Identifier: BSD-2-Clause
// g729_fuzz_seeds DIR: writes the seed corpora of the fuzz targets into DIR/decoder,
// DIR/module, DIR/encoder and DIR/readers, all made by the project's own encoder from its
// speech recording (or from synthetic signals). The files in tests/fuzz/corpus come from here.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/fuzz/fuzz_ops.h"
#include "tests/fuzz/fuzz_support.h"
#include "lib/io/coded_io.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"
#include "lib/rtp/capture_writer.h"
#include "tests/rtp_fixture.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void put(const fs::path& dir, const std::string& name, const Bytes& b) {
    fs::create_directories(dir);
    g729io::write_file((dir / name).string(), b);
}

// Coded frames (10, 2 or 0 bytes) of `frames` frames of speech from sample `start`.
std::vector<Bytes> encode(std::size_t start, int frames, int dtx, int gain_shift = 0) {
    const std::vector<int16_t>& s = g729_fuzz::speech_samples();
    g729_encoder_state enc;
    g729_encoder_init(&enc, dtx);
    std::vector<Bytes> out;
    for (int f = 0; f < frames; ++f) {
        int16_t block[80];
        for (int i = 0; i < 80; ++i) {
            block[i] = static_cast<int16_t>(s[(start + static_cast<std::size_t>(f) * 80 + static_cast<std::size_t>(i)) % s.size()] >> gain_shift);
        }
        uint8_t b[10];
        int32_t n = 0;
        g729_encode_frame(&enc, block, b, &n);
        out.emplace_back(b, b + n);
    }
    return out;
}

// n frames from `first`, one after the other.
Bytes cat_frames(const std::vector<Bytes>& frames, std::size_t first, std::size_t n) {
    Bytes b;
    for (std::size_t i = first; i < first + n; ++i) b.insert(b.end(), frames[i].begin(), frames[i].end());
    return b;
}

Bytes decoder_ops(const std::vector<Bytes>& frames) {
    namespace op = g729_fuzz::decoder_op;
    Bytes b;
    for (const Bytes& f : frames) {
        if (f.size() == 10) {
            b.push_back(op::speech);
        } else if (f.size() == 2) {
            b.push_back(op::sid);
        } else {
            b.push_back(op::untransmitted);
        }
        b.insert(b.end(), f.begin(), f.end());
    }
    return b;
}

void decoder_seeds(const fs::path& dir) {
    namespace op = g729_fuzz::decoder_op;
    put(dir, "speech", decoder_ops(encode(8000, 30, 0)));

    // Speech with losses, a refused unit and a pause of comfort noise.
    std::vector<Bytes> speech = encode(16000, 16, 0);
    Bytes mixed;
    for (std::size_t i = 0; i < speech.size(); ++i) {
        if (i == 4 || i == 5) {
            mixed.push_back(op::lost);
            continue;
        }
        mixed.push_back(op::speech);
        mixed.insert(mixed.end(), speech[i].begin(), speech[i].end());
        if (i == 8) {
            mixed.push_back(op::refused);
            mixed.push_back(11);
        }
    }
    mixed.push_back(op::sid);
    mixed.push_back(0x5a);
    mixed.push_back(0x3c);
    for (int k = 0; k < 6; ++k) mixed.push_back(op::untransmitted);
    mixed.push_back(op::lost);
    put(dir, "mixed", mixed);

    // The encoder with DTX on, from speech into quiet: speech, SID and untransmitted frames.
    std::vector<Bytes> dtx = encode(0, 40, 1, 6);
    const std::vector<Bytes> loud = encode(24000, 20, 1);
    dtx.insert(dtx.end(), loud.begin(), loud.end());
    put(dir, "dtx", decoder_ops(dtx));

    // One speech frame repeated: long runs of a unit.
    Bytes repeat{static_cast<uint8_t>(op::repeat), 25};
    repeat.insert(repeat.end(), speech[3].begin(), speech[3].end());
    repeat.push_back(op::repeat | op::repeat_sid_flag);
    repeat.push_back(10);
    repeat.push_back(0xff);
    repeat.push_back(0xfe);
    put(dir, "repeat", repeat);
}

void module_seeds(const fs::path& dir) {
    namespace op = g729_fuzz::module_op;
    const std::vector<Bytes> speech = encode(12000, 8, 0);
    Bytes b;
    auto payload = [&](const Bytes& p) {
        b.push_back(op::payload);
        b.push_back(static_cast<uint8_t>(p.size()));
        b.insert(b.end(), p.begin(), p.end());
        b.push_back(2);  // the frame's sample field: 160
    };
    payload(Bytes());
    Bytes two = speech[0];
    two.insert(two.end(), speech[1].begin(), speech[1].end());
    payload(two);
    Bytes with_sid = speech[2];
    with_sid.push_back(0x12);
    with_sid.push_back(0x34);
    payload(with_sid);
    payload(Bytes{0x81, 0x40});
    Bytes tail = speech[3];
    tail.push_back(0x77);
    payload(tail);
    b.push_back(op::decoder_out);

    // 160 samples of speech into the encoder instance, then its frame-out.
    const std::vector<int16_t>& s = g729_fuzz::speech_samples();
    b.push_back(op::slin);
    b.push_back(80);
    b.push_back(0);
    for (int i = 0; i < 160; ++i) {
        const auto v = static_cast<uint16_t>(s[static_cast<std::size_t>(4000 + i)]);
        b.push_back(static_cast<uint8_t>(v & 0xff));
        b.push_back(static_cast<uint8_t>(v >> 8));
    }
    b.push_back(op::encoder_out);
    put(dir, "mixed", b);
}

void encoder_seeds(const fs::path& dir) {
    namespace op = g729_fuzz::encoder_op;
    const std::vector<int16_t>& s = g729_fuzz::speech_samples();
    for (int dtx = 0; dtx < 2; ++dtx) {
        Bytes b{static_cast<uint8_t>(dtx != 0 ? op::dtx_flag : 0), op::raw, 11};
        for (int i = 0; i < 12 * 80; ++i) {
            const auto v = static_cast<uint16_t>(s[static_cast<std::size_t>(8000 + i)]);
            b.push_back(static_cast<uint8_t>(v & 0xff));
            b.push_back(static_cast<uint8_t>(v >> 8));
        }
        b.push_back(op::silence);
        b.push_back(9);
        put(dir, dtx != 0 ? "speech_dtx" : "speech", b);
    }
    put(dir, "square", Bytes{op::twice_flag, op::square, 20, 15, op::square, 5, 0});
    put(dir, "dc", Bytes{op::dtx_flag, op::dc, 10, 0xff, 0x7f, op::dc, 10, 0x00, 0x80});
    put(dir, "alternating", Bytes{0, op::alternating, 20});
    put(dir, "bursts", Bytes{op::dtx_flag, op::bursts, 31, op::silence, 31, op::noise, 31, 7});
    put(dir, "sweep", Bytes{0, op::sweep, 31});
}

// A short file libsndfile writes in the given format: a tone, the same in every channel.
Bytes sndfile_bytes(int format, int rate, int channels, int frames) {
    const fs::path tmp = fs::temp_directory_path() / ("g729_fuzz_seed_" + std::to_string(getpid()));
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(tmp.string().c_str(), SFM_WRITE, &info);
    if (f == nullptr) {
        std::fprintf(stderr, "g729_fuzz_seeds: libsndfile: %s\n", sf_strerror(nullptr));
        std::exit(1);
    }
    std::vector<double> v;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) v.push_back(0.3 * std::sin(0.06 * i));
    }
    sf_writef_double(f, v.data(), frames);
    sf_close(f);
    const Bytes b = g729io::read_file(tmp.string());
    fs::remove(tmp);
    return b;
}

// A file's bytes after `write` has filled it.
template <typename Write>
Bytes through_file(const std::string& name, Write&& write) {
    const fs::path tmp = fs::temp_directory_path() / name;
    write(tmp.string());
    const Bytes b = g729io::read_file(tmp.string());
    fs::remove(tmp);
    return b;
}

Bytes with_op(uint8_t op, const Bytes& content) {
    Bytes b{op};
    b.insert(b.end(), content.begin(), content.end());
    return b;
}

void capture_seeds(const fs::path& dir) {
    namespace op = g729_fuzz::reader_op;
    namespace fx = rtp_fixture;
    // The tool's writer: DTX speech with SIDs and pauses, 20 ms packets.
    put(dir, "capture_written", with_op(op::capture, through_file("g729_seed_w.pcap", [](const std::string& p) {
        std::FILE* f = std::fopen(p.c_str(), "wb");
        g729rtp::WriterOptions o;
        o.ssrc = 0x5eed;
        o.first_sequence = 65530;
        o.first_timestamp = 0xfffffe00u;
        o.src.address = {127, 0, 0, 1};
        o.dst.address = {127, 0, 0, 1};
        o.src.port = 40000;
        o.dst.port = 40002;
        {
            g729rtp::CaptureWriter w(f, o);
            for (const Bytes& b : encode(30000, 40, 1, 4)) w.add_frame(b.data(), static_cast<int>(b.size()));
            w.finish();
        }
        std::fclose(f);
    })));

    // Crafted headers: Linux cooked v2 over IPv6 in pcapng, and 802.1Q over IPv4 in pcap, with
    // a lost, a duplicated, a reordered and a damaged packet, and a second stream.
    const std::vector<Bytes> speech = encode(12000, 12, 0);
    std::vector<Bytes> v6, vlan;
    for (int p = 0; p < 6; ++p) {
        if (p == 2) continue;
        Bytes payload = cat_frames(speech, static_cast<std::size_t>(2 * p), 2);
        if (p == 4) payload.resize(13);
        const fx::Rtp h{.seq = static_cast<uint16_t>(65534 + p), .ts = static_cast<uint32_t>(160 * p),
                        .ssrc = 0xabc, .marker = p == 0, .csrc = p == 1 ? 2 : 0,
                        .ext_words = p == 3 ? 1 : -1, .padding = p == 5 ? 3 : 0};
        const Bytes l4 = fx::udp(7078, 9000, fx::rtp(h, payload));
        v6.push_back(fx::sll2(0x86DD, fx::ipv6(1, 2, l4, p == 3)));
        vlan.push_back(fx::ethernet(0x0800, fx::ipv4(1, 2, l4), {0x8100}));
        Bytes back = fx::udp(9000, 7078, fx::rtp({.seq = static_cast<uint16_t>(p), .ts = static_cast<uint32_t>(80 * p), .ssrc = 0xdef}, speech[static_cast<std::size_t>(p)]));
        vlan.push_back(fx::ethernet(0x0800, fx::ipv4(2, 1, back), {0x8100}));
    }
    std::swap(v6[1], v6[2]);
    v6.push_back(v6[0]);
    put(dir, "capture_sll2_pcapng", with_op(op::capture, fx::pcapng_bytes(276, v6)));
    put(dir, "capture_vlan", with_op(op::capture, through_file("g729_seed_v.pcap", [&](const std::string& p) {
        fx::write_pcap(p, 1, vlan);
    })));
}

void reader_seeds(const fs::path& dir) {
    namespace op = g729_fuzz::reader_op;
    const std::vector<int16_t>& s = g729_fuzz::speech_samples();
    const std::vector<int16_t> few(s.begin() + 4000, s.begin() + 4160);

    const fs::path tmp = fs::temp_directory_path() / "g729_fuzz_seed.wav";
    g729io::write_wav(tmp.string(), few);
    Bytes wav{op::wav};
    const Bytes file = g729io::read_file(tmp.string());
    wav.insert(wav.end(), file.begin(), file.end());
    fs::remove(tmp);
    put(dir, "tiny_wav", wav);

    std::vector<g729io::CodedFrame> frames;
    for (const Bytes& f : encode(0, 6, 1, 6)) {
        frames.push_back(g729io::CodedFrame::from_encoder(f.data(), static_cast<int32_t>(f.size())));
    }
    frames.push_back(g729io::CodedFrame::lost());
    const std::vector<Bytes> speech = encode(9000, 2, 0);
    frames.push_back(g729io::CodedFrame::speech(speech[0].data()));
    frames.push_back(g729io::CodedFrame::speech(speech[1].data()));
    Bytes itu{op::itu};
    const Bytes serial = g729io::format_itu(frames);
    itu.insert(itu.end(), serial.begin(), serial.end());
    put(dir, "tiny_itu", itu);

    Bytes raw{op::raw_coded};
    for (const Bytes& f : encode(20000, 3, 0)) raw.insert(raw.end(), f.begin(), f.end());
    put(dir, "raw_frames", raw);

    // Audio files of other formats, rates and channel counts, and a header never fixed up.
    const struct {
        const char* name;
        int format;
        int rate;
        int channels;
    } files[] = {
        {"float_extensible_wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 44100, 2},
        {"pcm24_wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 16000, 1},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050, 1},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2},
        {"ogg_vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1},
    };
    for (const auto& f : files) {
        Bytes b{op::wav};
        const Bytes content = sndfile_bytes(f.format, f.rate, f.channels, f.rate / 50);
        b.insert(b.end(), content.begin(), content.end());
        put(dir, f.name, b);
    }
    Bytes unfixed = wav;
    const char data_id[] = {'d', 'a', 't', 'a'};
    const auto at = std::search(unfixed.begin(), unfixed.end(), data_id, data_id + 4);
    if (at != unfixed.end()) std::fill(at + 4, at + 8, 0);  // data length 0
    put(dir, "unfixed_wav", unfixed);

    // Well-formed WAV files built by the target: 44.1 kHz stereo float, 8 kHz mono 16-bit.
    Bytes stereo_float{op::converted, 5, 1, 3};
    Bytes mono16{op::converted, 0, 0, 1};
    for (int i = 0; i < 441; ++i) {
        const auto v = static_cast<uint16_t>(s[static_cast<std::size_t>(4000 + i)]);
        for (int c = 0; c < 2; ++c) {
            stereo_float.insert(stereo_float.end(), {static_cast<uint8_t>(v & 0xff), static_cast<uint8_t>(v >> 8), 0, 0});
        }
        mono16.insert(mono16.end(), {static_cast<uint8_t>(v & 0xff), static_cast<uint8_t>(v >> 8)});
    }
    put(dir, "converted_stereo_float", stereo_float);
    put(dir, "converted_passthrough", mono16);

    Bytes pcm{op::raw_pcm};
    const Bytes le = g729io::pcm_to_le_bytes(few);
    pcm.insert(pcm.end(), le.begin(), le.end());
    pcm.push_back(0x01);  // a stray odd byte
    put(dir, "raw_pcm", pcm);

    capture_seeds(dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: g729_fuzz_seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    decoder_seeds(root / "decoder");
    module_seeds(root / "module");
    encoder_seeds(root / "encoder");
    reader_seeds(root / "readers");
    return 0;
}
