/* SPDX-License-Identifier: BSD-2-Clause */
/* Encodes raw 16-bit little-endian 8 kHz mono PCM with libg729, decodes the frames back and
 * prints the frame count. Build against an installed libg729:
 *
 *     cc -std=c99 roundtrip.c $(pkg-config --cflags --libs g729) -o roundtrip
 *     ./roundtrip INPUT.raw OUTPUT.raw
 *
 * OUTPUT.raw receives the decoded PCM in the same format. A partial final frame is dropped.
 * Exit status 0 on success, 1 on an input/output error, 2 on a usage error. */
#include <g729/g729.h>

#include <stdio.h>
#include <string.h>

static int16_t from_le16(const unsigned char *b) {
    return (int16_t)(uint16_t)(b[0] | (b[1] << 8));
}

static void to_le16(int16_t v, unsigned char *b) {
    b[0] = (unsigned char)((uint16_t)v & 0xFF);
    b[1] = (unsigned char)((uint16_t)v >> 8);
}

int main(int argc, char **argv) {
    FILE *in;
    FILE *out;
    g729_encoder_state encoder;
    g729_decoder_state decoder;
    unsigned char bytes[2 * G729_FRAME_SIZE];
    int16_t pcm[G729_FRAME_SIZE];
    uint8_t frame[G729_SPEECH_FRAME_BYTES];
    int32_t frame_bytes = 0;
    long frames = 0;
    int status = 0;
    int i;

    if (argc != 3) {
        fprintf(stderr, "usage: %s INPUT.raw OUTPUT.raw\n", argv[0]);
        return 2;
    }
    in = fopen(argv[1], "rb");
    if (in == NULL) {
        fprintf(stderr, "roundtrip: cannot open %s\n", argv[1]);
        return 1;
    }
    out = fopen(argv[2], "wb");
    if (out == NULL) {
        fprintf(stderr, "roundtrip: cannot create %s\n", argv[2]);
        fclose(in);
        return 1;
    }

    g729_encoder_init(&encoder, 0); /* 0: no DTX, every frame is a 10-byte speech frame */
    g729_decoder_init(&decoder);

    while (fread(bytes, 1, sizeof bytes, in) == sizeof bytes) {
        for (i = 0; i < G729_FRAME_SIZE; ++i) pcm[i] = from_le16(bytes + 2 * i);
        g729_encode_frame(&encoder, pcm, frame, &frame_bytes);
        if (g729_decode_frame(&decoder, pcm, frame, (int)frame_bytes) != 0) {
            fprintf(stderr, "roundtrip: frame %ld: unexpected frame length %d\n", frames,
                    (int)frame_bytes);
            status = 1;
            break;
        }
        for (i = 0; i < G729_FRAME_SIZE; ++i) to_le16(pcm[i], bytes + 2 * i);
        if (fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes) {
            fprintf(stderr, "roundtrip: cannot write %s\n", argv[2]);
            status = 1;
            break;
        }
        ++frames;
    }
    if (ferror(in)) {
        fprintf(stderr, "roundtrip: cannot read %s\n", argv[1]);
        status = 1;
    }
    fclose(in);
    if (fclose(out) != 0 && status == 0) {
        fprintf(stderr, "roundtrip: cannot write %s\n", argv[2]);
        status = 1;
    }
    if (status == 0) {
        printf("libg729 %s: %ld frames encoded and decoded (%ld bytes coded)\n",
               g729_version_string(), frames, frames * G729_SPEECH_FRAME_BYTES);
    }
    return status;
}
