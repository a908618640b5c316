// SPDX-License-Identifier: BSD-2-Clause
// g729dec: decodes buffers of 10-byte speech frames with at most one trailing 2-byte SID frame.
//
// Time that passes without frames is filled with whole 10 ms frames, so the output keeps the
// length and timing of the stream: a gap the base class reports (with its `plc` property on,
// which this element enables by default) and a hole between the timestamps of two buffers both
// become concealed frames, or comfort noise when the last frame received was a SID frame (the
// sender paused its transmission). A buffer of any other length counts as a decode error
// (weight 1 towards `max-errors`) and its time is concealed as well. The timing decisions live
// in DecoderTimeline (dec_timeline.h): at most 60 s is filled at a time, sent in buffers of at
// most 1 s. A byte stream (a file read as it is) is refused with an element error: in it the
// frame boundaries and the SID frames cannot be found.

#include "gst/g729dec.h"

#include <algorithm>
#include <new>

#include <g729/g729.h>
#include "gst/dec_timeline.h"
#include "gst/g729_caps.h"

GST_DEBUG_CATEGORY_STATIC(g729dec_debug);
#define GST_CAT_DEFAULT g729dec_debug

namespace {

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(G729_CODED_CAPS));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(G729_RAW_CAPS));

constexpr gsize pcm_frame_bytes = G729_FRAME_SIZE * sizeof(int16_t);

}  // namespace

struct _G729Dec {
    GstAudioDecoder parent;

    // Streaming state (streaming thread only).
    g729_decoder_state codec;
    gboolean in_pause;  // the last frame received was a SID frame
    g729gst::DecoderTimeline timeline;
    GstClockTime push_time;  // time of the next output buffer (pre_push); NONE: the base class's
    gboolean refused_bytes;  // a byte stream was refused (said once)
};

G_DEFINE_TYPE(G729Dec, g729_dec, GST_TYPE_AUDIO_DECODER)

namespace {

void reset_stream(G729Dec* self) {
    g729_decoder_init(&self->codec);
    self->in_pause = FALSE;
    self->timeline.reset();
    self->push_time = GST_CLOCK_TIME_NONE;
}

gboolean dec_start(GstAudioDecoder* dec) {
    reset_stream(G729_DEC(dec));
    G729_DEC(dec)->refused_bytes = FALSE;
    // Set per stream: the base class clears it with the rest of its stream context.
    gst_audio_decoder_set_plc_aware(dec, TRUE);
    return TRUE;
}

gboolean dec_set_format(GstAudioDecoder* dec, GstCaps*) {
    GstAudioInfo info;
    gst_audio_info_init(&info);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16LE, g729_sample_rate, 1, nullptr);
    return gst_audio_decoder_set_output_format(dec, &info);
}

void write_pcm(uint8_t* out, const int16_t (&pcm)[G729_FRAME_SIZE]) {
    for (int i = 0; i < G729_FRAME_SIZE; ++i) {
        GST_WRITE_UINT16_LE(out + 2 * i, static_cast<uint16_t>(pcm[i]));
    }
}

// Frame `index` of an output: comfort noise during a pause or concealment for the first
// `missing` frames, then the payload's units (10-byte speech frames, a trailing 2-byte SID).
void output_frame(G729Dec* self, uint8_t* out, guint64 index, guint64 missing,
                  const GstMapInfo* payload) {
    int16_t pcm[G729_FRAME_SIZE];
    if (index < missing) {
        if (self->in_pause) {
            g729_decode_untransmitted_frame(&self->codec, pcm);
        } else {
            g729_decode_lost_frame(&self->codec, pcm);
        }
    } else {
        const gsize at = (index - missing) * G729_SPEECH_FRAME_BYTES;
        const int unit = std::min<gsize>(payload->size - at, G729_SPEECH_FRAME_BYTES);
        g729_decode_frame(&self->codec, pcm, payload->data + at, unit);
        self->in_pause = unit == G729_SID_FRAME_BYTES;
    }
    write_pcm(out, pcm);
}

// Sends what the plan says in buffers of at most 1 s: all but the last as subframes, the last
// finishing the input buffers the plan covers.
GstFlowReturn output(G729Dec* self, const g729gst::OutputPlan& plan, const GstMapInfo* payload) {
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    if (plan.jump) {
        GST_WARNING_OBJECT(self, "timestamp jump of more than 60 s left unfilled");
    }
    if (plan.finished == 0) {
        return GST_FLOW_OK;
    }
    const gint finished = static_cast<gint>(plan.finished);
    const guint64 total = plan.missing + plan.decoded;
    // The base class stamps the output with the time of the first input buffer it finishes;
    // pre_push stamps it from where the output so far ends.
    self->push_time = plan.stamp;
    if (total == 0) {
        return gst_audio_decoder_finish_frame(dec, nullptr, finished);
    }
    GST_LOG_OBJECT(self, "%" G_GUINT64_FORMAT " missing and %" G_GUINT64_FORMAT
                         " decoded frames", plan.missing, plan.decoded);
    GstFlowReturn ret = GST_FLOW_OK;
    for (guint64 done = 0; done < total && ret == GST_FLOW_OK;) {
        const guint64 n = std::min(total - done, g729gst::max_piece_frames);
        GstBuffer* out = gst_audio_decoder_allocate_output_buffer(dec, n * pcm_frame_bytes);
        GstMapInfo map;
        gst_buffer_map(out, &map, GST_MAP_WRITE);
        for (guint64 f = 0; f < n; ++f) {
            output_frame(self, map.data + f * pcm_frame_bytes, done + f, plan.missing, payload);
        }
        gst_buffer_unmap(out, &map);
        done += n;
        ret = done < total ? gst_audio_decoder_finish_subframe(dec, out)
                           : gst_audio_decoder_finish_frame(dec, out, finished);
    }
    self->push_time = GST_CLOCK_TIME_NONE;
    return ret;
}

// A buffer that cannot be decoded is an error of weight 1 towards max-errors. Its time is
// concealed with the next output, which finishes it too: output of its own would count as a
// decoded frame and clear the count of errors in a row.
GstFlowReturn reject(G729Dec* self, GstBuffer* buffer) {
    const gsize size = gst_buffer_get_size(buffer);
    GstFlowReturn ret = GST_FLOW_OK;
    GST_AUDIO_DECODER_ERROR(self, 1, STREAM, DECODE,
                            ("g729dec received a buffer that is not a G.729 payload"),
                            ("buffer of %" G_GSIZE_FORMAT " bytes is not a G.729 payload (N x 10 "
                             "bytes plus at most one 2-byte SID unit); g729dec takes the "
                             "payloads of an RTP depayloader (rtpg729depay)",
                             size),
                            ret);
    if (ret != GST_FLOW_OK) {
        return ret;
    }
    const guint release =
        self->timeline.reject(GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer), size);
    if (release > 0) {
        // Finished without output: their time stays owed to the next output.
        return gst_audio_decoder_finish_frame(GST_AUDIO_DECODER(self), nullptr,
                                              static_cast<gint>(release));
    }
    return GST_FLOW_OK;
}

GstFlowReturn dec_handle_frame(GstAudioDecoder* dec, GstBuffer* buffer) {
    G729Dec* self = G729_DEC(dec);
    if (buffer == nullptr) {
        // Drain (end of stream, discontinuity): conceal what rejected buffers still owe.
        return output(self, self->timeline.drain(), nullptr);
    }
    const GstClockTime start = GST_BUFFER_PTS(buffer);
    const gsize size = gst_buffer_get_size(buffer);
    if (size == 0) {
        return output(self, self->timeline.gap(start, GST_BUFFER_DURATION(buffer)), nullptr);
    }
    const gsize rest = size % G729_SPEECH_FRAME_BYTES;
    if (rest != 0 && rest != G729_SID_FRAME_BYTES) {
        return reject(self, buffer);
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot map the input buffer"));
        return GST_FLOW_ERROR;
    }
    // Finishing the frame releases the input buffer: keep a reference while it is mapped.
    gst_buffer_ref(buffer);
    const GstFlowReturn ret =
        output(self, self->timeline.payload(start, g729_frames_in_payload(size)), &map);
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    return ret;
}

GstFlowReturn dec_pre_push(GstAudioDecoder* dec, GstBuffer** buffer) {
    G729Dec* self = G729_DEC(dec);
    if (GST_CLOCK_TIME_IS_VALID(self->push_time)) {
        *buffer = gst_buffer_make_writable(*buffer);
        GST_BUFFER_PTS(*buffer) = self->push_time;
        self->push_time += GST_BUFFER_DURATION(*buffer);
    }
    return GST_FLOW_OK;
}

// Input in any format but time is a byte stream (filesrc reading a file of frames): the base
// class refuses its segment, and the element says why and what to use instead.
gboolean dec_sink_event(GstAudioDecoder* dec, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        G729Dec* self = G729_DEC(dec);
        if (segment->format != GST_FORMAT_TIME) {
            if (!self->refused_bytes) {
                self->refused_bytes = TRUE;  // said once: the event comes again with each buffer
                GST_ELEMENT_ERROR(
                    dec, STREAM, FORMAT,
                    ("g729dec needs G.729 payloads in timed buffers, not a byte stream"),
                    ("the input is a stream of bytes (a %s segment, as from filesrc), in which "
                     "the frame boundaries and the SID frames cannot be found; feed g729dec the "
                     "payloads of an RTP depayloader (rtpg729depay), or decode a file of raw "
                     "frames with 'g729 decode --format raw'",
                     gst_format_get_name(segment->format)));
            }
            gst_event_unref(event);
            return FALSE;
        }
    }
    return GST_AUDIO_DECODER_CLASS(g729_dec_parent_class)->sink_event(dec, event);
}

// A hard flush (seek, flushing events) starts a new stream; a soft one (a discontinuity in
// the input) keeps the decoder's memory, which the frames around a gap still need.
void dec_flush(GstAudioDecoder* dec, gboolean hard) {
    if (hard) {
        reset_stream(G729_DEC(dec));
    }
}

}  // namespace

static void g729_dec_class_init(G729DecClass* klass) {
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstAudioDecoderClass* decoder_class = GST_AUDIO_DECODER_CLASS(klass);

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "G.729 Annex A audio decoder", "Codec/Decoder/Audio",
        "Decodes G.729 Annex A frames and SID frames (Annex B) to 8 kHz mono audio, "
        "concealing lost frames",
        "g729 codec project");

    decoder_class->start = dec_start;
    decoder_class->set_format = dec_set_format;
    decoder_class->handle_frame = dec_handle_frame;
    decoder_class->flush = dec_flush;
    decoder_class->pre_push = dec_pre_push;
    decoder_class->sink_event = dec_sink_event;

    GST_DEBUG_CATEGORY_INIT(g729dec_debug, "g729dec", 0, "G.729 decoder");
}

static void g729_dec_init(G729Dec* self) {
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_plc(dec, TRUE);
    new (&self->timeline) g729gst::DecoderTimeline();
    reset_stream(self);
}
