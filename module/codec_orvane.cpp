// SPDX-License-Identifier: BSD-2-Clause
// codec_orvane: the Pellarion translator module for G.729 Annex A.
//
// Registers lintog729 (slin -> g729), g729tolin (g729 -> slin) and the CLI command
// "g729 show version". The module's own work is buffering: incoming samples are collected into
// 80-sample blocks, each coded into one 10-byte frame; incoming payloads are split into 10-byte
// speech frames and a trailing 2-byte SID unit, each decoded into 80 samples.
//
// Nothing here keeps mutable state shared between instances or takes a lock: every memory
// lives in an instance's private record and output buffer, which the host hands in.
#include <cstring>

#include <g729/g729.h>
#include <pellarion/pel_host.h>
#include "module/codec_orvane.h"

#define ORVANE_EXPORT extern "C" __attribute__((visibility("default")))

#define ORVANE_LOG(level, ...) pel_log(level, "codec_orvane", __LINE__, __func__, __VA_ARGS__)

ORVANE_EXPORT int load_module(void);
ORVANE_EXPORT int unload_module(void);
ORVANE_EXPORT int reload_module(void);

namespace {

pel_module_info module_info = {
    .self = nullptr,
    .load = load_module,
    .reload = reload_module,
    .unload = unload_module,
    .name = "codec_orvane",
    .description = "Corvida G.729 Annex A Codec (optimized for x86_64",
    .flags = 3,
    .buildopt_sum = "",
    .load_pri = 128,
    .required_modules = nullptr,
    .optional_modules = nullptr,
    .enhances = nullptr,
    .support_level = 2,
};

}  // namespace

// Not loaded into memory: names the module and its version for tools that read the file.
asm(".pushsection .pel_manifest,\"\",@progbits\n"
    "\t.ascii \"codec_orvane,,19.0_3.1.10\\n\"\n"
    "\t.popsection\n");

namespace {

using orvane::buffer_samples;
using orvane::frame_samples;
using orvane::output_buffer_bytes;
using orvane::sid_frame_bytes;
using orvane::speech_frame_bytes;

constexpr int decoded_frame_bytes = frame_samples * 2;
// A decoder instance takes one more frame while its output holds at most this many samples.
constexpr int decoder_fill_limit = output_buffer_bytes / 2 - frame_samples;
static_assert(decoder_fill_limit == 7920);
static_assert(buffer_samples * 2 == output_buffer_bytes);
// Every block the encoder direction can hold fits the output buffer as coded bytes.
static_assert(buffer_samples / frame_samples * speech_frame_bytes <= output_buffer_bytes);

// ---- Example frames ----

pel_frame lintog729_sample_frame = {
    .frametype = PEL_FRAME_VOICE,
    .format = nullptr,
    .datalen = 480,
    .samples = 240,
    .src = "lintog729_sample",
    .data = slin_example_samples,
    .mallocd = 0,
    .offset = 0,
};

pel_frame g729tolin_sample_frame = {
    .frametype = PEL_FRAME_VOICE,
    .format = nullptr,
    .datalen = 50,
    .samples = 400,
    .src = "g729tolin_sample",
    .data = g729_example_frames,
    .mallocd = 0,
    .offset = 0,
};

// Every call stores the same value; the store is atomic so concurrent callers do not race.
pel_frame* lintog729_sample(void) {
    __atomic_store_n(&lintog729_sample_frame.format, pel_format_slin, __ATOMIC_RELAXED);
    return &lintog729_sample_frame;
}

pel_frame* g729tolin_sample(void) {
    __atomic_store_n(&g729tolin_sample_frame.format, pel_format_g729, __ATOMIC_RELAXED);
    return &g729tolin_sample_frame;
}

// ---- Encoder direction ----

int lintog729_new(pel_trans_pvt* pvt) {
    auto* p = static_cast<lintog729_pvt*>(pvt->pvt);
    g729_encoder_init(&p->encoder, 0);
    return 0;
}

int lintog729_framein(pel_trans_pvt* pvt, pel_frame* f) {
    auto* p = static_cast<lintog729_pvt*>(pvt->pvt);
    const int pending = pvt->samples;
    const int count = f->samples;
    if (pending < 0) {
        ORVANE_LOG(PEL_LOG_ERROR, "Invalid sample counter (%d)\n", pending);
        return -1;
    }
    if (count < 0) {
        ORVANE_LOG(PEL_LOG_ERROR, "Invalid sample count (%d)\n", count);
        return -1;
    }
    // Written so that a huge count cannot overflow the sum.
    if (count > buffer_samples - pending) {
        ORVANE_LOG(PEL_LOG_ERROR, "Out of buffer space\n");
        return -1;
    }
    // The frame must really carry the samples it announces.
    if (f->datalen < 2 * count) {
        ORVANE_LOG(PEL_LOG_ERROR, "Frame data too short (%d bytes for %d samples)\n", f->datalen,
                   count);
        return -1;
    }
    if (count > 0 && f->data == nullptr) {
        ORVANE_LOG(PEL_LOG_ERROR, "Missing frame data (%d samples)\n", count);
        return -1;
    }
    if (count > 0) {
        std::memcpy(p->pcm_buffer + pending, f->data, static_cast<std::size_t>(count) * 2);
    }
    pvt->samples = pending + count;
    return 0;
}

pel_frame* lintog729_frameout(pel_trans_pvt* pvt) {
    auto* p = static_cast<lintog729_pvt*>(pvt->pvt);
    int pending = pvt->samples;
    if (pending < frame_samples) return nullptr;
    // More than the buffer holds: the counter is not ours to trust; code nothing.
    if (pending > buffer_samples) {
        ORVANE_LOG(PEL_LOG_ERROR, "Invalid sample counter (%d)\n", pending);
        return nullptr;
    }
    int blocks = 0;
    do {
        // With DTX off every block codes to a 10-byte speech frame.
        int32_t coded_bytes = 0;
        g729_encode_frame(&p->encoder, p->pcm_buffer + frame_samples * blocks,
                          pvt->outbuf.uc + speech_frame_bytes * blocks, &coded_bytes);
        ++blocks;
        pending -= frame_samples;
    } while (pending >= frame_samples);
    pvt->samples = pending;
    if (pending != 0) {
        std::memmove(p->pcm_buffer, p->pcm_buffer + frame_samples * blocks,
                     static_cast<std::size_t>(pending) * 2);
    }
    return pel_trans_frameout(pvt, speech_frame_bytes * blocks, frame_samples * blocks);
}

// ---- Decoder direction ----

int g729tolin_new(pel_trans_pvt* pvt) {
    auto* p = static_cast<g729tolin_pvt*>(pvt->pvt);
    g729_decoder_init(&p->decoder);
    return 0;
}

int g729tolin_framein(pel_trans_pvt* pvt, pel_frame* f) {
    auto* p = static_cast<g729tolin_pvt*>(pvt->pvt);
    int remaining = f->datalen;
    if (remaining < 0) {
        ORVANE_LOG(PEL_LOG_ERROR, "Invalid data length (%d)\n", remaining);
        return -1;
    }
    if (remaining > 0 && f->data == nullptr) {
        ORVANE_LOG(PEL_LOG_ERROR, "Missing frame data (%d bytes)\n", remaining);
        return -1;
    }
    const auto* in = static_cast<const uint8_t*>(f->data);
    while (remaining >= 1) {
        int unit;
        if (remaining >= speech_frame_bytes) {
            unit = speech_frame_bytes;
        } else if (remaining == sid_frame_bytes) {
            unit = sid_frame_bytes;
        } else {
            ORVANE_LOG(PEL_LOG_ERROR, "Invalid data (%d bytes at the end)\n", remaining);
            return -1;
        }
        if (pvt->samples > decoder_fill_limit) {
            ORVANE_LOG(PEL_LOG_ERROR, "Out of buffer space\n");
            return -1;
        }
        if (pvt->samples < 0) {
            ORVANE_LOG(PEL_LOG_ERROR, "Invalid sample counter (%d)\n", pvt->samples);
            return -1;
        }
        g729_decode_frame(&p->decoder, pvt->outbuf.i16 + pvt->samples, in, unit);
        pvt->samples += frame_samples;
        pvt->datalen += decoded_frame_bytes;
        remaining -= unit;
        in += unit;
    }
    return 0;
}

// ---- Translator records ----

// An 8 kHz audio codec description; the fields the module does not name stay zero.
constexpr pel_codec audio_codec(const char* name) {
    pel_codec c{};
    c.name = name;
    c.type = PEL_MEDIA_TYPE_AUDIO;
    c.sample_rate = 8000;
    return c;
}

pel_translator lintog729 = {
    .name = "lintog729",
    .src_codec = audio_codec("slin"),
    .dst_codec = audio_codec("g729"),
    .format = "g729",
    .newpvt = lintog729_new,
    .framein = lintog729_framein,
    .frameout = lintog729_frameout,
    .destroy = nullptr,
    .sample = lintog729_sample,
    .feedback = nullptr,
    .buffer_samples = buffer_samples,
    .buf_size = output_buffer_bytes,
    .desc_size = sizeof(lintog729_pvt),
    .native_plc = 0,
    .module = nullptr,  // the rest is the host's
    .dst_format = nullptr,
    .active = 0,
};

pel_translator g729tolin = {
    .name = "g729tolin",
    .src_codec = audio_codec("g729"),
    .dst_codec = audio_codec("slin"),
    .format = "slin",
    .newpvt = g729tolin_new,
    .framein = g729tolin_framein,
    .frameout = nullptr,
    .destroy = nullptr,
    .sample = g729tolin_sample,
    .feedback = nullptr,
    .buffer_samples = buffer_samples,
    .buf_size = output_buffer_bytes,
    .desc_size = sizeof(g729tolin_pvt),
    .native_plc = 0,
    .module = nullptr,  // the rest is the host's
    .dst_format = nullptr,
    .active = 0,
};

// ---- CLI ----

char* handle_g729_show_version(pel_cli_entry* e, int cmd, pel_cli_args* a) {
    switch (cmd) {
        case PEL_CLI_INIT:
            e->command = "g729 show version";
            e->usage =
                "Usage: show g729 version\n"
                "       Displays G.729 module version\n";
            return PEL_CLI_SUCCESS;
        case PEL_CLI_GENERATE:
            return PEL_CLI_SUCCESS;
        default:
            pel_cli(a->fd, "Corvida G.729A Module Version 19.0_3.1.10 (optimized for x86_64\n");
            return PEL_CLI_SUCCESS;
    }
}

pel_cli_entry cli_g729[] = {
    {.command = nullptr,
     .summary = "Show G.729 Module Version",
     .usage = nullptr,
     .handler = handle_g729_show_version,
     .module = nullptr,
     .registered = 0},
};

// ---- Library life cycle ----

__attribute__((constructor)) void register_with_host(void) { pel_module_register(&module_info); }

__attribute__((destructor)) void unregister_from_host(void) { pel_module_unregister(&module_info); }

}  // namespace

// ---- Module entry points ----

int load_module(void) {
    ORVANE_LOG(PEL_LOG_NOTICE, "G.729A transcoding module, version 19.0_3.1.10\n");
    __pel_cli_register_multiple(cli_g729, 1, module_info.self);
    const int decoder_result = __pel_register_translator(&g729tolin, module_info.self);
    const int encoder_result = __pel_register_translator(&lintog729, module_info.self);
    const int result = decoder_result | encoder_result;
    if (result == 0) return 0;
    pel_unregister_translator(&lintog729);
    pel_unregister_translator(&g729tolin);
    pel_cli_unregister_multiple(cli_g729, 1);
    return result;
}

int unload_module(void) {
    pel_unregister_translator(&lintog729);
    pel_unregister_translator(&g729tolin);
    pel_cli_unregister_multiple(cli_g729, 1);
    return 0;
}

int reload_module(void) { return 0; }
