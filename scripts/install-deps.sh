#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Installs the Debian packages the build, the tools and the tests need, if any is missing.
set -euo pipefail

# libhwy-dev: Highway, the SIMD library of the channel-parallel kernels.
# clang, its runtime libraries (libFuzzer, sanitizers) and llvm (llvm-symbolizer) are for the
# fuzz targets and readable sanitizer reports; help2man writes the g729 tool's man page;
# libsndfile reads and writes audio files, libsoxr converts their sample rate to 8000 Hz.
# abigail-tools (abidw, abidiff) checks the library's ABI against its baseline (check-abi.sh).
# nlohmann-json3-dev writes the capture statistics as JSON (g729 streams --json).
packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libsoxr-dev libcli11-dev libhwy-dev libpcap-dev nlohmann-json3-dev
          valgrind clang libclang-rt-14-dev
          llvm help2man abigail-tools)
# The GStreamer plugin (gst/) and its tests: the core, the base classes, gst-inspect/gst-launch
# and the base and good plugin packs (wavparse, wavenc, the G.729 RTP payloader, jitter buffer,
# UDP). Installed without recommends, and nothing else of the multimedia stack: the libav,
# bad and ugly plugin packs and ffmpeg carry another implementation of this codec.
# lintian (scripts/check-packages.sh checks the Debian packages) goes in without recommends too,
# and so does chromium, which loads the call report headless in its browser test (run with
# node 18 or later and npm, which install playwright-core to drive it; no browser download).
# Debian's nodejs and npm come too, unless a node is already installed (another distribution
# of it, whose npm Debian's would conflict with).
# The Python package (python/, scripts/python-tests.sh), without recommends too: pybind11 for
# the extension, numpy, pytest, dask.distributed for the archive example, and Debian's venv,
# pip, setuptools and wheel to build and install it for Debian's python3.
gst_packages=(libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
              gstreamer1.0-plugins-base gstreamer1.0-plugins-good lintian chromium
              python3-pybind11 pybind11-dev python3-numpy python3-pytest python3-distributed
              python3-venv python3-pip python3-setuptools python3-wheel)

# A package counts only when installed for this machine's architecture (or for all): after the
# Arm cross build has installed libhwy-dev:arm64, the native one may still be missing.
native_arch=$(dpkg --print-architecture)
installed() {
  local a
  for a in "$native_arch" all; do
    dpkg-query -W -f='${Status}' "$1:$a" 2>/dev/null | grep -q "install ok installed" && return 0
  done
  return 1
}
missing_of() {
  local p
  for p in "$@"; do
    installed "$p" || echo "$p"
  done
}
command -v node >/dev/null || gst_packages+=(nodejs npm)
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_gst < <(missing_of "${gst_packages[@]}")
if ((${#missing[@]} + ${#missing_gst[@]})); then
  echo "installing: ${missing[*]} ${missing_gst[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  if ((${#missing_gst[@]})); then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing_gst[@]}" >/dev/null
  fi
fi
