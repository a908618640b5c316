// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the codec_orvane module loaded into the stand-in host, its g729tolin decoder
// instance fed host frames of arbitrary data length and content, its lintog729 encoder
// instance fed slin frames whose data may be shorter than their sample count says (input
// layout in fuzz_ops.h). Every payload buffer is exactly as long as the frame says, so any
// read beyond it is caught by the address sanitizer.
//
// Each call is checked against a model of the translator built from the codec run directly:
// the result (0 or -1), one error log line per refusal and none otherwise, the sample and byte
// counters, every decoded sample and every coded byte. The decoder state inside the instance
// must stay finite.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/g729.h"
#include <pellarion/pel_host.h>
#include "host/pel_host_control.h"
#include "module/codec_orvane.h"
#include "tests/fuzz/fuzz_ops.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/state_check.h"

namespace {

using g729_fuzz::fail;

constexpr int kBufferSamples = 8000;
constexpr int kDecoderFillLimit = 7920;
constexpr int kMaxOperations = 64;

int g_error_lines = 0;
int g_other_lines = 0;

void count_log(void*, int level, const char*, int, const char*, const char*) {
    if (level == PEL_LOG_ERROR) {
        ++g_error_lines;
    } else {
        ++g_other_lines;
    }
}

pelhost::LoadedModule* g_module = nullptr;  // loaded for the whole run
pel_translator* g_decoder = nullptr;
pel_translator* g_encoder = nullptr;

// The decoder direction as the model sees it.
struct DecoderModel {
    g729_decoder_state codec;
    std::vector<int16_t> pending;  // decoded, not yet taken by frame-out
};

struct EncoderModel {
    g729_encoder_state codec;
    std::vector<int16_t> pending;  // not yet coded
};

void expect_log(int before_errors, bool refused, const char* what) {
    const int errors = g_error_lines - before_errors;
    if (refused ? errors != 1 : errors != 0) {
        fail("%s: %d error lines for a call that %s", what, errors,
             refused ? "was refused" : "succeeded");
    }
    if (g_other_lines != 0) fail("%s: unexpected non-error log line", what);
}

void check_decoder_instance(pel_trans_pvt* pvt, const DecoderModel& m, const char* what) {
    const int n = static_cast<int>(m.pending.size());
    if (pvt->samples != n) fail("%s: sample counter %d, expected %d", what, pvt->samples, n);
    if (pvt->datalen != 2 * n) fail("%s: byte counter %d, expected %d", what, pvt->datalen, 2 * n);
    if (n != 0 && std::memcmp(pvt->outbuf.i16, m.pending.data(), static_cast<std::size_t>(n) * 2) != 0) {
        fail("%s: decoded samples differ from the codec run directly", what);
    }
    const auto* st = static_cast<const g729_decoder_state*>(pvt->pvt);
    const std::string bad = g729_check::first_nonfinite(*st);
    if (!bad.empty()) fail("%s: decoder state not finite: %s", what, bad.c_str());
}

void decoder_payload(pel_trans_pvt* pvt, DecoderModel& m, g729_fuzz::ByteReader& in) {
    namespace op = g729_fuzz::module_op;
    const uint8_t l = in.byte();
    int length;
    if (l == op::negative_length) {
        length = -1 - static_cast<int>(in.byte());
    } else if (l >= op::long_payload_first) {
        length = (l - op::long_payload_first + 1) * op::long_payload_step;
    } else {
        length = l % 64;
    }
    std::vector<uint8_t> payload(length > 0 ? static_cast<std::size_t>(length) : 0);
    in.bytes(payload.data(), payload.size());

    pel_frame f{PEL_FRAME_VOICE, pel_format_g729, length, static_cast<int>(in.byte()) * 80,
                "fuzz", payload.empty() ? nullptr : payload.data(), 0, 0};

    // What the translator must do with this payload.
    int expected = 0;
    if (length < 0) {
        expected = -1;
    } else {
        int remaining = length;
        std::size_t pos = 0;
        while (remaining >= 1) {
            const int unit = remaining >= 10 ? 10 : (remaining == 2 ? 2 : 0);
            if (unit == 0 || static_cast<int>(m.pending.size()) > kDecoderFillLimit) {
                expected = -1;
                break;
            }
            int16_t out[80];
            g729_decode_frame(&m.codec, out, payload.data() + pos, unit);
            m.pending.insert(m.pending.end(), out, out + 80);
            remaining -= unit;
            pos += static_cast<std::size_t>(unit);
        }
    }

    const int errors = g_error_lines;
    const int result = pelhost::framein(pvt, &f);
    if (result != expected) {
        fail("g729tolin_framein of %d bytes returned %d, expected %d", length, result, expected);
    }
    expect_log(errors, expected != 0, "g729tolin_framein");
    check_decoder_instance(pvt, m, "g729tolin_framein");
}

void decoder_frameout(pel_trans_pvt* pvt, DecoderModel& m) {
    const int errors = g_error_lines;
    pel_frame* out = pelhost::frameout(pvt);
    expect_log(errors, false, "g729tolin frame-out");
    if (m.pending.empty()) {
        if (out != nullptr) fail("g729tolin frame-out gave a frame with nothing decoded");
        return;
    }
    if (out == nullptr) fail("g729tolin frame-out gave nothing with samples pending");
    const int n = static_cast<int>(m.pending.size());
    if (out->samples != n || out->datalen != 2 * n) {
        fail("g729tolin frame-out: %d samples / %d bytes, expected %d", out->samples,
             out->datalen, n);
    }
    if (std::memcmp(out->data, m.pending.data(), static_cast<std::size_t>(n) * 2) != 0) {
        fail("g729tolin frame-out data differs");
    }
    m.pending.clear();
    check_decoder_instance(pvt, m, "g729tolin frame-out");
}

void encoder_frame(pel_trans_pvt* pvt, EncoderModel& m, g729_fuzz::ByteReader& in) {
    namespace op = g729_fuzz::module_op;
    const uint8_t c = in.byte();
    const uint8_t s = in.byte();
    const int count = c == op::oversized_count ? kBufferSamples + 1 : 2 * c;
    int datalen = 2 * count;
    if (s >= op::short_frame_first) datalen -= 1 + s % 8;
    if (datalen < 0) datalen = 0;
    std::vector<uint8_t> data(static_cast<std::size_t>(datalen));
    in.bytes(data.data(), data.size());
    pel_frame f{PEL_FRAME_VOICE, pel_format_slin, datalen, count, "fuzz",
                data.empty() ? nullptr : data.data(), 0, 0};

    const int pending = static_cast<int>(m.pending.size());
    const bool refuse = count > kBufferSamples - pending || datalen < 2 * count;
    const int errors = g_error_lines;
    const int result = pelhost::framein(pvt, &f);
    if (result != (refuse ? -1 : 0)) {
        fail("lintog729_framein of %d samples in %d bytes onto %d pending returned %d", count,
             datalen, pending, result);
    }
    expect_log(errors, refuse, "lintog729_framein");
    if (!refuse) {
        for (int i = 0; i < count; ++i) {
            const auto lo = data[static_cast<std::size_t>(2 * i)];
            const auto hi = data[static_cast<std::size_t>(2 * i + 1)];
            m.pending.push_back(static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8))));
        }
    }
    if (pvt->samples != static_cast<int>(m.pending.size())) {
        fail("lintog729 sample counter %d, expected %zu", pvt->samples, m.pending.size());
    }
}

void encoder_frameout(pel_trans_pvt* pvt, EncoderModel& m) {
    const int errors = g_error_lines;
    pel_frame* out = pelhost::frameout(pvt);
    expect_log(errors, false, "lintog729_frameout");
    const std::size_t blocks = m.pending.size() / 80;
    if (blocks == 0) {
        if (out != nullptr) fail("lintog729_frameout gave a frame for under 80 samples");
        return;
    }
    if (out == nullptr) fail("lintog729_frameout gave nothing for %zu samples", m.pending.size());
    if (out->samples != static_cast<int>(blocks * 80) || out->datalen != static_cast<int>(blocks * 10)) {
        fail("lintog729_frameout: %d samples / %d bytes for %zu blocks", out->samples, out->datalen,
             blocks);
    }
    const auto* got = static_cast<const uint8_t*>(out->data);
    for (std::size_t b = 0; b < blocks; ++b) {
        uint8_t bytes[10];
        int32_t n = 0;
        g729_encode_frame(&m.codec, m.pending.data() + b * 80, bytes, &n);
        if (n != 10 || std::memcmp(bytes, got + b * 10, 10) != 0) {
            fail("lintog729_frameout block %zu differs from the codec run directly", b);
        }
    }
    m.pending.erase(m.pending.begin(), m.pending.begin() + static_cast<std::ptrdiff_t>(blocks * 80));
    if (pvt->samples != static_cast<int>(m.pending.size())) {
        fail("lintog729 leftover %d, expected %zu", pvt->samples, m.pending.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pelhost::set_log_sink(&count_log, nullptr);
    std::string error;
    g_module = pelhost::load_module_file(G729_FUZZ_MODULE_PATH, &error);
    if (g_module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", G729_FUZZ_MODULE_PATH, error.c_str());
        std::abort();
    }
    g_decoder = pelhost::find_translator("g729tolin");
    g_encoder = pelhost::find_translator("lintog729");
    if (g_decoder == nullptr || g_encoder == nullptr) {
        std::fprintf(stderr, "the module registered no translators\n");
        std::abort();
    }
    g_other_lines = 0;  // the start-up notice
    // Unloaded before the host's own records are destroyed at exit.
    std::atexit([] { pelhost::unload_module(g_module); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    namespace op = g729_fuzz::module_op;
    g729_fuzz::ByteReader in(data, size);

    pel_trans_pvt* dec = pelhost::new_instance(g_decoder);
    pel_trans_pvt* enc = pelhost::new_instance(g_encoder);
    if (dec == nullptr || enc == nullptr) fail("instance set-up failed");
    static DecoderModel dm;
    static EncoderModel em;
    g729_decoder_init(&dm.codec);
    dm.pending.clear();
    g729_encoder_init(&em.codec, 0);
    em.pending.clear();

    for (int k = 0; k < kMaxOperations && !in.empty(); ++k) {
        const uint8_t code = in.byte();
        switch (code % 8) {
        case op::decoder_out: decoder_frameout(dec, dm); break;
        case op::slin: encoder_frame(enc, em, in); break;
        case op::encoder_out: encoder_frameout(enc, em); break;
        default: decoder_payload(dec, dm, in); break;
        }
    }
    decoder_frameout(dec, dm);

    pelhost::free_instance(dec);
    pelhost::free_instance(enc);
    return 0;
}
