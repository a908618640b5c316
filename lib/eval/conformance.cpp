// SPDX-License-Identifier: BSD-2-Clause
#include "lib/eval/conformance.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "lib/eval/codec_runner.h"
#include "lib/io/coded_io.h"
#include "lib/io/file_io.h"
#include "lib/io/pcm_io.h"

namespace g729eval {

using g729io::CodedFrame;
using g729io::FrameKind;

namespace {

std::vector<CodedFrame> load_itu(const std::string& path) {
    g729io::CodedStream s = g729io::parse_itu(g729io::read_file(path), path);
    if (!s.ok()) {
        throw g729io::IoError(s.error);
    }
    return s.frames;
}

std::vector<int16_t> decode_or_throw(const std::vector<CodedFrame>& frames,
                                     const std::string& name) {
    Decoded d = decode_frames(frames);
    if (!d.ok()) {
        throw std::runtime_error(name + ": " + d.error);
    }
    return std::move(d.samples);
}

std::vector<int16_t> load_complete_frames(const std::string& path) {
    std::vector<int16_t> pcm = g729io::read_raw_pcm(path).samples;
    pcm.resize(pcm.size() - pcm.size() % frame_samples);
    return pcm;
}

void require_same_length(std::size_t ours, std::size_t ref, const std::string& what) {
    if (ours != ref) {
        throw std::runtime_error(what + ": " + std::to_string(ref) + " reference frames, " +
                                 std::to_string(ours) + " of ours");
    }
}

int type_slot(FrameKind k) {
    switch (k) {
    case FrameKind::speech: return 0;
    case FrameKind::sid: return 1;
    default: return 2;
    }
}

}  // namespace

double percent(std::size_t part, std::size_t total) {
    return total ? 100.0 * static_cast<double>(part) / static_cast<double>(total)
                 : std::numeric_limits<double>::quiet_NaN();
}

DecodeFigures measure_decode(const std::string& bit_path, const std::string& pst_path) {
    const std::vector<int16_t> ours = decode_or_throw(load_itu(bit_path), bit_path);
    const std::vector<int16_t> ref = g729io::read_raw_pcm(pst_path).samples;
    require_same_length(ours.size() / frame_samples, ref.size() / frame_samples, pst_path);
    DecodeFigures out;
    out.frames = ref.size() / frame_samples;
    out.snr_db = snr_db(ref, ours);
    out.seg = segmental_snr_db(ref, ours);
    return out;
}

EncodeFigures measure_encode(const std::string& in_path, const std::string& bit_path,
                             int shift) {
    const std::vector<int16_t> input = load_complete_frames(in_path);
    const std::vector<CodedFrame> ref_frames = load_itu(bit_path);
    const std::vector<CodedFrame> our_frames = encode_samples(input, false);
    require_same_length(our_frames.size(), ref_frames.size(), bit_path);

    const std::vector<int16_t> ours = decode_or_throw(our_frames, in_path + " (our encoding)");
    const std::vector<int16_t> ref = decode_or_throw(ref_frames, bit_path);

    EncodeFigures out;
    out.frames = our_frames.size();
    out.ours_curve = shift_curve(input, ours, max_alignment_shift);
    out.ref_curve = shift_curve(input, ref, max_alignment_shift);
    out.ours_best = best_alignment(out.ours_curve);
    out.ref_best = best_alignment(out.ref_curve);
    out.shift = shift;
    out.snr_ours_db = snr_at_shift(input, ours, out.shift);
    out.snr_ref_db = snr_at_shift(input, ref, out.shift);
    out.seg_ours = segmental_snr_at_shift(input, ours, out.shift);
    out.seg_ref = segmental_snr_at_shift(input, ref, out.shift);

    for (std::size_t f = 0; f < out.frames; ++f) {
        if (our_frames[f].kind != FrameKind::speech || ref_frames[f].kind != FrameKind::speech) {
            continue;
        }
        ++out.compared;
        const auto a = speech_fields(our_frames[f].bytes.data());
        const auto b = speech_fields(ref_frames[f].bytes.data());
        for (int i = 0; i < speech_field_count; ++i) {
            out.field_equal[i] += a[i] == b[i] ? 1 : 0;
        }
        out.all_equal += a == b ? 1 : 0;
    }
    return out;
}

DtxDecodeFigures measure_dtx_decode(const std::string& bit_path, const std::string& pst_path) {
    const std::vector<CodedFrame> frames = load_itu(bit_path);
    const std::vector<int16_t> ours = decode_or_throw(frames, bit_path);
    const std::vector<int16_t> ref = g729io::read_raw_pcm(pst_path).samples;
    require_same_length(ours.size() / frame_samples, ref.size() / frame_samples, pst_path);

    std::vector<int16_t> speech_ref, speech_ours, noise_ref, noise_ours;
    DtxDecodeFigures out;
    out.frames = frames.size();
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const auto begin = static_cast<std::ptrdiff_t>(f * frame_samples);
        const auto end = begin + static_cast<std::ptrdiff_t>(frame_samples);
        switch (frames[f].kind) {
        case FrameKind::speech:
            ++out.speech_frames;
            speech_ref.insert(speech_ref.end(), ref.begin() + begin, ref.begin() + end);
            speech_ours.insert(speech_ours.end(), ours.begin() + begin, ours.begin() + end);
            break;
        case FrameKind::sid:
        case FrameKind::untransmitted:
            ++out.noise_frames;
            noise_ref.insert(noise_ref.end(), ref.begin() + begin, ref.begin() + end);
            noise_ours.insert(noise_ours.end(), ours.begin() + begin, ours.begin() + end);
            break;
        case FrameKind::lost:
            ++out.lost_frames;
            break;
        }
    }
    out.speech_snr_db = snr_db(speech_ref, speech_ours);
    out.speech_seg = segmental_snr_db(speech_ref, speech_ours);
    out.noise_level_diff_db = noise_ref.empty() ? std::numeric_limits<double>::quiet_NaN()
                                                : level_difference_db(noise_ref, noise_ours);
    return out;
}

DtxEncodeFigures measure_dtx_encode(const std::string& in_path, const std::string& bit_path) {
    const std::vector<int16_t> input = load_complete_frames(in_path);
    const std::vector<CodedFrame> ref_frames = load_itu(bit_path);
    const std::vector<CodedFrame> our_frames = encode_samples(input, true);
    require_same_length(our_frames.size(), ref_frames.size(), bit_path);

    DtxEncodeFigures out;
    out.frames = our_frames.size();
    for (std::size_t f = 0; f < out.frames; ++f) {
        const CodedFrame& a = our_frames[f];
        const CodedFrame& b = ref_frames[f];
        ++out.ours_counts[type_slot(a.kind)];
        ++out.ref_counts[type_slot(b.kind)];
        out.type_equal += type_slot(a.kind) == type_slot(b.kind) ? 1 : 0;
        if (a.kind == FrameKind::sid && b.kind == FrameKind::sid) {
            ++out.both_sid;
            const auto fa = sid_fields(a.bytes.data());
            const auto fb = sid_fields(b.bytes.data());
            for (int i = 0; i < sid_field_count; ++i) {
                out.sid_field_equal[i] += fa[i] == fb[i] ? 1 : 0;
            }
            out.sid_equal += fa == fb ? 1 : 0;
        }
    }
    return out;
}

}  // namespace g729eval
