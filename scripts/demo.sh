#!/usr/bin/env bash
# Fresh-machine main job: install what is missing, build, and transcode real speech
# (PCM -> G.729 -> PCM) with the g729 tool, printing what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target g729 >/dev/null

input=data/speech_sample.wav
mkdir -p out
start=$(date +%s%N)
build/bin/g729 encode "$input" out/speech_sample.g729
mid=$(date +%s%N)
build/bin/g729 decode out/speech_sample.g729 out/speech_sample_decoded.wav
end=$(date +%s%N)

frames=$(( $(stat -c %s out/speech_sample.g729) / 10 ))
seconds=$(awk -v f="$frames" 'BEGIN { printf "%.2f", f / 100 }')
echo "input:    $input ($seconds s of 8 kHz speech)"
echo "encoded:  out/speech_sample.g729 ($frames frames, $(stat -c %s out/speech_sample.g729) bytes, 8 kbit/s)"
echo "encode:   $(( (mid - start) / 1000000 )) ms wall (process start included)"
echo "decode:   $(( (end - mid) / 1000000 )) ms wall (process start included)"
echo "output:   out/speech_sample_decoded.wav"
