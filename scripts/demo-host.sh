#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Fresh-machine main job: install what is missing, build everything, load the codec_orvane
# module into the stand-in PBX host pelhost, print the module's version line, and transcode
# real speech (slin -> G.729 -> slin) through its two translators, printing frame counts and
# the CPU cost of each direction.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
bash scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" >/dev/null

host="$BUILD_DIR/bin/pelhost"
output=out/speech_sample_transcoded.wav
mkdir -p out
echo "== $host cli \"g729 show version\""
"$host" cli "g729 show version"
echo "== $host transcode data/speech_sample.wav $output"
"$host" transcode data/speech_sample.wav "$output"
