#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Builds the Debian packages (libg729-1, libg729-dev, g729-tools, pellarion-codec-orvane, and
# gstreamer1.0-g729 where GStreamer is found) for the /usr prefix in build-pkg and writes them
# to build-pkg/packages, each with its -dbgsym package (.ddeb: the separated debug symbols).
# Compiled with Debian's build flags (dpkg-buildflags: debug information, hardening); the
# codec's own -ffp-contract=off keeps its output exact. Install one as root with
#   apt-get install ./build-pkg/packages/libg729-1_*.deb
#
#   PKG_BUILD_DIR   build directory (default build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."
PKG_BUILD_DIR="${PKG_BUILD_DIR:-build-pkg}"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# All of the hardening flags, immediate binding (-z now) included.
export DEB_BUILD_MAINT_OPTIONS="${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}"
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$PKG_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DG729_BUILD_TESTS=OFF -DG729_BUILD_BENCH=OFF "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$PKG_BUILD_DIR" -j"$(nproc)"
rm -rf "$PKG_BUILD_DIR/packages"
(cd "$PKG_BUILD_DIR" && cpack -G DEB -B "$PWD/packages" >/dev/null)
ls -1 "$PKG_BUILD_DIR"/packages/*.deb "$PKG_BUILD_DIR"/packages/*.ddeb
