// SPDX-License-Identifier: BSD-2-Clause
// Robustness of the decoder against hostile and damaged streams, and completeness of the
// state inspection that the fuzz targets and the soak run rely on.
//
// The HostileStream tests guard against excitation runaway: the strongest pitch gain the gain
// codebooks can express (0.197901 + 1.158039 = 1.356) fed back at a short lag multiplies an
// unbounded excitation by about 1.84 per frame, so a stream of one such frame repeated would
// reach infinity, then NaN, in under 6 seconds, after which the decoder would emit silence for
// the rest of the call. The decoder bounds its excitation; these tests hold it to that
// (tests/fuzz/regressions/decoder holds the fuzz input that found the fault).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/fuzz/state_check.h"
#include "tests/noise_pause_signal.h"
#include "lib/io/pcm_io.h"

namespace {

using Unit = std::array<uint8_t, 10>;

// Pitch index 2: lag 20, fraction 0. Gain code 5: stage-A code 0 (row 5) and stage-B code 5
// (row 15), together the largest pitch gain.
constexpr int kShortLagIndex = 2;
constexpr int kLongestLagIndex = 255;
constexpr int kStrongestGainCode = 5;

Unit speech_unit(int p1, int gains, int p2 = 0, int lsp = 0, bool parity_ok = true) {
    const int32_t p0 = g729_pitch_parity(p1) ^ (parity_ok ? 0 : 1);
    const g729_params params = {G729_FRAME_SPEECH, lsp, 0, p1, p0, 0, 0, gains, p2, 0, 0, gains};
    Unit u{};
    int32_t n = 0;
    g729_pack_frame(params, u.data(), &n);
    return u;
}

// Everything a decoder record must satisfy after any input: finite doubles, the integer and
// ordering invariants, and no runaway.
::testing::AssertionResult healthy(const g729_decoder_state& st, int frame) {
    const std::string bad = g729_check::first_nonfinite(st);
    if (!bad.empty()) {
        return ::testing::AssertionFailure() << "frame " << frame << ": not finite: " << bad;
    }
    const std::string broken = g729_check::decoder_invariant_violation(st);
    if (!broken.empty()) {
        return ::testing::AssertionFailure() << "frame " << frame << ": " << broken;
    }
    const double m = g729_check::largest_magnitude(st);
    if (m > g729_check::runaway_magnitude) {
        return ::testing::AssertionFailure() << "frame " << frame << ": runaway, |x| = " << m;
    }
    return ::testing::AssertionSuccess();
}

std::vector<Unit> clean_units(std::size_t count) {
    const std::filesystem::path wav =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "speech_sample.wav";
    std::vector<Unit> units;
    if (!std::filesystem::exists(wav)) return units;
    const std::vector<int16_t> speech = g729io::read_wav(wav.string());
    g729_encoder_state enc;
    g729_encoder_init(&enc, 0);
    for (std::size_t f = 0; f < count && (f + 1) * 80 <= speech.size(); ++f) {
        Unit u{};
        int32_t n = 0;
        g729_encode_frame(&enc, speech.data() + f * 80, u.data(), &n);
        units.push_back(u);
    }
    return units;
}

}  // namespace

TEST(StateCheck, ListsEveryFieldOfTheRecords) {
    std::string problem;
    g729_decoder_state dec{};
    EXPECT_TRUE(g729_check::fields_cover_record(dec, &problem)) << "decoder: " << problem;
    g729_encoder_state enc{};
    EXPECT_TRUE(g729_check::fields_cover_record(enc, &problem)) << "encoder: " << problem;
}

TEST(StateCheck, FindsNonFiniteValuesInAnyField) {
    g729_decoder_state dec;
    g729_decoder_init(&dec);
    EXPECT_EQ(g729_check::first_nonfinite(dec), "");
    EXPECT_EQ(g729_check::decoder_invariant_violation(dec), "");
    dec.synth_buf[89] = std::nan("");
    EXPECT_EQ(g729_check::first_nonfinite(dec).rfind("synth_buf[89]", 0), 0u);
    dec.synth_buf[89] = 0.0;
    dec.postfilter.agc_gain = HUGE_VAL;
    EXPECT_EQ(g729_check::first_nonfinite(dec).rfind("postfilter.agc_gain", 0), 0u);
    EXPECT_EQ(g729_check::largest_magnitude(dec), HUGE_VAL);

    g729_encoder_state enc;
    g729_encoder_init(&enc, 1);
    EXPECT_EQ(g729_check::first_nonfinite(enc), "");
    enc.vad.prev_energy = -HUGE_VAL;
    EXPECT_EQ(g729_check::first_nonfinite(enc).rfind("vad.prev_energy", 0), 0u);
}

TEST(StateCheck, FindsBrokenDecoderInvariants) {
    g729_decoder_state dec;
    g729_decoder_init(&dec);
    dec.lsp_prev[4] = dec.lsp_prev[3];
    EXPECT_NE(g729_check::decoder_invariant_violation(dec), "");
    g729_decoder_init(&dec);
    dec.prev_t0 = 145;
    EXPECT_NE(g729_check::decoder_invariant_violation(dec), "");
}

TEST(HostileStream, StrongestPitchGainAtShortLagStaysFinite) {
    const Unit hostile = speech_unit(kShortLagIndex, kStrongestGainCode);
    g729_decoder_state st;
    g729_decoder_init(&st);
    int16_t out[80];
    for (int f = 0; f < 1500; ++f) {
        ASSERT_EQ(g729_decode_frame(&st, out, hostile.data(), 10), 0);
        ASSERT_TRUE(healthy(st, f));
    }
}

TEST(HostileStream, OtherRunawayPatternsStayBounded) {
    struct Pattern {
        const char* name;
        Unit unit;
    };
    const Pattern patterns[] = {
        {"longest lag", speech_unit(kLongestLagIndex, kStrongestGainCode)},
        {"lag 20 and a third", speech_unit(1, kStrongestGainCode, 31)},
        {"parity errors", speech_unit(kShortLagIndex, kStrongestGainCode, 0, 0, false)},
        {"other spectrum", speech_unit(kShortLagIndex, kStrongestGainCode, 17, 0xd3)},
    };
    for (const Pattern& p : patterns) {
        SCOPED_TRACE(p.name);
        g729_decoder_state st;
        g729_decoder_init(&st);
        int16_t out[80];
        for (int f = 0; f < 1500; ++f) {
            // Every 50th frame is lost: concealment keeps reusing the runaway excitation.
            if (f % 50 == 49) {
                g729_decode_lost_frame(&st, out);
            } else {
                g729_decode_frame(&st, out, p.unit.data(), 10);
            }
            ASSERT_TRUE(healthy(st, f));
        }
    }
}

TEST(HostileStream, LoudestComfortNoiseStaysBounded) {
    // SID frames of the largest gain index (31) and varied spectra, long pauses between them,
    // a speech frame of the strongest gains now and then: the noise generator's own pitch
    // gain stays below 0.5 and its pulse amplitude is limited, so this stays bounded.
    g729_decoder_state st;
    g729_decoder_init(&st);
    int16_t out[80];
    const Unit speech = speech_unit(kShortLagIndex, kStrongestGainCode);
    for (int f = 0; f < 3000; ++f) {
        if (f % 40 == 0) {
            const uint8_t sid[2] = {static_cast<uint8_t>(f * 37), static_cast<uint8_t>(0x3e)};
            g729_decode_frame(&st, out, sid, 2);
        } else if (f % 97 == 0) {
            g729_decode_frame(&st, out, speech.data(), 10);
        } else {
            g729_decode_untransmitted_frame(&st, out);
        }
        ASSERT_TRUE(healthy(st, f));
    }
}

TEST(HostileStream, DecoderComesBackOnCleanSpeech) {
    const std::vector<Unit> clean = clean_units(60);
    if (clean.size() < 60) GTEST_SKIP() << "data/speech_sample.wav not found";

    g729_decoder_state fresh;
    g729_decoder_init(&fresh);
    g729_decoder_state st;
    g729_decoder_init(&st);
    int16_t out[80];
    const Unit hostile = speech_unit(kShortLagIndex, kStrongestGainCode);
    for (int f = 0; f < 600; ++f) g729_decode_frame(&st, out, hostile.data(), 10);

    // Measured with a bounded excitation: the output is within 2 of a fresh decoder's from
    // clean frame 19 on; 45 leaves more than twice that.
    for (std::size_t f = 0; f < clean.size(); ++f) {
        int16_t want[80];
        g729_decode_frame(&fresh, want, clean[f].data(), 10);
        g729_decode_frame(&st, out, clean[f].data(), 10);
        ASSERT_TRUE(healthy(st, static_cast<int>(f)));
        if (f < 45) continue;
        for (int i = 0; i < 80; ++i) {
            ASSERT_LE(std::abs(out[i] - want[i]), 2) << "clean frame " << f << ", sample " << i;
        }
    }
}

namespace {

constexpr int kTrappedFaults = FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW;

// Every entry point over speech (3 s of the project's recording), digital silence, a
// full-scale square wave, the noise-and-pause signal (DTX: SID frames and pauses), lost
// frames and hostile units: single-channel, and batched plain and with a workspace, 11
// channels (short vectors: lanes without a channel) with DTX on and off.
void code_every_kind_of_frame() {
    std::vector<int16_t> pcm = g729test::noise_pause_signal();
    pcm.resize(pcm.size() + 80 * 40, 0);
    for (int i = 0; i < 80 * 40; ++i) pcm.push_back(i % 40 < 20 ? 32767 : -32768);
    const std::filesystem::path wav =
        std::filesystem::path(G729_SOURCE_DIR) / "data" / "speech_sample.wav";
    if (std::filesystem::exists(wav)) {
        const std::vector<int16_t> speech = g729io::read_wav(wav.string());
        const std::size_t n = std::min<std::size_t>(speech.size(), 8000 * 3);
        pcm.insert(pcm.end(), speech.begin(), speech.begin() + static_cast<std::ptrdiff_t>(n));
    }
    const int frames = static_cast<int>(pcm.size() / 80);
    const Unit hostile = speech_unit(kShortLagIndex, kStrongestGainCode);
    constexpr int kChannels = 11;
    std::vector<g729_encoder_state> enc(kChannels + 1);
    std::vector<g729_decoder_state> dec(kChannels + 1);
    std::vector<g729_encoder_state*> encs(kChannels);
    std::vector<g729_decoder_state*> decs(kChannels);
    for (int c = 0; c <= kChannels; ++c) {
        g729_encoder_init(&enc[c], c % 2);
        g729_decoder_init(&dec[c]);
        if (c < kChannels) {
            encs[c] = &enc[c];
            decs[c] = &dec[c];
        }
    }
    std::vector<uint8_t> enc_space(g729_encode_frames_workspace_size(kChannels));
    std::vector<uint8_t> dec_space(g729_decode_frames_workspace_size(kChannels));
    std::vector<Unit> units(kChannels);
    std::vector<uint8_t*> unit_out(kChannels);
    std::vector<const uint8_t*> unit_in(kChannels);
    std::vector<const int16_t*> in(kChannels);
    std::vector<std::array<int16_t, 80>> out(kChannels);
    std::vector<int16_t*> out_ptr(kChannels);
    std::vector<int32_t> counts(kChannels);
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            in[c] = pcm.data() + static_cast<std::size_t>((f + 37 * c) % frames) * 80;
            unit_out[c] = units[c].data();
            unit_in[c] = units[c].data();
            out_ptr[c] = out[c].data();
        }
        if (f % 2 == 0) {
            g729_encode_frames(encs.data(), kChannels, in.data(), unit_out.data(), counts.data());
        } else {
            g729_encode_frames_ws(encs.data(), kChannels, in.data(), unit_out.data(),
                                  counts.data(), enc_space.data(), enc_space.size());
        }
        // Every seventh unit lost, every 50th replaced by a hostile one.
        for (int c = 0; c < kChannels; ++c) {
            if ((f + c) % 7 == 3) counts[c] = G729_UNIT_LOST;
            if ((f + c) % 50 == 9) {
                units[c] = hostile;
                counts[c] = 10;
            }
        }
        if (f % 2 == 0) {
            g729_decode_frames_ws(decs.data(), kChannels, out_ptr.data(), unit_in.data(),
                                  counts.data(), nullptr, dec_space.data(), dec_space.size());
        } else {
            g729_decode_frames(decs.data(), kChannels, out_ptr.data(), unit_in.data(),
                               counts.data(), nullptr);
        }
        // The single-channel calls on the first channel's input.
        Unit u{};
        int32_t n = 0;
        int16_t samples[80];
        g729_encode_frame(&enc[kChannels], in[0], u.data(), &n);
        if (f % 9 == 4) {
            g729_decode_lost_frame(&dec[kChannels], samples);
        } else if (n == 0) {
            g729_decode_untransmitted_frame(&dec[kChannels], samples);
        } else {
            g729_decode_frame(&dec[kChannels], samples, f % 50 == 9 ? hostile.data() : u.data(),
                              n);
        }
    }
}

}  // namespace

// A host that traps floating-point faults (feenableexcept of divide-by-zero, invalid and
// overflow) keeps running through every entry point, on every instruction set the kernels
// were built for that this processor runs. In a child process, so that a trap (SIGFPE) fails
// the test instead of ending the run.
TEST(FloatingPointTraps, EveryEntryPointRunsWithFaultsTrapped) {
    if (feenableexcept(kTrappedFaults) == -1) GTEST_SKIP() << "no floating-point traps here";
    fedisableexcept(kTrappedFaults);
    // The child really traps: a division by zero ends it with SIGFPE. Under AddressSanitizer
    // its handler reports the "FPE" and ends the child as its options say (an abort or exit
    // status 1), so there any failure naming the FPE counts.
#if defined(__SANITIZE_ADDRESS__)
#define G729_TRAP_REPORTED_BY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define G729_TRAP_REPORTED_BY_ASAN 1
#endif
#endif
#ifdef G729_TRAP_REPORTED_BY_ASAN
    const auto trapped = [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); };
    const char* trap_message = "FPE";
#else
    const auto trapped = ::testing::KilledBySignal(SIGFPE);
    const char* trap_message = "";
#endif
    EXPECT_EXIT(
        {
            feenableexcept(kTrappedFaults);
            volatile double zero = 0.0;
            volatile double quotient = 1.0 / zero;
            (void)quotient;
            std::exit(0);
        },
        trapped, trap_message);
    EXPECT_EXIT(
        {
            feenableexcept(kTrappedFaults);
            for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
                hwy::SetSupportedTargetsForTest(target);
                code_every_kind_of_frame();
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
