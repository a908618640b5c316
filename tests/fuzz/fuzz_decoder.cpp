// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: one decoder fed arbitrary 10- and 2-byte units in arbitrary order, with lost and
// untransmitted frames, refused unit lengths and long runs of one unit mixed in (input layout in
// fuzz_ops.h). After every frame the whole state record must be finite, far from any runaway
// (g729_check::runaway_magnitude) and keep its invariants;
// a refused unit must leave state and output untouched. At the end the decoder is fed clean
// speech frames and must come back to what a fresh decoder makes of the same frames.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "tests/fuzz/fuzz_ops.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/state_check.h"

namespace {

using g729_fuzz::fail;

constexpr int kMaxFrames = 1000;       // 10 s of decoding per input at most
constexpr int kRecoveryFrames = 60;    // clean frames fed after the fuzzed part
// From this clean frame on the output must stay within kRecoveredDifference of a fresh
// decoder's output. Measured with a bounded excitation: a decoder driven to that bound by the
// most hostile frame (strongest pitch gain, shortest lag, repeated) is within the difference
// from clean frame 19 of this sequence on, and bit-identical in state by frame 92-96.
constexpr int kRecoveryBound = 45;
constexpr int kRecoveredDifference = 2;

struct Reference {
    std::vector<int16_t> clean_output;        // a fresh decoder's output for the clean frames
    std::vector<g729_decoder_state> states;  // and its state after each of them
};

const Reference& reference() {
    static const Reference r = [] {
        Reference ref;
        g729_decoder_state st;
        g729_decoder_init(&st);
        const auto& frames = g729_fuzz::clean_frames();
        for (int f = 0; f < kRecoveryFrames; ++f) {
            int16_t out[80];
            g729_decode_frame(&st, out, frames[static_cast<std::size_t>(f)].data(), 10);
            ref.clean_output.insert(ref.clean_output.end(), out, out + 80);
            ref.states.push_back(st);
        }
        return ref;
    }();
    return r;
}

void check_state(const g729_decoder_state& st, int frame, const char* what) {
    const double m = g729_check::largest_magnitude(st);
    if (!(m <= g729_check::runaway_magnitude)) {
        const std::string bad = g729_check::first_nonfinite(st);
        if (!bad.empty()) {
            fail("decoder state not finite after frame %d (%s): %s", frame, what, bad.c_str());
        }
        fail("decoder state runs away after frame %d (%s): |x| = %g", frame, what, m);
    }
    const std::string broken = g729_check::decoder_invariant_violation(st);
    if (!broken.empty()) {
        fail("decoder invariant broken after frame %d (%s): %s", frame, what, broken.c_str());
    }
}

void decode_unit(g729_decoder_state* st, const uint8_t* bytes, int length, int frame) {
    int16_t out[80];
    if (g729_decode_frame(st, out, bytes, length) != 0) {
        fail("a %d-byte unit was refused at frame %d", length, frame);
    }
    check_state(*st, frame, length == 10 ? "speech unit" : "SID unit");
}

void refused_unit(g729_decoder_state* st, int length, int frame) {
    // Exactly `length` bytes of storage: reading any of them would be wrong, reading beyond
    // them is caught by the address sanitizer.
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length), 0xa5);
    static g729_decoder_state before;
    std::memcpy(&before, st, sizeof before);
    int16_t out[80];
    for (int16_t& v : out) v = 0x5a5a;
    if (g729_decode_frame(st, out, bytes.data(), length) != -1) {
        fail("a %d-byte unit was not refused at frame %d", length, frame);
    }
    if (std::memcmp(&before, st, sizeof before) != 0) {
        fail("a refused %d-byte unit changed the decoder state", length);
    }
    for (int16_t v : out) {
        if (v != 0x5a5a) fail("a refused %d-byte unit wrote output", length);
    }
}

void check_recovery(g729_decoder_state* st) {
    const Reference& ref = reference();
    const auto& frames = g729_fuzz::clean_frames();
    int last_bad_frame = -1;
    int worst_late = 0;
    int identical_from = -1;
    for (int f = 0; f < kRecoveryFrames; ++f) {
        int16_t out[80];
        g729_decode_frame(st, out, frames[static_cast<std::size_t>(f)].data(), 10);
        check_state(*st, f, "clean speech after fuzzed input");
        int worst = 0;
        for (std::size_t i = 0; i < 80; ++i) {
            const int d = std::abs(out[i] - ref.clean_output[static_cast<std::size_t>(f) * 80 + i]);
            if (d > worst) worst = d;
        }
        if (worst > kRecoveredDifference) last_bad_frame = f;
        if (f >= kRecoveryBound && worst > worst_late) worst_late = worst;
        // Clean frames never read the erasure seed: once everything else matches the fresh
        // decoder's state, the rest of the output is the same.
        const g729_decoder_state& fresh = ref.states[static_cast<std::size_t>(f)];
        const int16_t seed = st->erasure_seed;
        st->erasure_seed = fresh.erasure_seed;
        const bool identical = std::memcmp(st, &fresh, sizeof fresh) == 0;
        st->erasure_seed = seed;
        if (identical) {
            identical_from = f;
            break;
        }
    }
    if (std::getenv("G729_FUZZ_REPORT") != nullptr) {
        std::fprintf(stderr, "recovery: last frame off by more than %d: %d; state identical at %d\n",
                     kRecoveredDifference, last_bad_frame, identical_from);
    }
    if (last_bad_frame >= kRecoveryBound) {
        fail("no recovery: %d clean frames in, the output still differs from a fresh decoder's "
             "by %d (frame %d)",
             kRecoveryBound, worst_late, last_bad_frame);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)reference();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    namespace op = g729_fuzz::decoder_op;
    g729_fuzz::ByteReader in(data, size);
    static g729_decoder_state st;
    g729_decoder_init(&st);
    check_state(st, 0, "initialisation");

    int frames = 0;
    while (!in.empty() && frames < kMaxFrames) {
        const uint8_t code = in.byte();
        switch (code & 7) {
        case op::sid: {
            uint8_t unit[2];
            in.bytes(unit, 2);
            decode_unit(&st, unit, 2, frames++);
            break;
        }
        case op::lost: {
            int16_t out[80];
            if (g729_decode_lost_frame(&st, out) != 0) fail("lost frame not decoded");
            check_state(st, frames++, "lost frame");
            break;
        }
        case op::untransmitted: {
            int16_t out[80];
            if (g729_decode_untransmitted_frame(&st, out) != 0) fail("untransmitted frame");
            check_state(st, frames++, "untransmitted frame");
            break;
        }
        case op::refused:
            refused_unit(&st, g729_fuzz::refused_length(in.byte()), frames);
            break;
        case op::repeat: {
            const int count = 1 + in.byte();
            const int length = (code & op::repeat_sid_flag) != 0 ? 2 : 10;
            uint8_t unit[10];
            in.bytes(unit, static_cast<std::size_t>(length));
            for (int k = 0; k < count && frames < kMaxFrames; ++k) {
                decode_unit(&st, unit, length, frames++);
            }
            break;
        }
        default: {
            uint8_t unit[10];
            in.bytes(unit, 10);
            decode_unit(&st, unit, 10, frames++);
            break;
        }
        }
    }

    check_recovery(&st);
    return 0;
}
