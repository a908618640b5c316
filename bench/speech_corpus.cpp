// SPDX-License-Identifier: BSD-2-Clause
#include "bench/speech_corpus.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "codec/common/taming.h"
#include "codec/decoder/decoder_frame.h"
#include "codec/encoder/encoder_frame.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/lpc/lpc_analysis.h"
#include "codec/lpc/primitives.h"
#include "lib/io/audio_reader.h"

using namespace g729;

namespace g729bench {

namespace {

// The weighting filter of the weighted speech: ap(z) times (1 - 0.7 z^-1).
void tilted(const double ap[11], double out[11]) {
    out[0] = 1.0;
    for (int i = 1; i <= 10; ++i) out[i] = ap[i] - 0.7 * ap[i - 1];
}

// Search range of subframe 1 around the open-loop lag.
void lag_range(int32_t t_op, int32_t* t0_min, int32_t* t0_max) {
    *t0_min = t_op - 3;
    if (*t0_min < 20) {
        *t0_min = 20;
        *t0_max = 26;
        return;
    }
    *t0_max = t_op + 3;
    if (*t0_max > 143) {
        *t0_max = 143;
        *t0_min = 137;
    }
}

void fill_encoder_inputs(const g729_encoder_state& pre, const g729_encoder_state& post,
                         EncoderFrameInputs* in) {
    std::memcpy(in->speech_window, pre.speech_buf, sizeof in->speech_window);
    std::memcpy(in->wsp, pre.wsp_buf, 143 * sizeof(double));
    std::memcpy(in->wsp + 143, post.wsp_buf + 63, 80 * sizeof(double));
    std::memcpy(in->lsp, post.lsp_prev, sizeof in->lsp);
    std::memcpy(in->lsf_memory, pre.lsf_ma_memory, sizeof in->lsf_memory);
    std::memcpy(in->wsp_memory, pre.mem_wsp, sizeof in->wsp_memory);
    in->sharp = pre.sharp;

    double aq[22];
    lsp_interpolate_to_lpc(pre.lsp_prev_q, post.lsp_prev_q, aq);
    double ap[11];
    lpc_weight(aq, 10, ap, 0.75);
    tilted(ap, in->weighted_filter);

    std::memcpy(in->exc, pre.exc_buf, 154 * sizeof(double));
    lpc_residual_filter(aq, pre.speech_buf + 120, in->exc + 154, 40);
    lpc_residual_filter(aq + 11, pre.speech_buf + 160, in->exc + 194, 40);
    std::memcpy(in->residual, in->exc + 154, sizeof in->residual);

    // The inputs must rebuild the encoder's own weighted speech, or they are not its inputs.
    double mem[10];
    std::memcpy(mem, in->wsp_memory, sizeof mem);
    double w[40];
    lpc_synthesis_filter(in->weighted_filter, in->residual, w, 40, mem, 1);
    if (std::memcmp(w, in->wsp + 143, sizeof w) != 0) {
        throw std::runtime_error("captured inputs do not reproduce the encoder's weighted speech");
    }

    double zero[10] = {};
    double h[40] = {};
    h[0] = 1.0;
    lpc_synthesis_filter(ap, h, in->impulse, 40, zero, 0);
    std::memcpy(mem, pre.mem_err_w, sizeof mem);
    lpc_synthesis_filter(ap, in->residual, in->target, 40, mem, 0);

    lag_range(open_loop_pitch_search(in->wsp + 143, 80), &in->t0_min, &in->t0_max);

    double exc[234];
    std::memcpy(exc, in->exc, sizeof exc);
    int32_t frac = 0;
    in->t0 = closed_loop_pitch_search(exc + 154, in->target, in->impulse, 40, in->t0_min,
                                      in->t0_max, 0, &frac);
    double y1[40];
    lpc_synthesis_filter(ap, exc + 154, y1, 40, zero, 0);
    double corr[5];
    double gp = adaptive_codebook_gain(in->target, y1, corr, 40);
    if (taming_check(pre.exc_err, in->t0, frac) == 1 && gp > 0.95) gp = 0.95;
    for (int n = 0; n < 40; ++n) in->fcb_target[n] = in->target[n] - gp * y1[n];
}

}  // namespace

Speech load_speech(const std::string& path) {
    Speech s;
    s.path = path;
    const std::unique_ptr<g729io::AudioReader> reader = g729io::AudioReader::open(path);
    s.samples = g729io::read_all(*reader);
    s.samples.resize(s.samples.size() / G729_FRAME_SIZE * G729_FRAME_SIZE);
    if (s.samples.empty()) throw std::runtime_error(path + ": no whole frame of speech");
    return s;
}

std::string default_speech_path() {
    const std::string itu = std::string(G729_SHARED_DIR) + "/itu-vectors/annex-a/speech.in";
    if (std::filesystem::exists(itu)) return itu;
    return G729_SPEECH_WAV;
}

std::vector<uint8_t> encode_stream(const std::vector<int16_t>& samples) {
    auto enc = std::make_unique<g729_encoder_state>();
    g729_encoder_init(enc.get(), 0);
    std::vector<uint8_t> bits;
    bits.reserve(samples.size() / 8);
    for (std::size_t pos = 0; pos + G729_FRAME_SIZE <= samples.size(); pos += G729_FRAME_SIZE) {
        uint8_t bytes[G729_SPEECH_FRAME_BYTES];
        int32_t count = 0;
        g729_encode_frame(enc.get(), samples.data() + pos, bytes, &count);
        if (count != G729_SPEECH_FRAME_BYTES) throw std::runtime_error("unexpected frame size");
        bits.insert(bits.end(), bytes, bytes + count);
    }
    return bits;
}

void capture_routine_inputs(const std::vector<int16_t>& samples, int stride,
                            std::vector<EncoderFrameInputs>* encoder,
                            std::vector<DecoderFrameInputs>* decoder) {
    auto enc = std::make_unique<g729_encoder_state>();
    auto pre = std::make_unique<g729_encoder_state>();
    auto dec = std::make_unique<g729_decoder_state>();
    auto dec_pre = std::make_unique<g729_decoder_state>();
    g729_encoder_init(enc.get(), 0);
    g729_decoder_init(dec.get());
    const int frames = static_cast<int>(samples.size() / G729_FRAME_SIZE);

    for (int k = 0; k < frames; ++k) {
        const int16_t* in = samples.data() + static_cast<std::size_t>(k) * G729_FRAME_SIZE;

        // The entry's preparation of the analysis window, on a copy.
        *pre = *enc;
        for (int i = 0; i < G729_FRAME_SIZE; ++i) pre->speech_buf[160 + i] = in[i];
        preprocess_highpass(pre->hpf_mem, pre->speech_buf + 160, G729_FRAME_SIZE);

        uint8_t bytes[G729_SPEECH_FRAME_BYTES];
        int32_t count = 0;
        g729_encode_frame(enc.get(), in, bytes, &count);
        if (k % stride == 0) {
            encoder->emplace_back();
            fill_encoder_inputs(*pre, *enc, &encoder->back());
        }

        // The decoder's synthesis before its postfilter, on a copy.
        *dec_pre = *dec;
        g729_decoded_params params;
        g729_unpack_frame(params, bytes, G729_FRAME_SPEECH);
        DecoderFrameInputs d{};
        decode_frame_parameters(dec_pre.get(), params, dec_pre->synth_buf + 10, d.lpc, d.lags,
                                &d.frame_type);
        std::memcpy(d.synthesis, dec_pre->synth_buf + 10, sizeof d.synthesis);
        decoder->push_back(d);

        int16_t out[G729_FRAME_SIZE];
        g729_decode_frame(dec.get(), out, bytes, count);
    }
}

}  // namespace g729bench
