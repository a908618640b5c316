// Fuzz target: the g729 tool's readers (input layout in fuzz_ops.h): WAV through libsndfile
// and raw PCM, both read from a file, the ITU serial format and raw coded frames, parsed from
// memory, and packet captures through libpcap, whose G.729 streams are decoded. A reader may refuse its input only with the tools' one-line IoError (or, for the
// coded formats, an error message beside the frames read so far); whatever it accepts must
// survive a write and a re-read unchanged, and coded frames must decode through the tool's
// decoding path.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_ops.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/eval/codec_runner.h"
#include "tools/io/coded_io.h"
#include "tools/io/file_io.h"
#include "tools/io/pcm_io.h"
#include "tools/rtp/capture_decoder.h"
#include "tools/rtp/capture_reader.h"

namespace {

using g729_fuzz::fail;

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

void fuzz_itu(std::span<const uint8_t> data) {
    const g729io::CodedStream s = g729io::parse_itu(data, "fuzz.bit");
    check_kinds(s.frames);
    // Frames take 4 to 164 bytes each; an input read whole leaves no message.
    if (s.frames.size() * 4 > data.size()) fail("more ITU frames than the input can hold");
    if (s.ok() && s.frames.empty() && !data.empty()) fail("non-empty ITU input read as nothing");
    if (!s.ok() && s.error.find('\n') != std::string::npos) fail("multi-line ITU message");
    const std::vector<uint8_t> again = g729io::format_itu(s.frames);
    const g729io::CodedStream back = g729io::parse_itu(again, "again.bit");
    if (!back.ok() || back.frames != s.frames) fail("ITU frames do not survive a round trip");
    check_decodes(s.frames);
}

void fuzz_raw_coded(std::span<const uint8_t> data) {
    const g729io::CodedStream s = g729io::parse_raw(data, "fuzz.g729");
    if (s.frames.size() != data.size() / 10) fail("raw frame count wrong");
    if (s.ok() != (data.size() % 10 == 0)) fail("raw partial-frame message wrong");
    check_kinds(s.frames);
    const std::vector<uint8_t> again = g729io::format_raw(s.frames);
    if (again.size() != s.frames.size() * 10 ||
        !std::equal(again.begin(), again.end(), data.begin())) {
        fail("raw frames do not survive a round trip");
    }
    check_decodes(s.frames);
}

void fuzz_wav(std::span<const uint8_t> data) {
    MemoryFile& file = scratch();
    file.set(data);
    std::vector<int16_t> samples;
    try {
        samples = g729io::read_wav(file.path());
    } catch (const g729io::IoError& e) {
        const std::string what = e.what();
        if (what.empty() || what.find('\n') != std::string::npos) fail("bad WAV message");
        return;
    }
    // 16-bit mono: two bytes of the file per sample at least.
    if (samples.size() * 2 > data.size()) {
        fail("%zu samples read from a %zu-byte WAV file", samples.size(), data.size());
    }
    g729io::write_wav(file.path(), samples);
    if (g729io::read_wav(file.path()) != samples) fail("WAV samples do not survive a round trip");
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
    void frame(g729rtp::FrameKind, std::span<const int16_t> s) override {
        if (s.empty() || s.size() > 80) fail("a frame of %zu samples", s.size());
        samples += s.size();
        ++frames;
    }
};

void fuzz_capture(std::span<const uint8_t> data) {
    MemoryFile& file = scratch();
    file.set(data);
    g729rtp::ScanOptions scan_options;
    scan_options.min_packets = 1;
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
    if (scan.streams.size() > scan_options.max_streams) fail("stream limit not kept");
    // Jumps beyond a second are counted, not filled, so that one input decodes quickly.
    g729rtp::TimelineOptions timeline;
    timeline.max_gap_samples = 8000;
    std::vector<CountingSink> sinks(scan.streams.size());
    std::size_t next = 0;
    const auto results = g729rtp::decode_capture(
        file.path(), scan.streams,
        [&](uint32_t) -> g729rtp::FrameSink& { return sinks[next++]; }, scan_options, timeline);
    if (results.size() != scan.streams.size()) fail("a stream went missing");
    for (std::size_t i = 0; i < results.size(); ++i) {
        const g729rtp::StreamStats& s = results[i].stats;
        if (s.samples != sinks[i].samples) fail("stream sample count differs from what was written");
        if (s.packets != scan.streams[i].packets) fail("decode saw other packets than the scan");
        if (s.speech_frames + s.sid_frames + s.lost_frames + s.pause_frames < sinks[i].frames) {
            fail("more frames written than decoded");
        }
        if (s.duplicates + s.late > s.packets + s.other_payload) fail("more duplicates than packets");
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
    case op::wav: fuzz_wav(content); break;
    case op::itu: fuzz_itu(content); break;
    case op::raw_coded: fuzz_raw_coded(content); break;
    case op::capture: fuzz_capture(content); break;
    default: fuzz_raw_pcm(content); break;
    }
    return 0;
}
