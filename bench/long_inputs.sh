#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Peak memory and speed of the g729 tool and of pelhost transcode on long inputs, measured
# with GNU time (/usr/bin/time -v, Debian package "time").
#
#   bench/long_inputs.sh                  # 1 h and 10 h of speech, in $WORK_DIR
#
# Environment:
#   BUILD_DIR  build directory (default: build)
#   HOURS      input lengths in hours (default: "1 10")
#   WORK_DIR   folder for the inputs and outputs (default: /tmp/g729_long_inputs; a 10 h input
#              is 576 MB of raw PCM, and its outputs about 1.3 GB more); removed at the end
#
# The inputs repeat data/speech_sample.wav's samples (raw 16-bit 8 kHz mono). Per input:
# encode to raw frames and to the ITU format, decode both (raw PCM and WAV out), and transcode
# through the module in pelhost. One line per run: maximum resident set size, wall time and
# CPU time.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
bin="$(cd "$BUILD_DIR/bin" && pwd)"
work="${WORK_DIR:-/tmp/g729_long_inputs}"
command -v /usr/bin/time >/dev/null || { echo "long_inputs.sh: /usr/bin/time is missing (apt-get install time)" >&2; exit 2; }
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# The recording's samples: everything after its 44-byte canonical header.
tail -c +45 data/speech_sample.wav >"$work/speech.raw"

run() {  # label, command...
  local label=$1
  shift
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.log" || { cat "$work/time.log" >&2; exit 1; }
  local rss wall user sys
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.log")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.log")
  user=$(sed -n 's/.*User time (seconds): //p' "$work/time.log")
  sys=$(sed -n 's/.*System time (seconds): //p' "$work/time.log")
  printf '%-48s max RSS %7s kB   wall %8s   CPU %7.2f s\n' "$label" "$rss" "$wall" \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')"
}

for h in ${HOURS:-1 10}; do
  input="$work/${h}h.raw"
  bytes=$((h * 3600 * 8000 * 2))
  : >"$input"
  copies=$((bytes / $(stat -c %s "$work/speech.raw") + 1))
  for ((i = 0; i < copies; ++i)); do cat "$work/speech.raw" >>"$input"; done
  truncate -s "$bytes" "$input"
  echo "== ${h} h of speech: $bytes bytes of raw PCM"
  run "g729 encode ${h}h.raw -> raw frames" "$bin/g729" encode "$input" "$work/${h}h.g729"
  run "g729 encode ${h}h.raw -> itu" "$bin/g729" encode "$input" "$work/${h}h.bit"
  run "g729 decode raw frames -> raw PCM" "$bin/g729" decode "$work/${h}h.g729" "$work/${h}h.dec.raw"
  run "g729 decode itu -> WAV" "$bin/g729" decode "$work/${h}h.bit" "$work/${h}h.dec.wav"
  run "pelhost transcode ${h}h.raw -> WAV" "$bin/pelhost" transcode "$input" "$work/${h}h.pel.wav"
  rm -f "$work/${h}"h.*
done
