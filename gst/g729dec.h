// SPDX-License-Identifier: BSD-2-Clause
// g729dec: G.729 frames in (audio/G729), 8 kHz mono S16LE audio out, with loss concealment and
// comfort noise for the frames that did not arrive.
#pragma once

#include <gst/audio/gstaudiodecoder.h>

G_BEGIN_DECLS

#define G729_TYPE_DEC (g729_dec_get_type())
G_DECLARE_FINAL_TYPE(G729Dec, g729_dec, G729, DEC, GstAudioDecoder)

G_END_DECLS
