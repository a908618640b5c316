// SPDX-License-Identifier: BSD-2-Clause
// The library's version string, built from the version macros of the public header.
#include "codec/g729.h"

#define G729_STRINGIFY_(x) #x
#define G729_STRINGIFY(x) G729_STRINGIFY_(x)

const char* g729_version_string(void) {
    return G729_STRINGIFY(G729_VERSION_MAJOR) "." G729_STRINGIFY(
        G729_VERSION_MINOR) "." G729_STRINGIFY(G729_VERSION_PATCH);
}
