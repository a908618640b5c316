// SPDX-License-Identifier: BSD-2-Clause
// The postfilter's preparation and last step of many channels at once, and the decoder's last
// steps from the speech synthesis to the output (lane_postfilter.cpp; single-channel:
// postfilter.h, decoder_frame.h).
#pragma once

#include "codec/batch/lane_kernels.h"
#include "codec/decoder/postfilter.h"

namespace g729 {

// postfilter_prepare(pf[i], speech[i], lags[i], frame_types[i], work[i]) (postfilter.h) of
// count channels side by side, without the synthesis jobs (postfilter_synthesis_job).
void postfilter_prepare_channels(g729_postfilter_state* const pf[], const double* const speech[],
                                 const int32_t* const lags[], const int32_t frame_types[],
                                 PostfilterWork* const work[], int count, int kernels = -1);

// postfilter_finish(pf[i], speech[i], work[i]) (postfilter.h) of count channels side by side.
void postfilter_finish_channels(g729_postfilter_state* const pf[], double* const speech[],
                                PostfilterWork* const work[], int count, int kernels = -1);

// Doubles of scratch decoder_output_channels needs: for four vectors of up to 8 lanes, their
// frames of 80 samples, their speech with its past (90), the synthesis filters' coefficients
// (20), the LPC filters (22), a synthesis memory (10) and the high-pass filter's memories (4).
inline constexpr int kDecoderOutputScratch = 4 * 8 * (80 + 90 + 20 + 22 + 10 + 4);

// What the batched decoder's last steps take of each of its channels' frames.
struct DecoderFrames {
    g729_postfilter_state* const* postfilters;
    double* const* speech;             // speech[-10..79]: the past, then the frame
    const double* const* lpc;          // both subframes' LPC filters (22)
    const double* const* excitation;   // a speech frame's excitation (80), else null
    double* const* synthesis_memory;   // its synthesis filter's memory (10)
    const int32_t* const* lags;
    const int32_t* frame_types;
    double* const* highpass_memories;  // the output high-pass filter's (4)

    DecoderFrames from(int first) const {
        return {postfilters + first,      speech + first,     lpc + first,
                excitation + first,       synthesis_memory + first, lags + first,
                frame_types + first,      highpass_memories + first};
    }
};

// For count channels side by side, what the speech frames' synthesis filters (both subframes,
// from the excitation, the memory kept), then postfilter_frame(postfilters[i], speech[i],
// lpc[i], lags[i], frame_types[i]) and post_highpass_filter(highpass_memories[i], speech[i],
// 80) (postfilter.h) do to each, with the frames kept in vector lanes from the first step to
// the last. Frames other than speech have their speech in speech[i] already. scratch:
// kDecoderOutputScratch doubles, 64-byte aligned.
void decoder_output_channels(const DecoderFrames& frames, int count, double* scratch,
                             int kernels = -1);

}  // namespace g729
