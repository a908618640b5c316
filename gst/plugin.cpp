// SPDX-License-Identifier: BSD-2-Clause
// The g729 GStreamer plugin: registers g729enc and g729dec.

#include <gst/gst.h>

#include "gst/g729dec.h"
#include "gst/g729enc.h"

// GST_PLUGIN_DEFINE names the plugin's package through PACKAGE.
#define PACKAGE "g729_codec"
#ifndef G729_VERSION
#define G729_VERSION "0.0"
#endif

static gboolean plugin_init(GstPlugin* plugin) {
    return gst_element_register(plugin, "g729enc", GST_RANK_SECONDARY, G729_TYPE_ENC) &&
           gst_element_register(plugin, "g729dec", GST_RANK_SECONDARY, G729_TYPE_DEC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, g729,
                  "G.729 Annex A speech codec with VAD/DTX and comfort noise (Annex B)",
                  plugin_init, G729_VERSION, "BSD", "g729_codec", "g729 codec project")
