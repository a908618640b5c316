// SPDX-License-Identifier: BSD-2-Clause
// g729._g729: the codec, the channel simulation and the capture decoder for Python. The
// package (g729/__init__.py) checks and converts the arguments; here every piece of coding
// work runs with the interpreter's lock released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <g729/g729.h>

#include "lib/eval/channel_simulation.h"
#include "lib/io/coded_stream.h"
#include "lib/io/file_io.h"
#include "lib/rtp/capture_decoder.h"
#include "lib/rtp/capture_reader.h"
#include "lib/rtp/stream_json.h"

namespace py = pybind11;

namespace {

constexpr std::size_t frame = G729_FRAME_SIZE;
constexpr std::size_t speech_bytes = G729_SPEECH_FRAME_BYTES;

// A state record as bytes, for pickling, and back (refusing records of another layout).
template <class State>
py::bytes state_bytes(const State& state) {
    return py::bytes(reinterpret_cast<const char*>(&state), sizeof state);
}

template <class State>
void restore_state(State& state, const py::bytes& data, const char* what) {
    const std::string s = data;
    if (s.size() != sizeof state) {
        throw py::value_error(std::string("cannot restore the ") + what + ": its state has " +
                              std::to_string(s.size()) + " bytes, this library's " +
                              std::to_string(sizeof state));
    }
    std::memcpy(&state, s.data(), sizeof state);
}

class Encoder {
public:
    explicit Encoder(bool dtx) : dtx_(dtx) { g729_encoder_init(&state_, dtx ? 1 : 0); }

    // samples: int16, a whole number of frames (checked by the package). One bytes object per
    // frame: 10 bytes speech, 2 SID, empty when nothing is sent.
    py::list encode(const py::array_t<int16_t, py::array::c_style>& samples) {
        const std::size_t n = static_cast<std::size_t>(samples.size());
        if (n % frame != 0) throw py::value_error("samples: not a whole number of 80-sample frames");
        const std::size_t frames = n / frame;
        std::vector<uint8_t> bytes(frames * speech_bytes);
        std::vector<int32_t> counts(frames, 0);
        const int16_t* pcm = samples.data();
        {
            py::gil_scoped_release release;
            const std::lock_guard lock(mutex_);
            for (std::size_t f = 0; f < frames; ++f) {
                g729_encode_frame(&state_, pcm + f * frame, bytes.data() + f * speech_bytes, &counts[f]);
            }
        }
        py::list units(frames);
        for (std::size_t f = 0; f < frames; ++f) {
            units[f] = py::bytes(reinterpret_cast<const char*>(bytes.data() + f * speech_bytes),
                                 static_cast<std::size_t>(counts[f]));
        }
        return units;
    }

    bool dtx() const { return dtx_; }

    py::tuple get_state() {
        const std::lock_guard lock(mutex_);
        return py::make_tuple(dtx_, state_bytes(state_));
    }
    static std::unique_ptr<Encoder> from_state(const py::tuple& t) {
        if (t.size() != 2) throw py::value_error("cannot restore the encoder: not an encoder's state");
        auto e = std::make_unique<Encoder>(t[0].cast<bool>());
        restore_state(e->state_, t[1].cast<py::bytes>(), "encoder");
        return e;
    }

private:
    g729_encoder_state state_{};
    bool dtx_;
    std::mutex mutex_;  // one call at a time, whatever the caller's threads do
};

class Decoder {
public:
    Decoder() { g729_decoder_init(&state_); }

    // lengths: one per frame, 10 (speech) or 2 (SID) for a unit taken in turn from payload,
    // G729_UNIT_UNTRANSMITTED or G729_UNIT_LOST. Checked by the package.
    py::array_t<int16_t> decode(const py::array_t<int32_t, py::array::c_style>& lengths,
                                const py::bytes& payload) {
        const std::size_t frames = static_cast<std::size_t>(lengths.size());
        const std::string_view bytes = payload;
        py::array_t<int16_t> out(static_cast<py::ssize_t>(frames * frame));
        int16_t* pcm = out.mutable_data();
        const int32_t* len = lengths.data();
        std::string error;
        {
            py::gil_scoped_release release;
            const std::lock_guard lock(mutex_);
            std::size_t offset = 0;
            for (std::size_t f = 0; f < frames && error.empty(); ++f) {
                int rc = G729_ERROR;
                if (len[f] == G729_UNIT_LOST) {
                    rc = g729_decode_lost_frame(&state_, pcm + f * frame);
                } else if (len[f] == G729_UNIT_UNTRANSMITTED) {
                    rc = g729_decode_untransmitted_frame(&state_, pcm + f * frame);
                } else if (len[f] > 0 && offset + static_cast<std::size_t>(len[f]) <= bytes.size()) {
                    rc = g729_decode_frame(&state_, pcm + f * frame,
                                           reinterpret_cast<const uint8_t*>(bytes.data() + offset), len[f]);
                    offset += static_cast<std::size_t>(len[f]);
                }
                if (rc != G729_OK) error = "unit " + std::to_string(f) + ": the decoder refused it";
            }
        }
        if (!error.empty()) throw py::value_error(error);
        return out;
    }

    py::bytes get_state() {
        const std::lock_guard lock(mutex_);
        return state_bytes(state_);
    }
    static std::unique_ptr<Decoder> from_state(const py::bytes& b) {
        auto d = std::make_unique<Decoder>();
        restore_state(d->state_, b, "decoder");
        return d;
    }

private:
    g729_decoder_state state_{};
    std::mutex mutex_;
};

// Mono float32 clips through the channel, one seed per clip; threads 0: one per processor.
std::vector<py::array_t<float>> simulate(const std::vector<py::array_t<float, py::array::c_style>>& clips,
                                         double rate, double loss, double burst, bool dtx,
                                         const std::vector<uint64_t>& seeds, int ptime_ms,
                                         unsigned threads) {
    if (seeds.size() != clips.size()) throw py::value_error("one seed per clip");
    std::vector<g729eval::ChannelClip> in(clips.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        in[i].samples = std::span<const float>(clips[i].data(), static_cast<std::size_t>(clips[i].size()));
        in[i].settings.loss = loss;
        in[i].settings.burst = burst;
        in[i].settings.dtx = dtx;
        in[i].settings.ptime_ms = ptime_ms;
        in[i].settings.seed = seeds[i];
    }
    std::vector<std::vector<float>> out;
    {
        py::gil_scoped_release release;
        out = g729eval::simulate_channels(in, rate, threads);
    }
    std::vector<py::array_t<float>> arrays;
    arrays.reserve(out.size());
    for (const auto& y : out) {
        py::array_t<float> a(static_cast<py::ssize_t>(y.size()));
        std::copy(y.begin(), y.end(), a.mutable_data());
        arrays.push_back(std::move(a));
    }
    return arrays;
}

py::array_t<bool> loss_pattern(std::size_t packets, double loss, double burst, uint64_t seed) {
    std::vector<uint8_t> lost;
    {
        py::gil_scoped_release release;
        lost = g729eval::loss_pattern(packets, loss, burst, seed);
    }
    py::array_t<bool> a(static_cast<py::ssize_t>(lost.size()));
    bool* p = a.mutable_data();
    for (std::size_t i = 0; i < lost.size(); ++i) p[i] = lost[i] != 0;
    return a;
}

// The units of a coded file as the tool reads it (itu: the ITU serial format, else raw 10-byte
// frames): bytes per frame, b"" for an untransmitted frame, None for a lost one.
py::list read_coded(const std::string& path, bool itu) {
    std::vector<g729io::CodedFrame> frames;
    std::string error;
    {
        py::gil_scoped_release release;
        const auto reader =
            g729io::CodedReader::open(path, itu ? g729io::CodedFormat::itu : g729io::CodedFormat::raw);
        g729io::CodedFrame f;
        while (reader->next(f)) frames.push_back(f);
        error = reader->error();
    }
    if (!error.empty()) throw py::value_error(error);
    py::list units;
    for (const auto& f : frames) {
        if (f.kind == g729io::FrameKind::lost) {
            units.append(py::none());
        } else {
            units.append(py::bytes(reinterpret_cast<const char*>(f.bytes.data()),
                                   static_cast<std::size_t>(f.payload_bytes())));
        }
    }
    return units;
}

// Collects a stream's decoded samples.
class SampleSink : public g729rtp::FrameSink {
public:
    void frame(g729rtp::FrameKind, std::span<const int16_t> samples) override {
        samples_.insert(samples_.end(), samples.begin(), samples.end());
    }
    std::vector<int16_t> samples_;
};

// The G.729 streams of a capture as the tool decodes them: (ssrc, src, dst, samples, stats
// JSON) per stream, and warnings about the capture.
py::tuple read_capture(const std::string& path, std::optional<uint32_t> ssrc) {
    g729rtp::ScanOptions scan_options;
    scan_options.ssrc = ssrc;
    g729rtp::CaptureScan scan;
    std::vector<std::unique_ptr<SampleSink>> sinks;
    std::vector<g729rtp::StreamResult> results;
    {
        py::gil_scoped_release release;
        g729io::check_readable(path);
        scan = g729rtp::scan_capture(path, scan_options);
        for (std::size_t i = 0; i < scan.streams.size(); ++i) sinks.push_back(std::make_unique<SampleSink>());
        if (!scan.streams.empty()) {
            results = g729rtp::decode_streams(
                path, scan.streams, [&](std::size_t i) -> g729rtp::FrameSink& { return *sinks[i]; },
                scan_options);
        }
    }
    py::list streams;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const auto& s = sinks[i]->samples_;
        py::array_t<int16_t> samples(static_cast<py::ssize_t>(s.size()));
        std::copy(s.begin(), s.end(), samples.mutable_data());
        const std::string stats = g729rtp::stream_json(results[i], scan_options.payload_type, 0.0).dump();
        streams.append(py::make_tuple(results[i].info.ssrc, results[i].info.src.to_string(),
                                      results[i].info.dst.to_string(), samples, stats));
    }
    py::list warnings;
    if (!scan.truncation.empty()) warnings.append(scan.truncation + "; the streams up to there were read");
    if (scan.untracked_packets != 0) {
        warnings.append(std::to_string(scan.untracked_packets) +
                        " packets of further streams were not decoded: give ssrc to read them");
    }
    return py::make_tuple(streams, warnings);
}

}  // namespace

PYBIND11_MODULE(_g729, m) {
    m.doc() = "The G.729A/B codec library's core for the g729 package";
    m.attr("version") = g729_version_string();
    m.attr("frame_samples") = static_cast<int>(frame);
    m.attr("codec_delay") = static_cast<int>(g729eval::codec_delay_samples);

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const g729io::IoError& e) {
            PyErr_SetString(PyExc_OSError, e.what());
        } catch (const g729rtp::CaptureError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    py::class_<Encoder>(m, "Encoder")
        .def(py::init<bool>(), py::arg("dtx"))
        .def("encode", &Encoder::encode, py::arg("samples"))
        .def_property_readonly("dtx", &Encoder::dtx)
        .def(py::pickle([](Encoder& e) { return e.get_state(); },
                        [](const py::tuple& t) { return Encoder::from_state(t); }));

    py::class_<Decoder>(m, "Decoder")
        .def(py::init<>())
        .def("decode", &Decoder::decode, py::arg("lengths"), py::arg("payload"))
        .def(py::pickle([](Decoder& d) { return d.get_state(); },
                        [](const py::bytes& b) { return Decoder::from_state(b); }));

    m.def("simulate", &simulate, py::arg("clips"), py::arg("rate"), py::arg("loss"), py::arg("burst"),
          py::arg("dtx"), py::arg("seeds"), py::arg("ptime_ms"), py::arg("threads"));
    m.def("loss_pattern", &loss_pattern, py::arg("packets"), py::arg("loss"), py::arg("burst"),
          py::arg("seed"));
    m.def("read_capture", &read_capture, py::arg("path"), py::arg("ssrc"));
    m.def("read_coded", &read_coded, py::arg("path"), py::arg("itu"));
}
