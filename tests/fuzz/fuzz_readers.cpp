// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the tools' readers (input layout in fuzz_ops.h): audio files of any format
// through libsndfile and the conversion to 8 kHz mono (mixing, libsoxr resampling, scaling),
// raw PCM, the ITU serial and raw coded formats both streamed frame by frame and parsed
// whole, and packet captures through libpcap, whose G.729 RTP streams are decoded. A reader
// may refuse its input only with the tools' one-line IoError (or, for the coded formats, a
// message beside the frames read so far; for captures, a one-line CaptureError); the streamed
// and the whole-buffer coded readers must agree frame for frame and message for message; a
// well-formed WAV file must be read, converted to the length its rate implies; accepted audio
// must survive a WAV write and re-read unchanged; coded frames must decode through the tool's
// decoding path; a capture's streams must write as many samples as their counts say, and no
// more made-up audio (concealment, comfort noise) than the capture clock spans plus one packet.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_ops.h"
#include "tests/fuzz/fuzz_support.h"
#include "lib/eval/codec_runner.h"
#include "lib/io/audio_kind.h"
#include "lib/io/audio_reader.h"
#include "lib/io/coded_io.h"
#include "lib/io/coded_stream.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/capture_reader.h"

namespace {

using g729_fuzz::fail;

// At most this many converted samples are read from one input (a rate of 1000 Hz makes eight
// output samples of each input sample).
constexpr std::size_t kMaxSamples = 1 << 20;

// An in-memory file with a path, so that the path-taking readers run without touching disk.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("g729-fuzz", 0)) {
        if (fd_ < 0) fail("memfd_create failed");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void set(std::span<const uint8_t> bytes) {
        if (ftruncate(fd_, 0) != 0) fail("ftruncate failed");
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(done));
            if (n <= 0) fail("pwrite failed");
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

MemoryFile& scratch() {
    static MemoryFile f;
    return f;
}

// A real file for the writers, which write beside their output and rename.
const std::string& written_wav() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("g729_fuzz_" + std::to_string(getpid()) + ".wav")).string();
    return path;
}

void check_message(const std::string& what, const char* where) {
    if (what.empty() || what.find('\n') != std::string::npos) fail("bad %s message: '%s'", where, what.c_str());
}

void check_decodes(const std::vector<g729io::CodedFrame>& frames) {
    const g729eval::Decoded d = g729eval::decode_frames(frames);
    if (!d.ok()) fail("the tool's decoder refused a parsed frame: %s", d.error.c_str());
    if (d.samples.size() != frames.size() * 80) fail("decoded sample count wrong");
}

void check_kinds(const std::vector<g729io::CodedFrame>& frames) {
    for (const g729io::CodedFrame& f : frames) {
        if (f.kind == g729io::FrameKind::sid && (f.bytes[1] & 1) != 0) {
            fail("a SID frame kept its padding bit");
        }
        // Bytes beyond the frame's payload are unused and must be zero.
        for (int i = f.payload_bytes(); i < 10; ++i) {
            if (f.bytes[static_cast<std::size_t>(i)] != 0) fail("stray bytes beyond a payload");
        }
    }
}

// The streamed reader over the same bytes must give what the whole-buffer parser gives, or
// refuse an input that starts like an audio file or a packet capture.
void check_streamed(std::span<const uint8_t> data, g729io::CodedFormat format,
                    const g729io::CodedStream& whole) {
    MemoryFile& file = scratch();
    file.set(data);
    std::unique_ptr<g729io::CodedReader> reader;
    try {
        reader = g729io::CodedReader::open(file.path(), format);
    } catch (const g729io::IoError& e) {
        const auto head = data.first(std::min(data.size(), g729io::audio_magic_bytes));
        if (g729io::audio_magic(head).empty() && g729io::capture_magic(head).empty()) {
            fail("coded input refused without audio or capture magic: %s", e.what());
        }
        check_message(e.what(), "audio-magic");
        return;
    }
    std::vector<g729io::CodedFrame> frames;
    g729io::CodedFrame f;
    while (reader->next(f)) frames.push_back(f);
    if (frames != whole.frames) fail("streamed and whole-buffer frames differ");
    if (reader->frames_read() != frames.size()) fail("frames_read wrong");
    if (reader->error() != whole.error) {
        fail("streamed and whole-buffer messages differ: '%s' / '%s'", reader->error().c_str(),
             whole.error.c_str());
    }
}

void fuzz_itu(std::span<const uint8_t> data) {
    const g729io::CodedStream s = g729io::parse_itu(data, scratch().path());
    check_kinds(s.frames);
    // Frames take 4 to 164 bytes each; an input read whole leaves no message.
    if (s.frames.size() * 4 > data.size()) fail("more ITU frames than the input can hold");
    if (s.ok() && s.frames.empty() && !data.empty()) fail("non-empty ITU input read as nothing");
    if (!s.ok()) check_message(s.error, "ITU");
    const std::vector<uint8_t> again = g729io::format_itu(s.frames);
    const g729io::CodedStream back = g729io::parse_itu(again, "again.bit");
    if (!back.ok() || back.frames != s.frames) fail("ITU frames do not survive a round trip");
    check_streamed(data, g729io::CodedFormat::itu, s);
    check_decodes(s.frames);
}

void fuzz_raw_coded(std::span<const uint8_t> data) {
    const g729io::CodedStream s = g729io::parse_raw(data, scratch().path());
    if (s.frames.size() != data.size() / 10) fail("raw frame count wrong");
    if (s.ok() != (data.size() % 10 == 0)) fail("raw partial-frame message wrong");
    check_kinds(s.frames);
    const std::vector<uint8_t> again = g729io::format_raw(s.frames);
    if (again.size() != s.frames.size() * 10 ||
        !std::equal(again.begin(), again.end(), data.begin())) {
        fail("raw frames do not survive a round trip");
    }
    check_streamed(data, g729io::CodedFormat::raw, s);
    check_decodes(s.frames);
}

// Reads up to kMaxSamples; IoError is the only refusal allowed.
bool read_audio(const std::string& path, std::vector<int16_t>* samples, std::string* note) {
    try {
        const std::unique_ptr<g729io::AudioReader> reader = g729io::AudioReader::open_audio_file(path);
        samples->resize(kMaxSamples);
        samples->resize(reader->read(*samples));
        *note = reader->conversion_note();
        for (const std::string& w : reader->warnings()) check_message(w, "warning");
        return true;
    } catch (const g729io::IoError& e) {
        check_message(e.what(), "audio");
        return false;
    }
}

void check_wav_round_trip(const std::vector<int16_t>& samples) {
    if (samples.size() > 65536) return;
    g729io::write_wav(written_wav(), samples);
    if (g729io::read_wav(written_wav()) != samples) fail("WAV samples do not survive a round trip");
}

void fuzz_audio_file(std::span<const uint8_t> data) {
    MemoryFile& file = scratch();
    file.set(data);
    std::vector<int16_t> samples;
    std::string note;
    if (!read_audio(file.path(), &samples, &note)) return;
    // 8 kHz mono 16-bit passes unchanged: two bytes of the file per sample at least.
    if (note.empty() && samples.size() * 2 > data.size()) {
        fail("%zu samples read from a %zu-byte 16-bit file", samples.size(), data.size());
    }
    check_wav_round_trip(samples);
}

void put16(std::vector<uint8_t>& v, unsigned x) {
    v.push_back(static_cast<uint8_t>(x & 0xff));
    v.push_back(static_cast<uint8_t>((x >> 8) & 0xff));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xffff);
    put16(v, x >> 16);
}

void fuzz_converted(std::span<const uint8_t> data) {
    static const int common[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000};
    g729_fuzz::ByteReader in(data.data(), data.size());
    const uint8_t r = in.byte();
    const int rate = r < 128 ? common[r % 8] : 1000 + (r - 128) * 3000;
    const int channels = 1 + in.byte() % 8;
    const int kind = in.byte() % 4;  // 8-bit, 16-bit, 24-bit, float
    const int bits = kind == 0 ? 8 : kind == 1 ? 16 : kind == 2 ? 24 : 32;
    const int frame_bytes = channels * bits / 8;
    std::vector<uint8_t> samples(in.left() / static_cast<std::size_t>(frame_bytes) * static_cast<std::size_t>(frame_bytes));
    in.bytes(samples.data(), samples.size());
    if (kind == 3) {
        // Keep the floats finite and within twice full scale.
        for (std::size_t i = 0; i + 4 <= samples.size(); i += 4) {
            const int32_t v = static_cast<int16_t>(samples[i] | (samples[i + 1] << 8));
            const float f = static_cast<float>(v) / 16384.0f;
            std::memcpy(&samples[i], &f, 4);
        }
    }
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F'};
    put32(wav, static_cast<uint32_t>(36 + samples.size()));
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(wav, 16);
    put16(wav, kind == 3 ? 3 : 1);
    put16(wav, static_cast<unsigned>(channels));
    put32(wav, static_cast<uint32_t>(rate));
    put32(wav, static_cast<uint32_t>(rate * frame_bytes));
    put16(wav, static_cast<unsigned>(frame_bytes));
    put16(wav, static_cast<unsigned>(bits));
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put32(wav, static_cast<uint32_t>(samples.size()));
    wav.insert(wav.end(), samples.begin(), samples.end());

    MemoryFile& file = scratch();
    file.set(wav);
    std::vector<int16_t> out;
    std::string note;
    // libsndfile takes a data chunk that starts with "OggS" or "wvpk" for compressed audio in a
    // WAV wrapper and refuses the file on purpose; the reader must then report it, not crash.
    const bool looks_compressed =
        samples.size() >= 4 && (std::memcmp(samples.data(), "OggS", 4) == 0 ||
                                std::memcmp(samples.data(), "wvpk", 4) == 0);
    if (!read_audio(file.path(), &out, &note)) {
        if (looks_compressed) return;
        fail("a well-formed WAV file was refused");
    }
    const double frames = static_cast<double>(samples.size() / static_cast<std::size_t>(frame_bytes));
    const double expected = frames * 8000.0 / rate;
    if (out.size() < kMaxSamples && std::fabs(static_cast<double>(out.size()) - expected) > 2.0) {
        fail("%zu samples from %.0f frames at %d Hz (expected about %.1f)", out.size(), frames,
             rate, expected);
    }
    const bool passthrough = rate == 8000 && channels == 1 && bits == 16;
    if (note.empty() != passthrough) fail("conversion note wrong: '%s'", note.c_str());
    if (passthrough) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (static_cast<uint16_t>(out[i]) != (samples[2 * i] | (samples[2 * i + 1] << 8))) {
                fail("8 kHz mono 16-bit input changed at sample %zu", i);
            }
        }
    }
}

void fuzz_raw_pcm(std::span<const uint8_t> data) {
    MemoryFile& file = scratch();
    file.set(data);
    const g729io::Pcm pcm = g729io::read_raw_pcm(file.path());
    if (pcm.samples.size() != data.size() / 2 || pcm.stray_bytes != data.size() % 2) {
        fail("raw PCM sizes wrong");
    }
    for (std::size_t i = 0; i < pcm.samples.size(); ++i) {
        const auto v = static_cast<uint16_t>(pcm.samples[i]);
        if ((v & 0xff) != data[2 * i] || (v >> 8) != data[2 * i + 1]) fail("raw PCM byte order");
    }
}

// Counts what a stream's timeline hands over, checking each frame's size.
struct CountingSink : g729rtp::FrameSink {
    uint64_t samples = 0;
    uint64_t frames = 0;
    uint64_t made_up = 0;  // samples of lost and pause frames
    void frame(g729rtp::FrameKind kind, std::span<const int16_t> s) override {
        if (s.empty() || s.size() > 80) fail("a frame of %zu samples", s.size());
        samples += s.size();
        ++frames;
        if (kind == g729rtp::FrameKind::lost || kind == g729rtp::FrameKind::pause) made_up += s.size();
    }
};

// A stream as the capture clock sees it: its packets' first and latest capture times, and its
// longest packet in frames.
struct Clock {
    bool started = false;
    int64_t first = 0, latest = 0;
    int64_t frames = 2;  // a damaged packet counts as two frames when nothing longer came
};

bool same_stream(const g729rtp::StreamInfo& s, uint32_t ssrc, const g729rtp::UdpDatagram& udp) {
    return s.ssrc == ssrc && s.src == udp.src && s.dst == udp.dst;
}

std::vector<Clock> clocks_of(const std::string& path, const std::vector<g729rtp::StreamInfo>& streams, int payload_type) {
    std::vector<Clock> clocks(streams.size());
    g729rtp::CaptureReader reader(path);
    g729rtp::CapturedPacket packet;
    while (reader.next(packet)) {
        g729rtp::UdpDatagram udp;
        g729rtp::RtpHeader rtp;
        if (g729rtp::parse_packet(reader.link_type(), packet.bytes, udp) != g729rtp::PacketKind::udp ||
            !g729rtp::parse_rtp(udp.payload, rtp)) {
            continue;
        }
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (!same_stream(streams[i], rtp.ssrc, udp)) continue;
            Clock& c = clocks[i];
            const int64_t t = g729rtp::capture_time_us(packet);
            if (!c.started) c.first = c.latest = t;
            c.started = true;
            c.latest = std::max(c.latest, t);
            const std::size_t n = rtp.payload.size();
            if (rtp.payload_type == payload_type && g729rtp::g729_payload_length(n)) {
                c.frames = std::max<int64_t>(c.frames, static_cast<int64_t>(n / 10 + (n % 10 == 2)));
            }
        }
    }
    return clocks;
}

void fuzz_capture(std::span<const uint8_t> data) {
    MemoryFile& file = scratch();
    file.set(data);
    g729rtp::ScanOptions scan_options;
    scan_options.min_packets = 1;
    // A small table, so that lookalikes make room for new streams.
    scan_options.max_streams = 8;
    g729rtp::CaptureScan scan;
    try {
        scan = g729rtp::scan_capture(file.path(), scan_options);
    } catch (const g729rtp::CaptureError& e) {
        const std::string what = e.what();
        if (what.empty() || what.find('\n') != std::string::npos) fail("bad capture message");
        return;
    }
    if (scan.udp + scan.fragments + scan.malformed > scan.packets) fail("packet counts exceed packets");
    if (scan.cut > scan.packets) fail("more packets cut than read");
    if (scan.streams.size() > scan_options.max_streams) fail("stream limit not kept");
    for (std::size_t i = 0; i < scan.streams.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const g729rtp::StreamInfo& a = scan.streams[i];
            if (same_stream(scan.streams[j], a.ssrc, {a.src, a.dst, {}})) fail("a stream listed twice");
        }
    }
    // Jumps beyond a second are counted, not filled, so that one input decodes quickly.
    g729rtp::TimelineOptions timeline;
    timeline.max_gap_samples = 8000;
    std::vector<CountingSink> sinks(scan.streams.size());
    const auto results = g729rtp::decode_streams(
        file.path(), scan.streams, [&](std::size_t i) -> g729rtp::FrameSink& { return sinks[i]; },
        scan_options, timeline);
    if (results.size() != scan.streams.size()) fail("a stream went missing");
    const std::vector<Clock> clocks = clocks_of(file.path(), scan.streams, scan_options.payload_type);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const g729rtp::StreamStats& s = results[i].stats;
        if (s.samples != sinks[i].samples) fail("stream sample count differs from what was written");
        // A stream evicted from the table and seen again counts its packets anew in the scan.
        if (s.packets < scan.streams[i].packets) fail("decode saw fewer packets than the scan");
        if (s.speech_frames + s.sid_frames + s.lost_frames + s.pause_frames < sinks[i].frames) {
            fail("more frames written than decoded");
        }
        if (s.duplicates + s.late > s.packets + s.other_payload) fail("more duplicates than packets");
        // Made-up audio never exceeds the capture clock's span of the stream plus one packet.
        const Clock& c = clocks[i];
        const int64_t bound = (c.latest - c.first) * 8 / 1000 + c.frames * 80;
        if (static_cast<int64_t>(sinks[i].made_up) > bound) {
            fail("%llu samples made up, beyond the capture clock's %lld",
                 static_cast<unsigned long long>(sinks[i].made_up), static_cast<long long>(bound));
        }
        const std::string line = g729rtp::summary_line(results[i]);
        if (line.find('\n') != std::string::npos) fail("multi-line summary");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    namespace op = g729_fuzz::reader_op;
    if (size == 0) return 0;
    const std::span<const uint8_t> content(data + 1, size - 1);
    // The tools report every problem as an IoError; anything else escaping is a fault and
    // ends the run as a crash.
    switch (data[0] % op::count) {
    case op::wav: fuzz_audio_file(content); break;
    case op::itu: fuzz_itu(content); break;
    case op::raw_coded: fuzz_raw_coded(content); break;
    case op::raw_pcm: fuzz_raw_pcm(content); break;
    case op::capture: fuzz_capture(content); break;
    default: fuzz_converted(content); break;
    }
    return 0;
}
