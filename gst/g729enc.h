// SPDX-License-Identifier: BSD-2-Clause
// g729enc: 8 kHz mono S16LE audio in, G.729 frames out (audio/G729, as rtpg729pay takes them).
#pragma once

#include <gst/audio/gstaudioencoder.h>

G_BEGIN_DECLS

#define G729_TYPE_ENC (g729_enc_get_type())
G_DECLARE_FINAL_TYPE(G729Enc, g729_enc, G729, ENC, GstAudioEncoder)

G_END_DECLS
