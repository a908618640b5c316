// g729dec: decodes buffers of 10-byte speech frames with at most one trailing 2-byte SID frame.
//
// Time that passes without frames is filled with whole 10 ms frames, so the output keeps the
// length and timing of the stream: a gap the base class reports (with its `plc` property on,
// which this element enables by default) and a hole between the timestamps of two buffers both
// become concealed frames, or comfort noise when the last frame received was a SID frame (the
// sender paused its transmission). A buffer of any other length counts as a decode error
// (weight 1 towards `max-errors`) and its time is concealed as well.

#include "gst/g729dec.h"

#include <algorithm>

#include "codec/g729.h"
#include "gst/g729_caps.h"

GST_DEBUG_CATEGORY_STATIC(g729dec_debug);
#define GST_CAT_DEFAULT g729dec_debug

namespace {

// The longest stretch filled in one go; a longer hole is taken as a timestamp jump.
constexpr guint64 max_fill_frames = 60 * 100;  // 60 s

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(G729_CODED_CAPS));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(G729_RAW_CAPS));

}  // namespace

struct _G729Dec {
    GstAudioDecoder parent;

    // Streaming state (streaming thread only).
    g729_decoder_state codec;
    gboolean in_pause;        // the last frame received was a SID frame
    GstClockTime next_time;   // input time at which the output so far ends
    GstClockTime lead_in;     // missing time at the start of the output being sent
    guint unfinished;         // rejected input buffers not finished yet
    GstClockTime unfinished_time;  // time of the first of them
    guint64 owed_frames;      // frames owed for untimed rejected buffers
    GstClockTime owed_until;  // end of the timed rejected buffers
};

G_DEFINE_TYPE(G729Dec, g729_dec, GST_TYPE_AUDIO_DECODER)

namespace {

void clear_rejected(G729Dec* self) {
    self->unfinished = 0;
    self->unfinished_time = GST_CLOCK_TIME_NONE;
    self->owed_frames = 0;
    self->owed_until = GST_CLOCK_TIME_NONE;
}

void reset_stream(G729Dec* self) {
    g729_decoder_init(&self->codec);
    self->in_pause = FALSE;
    self->next_time = GST_CLOCK_TIME_NONE;
    self->lead_in = 0;
    clear_rejected(self);
}

// Whole frames in a stretch of time, to the nearest frame.
guint64 frames_in(GstClockTime duration) {
    return (duration + g729_frame_duration / 2) / g729_frame_duration;
}

gboolean dec_start(GstAudioDecoder* dec) {
    reset_stream(G729_DEC(dec));
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

// Audio for frames that did not arrive: comfort noise during a pause, else concealment.
void fill_frames(G729Dec* self, uint8_t* out, guint64 frames) {
    for (guint64 f = 0; f < frames; ++f) {
        int16_t pcm[G729_FRAME_SIZE];
        if (self->in_pause) {
            g729_decode_untransmitted_frame(&self->codec, pcm);
        } else {
            g729_decode_lost_frame(&self->codec, pcm);
        }
        write_pcm(out + f * G729_FRAME_SIZE * sizeof(int16_t), pcm);
    }
}

// Decodes a run of 10-byte speech frames with at most one trailing 2-byte SID frame.
void decode_frames(G729Dec* self, uint8_t* out, const uint8_t* in, gsize size) {
    const gsize speech_frames = size / G729_SPEECH_FRAME_BYTES;
    const gboolean has_sid = size % G729_SPEECH_FRAME_BYTES == G729_SID_FRAME_BYTES;
    for (gsize f = 0; f < speech_frames + (has_sid ? 1 : 0); ++f) {
        const int unit = f < speech_frames ? G729_SPEECH_FRAME_BYTES : G729_SID_FRAME_BYTES;
        int16_t pcm[G729_FRAME_SIZE];
        g729_decode_frame(&self->codec, pcm, in + f * G729_SPEECH_FRAME_BYTES, unit);
        write_pcm(out + f * G729_FRAME_SIZE * sizeof(int16_t), pcm);
    }
    self->in_pause = has_sid;
}

// Whole frames from the end of the output so far to `until`. A jump beyond the longest fill
// is not filled: the output starts again from the new time.
guint64 frames_until(G729Dec* self, GstClockTime until) {
    if (!GST_CLOCK_TIME_IS_VALID(until) || !GST_CLOCK_TIME_IS_VALID(self->next_time) ||
        until <= self->next_time) {
        return 0;
    }
    const guint64 frames = frames_in(until - self->next_time);
    if (frames > max_fill_frames) {
        GST_WARNING_OBJECT(self, "timestamp jump of %" GST_TIME_FORMAT " left unfilled",
                           GST_TIME_ARGS(until - self->next_time));
        self->next_time = GST_CLOCK_TIME_NONE;
        return 0;
    }
    return frames;
}

// Frames that cover a gap the base class reports as an empty buffer, counted from where the
// output ends so that the rounding of successive gaps does not add up.
guint64 frames_of_gap(G729Dec* self, GstBuffer* gap) {
    const GstClockTime start = GST_BUFFER_PTS(gap);
    const GstClockTime duration = GST_BUFFER_DURATION(gap);
    if (!GST_CLOCK_TIME_IS_VALID(duration)) {
        return 1;
    }
    if (GST_CLOCK_TIME_IS_VALID(start) && GST_CLOCK_TIME_IS_VALID(self->next_time)) {
        return frames_until(self, start + duration);
    }
    return std::min(frames_in(duration), max_fill_frames);
}

// Sends `missing` frames of concealment or comfort noise followed by the frames decoded from
// `payload` (if any), and finishes the input frames it covers: the rejected ones still
// unfinished and, with `current`, the buffer being handled. `start` is that buffer's time.
GstFlowReturn output(G729Dec* self, guint64 missing, const GstMapInfo* payload, bool current,
                     GstClockTime start) {
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    const gint finished = static_cast<gint>(self->unfinished) + (current ? 1 : 0);
    // The base class stamps the output with the time of the first input frame it finishes;
    // pre_push moves the stamp back to where the output so far ends.
    const GstClockTime stamp = self->unfinished > 0 ? self->unfinished_time : start;
    const guint64 decoded = payload != nullptr ? g729_frames_in_payload(payload->size) : 0;
    GstBuffer* out = nullptr;
    if (missing + decoded > 0) {
        out = gst_audio_decoder_allocate_output_buffer(
            dec, (missing + decoded) * G729_FRAME_SIZE * sizeof(int16_t));
        GstMapInfo map;
        gst_buffer_map(out, &map, GST_MAP_WRITE);
        fill_frames(self, map.data, missing);
        if (payload != nullptr) {
            decode_frames(self, map.data + missing * G729_FRAME_SIZE * sizeof(int16_t),
                          payload->data, payload->size);
        }
        gst_buffer_unmap(out, &map);
        GST_LOG_OBJECT(self, "%" G_GUINT64_FORMAT " missing and %" G_GUINT64_FORMAT
                             " decoded frames", missing, decoded);
    }
    self->lead_in = GST_CLOCK_TIME_IS_VALID(stamp) && GST_CLOCK_TIME_IS_VALID(self->next_time) &&
                            stamp > self->next_time
                        ? stamp - self->next_time
                        : 0;
    if (payload != nullptr && GST_CLOCK_TIME_IS_VALID(start)) {
        self->next_time = start + decoded * g729_frame_duration;
    } else if (GST_CLOCK_TIME_IS_VALID(self->next_time)) {
        self->next_time += (missing + decoded) * g729_frame_duration;
    } else if (GST_CLOCK_TIME_IS_VALID(start)) {
        self->next_time = start + (missing + decoded) * g729_frame_duration;
    }
    clear_rejected(self);
    if (finished == 0) {
        // Nothing to finish: the owed frames went out with an earlier frame already.
        if (out != nullptr) {
            gst_buffer_unref(out);
        }
        return GST_FLOW_OK;
    }
    const GstFlowReturn ret = gst_audio_decoder_finish_frame(dec, out, finished);
    self->lead_in = 0;
    return ret;
}

// Frames owed for rejected buffers, up to `until` (their end when not valid).
guint64 owed_frames(G729Dec* self, GstClockTime until) {
    if (!GST_CLOCK_TIME_IS_VALID(until)) {
        until = self->owed_until;
    }
    return self->owed_frames + frames_until(self, until);
}

// A buffer that cannot be decoded is an error of weight 1 towards max-errors. Its time is
// concealed with the next output, which finishes it too: output of its own would count as a
// decoded frame and clear the count of errors in a row.
GstFlowReturn reject(G729Dec* self, GstBuffer* buffer) {
    const gsize size = gst_buffer_get_size(buffer);
    GstFlowReturn ret = GST_FLOW_OK;
    GST_AUDIO_DECODER_ERROR(self, 1, STREAM, DECODE, (nullptr),
                            ("buffer of %" G_GSIZE_FORMAT " bytes is not a run of 10-byte "
                             "frames with at most one 2-byte SID frame at the end",
                             size),
                            ret);
    if (ret != GST_FLOW_OK) {
        return ret;
    }
    const GstClockTime start = GST_BUFFER_PTS(buffer);
    const GstClockTime duration = GST_BUFFER_DURATION(buffer);
    if (self->unfinished++ == 0) {
        self->unfinished_time = start;
    }
    if (GST_CLOCK_TIME_IS_VALID(start) && GST_CLOCK_TIME_IS_VALID(duration) &&
        GST_CLOCK_TIME_IS_VALID(self->next_time)) {
        const GstClockTime end = start + duration;
        if (!GST_CLOCK_TIME_IS_VALID(self->owed_until) || end > self->owed_until) {
            self->owed_until = end;
        }
    } else {
        self->owed_frames += GST_CLOCK_TIME_IS_VALID(duration)
                                 ? frames_in(duration)
                                 : (size + G729_SPEECH_FRAME_BYTES - 1) / G729_SPEECH_FRAME_BYTES;
    }
    return GST_FLOW_OK;
}

GstFlowReturn dec_handle_frame(GstAudioDecoder* dec, GstBuffer* buffer) {
    G729Dec* self = G729_DEC(dec);
    if (buffer == nullptr) {
        // Drain (end of stream, discontinuity): conceal what rejected buffers still owe.
        return output(self, owed_frames(self, GST_CLOCK_TIME_NONE), nullptr, false,
                      GST_CLOCK_TIME_NONE);
    }
    const GstClockTime start = GST_BUFFER_PTS(buffer);
    const gsize size = gst_buffer_get_size(buffer);
    if (size == 0) {
        // A gap: the frames owed before it, then the gap's own.
        const guint64 owed = self->owed_frames;
        return output(self, owed + frames_of_gap(self, buffer), nullptr, true, start);
    }
    const gsize rest = size % G729_SPEECH_FRAME_BYTES;
    if (rest != 0 && rest != G729_SID_FRAME_BYTES) {
        return reject(self, buffer);
    }
    const guint64 missing = owed_frames(self, start);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot map the input buffer"));
        return GST_FLOW_ERROR;
    }
    // Finishing the frame releases the input buffer: keep a reference while it is mapped.
    gst_buffer_ref(buffer);
    const GstFlowReturn ret = output(self, missing, &map, true, start);
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    return ret;
}

GstFlowReturn dec_pre_push(GstAudioDecoder* dec, GstBuffer** buffer) {
    G729Dec* self = G729_DEC(dec);
    const GstClockTime pts = GST_BUFFER_PTS(*buffer);
    if (self->lead_in > 0 && GST_CLOCK_TIME_IS_VALID(pts) && pts >= self->lead_in) {
        *buffer = gst_buffer_make_writable(*buffer);
        GST_BUFFER_PTS(*buffer) = pts - self->lead_in;
    }
    return GST_FLOW_OK;
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

    GST_DEBUG_CATEGORY_INIT(g729dec_debug, "g729dec", 0, "G.729 decoder");
}

static void g729_dec_init(G729Dec* self) {
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_plc(dec, TRUE);
    reset_stream(self);
}
