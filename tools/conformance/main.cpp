// SPDX-License-Identifier: BSD-2-Clause
// g729_conformance [VECTOR_DIR]: measures the codec against the ITU test vectors and prints
// the figures as tables. Exit status 0 when every measurement could be made, 1 when some could
// not or the folder holds no vectors, 2 on a usage error.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/eval/conformance.h"

#ifndef G729_VECTOR_DIR
#error "G729_VECTOR_DIR must name the default test-vector folder"
#endif

namespace fs = std::filesystem;
using namespace g729eval;

namespace {

std::string num(double v, int decimals = 2) {
    if (std::isnan(v)) {
        return "n/a";
    }
    if (std::isinf(v)) {
        return v > 0 ? "inf" : "-inf";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string pct(std::size_t part, std::size_t total) { return num(percent(part, total), 1); }

// Sorted names X of every X.bit in dir; with_in: only those that also have X.in.
std::vector<std::string> vectors_in(const fs::path& dir, bool with_in) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const fs::path p = entry.path();
        if (p.extension() != ".bit") {
            continue;
        }
        const fs::path stem = dir / p.stem();
        if (with_in ? fs::exists(fs::path(stem).concat(".in"))
                    : fs::exists(fs::path(stem).concat(".pst"))) {
            names.push_back(p.stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string file(const fs::path& dir, const std::string& name, const char* ext) {
    return (dir / (name + ext)).string();
}

int failures = 0;

void failed(const std::string& name, const std::exception& e) {
    std::printf("%-10s n/a: %s\n", name.c_str(), e.what());
    ++failures;
}

void annex_a(const fs::path& dir) {
    std::printf("\n== annex-a: decoding X.bit, our output against X.pst ==\n");
    std::printf("%-10s %7s %9s %10s %8s\n", "vector", "frames", "SNR dB", "segSNR dB", "segUsed");
    for (const std::string& name : vectors_in(dir, false)) {
        try {
            const DecodeFigures d =
                measure_decode(file(dir, name, ".bit"), file(dir, name, ".pst"));
            std::printf("%-10s %7zu %9s %10s %8zu\n", name.c_str(), d.frames,
                        num(d.snr_db).c_str(), num(d.seg.db).c_str(), d.seg.frames_used);
        } catch (const std::exception& e) {
            failed(name, e);
        }
    }

    std::vector<std::pair<std::string, EncodeFigures>> done;
    std::printf("\n== annex-a: encoding X.in (DTX off); decoded by our decoder, against X.in ==\n");
    std::printf("ours = our bitstream, ref = X.bit, both decoded by our decoder; output shifted "
                "by the codec delay of %d samples; best = shift of highest SNR (0..%d)\n",
                codec_delay_samples, max_alignment_shift);
    std::printf("%-10s %7s %9s %8s %9s %9s %11s %11s %8s\n", "vector", "frames", "bestOurs",
                "bestRef", "SNR ours", "SNR ref", "segSNR ours", "segSNR ref", "diff");
    for (const std::string& name : vectors_in(dir, true)) {
        try {
            const EncodeFigures f = measure_encode(file(dir, name, ".in"), file(dir, name, ".bit"));
            std::printf("%-10s %7zu %9d %8d %9s %9s %11s %11s %8s\n", name.c_str(), f.frames,
                        f.ours_best.shift, f.ref_best.shift, num(f.snr_ours_db).c_str(),
                        num(f.snr_ref_db).c_str(), num(f.seg_ours.db).c_str(),
                        num(f.seg_ref.db).c_str(), num(f.seg_ours.db - f.seg_ref.db).c_str());
            done.emplace_back(name, f);
        } catch (const std::exception& e) {
            failed(name, e);
        }
    }
    if (!done.empty()) {
        ShiftCurve ours;
        ShiftCurve ref;
        bool agree = true;
        for (const auto& d : done) {
            ours.add(d.second.ours_curve);
            ref.add(d.second.ref_curve);
            agree = agree && d.second.ours_best.shift == d.second.ref_best.shift;
        }
        const int pooled_ours = best_alignment(ours).shift;
        const int pooled_ref = best_alignment(ref).shift;
        std::printf("delay: pooled over the vectors the best shift is %d (ours) and %d (ref); "
                    "per vector ours and ref %s; figures use %d%s\n",
                    pooled_ours, pooled_ref, agree ? "agree" : "DIFFER", codec_delay_samples,
                    pooled_ours == codec_delay_samples && pooled_ref == codec_delay_samples
                        ? ""
                        : "  (DELAY MISMATCH)");

        std::printf("\n== annex-a: share of frames whose parameter equals the reference "
                    "encoder's (%%) ==\n");
        std::printf("%-10s", "vector");
        for (const char* n : speech_field_names) {
            std::printf(" %7s", n);
        }
        std::printf(" %7s\n", "all80");
        for (const auto& [name, f] : done) {
            std::printf("%-10s", name.c_str());
            for (std::size_t eq : f.field_equal) {
                std::printf(" %7s", pct(eq, f.compared).c_str());
            }
            std::printf(" %7s\n", pct(f.all_equal, f.compared).c_str());
        }
    }
}

void annex_ab(const fs::path& dir) {
    std::printf("\n== annex-ab: decoding X.bit against X.pst, split by the reference frame "
                "types ==\n");
    std::printf("%-10s %7s %7s %7s %5s %9s %10s %13s\n", "vector", "frames", "speech", "noise",
                "lost", "SNR dB", "segSNR dB", "noiseLvl dB");
    for (const std::string& name : vectors_in(dir, false)) {
        try {
            const DtxDecodeFigures d =
                measure_dtx_decode(file(dir, name, ".bit"), file(dir, name, ".pst"));
            std::printf("%-10s %7zu %7zu %7zu %5zu %9s %10s %13s\n", name.c_str(), d.frames,
                        d.speech_frames, d.noise_frames, d.lost_frames,
                        num(d.speech_snr_db).c_str(), num(d.speech_seg.db).c_str(),
                        num(d.noise_level_diff_db).c_str());
        } catch (const std::exception& e) {
            failed(name, e);
        }
    }
    std::printf("(SNR and segSNR over speech frames; noiseLvl = 10 log10(our energy / reference "
                "energy) over SID and untransmitted frames)\n");

    std::printf("\n== annex-ab: encoding X.in with DTX against X.bit ==\n");
    std::printf("%-10s %7s %8s %18s %18s %8s %8s", "vector", "frames", "type %",
                "ours sp/SID/none", "ref sp/SID/none", "bothSID", "SID= %");
    for (const char* n : sid_field_names) {
        std::printf(" %6s", n);
    }
    std::printf("\n");
    for (const std::string& name : vectors_in(dir, true)) {
        try {
            const DtxEncodeFigures f =
                measure_dtx_encode(file(dir, name, ".in"), file(dir, name, ".bit"));
            auto counts = [](const std::array<std::size_t, 3>& c) {
                return std::to_string(c[0]) + "/" + std::to_string(c[1]) + "/" +
                       std::to_string(c[2]);
            };
            std::printf("%-10s %7zu %8s %18s %18s %8zu %8s", name.c_str(), f.frames,
                        pct(f.type_equal, f.frames).c_str(), counts(f.ours_counts).c_str(),
                        counts(f.ref_counts).c_str(), f.both_sid,
                        pct(f.sid_equal, f.both_sid).c_str());
            for (std::size_t eq : f.sid_field_equal) {
                std::printf(" %6s", pct(eq, f.both_sid).c_str());
            }
            std::printf("\n");
        } catch (const std::exception& e) {
            failed(name, e);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string vector_dir = G729_VECTOR_DIR;
    CLI::App app{"Measures the codec against the ITU test vectors (annex-a/ and annex-ab/).",
                 "g729_conformance"};
    app.add_option("VECTOR_DIR", vector_dir, "Folder holding annex-a/ and annex-ab/")
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);
        }
        std::fprintf(stderr, "g729_conformance: %s\n", e.what());
        return 2;
    }

    const fs::path dir(vector_dir);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        std::fprintf(stderr, "g729_conformance: %s: no such folder\n", dir.string().c_str());
        return 1;
    }
    if (!fs::is_directory(dir / "annex-a", ec) && !fs::is_directory(dir / "annex-ab", ec)) {
        std::fprintf(stderr, "g729_conformance: no test vectors in %s (expected annex-a/ or "
                             "annex-ab/): nothing measured\n", dir.string().c_str());
        return 1;
    }
    std::printf("test vectors: %s\n", dir.string().c_str());
    std::printf("segSNR: mean of per-frame SNR over 80-sample frames, each clamped to "
                "[%g, %g] dB; frames whose reference mean square is below %g are skipped\n",
                seg_snr_floor_db, seg_snr_ceiling_db, seg_min_mean_square);
    if (fs::is_directory(dir / "annex-a", ec)) {
        annex_a(dir / "annex-a");
    }
    if (fs::is_directory(dir / "annex-ab", ec)) {
        annex_ab(dir / "annex-ab");
    }
    std::fflush(stdout);
    if (failures) {
        std::printf("\n%d measurement(s) could not be made\n", failures);
        return 1;
    }
    return 0;
}
