// SPDX-License-Identifier: BSD-2-Clause
// g729enc: encodes 80-sample frames into 10-byte speech frames, or with DTX into speech frames,
// 2-byte SID frames and untransmitted frames.
//
// Output buffers hold `frames-per-buffer` frames (10 ms each), fewer where DTX ends a run: a
// SID frame is always the last frame of its buffer, and an untransmitted frame produces no
// buffer, only a gap event, so the next buffer starts after a timestamp gap and carries
// DISCONT. At the end of the stream a partial frame is padded with silence to a whole frame
// and sent. Input without timestamps is timed by its samples, counted from the segment start.

#include "gst/g729enc.h"

#include <algorithm>
#include <array>
#include <vector>

#include <g729/g729.h>
#include "gst/g729_caps.h"

GST_DEBUG_CATEGORY_STATIC(g729enc_debug);
#define GST_CAT_DEFAULT g729enc_debug

namespace {

constexpr gboolean default_dtx = FALSE;
constexpr gint default_frames_per_buffer = 1;
constexpr gint max_frames_per_buffer = 100;  // 1 s

enum { PROP_0, PROP_DTX, PROP_FRAMES_PER_BUFFER };

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(G729_RAW_CAPS));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(G729_CODED_CAPS));

}  // namespace

struct _G729Enc {
    GstAudioEncoder parent;

    // Properties (object lock); taken over by start().
    gboolean dtx;
    gint frames_per_buffer;

    // Streaming state (streaming thread only).
    g729_encoder_state codec;
    gint stream_frames_per_buffer;
    gboolean after_gap;  // untransmitted frames since the last output buffer
    GstClockTime next_time;  // where the stream stands: end of the last output or gap
    guint64 samples;         // input samples taken since the stream started
    GstClockTime push_time;  // counted time of the buffer being finished (pre_push)
};

G_DEFINE_TYPE(G729Enc, g729_enc, GST_TYPE_AUDIO_ENCODER)

namespace {

void reset_stream(G729Enc* self) {
    GST_OBJECT_LOCK(self);
    const gboolean dtx = self->dtx;
    self->stream_frames_per_buffer = self->frames_per_buffer;
    GST_OBJECT_UNLOCK(self);
    g729_encoder_init(&self->codec, dtx ? 1 : 0);
    self->after_gap = FALSE;
    self->next_time = GST_CLOCK_TIME_NONE;
    self->samples = 0;
    self->push_time = GST_CLOCK_TIME_NONE;
}

// Time of an input sample counted from the start of the segment.
GstClockTime counted_time(G729Enc* self, guint64 sample) {
    return GST_AUDIO_ENCODER_INPUT_SEGMENT(self).start +
           gst_util_uint64_scale_int(sample, GST_SECOND, g729_sample_rate);
}

gboolean enc_start(GstAudioEncoder* enc) {
    reset_stream(G729_ENC(enc));
    return TRUE;
}

gboolean enc_set_format(GstAudioEncoder* enc, GstAudioInfo* info) {
    G729Enc* self = G729_ENC(enc);
    if (GST_AUDIO_INFO_RATE(info) != g729_sample_rate || GST_AUDIO_INFO_CHANNELS(info) != 1) {
        GST_ERROR_OBJECT(self, "needs 8000 Hz mono input");
        return FALSE;
    }
    const gint samples = G729_FRAME_SIZE * self->stream_frames_per_buffer;
    gst_audio_encoder_set_frame_samples_min(enc, samples);
    gst_audio_encoder_set_frame_samples_max(enc, samples);
    gst_audio_encoder_set_frame_max(enc, 1);
    // Samples wait for a whole output buffer; the partial frame at the end is padded here, so
    // the base class must hand it over rather than drop it.
    gst_audio_encoder_set_hard_min(enc, FALSE);
    const GstClockTime latency = g729_frame_duration * self->stream_frames_per_buffer;
    gst_audio_encoder_set_latency(enc, latency, latency);

    GstCaps* caps = gst_caps_from_string(G729_CODED_CAPS);
    const gboolean ok = gst_audio_encoder_set_output_format(enc, caps);
    gst_caps_unref(caps);
    return ok;
}

// Output under construction: the coded bytes and the input samples they stand for.
struct PendingOutput {
    std::array<uint8_t, max_frames_per_buffer * G729_SPEECH_FRAME_BYTES> bytes{};
    gsize size = 0;
    gint samples = 0;
    guint64 first_sample = 0;  // of the stream, for input without timestamps
};

GstFlowReturn push_pending(G729Enc* self, PendingOutput& pending) {
    if (pending.samples == 0) {
        return GST_FLOW_OK;
    }
    GstAudioEncoder* enc = GST_AUDIO_ENCODER(self);
    GstBuffer* out = gst_audio_encoder_allocate_output_buffer(enc, pending.size);
    gst_buffer_fill(out, 0, pending.bytes.data(), pending.size);
    if (self->after_gap) {
        GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
        self->after_gap = FALSE;
    }
    const gint samples = pending.samples;
    pending.size = 0;
    pending.samples = 0;
    self->push_time = counted_time(self, pending.first_sample);
    const GstFlowReturn ret = gst_audio_encoder_finish_frame(enc, out, samples);
    self->push_time = GST_CLOCK_TIME_NONE;
    return ret;
}

// Tells downstream that a frame's time passed without output, so that a decoder downstream
// can fill it with comfort noise at once (and at the end of the stream, where no later buffer
// would reveal the gap). Before any output, the frame's time is counted from the segment start.
void announce_gap(G729Enc* self, guint64 first_sample) {
    self->after_gap = TRUE;
    if (!GST_CLOCK_TIME_IS_VALID(self->next_time)) {
        self->next_time = counted_time(self, first_sample);
    }
    GstEvent* gap = gst_event_new_gap(self->next_time, g729_frame_duration);
    self->next_time += g729_frame_duration;
    gst_pad_push_event(GST_AUDIO_ENCODER_SRC_PAD(self), gap);
}

GstFlowReturn enc_handle_frame(GstAudioEncoder* enc, GstBuffer* buffer) {
    G729Enc* self = G729_ENC(enc);
    if (buffer == nullptr) {
        return GST_FLOW_OK;  // drain: every frame handed over has been sent already
    }
    // Copied out first: finishing a frame releases the input it came from.
    std::vector<int16_t> input(gst_buffer_get_size(buffer) / sizeof(int16_t));
    gst_buffer_extract(buffer, 0, input.data(), input.size() * sizeof(int16_t));
    const gint total = static_cast<gint>(input.size());
    PendingOutput pending;
    GstFlowReturn ret = GST_FLOW_OK;
    for (gint start = 0; start < total && ret == GST_FLOW_OK; start += G729_FRAME_SIZE) {
        const gint count = std::min(G729_FRAME_SIZE, total - start);
        int16_t pcm[G729_FRAME_SIZE] = {};  // a partial last frame is padded with silence
        for (gint i = 0; i < count; ++i) {
            pcm[i] = static_cast<int16_t>(GUINT16_FROM_LE(static_cast<uint16_t>(input[start + i])));
        }
        int32_t bytes = 0;
        g729_encode_frame(&self->codec, pcm, pending.bytes.data() + pending.size, &bytes);
        const guint64 frame_sample = self->samples;
        self->samples += static_cast<guint64>(count);
        if (bytes == 0) {
            // Untransmitted: send what came before, then let the frame's time pass unsent.
            ret = push_pending(self, pending);
            if (ret == GST_FLOW_OK) {
                ret = gst_audio_encoder_finish_frame(enc, nullptr, count);
            }
            announce_gap(self, frame_sample);
            continue;
        }
        if (pending.samples == 0) {
            pending.first_sample = frame_sample;
        }
        pending.size += static_cast<gsize>(bytes);
        pending.samples += count;
        if (bytes == G729_SID_FRAME_BYTES) {
            ret = push_pending(self, pending);  // a SID frame ends its buffer
        }
    }
    if (ret == GST_FLOW_OK) {
        ret = push_pending(self, pending);
    }
    return ret;
}

// The base class times a buffer by the input samples it consumed; a padded final frame still
// decodes to a whole 10 ms, so every buffer lasts 10 ms per frame it carries. Input without
// timestamps leaves the buffer without one: it gets the time of its samples.
GstFlowReturn enc_pre_push(GstAudioEncoder* enc, GstBuffer** buffer) {
    G729Enc* self = G729_ENC(enc);
    *buffer = gst_buffer_make_writable(*buffer);
    const GstClockTime duration =
        g729_frames_in_payload(gst_buffer_get_size(*buffer)) * g729_frame_duration;
    GST_BUFFER_DURATION(*buffer) = duration;
    if (!GST_BUFFER_PTS_IS_VALID(*buffer)) {
        GST_BUFFER_PTS(*buffer) = self->push_time;
    }
    const GstClockTime pts = GST_BUFFER_PTS(*buffer);
    self->next_time = GST_CLOCK_TIME_IS_VALID(pts) ? pts + duration : GST_CLOCK_TIME_NONE;
    return GST_FLOW_OK;
}

void enc_flush(GstAudioEncoder* enc) { reset_stream(G729_ENC(enc)); }

void enc_set_property(GObject* object, guint prop_id, const GValue* value, GParamSpec* pspec) {
    G729Enc* self = G729_ENC(object);
    GST_OBJECT_LOCK(self);
    switch (prop_id) {
    case PROP_DTX:
        self->dtx = g_value_get_boolean(value);
        break;
    case PROP_FRAMES_PER_BUFFER:
        self->frames_per_buffer = g_value_get_int(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void enc_get_property(GObject* object, guint prop_id, GValue* value, GParamSpec* pspec) {
    G729Enc* self = G729_ENC(object);
    GST_OBJECT_LOCK(self);
    switch (prop_id) {
    case PROP_DTX:
        g_value_set_boolean(value, self->dtx);
        break;
    case PROP_FRAMES_PER_BUFFER:
        g_value_set_int(value, self->frames_per_buffer);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

}  // namespace

static void g729_enc_class_init(G729EncClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstAudioEncoderClass* encoder_class = GST_AUDIO_ENCODER_CLASS(klass);

    object_class->set_property = enc_set_property;
    object_class->get_property = enc_get_property;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        object_class, PROP_DTX,
        g_param_spec_boolean("dtx", "DTX",
                             "Discontinuous transmission: voice activity detection, SID frames "
                             "in pauses and no output for untransmitted frames",
                             default_dtx, flags));
    g_object_class_install_property(
        object_class, PROP_FRAMES_PER_BUFFER,
        g_param_spec_int("frames-per-buffer", "Frames per buffer",
                         "10 ms frames per output buffer (fewer where DTX ends a run)", 1,
                         max_frames_per_buffer, default_frames_per_buffer, flags));

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "G.729 Annex A audio encoder", "Codec/Encoder/Audio",
        "Encodes 8 kHz mono audio to G.729 Annex A frames, with optional VAD/DTX (Annex B)",
        "g729 codec project");

    encoder_class->start = enc_start;
    encoder_class->set_format = enc_set_format;
    encoder_class->handle_frame = enc_handle_frame;
    encoder_class->pre_push = enc_pre_push;
    encoder_class->flush = enc_flush;

    GST_DEBUG_CATEGORY_INIT(g729enc_debug, "g729enc", 0, "G.729 encoder");
}

static void g729_enc_init(G729Enc* self) {
    self->dtx = default_dtx;
    self->frames_per_buffer = default_frames_per_buffer;
    self->stream_frames_per_buffer = default_frames_per_buffer;
    g729_encoder_init(&self->codec, 0);
    self->after_gap = FALSE;
    self->next_time = GST_CLOCK_TIME_NONE;
    self->samples = 0;
    self->push_time = GST_CLOCK_TIME_NONE;
}
