#!/usr/bin/env bash
# Installs the Debian packages the build, the tools and the tests need, if any is missing.
set -euo pipefail

# libhwy-dev: Highway, the SIMD library of the channel-parallel kernels.
# clang, its runtime libraries (libFuzzer, sanitizers) and llvm (llvm-symbolizer) are for the
# fuzz targets and readable sanitizer reports; help2man writes the g729 tool's man page.
packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libcli11-dev libhwy-dev valgrind clang libclang-rt-14-dev llvm help2man)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
