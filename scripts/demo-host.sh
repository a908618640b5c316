#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Fresh-machine main job: install what is missing, build what the demo runs (the codec, the
# codec_orvane module, the stand-in PBX host pelhost and the g729 tool; the tests and
# benchmarks are left to the test command), load the module into pelhost, print the module's
# version line, and transcode real speech (slin -> G.729 -> slin) through its two
# translators, printing frame counts and the CPU cost of each direction.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
start=$SECONDS
echo "== installing what is missing"
bash scripts/install-deps.sh
echo "== configuring $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
echo "== building the codec, the module, pelhost and g729 (progress in per cent)"
# Make's own lines, each starting with the per cent done; compiler messages go to stderr.
cmake --build "$BUILD_DIR" -j"$(nproc)" --target codec_orvane pelhost g729 | sed -n '/^\[ *[0-9]*%\]/p'
echo "== built in $((SECONDS - start)) s"

host="$BUILD_DIR/bin/pelhost"
output=out/speech_sample_transcoded.wav
mkdir -p out
echo "== $host cli \"g729 show version\""
"$host" cli "g729 show version"
echo "== $host transcode data/speech_sample.wav $output"
"$host" transcode data/speech_sample.wav "$output"
