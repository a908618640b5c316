#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Checks the ABI of libg729.so.1 against the stored baseline abi/libg729.so.1.abi (libabigail's
# abidw/abidiff from Debian's abigail-tools, installed here if missing). The baseline holds the
# public ABI only: the exported g729_ functions and the types of include/g729/g729.h, the
# records' layout included. The check fails on any incompatible change (a function removed or
# changed, a record that grows, shrinks or changes) and passes when functions are only added.
#
#   scripts/check-abi.sh [BUILD_DIR]            check (BUILD_DIR default: build)
#   scripts/check-abi.sh --update [BUILD_DIR]   rewrite the baseline from the tree as it is
#
# The library must carry debug information (abidw reads the types from DWARF; without it it
# sees the symbols only). When BUILD_DIR's library has none (a Release build), a small
# RelWithDebInfo build of the library alone is configured and built in ABI_BUILD_DIR
# (default build-abi), scalar kernels only: the vector kernels export nothing and change no
# public type, so the ABI is the same and the build quick.
#
# A release that adds functions runs --update and commits the new baseline with the change,
# saying why; a change this check refuses needs a new SONAME instead.
set -euo pipefail
cd "$(dirname "$0")/.."

update=0
if [ "${1:-}" = "--update" ]; then
  update=1
  shift
fi
BUILD_DIR="${1:-build}"
ABI_BUILD_DIR="${ABI_BUILD_DIR:-build-abi}"
BASELINE=abi/libg729.so.1.abi

if ! command -v abidw >/dev/null || ! command -v abidiff >/dev/null; then
  echo "installing abigail-tools"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq abigail-tools >/dev/null
fi

# (The whole section list is read first: grep -q in a pipe could cut readelf off, and pipefail
# would count that as a failure.)
has_debug_info() { [[ "$(readelf -S "$1" 2>/dev/null)" == *.debug_info* ]]; }

lib="$BUILD_DIR/lib/libg729.so.1"
if ! [ -e "$lib" ] || ! has_debug_info "$lib"; then
  echo "$lib: missing or without debug information; building the library in $ABI_BUILD_DIR"
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$ABI_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DG729_WERROR=ON \
    -DG729_SIMD=OFF -DG729_BUILD_TOOLS=OFF -DG729_BUILD_MODULE=OFF -DG729_BUILD_TESTS=OFF \
    -DG729_BUILD_BENCH=OFF -DG729_BUILD_GSTREAMER=OFF "${launcher[@]}" >/dev/null
  cmake --build "$ABI_BUILD_DIR" --target g729_shared -j"$(nproc)" >/dev/null
  lib="$ABI_BUILD_DIR/lib/libg729.so.1"
  if ! has_debug_info "$lib"; then
    echo "check-abi: $lib has no debug information" >&2
    exit 1
  fi
fi

# The same options make the baseline and the current description, so that only the ABI
# differs: the exported functions and the public types they reach only, and nothing that depends on the machine or the build directory
# (paths, source locations, needed libraries); hashed type ids keep the file stable.
describe() {
  abidw --headers-dir include/g729 --drop-private-types --exported-interfaces-only \
    --no-corpus-path --no-comp-dir-path --no-show-locs --no-elf-needed --type-id-style hash \
    --out-file "$2" "$1"
  # Source file names as in the tree, however the compiler was given them.
  sed -i -E "s#(<abi-instr [^>]* path=')[^']*/(codec/)#\1\2#" "$2"
}

if [ "$update" = 1 ]; then
  mkdir -p abi
  describe "$lib" "$BASELINE"
  echo "check-abi: $BASELINE rewritten from $lib"
  exit 0
fi

current=$(mktemp)
trap 'rm -f "$current"' EXIT
describe "$lib" "$current"

# abidiff's exit status: bit 0 an error, bit 1 a usage error, bit 2 some ABI change, bit 3 an
# incompatible one (a removed function). A record that changes behind a pointer sets bit 2
# only, so any change other than an added function fails too: the second run leaves added
# functions out and must find nothing.
status=0
abidiff "$BASELINE" "$current" >/dev/null || status=$?
if ((status & 3)); then
  echo "check-abi: abidiff failed (status $status)" >&2
  abidiff "$BASELINE" "$current" >&2 || true
  exit 1
fi
if ((status & 8)); then
  abidiff "$BASELINE" "$current" || true
  echo "check-abi: incompatible ABI change against $BASELINE (a function removed or changed)" >&2
  exit 1
fi
if ((status & 4)); then
  rest=0
  abidiff --no-added-syms "$BASELINE" "$current" >/dev/null || rest=$?
  if ((rest != 0)); then
    abidiff --no-added-syms "$BASELINE" "$current" || true
    echo "check-abi: ABI change against $BASELINE beyond added functions (a record or" \
      "function changed)" >&2
    exit 1
  fi
  abidiff "$BASELINE" "$current" || true
  echo "check-abi: functions added since $BASELINE (compatible; run --update to record them)"
  exit 0
fi
echo "check-abi: $lib matches $BASELINE"
