#!/usr/bin/env bash
# Builds the Debian packages (libg729-1, libg729-dev, g729-tools, pellarion-codec-orvane, and
# gstreamer1.0-g729 where GStreamer is found) for the /usr prefix in build-pkg and writes them
# to build-pkg/packages. Install one with
#   sudo apt install ./build-pkg/packages/libg729-1_*.deb
#
#   PKG_BUILD_DIR   build directory (default build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."
PKG_BUILD_DIR="${PKG_BUILD_DIR:-build-pkg}"

cmake -S . -B "$PKG_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DG729_BUILD_TESTS=OFF -DG729_BUILD_BENCH=OFF >/dev/null
cmake --build "$PKG_BUILD_DIR" -j"$(nproc)"
(cd "$PKG_BUILD_DIR" && cpack -G DEB -B "$PWD/packages")
ls -1 "$PKG_BUILD_DIR"/packages/*.deb
