#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Instructions per frame of the encoder and the decoder, counted by callgrind on real speech.
#
#   bench/instructions.sh                 # uses the build in ./build
#   BUILD_DIR=build-release bench/instructions.sh
#
# Environment:
#   BUILD_DIR  build directory, relative to the repository root or absolute (default: build)
#   SPEECH     speech file (default: the ITU speech.in beside the repository, else
#              data/speech_sample.wav)
#   FRAMES     frames to code (default: every frame of the speech)
#   KEEP_DIR   if set, the callgrind output files are copied there (for callgrind_annotate)
#   NO_BUILD   if set, the driver is taken as built (from ctest, which builds it beforehand)
#   MAX_ENCODE, MAX_DECODE
#              if set, the run fails (status 1, after the figures) when a figure is above
#
# The driver is brought up to date in BUILD_DIR first: g729_frame_counter, the frame driver
# linked without libhwy (whose load-time timer calibration executes RDTSCP, which valgrind
# refuses with SIGILL on virtual processors that hide it), with the same codec objects and the
# instruction set valgrind offers (AVX2). Each direction runs
# twice under callgrind, with FRAMES frames and with 0 frames; the difference of the two
# instruction totals, divided by FRAMES, is the cost of one frame without process start-up and
# file reading. The decoder reads our own encoder's bitstream of the same speech.
# The last two lines of the output are always:
#   encode: N instructions per frame
#   decode: N instructions per frame
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-build}
case $build in /*) ;; *) build=$root/$build ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "no CMake build in $build; configure it first, e.g.:" >&2
    echo "  cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release" >&2
    exit 1
fi
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "${NO_BUILD:-}" ] || cmake --build "$build" --target g729_frame_counter -j2 >/dev/null
driver=$build/bin/g729_frame_counter

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

speech=${SPEECH:-}
if [ -z "$speech" ]; then
    speech=$("$driver" 2>&1 | sed -n 's/^default SPEECH: //p')
fi
frames_available=$("$driver" write-bits "$speech" "$work/speech.g729" | sed -n 's/ frames$//p')
frames=${FRAMES:-$frames_available}
[ "$frames" -gt 0 ] || { echo "FRAMES must be positive" >&2; exit 1; }

# Total instructions (Ir) of one run of the driver under callgrind, counted inside main only:
# what runs before main (the C++ runtime's and libraries' initializers) is not the codec's.
count() {
    out=$work/callgrind.$1.$2.out
    valgrind --tool=callgrind --toggle-collect=main --callgrind-out-file="$out" "$driver" "$@" \
        >/dev/null 2>"$work/valgrind.log" || {
        cat "$work/valgrind.log" >&2
        exit 1
    }
    sed -n 's/^\(summary\|totals\): *\([0-9]*\).*/\2/p' "$out" | head -n 1
}

enc_n=$(count encode "$frames" "$speech")
enc_0=$(count encode 0 "$speech")
dec_n=$(count decode "$frames" "$work/speech.g729")
dec_0=$(count decode 0 "$work/speech.g729")

if [ -n "${KEEP_DIR:-}" ]; then
    mkdir -p "$KEEP_DIR"
    cp "$work"/callgrind.*.out "$KEEP_DIR"/
fi

echo "build:  $build ($build_type)"
echo "speech: $speech, $frames frames"
echo "totals: encoder run $enc_n instructions with $frames frames, $enc_0 with 0 frames"
echo "totals: decoder run $dec_n instructions with $frames frames, $dec_0 with 0 frames"
encode=$(( (enc_n - enc_0) / frames ))
decode=$(( (dec_n - dec_0) / frames ))
echo "encode: $encode instructions per frame"
echo "decode: $decode instructions per frame"
over=0
if [ -n "${MAX_ENCODE:-}" ] && [ "$encode" -gt "$MAX_ENCODE" ]; then
    echo "the encoder takes more than $MAX_ENCODE instructions per frame" >&2
    over=1
fi
if [ -n "${MAX_DECODE:-}" ] && [ "$decode" -gt "$MAX_DECODE" ]; then
    echo "the decoder takes more than $MAX_DECODE instructions per frame" >&2
    over=1
fi
exit $over
