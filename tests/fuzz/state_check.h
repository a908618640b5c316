// SPDX-License-Identifier: BSD-2-Clause
// Field-by-field inspection of the codec's state records, shared by the fuzz targets, the soak
// run and the robustness tests.
//
// Every field of g729_encoder_state and g729_decoder_state is listed here in declaration order,
// doubles and integers alike. The double fields are checked for NaN and infinity, the integer
// fields against the ranges the codec keeps them in. fields_cover_record() proves that the lists
// are complete: consecutive fields must touch, up to alignment padding, from offset 0 to the end
// of the record, so a field added to a record without being added here is caught by a test.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "codec/g729.h"

namespace g729_check {

enum class Kind { doubles, int32, int16 };

struct Field {
    const char* name;
    Kind kind;
    const void* address;
    std::size_t bytes;
    std::size_t alignment;
};

template <class T>
Field make_field(const char* name, const T& value) {
    using Element = std::remove_all_extents_t<T>;
    Kind kind;
    if constexpr (std::is_same_v<Element, double>) {
        kind = Kind::doubles;
    } else if constexpr (std::is_same_v<Element, int32_t>) {
        kind = Kind::int32;
    } else {
        static_assert(std::is_same_v<Element, int16_t>, "state records hold doubles and ints");
        kind = Kind::int16;
    }
    return Field{name, kind, static_cast<const void*>(&value), sizeof(T), alignof(Element)};
}

#define G729_CHECK_FIELD(record, path) visit(make_field(#path, (record).path))

// Calls visit(Field) for every field of the decoder record, in declaration order.
template <class Visit>
void for_each_field(const g729_decoder_state& s, Visit&& visit) {
    G729_CHECK_FIELD(s, exc_buf);
    G729_CHECK_FIELD(s, lsp_prev);
    G729_CHECK_FIELD(s, mem_syn);
    G729_CHECK_FIELD(s, sharp);
    G729_CHECK_FIELD(s, prev_t0);
    G729_CHECK_FIELD(s, gain_code);
    G729_CHECK_FIELD(s, gain_pitch);
    G729_CHECK_FIELD(s, erasure_seed);
    G729_CHECK_FIELD(s, prev_frame_type);
    G729_CHECK_FIELD(s, cng_seed);
    G729_CHECK_FIELD(s, exc_energy);
    G729_CHECK_FIELD(s, lsp_decoder_state.lsf_ma_memory);
    G729_CHECK_FIELD(s, lsp_decoder_state.prev_ma_mode);
    G729_CHECK_FIELD(s, lsp_decoder_state.prev_lsf);
    G729_CHECK_FIELD(s, cng.noise_gain);
    G729_CHECK_FIELD(s, cng.lsp_sid);
    G729_CHECK_FIELD(s, cng.sid_gain);
    G729_CHECK_FIELD(s, cng.exc_err);
    G729_CHECK_FIELD(s, noise_ma_pred);
    G729_CHECK_FIELD(s, gain_pred_mem);
    G729_CHECK_FIELD(s, post_hpf_mem);
    G729_CHECK_FIELD(s, postfilter.residual_history);
    G729_CHECK_FIELD(s, postfilter.postfilter_synthesis_memory);
    G729_CHECK_FIELD(s, postfilter.tilt_memory);
    G729_CHECK_FIELD(s, postfilter.agc_gain);
    G729_CHECK_FIELD(s, synth_buf);
}

// Calls visit(Field) for every field of the encoder record, in declaration order.
template <class Visit>
void for_each_field(const g729_encoder_state& s, Visit&& visit) {
    G729_CHECK_FIELD(s, speech_buf);
    G729_CHECK_FIELD(s, wsp_buf);
    G729_CHECK_FIELD(s, exc_buf);
    G729_CHECK_FIELD(s, lsp_prev);
    G729_CHECK_FIELD(s, lsp_prev_q);
    G729_CHECK_FIELD(s, mem_err_w);
    G729_CHECK_FIELD(s, mem_wsp);
    G729_CHECK_FIELD(s, mem_zero);
    G729_CHECK_FIELD(s, sharp);
    G729_CHECK_FIELD(s, vad_prev);
    G729_CHECK_FIELD(s, vad_prev2);
    G729_CHECK_FIELD(s, cng_seed);
    G729_CHECK_FIELD(s, lsf_ma_memory);
    G729_CHECK_FIELD(s, dtx.lsp_sid_q);
    G729_CHECK_FIELD(s, dtx.past_coeff);
    G729_CHECK_FIELD(s, dtx.ref_autocorr);
    G729_CHECK_FIELD(s, dtx.autocorr_history);
    G729_CHECK_FIELD(s, dtx.autocorr_sums);
    G729_CHECK_FIELD(s, dtx.residual_energy);
    G729_CHECK_FIELD(s, dtx.autocorr_frame);
    G729_CHECK_FIELD(s, dtx.noise_gain);
    G729_CHECK_FIELD(s, dtx.energy_count);
    G729_CHECK_FIELD(s, dtx.sid_gain);
    G729_CHECK_FIELD(s, dtx.filter_changed);
    G729_CHECK_FIELD(s, dtx.sid_energy);
    G729_CHECK_FIELD(s, dtx.frames_since_sid);
    G729_CHECK_FIELD(s, exc_err);
    G729_CHECK_FIELD(s, noise_ma_pred);
    G729_CHECK_FIELD(s, vad.mean_lsf);
    G729_CHECK_FIELD(s, vad.min_buffer);
    G729_CHECK_FIELD(s, vad.prev_min);
    G729_CHECK_FIELD(s, vad.next_min);
    G729_CHECK_FIELD(s, vad.min_energy);
    G729_CHECK_FIELD(s, vad.mean_energy);
    G729_CHECK_FIELD(s, vad.mean_full_energy);
    G729_CHECK_FIELD(s, vad.mean_low_energy);
    G729_CHECK_FIELD(s, vad.mean_zero_crossing);
    G729_CHECK_FIELD(s, vad.prev_energy);
    G729_CHECK_FIELD(s, vad.silence_count);
    G729_CHECK_FIELD(s, vad.update_count);
    G729_CHECK_FIELD(s, vad.extension_count);
    G729_CHECK_FIELD(s, vad.extension_enabled);
    G729_CHECK_FIELD(s, vad.forced_voice);
    G729_CHECK_FIELD(s, vad.low_energy_count);
    G729_CHECK_FIELD(s, gain_pred_mem);
    G729_CHECK_FIELD(s, hpf_mem);
    G729_CHECK_FIELD(s, frame_count);
    G729_CHECK_FIELD(s, dtx_enabled);
}

#undef G729_CHECK_FIELD

// True when the listed fields tile the record: each starts where the previous one ended, or
// after less padding than its own alignment, and the last one ends within the record's final
// padding. A field missing from the list leaves a gap at least as wide as itself.
template <class Record>
bool fields_cover_record(const Record& s, std::string* problem) {
    const auto* base = reinterpret_cast<const unsigned char*>(&s);
    std::size_t end = 0;
    bool ok = true;
    for_each_field(s, [&](const Field& f) {
        if (!ok) return;
        const auto offset =
            static_cast<std::size_t>(static_cast<const unsigned char*>(f.address) - base);
        if (offset < end || offset - end >= f.alignment) {
            ok = false;
            *problem = std::string("unlisted bytes before field ") + f.name;
            return;
        }
        end = offset + f.bytes;
    });
    if (ok && (end > sizeof(Record) || sizeof(Record) - end >= alignof(Record))) {
        ok = false;
        *problem = "unlisted bytes after the last field";
    }
    return ok;
}

// Name and value of the first NaN or infinite double of the record, or an empty string.
template <class Record>
std::string first_nonfinite(const Record& s) {
    std::string found;
    for_each_field(s, [&](const Field& f) {
        if (!found.empty() || f.kind != Kind::doubles) return;
        const auto* d = static_cast<const double*>(f.address);
        for (std::size_t i = 0; i < f.bytes / sizeof(double); ++i) {
            if (!std::isfinite(d[i])) {
                found = std::string(f.name) + "[" + std::to_string(i) + "] = " +
                        std::to_string(d[i]);
                return;
            }
        }
    });
    return found;
}

// No double of a healthy decoder record comes near this: the loudest legitimate streams
// (saturating the output) keep every value below 1e14, sums of squares included; 1e20 leaves
// room for excitation samples of 1e9. (Encoder records hold 1e38 as the start of running
// minima; the bound is for decoders.)
inline constexpr double runaway_magnitude = 1e20;

// Largest magnitude among the record's doubles (a measure of how far a state has run away);
// NaN when any double is NaN.
template <class Record>
double largest_magnitude(const Record& s) {
    double m = 0.0;
    for_each_field(s, [&](const Field& f) {
        if (f.kind != Kind::doubles) return;
        const auto* d = static_cast<const double*>(f.address);
        for (std::size_t i = 0; i < f.bytes / sizeof(double); ++i) {
            const double a = std::fabs(d[i]);
            if (!(a <= m) && !std::isnan(m)) m = a;  // the first NaN sticks
        }
    });
    return m;
}

// Integer fields and ordering invariants of a decoder record that any input must preserve.
// Returns a description of the first violation, or an empty string.
inline std::string decoder_invariant_violation(const g729_decoder_state& s) {
    if (s.prev_t0 < 19 || s.prev_t0 > 144) return "prev_t0 " + std::to_string(s.prev_t0);
    if (s.prev_frame_type < 0 || s.prev_frame_type > 2) {
        return "prev_frame_type " + std::to_string(s.prev_frame_type);
    }
    if (s.lsp_decoder_state.prev_ma_mode != 0 && s.lsp_decoder_state.prev_ma_mode != 1) {
        return "prev_ma_mode " + std::to_string(s.lsp_decoder_state.prev_ma_mode);
    }
    // Stable synthesis filters need LSPs strictly decreasing inside (-1, 1) and LSFs
    // strictly increasing inside (0, pi).
    auto decreasing_lsp = [](const double* lsp) {
        if (!(lsp[0] < 1.0) || !(lsp[9] > -1.0)) return false;
        for (int i = 0; i < 9; ++i) {
            if (!(lsp[i + 1] < lsp[i])) return false;
        }
        return true;
    };
    if (!decreasing_lsp(s.lsp_prev)) return "lsp_prev not strictly decreasing in (-1, 1)";
    if (!decreasing_lsp(s.cng.lsp_sid)) return "cng.lsp_sid not strictly decreasing in (-1, 1)";
    const double* lsf = s.lsp_decoder_state.prev_lsf;
    if (!(lsf[0] > 0.0) || !(lsf[9] < 3.14159265358979)) return "prev_lsf outside (0, pi)";
    for (int i = 0; i < 9; ++i) {
        if (!(lsf[i + 1] > lsf[i])) return "prev_lsf not strictly increasing";
    }
    if (!(s.sharp >= 0.2 && s.sharp <= 0.7945)) return "sharp " + std::to_string(s.sharp);
    return {};
}

}  // namespace g729_check
