// SPDX-License-Identifier: BSD-2-Clause
// The codec against the ITU test vectors, and the measures used for it.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "lib/eval/conformance.h"
#include "lib/eval/metrics.h"

namespace fs = std::filesystem;
using namespace g729eval;

namespace {

fs::path vectors() { return fs::path(G729_SHARED_DIR) / "itu-vectors"; }

std::string vector_file(const char* annex, const std::string& name, const char* ext) {
    return (vectors() / annex / (name + ext)).string();
}

#define SKIP_WITHOUT(annex)                                                     \
    do {                                                                        \
        if (!fs::is_directory(vectors() / (annex))) {                           \
            GTEST_SKIP() << "no test vectors in " << (vectors() / (annex));     \
        }                                                                       \
    } while (0)

std::string param_name(const testing::TestParamInfo<const char*>& info) { return info.param; }

// ---- annex-a: decoder ----

class AnnexADecode : public testing::TestWithParam<const char*> {};

TEST_P(AnnexADecode, CloseToReferenceOutput) {
    SKIP_WITHOUT("annex-a");
    const std::string name = GetParam();
    const DecodeFigures d =
        measure_decode(vector_file("annex-a", name, ".bit"), vector_file("annex-a", name, ".pst"));
    std::cout << "decode " << name << ": frames " << d.frames << ", SNR " << d.snr_db
              << " dB, segSNR " << d.seg.db << " dB over " << d.seg.frames_used << " frames\n";
    EXPECT_GE(d.snr_db, 20.0);
}

INSTANTIATE_TEST_SUITE_P(Itu, AnnexADecode,
                         testing::Values("speech", "algthm", "fixed", "test", "parity", "erasure"),
                         param_name);

// Saturated synthesis: the fixed-point reference and a double-precision decoder part ways, so
// only the completeness of the decoding is required here.
TEST(AnnexADecodeOverflow, DecodesEveryFrame) {
    SKIP_WITHOUT("annex-a");
    const DecodeFigures d = measure_decode(vector_file("annex-a", "overflow", ".bit"),
                                           vector_file("annex-a", "overflow", ".pst"));
    std::cout << "decode overflow: frames " << d.frames << ", SNR " << d.snr_db << " dB, segSNR "
              << d.seg.db << " dB\n";
    EXPECT_EQ(d.frames, 384u);
}

// ---- annex-a: encoder ----

class AnnexAEncode : public testing::TestWithParam<const char*> {};

TEST_P(AnnexAEncode, AsGoodAsReferenceBitstream) {
    SKIP_WITHOUT("annex-a");
    const std::string name = GetParam();
    const EncodeFigures f =
        measure_encode(vector_file("annex-a", name, ".in"), vector_file("annex-a", name, ".bit"));
    std::cout << "encode " << name << ": frames " << f.frames << ", best shift ours "
              << f.ours_best.shift << " ref " << f.ref_best.shift << ", at shift " << f.shift
              << ": segSNR ours " << f.seg_ours.db << " dB, ref " << f.seg_ref.db
              << " dB; SNR ours " << f.snr_ours_db << " dB, ref " << f.snr_ref_db << " dB\n";
    std::cout << "  identical parameters (%):";
    for (int i = 0; i < speech_field_count; ++i) {
        std::cout << ' ' << speech_field_names[i] << ' ' << percent(f.field_equal[i], f.compared);
    }
    std::cout << ", whole frames " << percent(f.all_equal, f.compared) << '\n';
    EXPECT_GE(f.seg_ours.db, f.seg_ref.db - 0.5);
}

INSTANTIATE_TEST_SUITE_P(Itu, AnnexAEncode, testing::Values("speech", "algthm", "fixed", "test"),
                         param_name);

// Our encoder and the reference one, each followed by our decoder, show the same delay.
TEST(AnnexAEncodeDelay, PooledBestShiftIsCodecDelay) {
    SKIP_WITHOUT("annex-a");
    ShiftCurve ours;
    ShiftCurve ref;
    for (const char* name : {"speech", "algthm", "fixed", "test"}) {
        const EncodeFigures f = measure_encode(vector_file("annex-a", name, ".in"),
                                               vector_file("annex-a", name, ".bit"));
        ours.add(f.ours_curve);
        ref.add(f.ref_curve);
    }
    const Alignment a = best_alignment(ours);
    const Alignment b = best_alignment(ref);
    std::cout << "pooled best shift: ours " << a.shift << " (" << a.snr_db << " dB), ref "
              << b.shift << " (" << b.snr_db << " dB)\n";
    EXPECT_EQ(a.shift, codec_delay_samples);
    EXPECT_EQ(b.shift, codec_delay_samples);
}

// ---- annex-ab: DTX ----

class AnnexB_EncodeDtx : public testing::TestWithParam<const char*> {};

TEST_P(AnnexB_EncodeDtx, FrameTypesAgreeWithReference) {
    SKIP_WITHOUT("annex-ab");
    const std::string name = GetParam();
    const DtxEncodeFigures f = measure_dtx_encode(vector_file("annex-ab", name, ".in"),
                                                  vector_file("annex-ab", name, ".bit"));
    std::cout << "encode DTX " << name << ": frames " << f.frames << ", types equal "
              << percent(f.type_equal, f.frames) << " %; speech/SID/none ours "
              << f.ours_counts[0] << '/' << f.ours_counts[1] << '/' << f.ours_counts[2] << " ref "
              << f.ref_counts[0] << '/' << f.ref_counts[1] << '/' << f.ref_counts[2]
              << "; identical SID " << percent(f.sid_equal, f.both_sid) << " % of " << f.both_sid
              << '\n';
    EXPECT_GE(percent(f.type_equal, f.frames), 90.0);
}

INSTANTIATE_TEST_SUITE_P(Itu, AnnexB_EncodeDtx, testing::Values("tstseq1", "tstseq2"),
                         param_name);

class AnnexB_DecodeDtx : public testing::TestWithParam<const char*> {};

// Every frame kind (speech, SID, untransmitted, lost) is accepted, and speech frames stay close to
// the reference output. Segmental SNR, because tstseq5 ends in saturated frames where the
// fixed-point reference and a double-precision decoder part ways.
TEST_P(AnnexB_DecodeDtx, DecodesEveryFrameCloseToReference) {
    SKIP_WITHOUT("annex-ab");
    const std::string name = GetParam();
    DtxDecodeFigures d;
    ASSERT_NO_THROW(d = measure_dtx_decode(vector_file("annex-ab", name, ".bit"),
                                           vector_file("annex-ab", name, ".pst")));
    std::cout << "decode DTX " << name << ": frames " << d.frames << " (speech "
              << d.speech_frames << ", noise " << d.noise_frames << ", lost " << d.lost_frames
              << "); speech SNR " << d.speech_snr_db << " dB, segSNR " << d.speech_seg.db
              << " dB; noise level ours vs ref " << d.noise_level_diff_db << " dB\n";
    EXPECT_GE(d.speech_seg.db, 20.0);
}

INSTANTIATE_TEST_SUITE_P(Itu, AnnexB_DecodeDtx,
                         testing::Values("tstseq1", "tstseq2", "tstseq5", "tstseq6"), param_name);

// ---- the measures ----

TEST(Measures, SnrAndSegmentalSnr) {
    const std::vector<int16_t> ref(160, 100);
    const std::vector<int16_t> half_err(160, 90);
    EXPECT_NEAR(snr_db(ref, half_err), 20.0, 1e-12);
    EXPECT_EQ(snr_db(ref, ref), std::numeric_limits<double>::infinity());

    // Frame 1 at 20 dB, frame 2 identical (clamped to 60), frame 3 below the energy floor.
    std::vector<int16_t> r(240, 100);
    std::vector<int16_t> t(240, 100);
    for (int i = 0; i < 80; ++i) {
        t[i] = 90;
    }
    for (int i = 160; i < 240; ++i) {
        r[i] = 9;
        t[i] = -9;
    }
    const SegSnr s = segmental_snr_db(r, t);
    EXPECT_EQ(s.frames_used, 2u);
    EXPECT_EQ(s.frames_skipped, 1u);
    EXPECT_NEAR(s.db, 40.0, 1e-12);

    // A very poor frame is floored at -10 dB.
    const std::vector<int16_t> loud(80, 100);
    const std::vector<int16_t> wrong(80, -2000);
    EXPECT_EQ(segmental_snr_db(loud, wrong).db, -10.0);
}

TEST(Measures, AlignmentFindsKnownDelay) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> dist(-3000, 3000);
    std::vector<int16_t> input(4000);
    for (auto& v : input) {
        v = static_cast<int16_t>(dist(rng));
    }
    std::vector<int16_t> output(input.size(), 0);
    for (std::size_t n = 0; n + 37 < input.size(); ++n) {
        output[n + 37] = static_cast<int16_t>(input[n] / 2);
    }
    const Alignment a = best_alignment(input, output, max_alignment_shift);
    EXPECT_EQ(a.shift, 37);
    EXPECT_NEAR(a.snr_db, 20.0 * std::log10(2.0), 0.01);
}

// Frames built with the big-endian word formulas of the frame layout read back field by field.
TEST(Measures, SpeechAndSidFields) {
    const std::array<int32_t, 11> p = {0xA7, 0x2C5, 0x9B, 1, 0x1ABC, 0x9, 0x55, 0x13, 0x0F0F,
                                       0x6, 0x3A};
    const uint32_t w0 = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 14) | (uint32_t(p[2]) << 6) |
                        (uint32_t(p[3]) << 5) | (uint32_t(p[4]) >> 8);
    const uint32_t w1 = (uint32_t(p[4] & 0xff) << 24) | (uint32_t(p[5]) << 20) |
                        (uint32_t(p[6]) << 13) | (uint32_t(p[7]) << 8) | (uint32_t(p[8]) >> 5);
    const uint32_t w2 = (uint32_t(p[8] & 31) << 11) | (uint32_t(p[9]) << 7) | uint32_t(p[10]);
    const uint8_t bytes[10] = {uint8_t(w0 >> 24), uint8_t(w0 >> 16), uint8_t(w0 >> 8), uint8_t(w0),
                               uint8_t(w1 >> 24), uint8_t(w1 >> 16), uint8_t(w1 >> 8), uint8_t(w1),
                               uint8_t(w2 >> 8),  uint8_t(w2)};
    EXPECT_EQ(speech_fields(bytes), p);

    const uint8_t ones[10] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const std::array<int32_t, 11> max = {255, 1023, 255, 1, 8191, 15, 127, 31, 8191, 15, 127};
    EXPECT_EQ(speech_fields(ones), max);

    const uint8_t sid[2] = {0xff, 0xfe};
    EXPECT_EQ(sid_fields(sid), (std::array<int32_t, 4>{1, 31, 15, 31}));
    const uint16_t w = (1u << 15) | (19u << 10) | (6u << 6) | (22u << 1);
    const uint8_t sid2[2] = {uint8_t(w >> 8), uint8_t(w)};
    EXPECT_EQ(sid_fields(sid2), (std::array<int32_t, 4>{1, 19, 6, 22}));
}

}  // namespace
