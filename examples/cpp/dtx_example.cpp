// SPDX-License-Identifier: BSD-2-Clause
// Encodes one second of a tone followed by one second of silence with DTX on, sends the
// frames over a channel that loses every tenth one, decodes what arrives, and prints what
// each kind of frame counted. Built with find_package(G729) (see CMakeLists.txt).
#include <g729/g729.h>

#include <array>
#include <cmath>
#include <cstdio>

constexpr double kPi = 3.14159265358979323846;

int main() {
    g729_encoder_state encoder;
    g729_decoder_state decoder;
    g729_encoder_init(&encoder, 1);  // 1: DTX on, pauses become SID or untransmitted frames
    g729_decoder_init(&decoder);

    constexpr int frames = 200;  // 2 s
    int speech = 0, sid = 0, untransmitted = 0, lost = 0;
    double tone_energy = 0.0;
    std::array<int16_t, G729_FRAME_SIZE> pcm{};
    std::array<uint8_t, G729_SPEECH_FRAME_BYTES> bytes{};

    for (int f = 0; f < frames; ++f) {
        for (int n = 0; n < G729_FRAME_SIZE; ++n) {
            const int t = f * G729_FRAME_SIZE + n;
            pcm[n] = f < frames / 2 ? static_cast<int16_t>(6000.0 * std::sin(t * 0.2 * kPi)) : 0;
        }
        int32_t length = 0;
        g729_encode_frame(&encoder, pcm.data(), bytes.data(), &length);

        if (f % 10 == 9) {
            g729_decode_lost_frame(&decoder, pcm.data());
            ++lost;
        } else if (length == 0) {
            g729_decode_untransmitted_frame(&decoder, pcm.data());
            ++untransmitted;
        } else if (g729_decode_frame(&decoder, pcm.data(), bytes.data(), length) == 0) {
            ++(length == G729_SID_FRAME_BYTES ? sid : speech);
        } else {
            std::fprintf(stderr, "dtx_example: frame %d: unexpected length %d\n", f, length);
            return 1;
        }
        if (f >= 10 && f < frames / 2) {
            for (int16_t s : pcm) tone_energy += static_cast<double>(s) * s;
        }
    }
    const double tone_rms = std::sqrt(tone_energy / ((frames / 2 - 10) * G729_FRAME_SIZE));
    std::printf("libg729 %s: %d frames: %d speech, %d SID, %d untransmitted, %d lost; "
                "decoded tone RMS %.0f\n",
                g729_version_string(), frames, speech, sid, untransmitted, lost, tone_rms);
    // The tone must come back and the pause must have used DTX.
    return (tone_rms > 1000.0 && sid + untransmitted > 0) ? 0 : 1;
}
