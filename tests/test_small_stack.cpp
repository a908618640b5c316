// SPDX-License-Identifier: BSD-2-Clause
// Every entry point on a thread with a 64 KB stack (pthread_attr_setstacksize; musl's default
// is 128 KB, thread pools often set less): the same output as on the test's own stack, in a
// child process so that an overflow fails the test instead of ending the run. And the peak
// stack of each entry point on every instruction set built (the paths differ: the plain
// batched encoder codes channel by channel where vectors are wider than two doubles, in
// groups elsewhere), measured on a stack painted with a pattern, within the figures the
// public header states.
#include <gtest/gtest.h>
#include <hwy/targets.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "codec/g729.h"
#include "tests/noise_pause_signal.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define G729_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define G729_TEST_SANITIZED 1
#endif
#endif

namespace {

#ifdef G729_TEST_SANITIZED
// The sanitizers' red zones make every frame larger: their builds check four times the stack.
constexpr std::size_t kSmallStack = 4 * 64 * 1024;
#else
constexpr std::size_t kSmallStack = 64 * 1024;
#endif
// What the header promises for any entry point (its figures are below this).
constexpr std::size_t kStackBudget = 48 * 1024;

constexpr int kChannels = 37;  // several passes of every batched form, the last one short
constexpr int kFrames = 24;

using Bytes = std::vector<uint8_t>;

template <class T>
void append(Bytes& out, const T* p, std::size_t n) {
    const std::size_t at = out.size();
    out.resize(at + n * sizeof(T));
    std::memcpy(out.data() + at, p, n * sizeof(T));
}

// Channel c's frame f of the test signal: speech-like bursts, noise, pauses and digital
// silence, each channel from another place.
const int16_t* frame_of(const std::vector<int16_t>& signal, int c, int f) {
    const std::size_t frames = signal.size() / G729_FRAME_SIZE;
    return signal.data() + ((static_cast<std::size_t>(c) * 13 + f) % frames) * G729_FRAME_SIZE;
}

// The coded units of every channel (DTX on for odd channels), and a unit length per frame
// as a receiver sees it: every fifth frame lost.
struct Coded {
    std::vector<std::vector<uint8_t>> bytes;  // [channel * kFrames + frame], 10 each
    std::vector<int32_t> lengths;
};

Coded code_signal(const std::vector<int16_t>& signal) {
    Coded coded;
    coded.bytes.assign(kChannels * kFrames, std::vector<uint8_t>(10, 0));
    coded.lengths.assign(kChannels * kFrames, 0);
    for (int c = 0; c < kChannels; ++c) {
        g729_encoder_state enc;
        g729_encoder_init(&enc, c % 2);
        for (int f = 0; f < kFrames; ++f) {
            const int i = c * kFrames + f;
            int32_t n = 0;
            g729_encode_frame(&enc, frame_of(signal, c, f), coded.bytes[i].data(), &n);
            coded.lengths[i] = (f + c) % 5 == 4 ? G729_UNIT_LOST : n;
        }
    }
    return coded;
}

// An entry point at work: what it wrote and the states it left, as bytes.
struct Scenario {
    const char* name;
    std::function<Bytes()> run;
    std::size_t stated_kb;  // the header's figure for it
};

Bytes encode_batched(const std::vector<int16_t>& signal, bool workspace) {
    std::vector<g729_encoder_state> st(kChannels);
    std::vector<g729_encoder_state*> sp(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        g729_encoder_init(&st[c], c % 2);
        sp[c] = &st[c];
    }
    std::vector<uint8_t> space(g729_encode_frames_workspace_size(kChannels) + 3);
    std::vector<uint8_t> bytes(kChannels * 10);
    std::vector<uint8_t*> out(kChannels);
    std::vector<const int16_t*> in(kChannels);
    std::vector<int32_t> counts(kChannels);
    Bytes t;
    for (int f = 0; f < kFrames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            in[c] = frame_of(signal, c, f);
            out[c] = bytes.data() + 10 * c;
        }
        // The workspace deliberately off any alignment.
        const int rc = workspace ? g729_encode_frames_ws(sp.data(), kChannels, in.data(),
                                                         out.data(), counts.data(),
                                                         space.data() + 3, space.size() - 3)
                                 : g729_encode_frames(sp.data(), kChannels, in.data(),
                                                      out.data(), counts.data());
        append(t, &rc, 1);
        append(t, bytes.data(), bytes.size());
        append(t, counts.data(), counts.size());
    }
    append(t, st.data(), st.size());
    return t;
}

Bytes decode_batched(const Coded& coded, bool workspace) {
    std::vector<g729_decoder_state> st(kChannels);
    std::vector<g729_decoder_state*> sp(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        g729_decoder_init(&st[c]);
        sp[c] = &st[c];
    }
    std::vector<uint8_t> space(g729_decode_frames_workspace_size(kChannels) + 5);
    std::vector<int16_t> pcm(kChannels * G729_FRAME_SIZE);
    std::vector<int16_t*> out(kChannels);
    std::vector<const uint8_t*> in(kChannels);
    std::vector<int32_t> lengths(kChannels);
    std::vector<int32_t> results(kChannels);
    Bytes t;
    for (int f = 0; f < kFrames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            in[c] = coded.bytes[c * kFrames + f].data();
            lengths[c] = coded.lengths[c * kFrames + f];
            out[c] = pcm.data() + c * G729_FRAME_SIZE;
        }
        const int rc = workspace ? g729_decode_frames_ws(sp.data(), kChannels, out.data(),
                                                         in.data(), lengths.data(),
                                                         results.data(), space.data() + 5,
                                                         space.size() - 5)
                                 : g729_decode_frames(sp.data(), kChannels, out.data(),
                                                      in.data(), lengths.data(), results.data());
        append(t, &rc, 1);
        append(t, pcm.data(), pcm.size());
        append(t, results.data(), results.size());
    }
    append(t, st.data(), st.size());
    return t;
}

// The entry points, each at work on the test signal (the batched ones on 37 channels).
std::vector<Scenario> scenarios(const std::vector<int16_t>& signal, const Coded& coded) {
    return {
        {"g729_encoder_init",
         [] {
             std::vector<g729_encoder_state> st(2);
             Bytes t;
             for (int dtx = 0; dtx < 2; ++dtx) {
                 const int rc = g729_encoder_init(&st[dtx], dtx);
                 append(t, &rc, 1);
             }
             append(t, st.data(), st.size());
             return t;
         },
         1},
        {"g729_decoder_init",
         [] {
             std::vector<g729_decoder_state> st(1);
             const int rc = g729_decoder_init(st.data());
             Bytes t;
             append(t, &rc, 1);
             append(t, st.data(), 1);
             return t;
         },
         1},
        {"g729_encode_frame",
         [&signal] {
             std::vector<g729_encoder_state> st(1);
             g729_encoder_init(st.data(), 1);
             Bytes t;
             for (int f = 0; f < kFrames * 4; ++f) {
                 uint8_t bytes[10] = {};
                 int32_t n = -1;
                 const int rc = g729_encode_frame(st.data(), frame_of(signal, 0, f), bytes, &n);
                 append(t, &rc, 1);
                 append(t, bytes, 10);
                 append(t, &n, 1);
             }
             append(t, st.data(), 1);
             return t;
         },
         14},
        {"g729_decode_frame, lost and untransmitted frames",
         [&coded] {
             std::vector<g729_decoder_state> st(1);
             g729_decoder_init(st.data());
             Bytes t;
             for (int i = 0; i < kChannels * kFrames; i += 3) {
                 int16_t pcm[80] = {};
                 const int32_t len = coded.lengths[i];
                 int rc = 0;
                 if (len == G729_UNIT_LOST) {
                     rc = g729_decode_lost_frame(st.data(), pcm);
                 } else if (len == G729_UNIT_UNTRANSMITTED) {
                     rc = g729_decode_untransmitted_frame(st.data(), pcm);
                 } else {
                     rc = g729_decode_frame(st.data(), pcm, coded.bytes[i].data(), len);
                 }
                 append(t, &rc, 1);
                 append(t, pcm, 80);
             }
             append(t, st.data(), 1);
             return t;
         },
         7},
        {"g729_pack_frame and g729_unpack_frame",
         [&coded] {
             Bytes t;
             for (int i = 0; i < kChannels * kFrames; i += 7) {
                 g729_decoded_params decoded = {};
                 const int32_t type = coded.lengths[i] == 10  ? G729_FRAME_SPEECH
                                      : coded.lengths[i] == 2 ? G729_FRAME_SID
                                                              : G729_FRAME_NO_TRANSMISSION;
                 int rc = g729_unpack_frame(decoded, coded.bytes[i].data(), type);
                 append(t, &rc, 1);
                 append(t, decoded, G729_DECODED_PARAMS_SIZE);
                 g729_params params = {type};
                 for (int k = 1; k < G729_PARAMS_SIZE; ++k) params[k] = decoded[k + 1];
                 uint8_t bytes[10] = {};
                 int32_t n = -1;
                 rc = g729_pack_frame(params, bytes, &n);
                 append(t, &rc, 1);
                 append(t, bytes, 10);
                 append(t, &n, 1);
             }
             return t;
         },
         1},
        {"g729_encode_frames", [&signal] { return encode_batched(signal, false); }, 42},
        {"g729_encode_frames_ws", [&signal] { return encode_batched(signal, true); }, 31},
        {"g729_decode_frames", [&coded] { return decode_batched(coded, false); }, 46},
        {"g729_decode_frames_ws", [&coded] { return decode_batched(coded, true); }, 21},
    };
}

struct ThreadCall {
    const std::function<void()>* fn;
    uintptr_t frame;  // an address in the thread function's frame
};

void* call_on_thread(void* arg) {
    auto* call = static_cast<ThreadCall*>(arg);
    volatile char here = 0;
    call->frame = reinterpret_cast<uintptr_t>(&here);
    (*call->fn)();
    return nullptr;
}

// The small stack, or the C library's smallest thread stack where that is larger (glibc on
// aarch64 refuses less than 128 KB, its page size being up to 64 KB).
std::size_t small_stack() {
    const long least = ::sysconf(_SC_THREAD_STACK_MIN);
    return least > 0 && static_cast<std::size_t>(least) > kSmallStack
               ? static_cast<std::size_t>(least)
               : kSmallStack;
}

// Runs fn on a new thread; stack_size bytes of stack, or the given memory as its stack.
bool run_on_thread(const std::function<void()>& fn, std::size_t stack_size, void* memory,
                   ThreadCall* call) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    const int set = memory != nullptr ? pthread_attr_setstack(&attr, memory, stack_size)
                                      : pthread_attr_setstacksize(&attr, stack_size);
    pthread_t thread;
    call->fn = &fn;
    const bool ok = set == 0 && pthread_create(&thread, &attr, call_on_thread, call) == 0;
    pthread_attr_destroy(&attr);
    return ok && pthread_join(thread, nullptr) == 0;
}

// The most stack fn takes below the thread function's frame: fn runs on a 1 MB stack filled
// with a pattern, then the lowest byte no longer holding it is found.
std::size_t peak_stack(const std::function<void()>& fn) {
    constexpr std::size_t kSize = 1 << 20;
    constexpr uint8_t kPaint = 0xA5;
    void* memory = std::aligned_alloc(4096, kSize);
    if (memory == nullptr) return kSize;
    auto* low = static_cast<uint8_t*>(memory);
    std::memset(low, kPaint, kSize);
    ThreadCall call{};
    std::size_t peak = kSize;
    if (run_on_thread(fn, kSize, memory, &call)) {
        std::size_t i = 0;
        while (i < kSize && low[i] == kPaint) ++i;
        peak = call.frame - reinterpret_cast<uintptr_t>(low + i);
    }
    std::free(memory);
    return peak;
}

TEST(SmallStack, EveryEntryPointRunsOnA64KbThreadWithTheSameOutput) {
    const std::vector<int16_t> signal = g729test::noise_pause_signal();
    const Coded coded = code_signal(signal);
    for (const Scenario& s : scenarios(signal, coded)) {
        SCOPED_TRACE(s.name);
        const Bytes expected = s.run();
        ASSERT_FALSE(expected.empty());
        // In a child: a stack overflow ends it with SIGSEGV, not the test run.
        EXPECT_EXIT(
            {
                Bytes got;
                ThreadCall call{};
                const bool ran = run_on_thread([&] { got = s.run(); }, small_stack(), nullptr,
                                               &call);
                std::fprintf(stderr, ran ? (got == expected ? "same" : "different")
                                         : "no thread");
                std::exit(ran && got == expected ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "^same$");
    }
}

// The plain and the workspace forms give the same bytes, the same states.
TEST(SmallStack, PlainAndWorkspaceCallsAgree) {
    const std::vector<int16_t> signal = g729test::noise_pause_signal();
    const Coded coded = code_signal(signal);
    EXPECT_EQ(encode_batched(signal, false), encode_batched(signal, true));
    EXPECT_EQ(decode_batched(coded, false), decode_batched(coded, true));
}

TEST(SmallStack, PeakOfEveryEntryPointIsWithinTheStatedFigure) {
#ifdef G729_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizers' red zones change every frame's size";
#endif
    const std::vector<int16_t> signal = g729test::noise_pause_signal();
    const Coded coded = code_signal(signal);
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        for (const Scenario& s : scenarios(signal, coded)) {
            const std::size_t peak = peak_stack([&] { s.run(); });
            std::printf("%s: peak stack of %s: %zu bytes\n", hwy::TargetName(target), s.name,
                        peak);
            EXPECT_LE(peak, kStackBudget) << s.name;
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
            // The header's own figure, measured with this compiler (a kilobyte of leeway for
            // its other versions).
            EXPECT_LE(peak, (s.stated_kb + 1) * 1024) << s.name;
#endif
            // The measure sees the work: even the smallest entry point takes some stack.
            EXPECT_GT(peak, 64u) << s.name;
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
