#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Wall time of coding a set of files with the g729 tool's batch form against a shell loop of
# single-file commands, same files: encode (itu) and then decode every file. Runs alternate
# (loop, batch, parallel loop, one-thread batch, ...) so that a shared machine's load falls on
# all of them alike; every batch output is compared with the loop's.
#   bash bench/tool_batch.sh [FILES] [ROUNDS]        (defaults 32 and 3)
# BUILD_DIR (default build) holds bin/g729. The files cycle through the ITU speech vectors
# (../shared, when present) and data/speech_sample.wav.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tool="$here/${BUILD_DIR:-build}/bin/g729"
files=${1:-32}
rounds=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sources=("$here/data/speech_sample.wav")
for v in annex-a/speech.in annex-ab/tstseq1.in; do
  [ -f "$here/../shared/itu-vectors/$v" ] && sources+=("$here/../shared/itu-vectors/$v")
done
mkdir "$work/in"
for ((i = 0; i < files; i++)); do
  src=${sources[i % ${#sources[@]}]}
  cp "$src" "$work/in/f$i.${src##*.}"
done
seconds=0
for f in "$work"/in/*; do
  case $f in
    *.wav) seconds=$((seconds + ($(stat -c %s "$f") - 44) / 16000)) ;;
    *) seconds=$((seconds + $(stat -c %s "$f") / 16000)) ;;
  esac
done
echo "$files files, about $seconds s of audio; $(nproc) processors; $(lscpu | grep 'Model name' | sed 's/  */ /g')"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
tick=$(getconf CLK_TCK)
# CPU seconds (user + system) of this shell's finished children so far.
cpu() { awk -v t="$tick" '{ print ($16 + $17) / t }' "/proc/$$/stat"; }

loop() {  # one single-file command per file, one after the other
  rm -rf "$work/L" && mkdir -p "$work/L/enc" "$work/L/dec"
  for f in "$work"/in/*; do n=$(basename "${f%.*}"); "$tool" encode --format itu "$f" "$work/L/enc/$n.bit" 2>/dev/null; done
  for f in "$work"/L/enc/*.bit; do n=$(basename "${f%.*}"); "$tool" decode "$f" "$work/L/dec/$n.wav"; done
}
parallel_loop() {  # the same commands, two at a time
  rm -rf "$work/P" && mkdir -p "$work/P/enc" "$work/P/dec"
  ls "$work"/in/* | xargs -P 2 -I{} sh -c 'n=$(basename "{}"); "$0" encode --format itu "{}" "$1/P/enc/${n%.*}.bit" 2>/dev/null' "$tool" "$work"
  ls "$work"/P/enc/*.bit | xargs -P 2 -I{} sh -c 'n=$(basename "{}"); "$0" decode "{}" "$1/P/dec/${n%.*}.wav"' "$tool" "$work"
}
batch() {  # $1: extra options
  rm -rf "$work/B" && mkdir -p "$work/B"
  "$tool" encode $1 --output-dir "$work/B/enc" "$work"/in/* 2>/dev/null
  "$tool" decode $1 --output-dir "$work/B/dec" "$work"/B/enc/*.bit
}

for ((r = 1; r <= rounds; r++)); do
  t0=$(now) c0=$(cpu); loop; t1=$(now) c1=$(cpu)
  batch ""; t2=$(now) c2=$(cpu)
  diff -r "$work/L" "$work/B" >/dev/null || { echo "batch outputs differ from the loop's" >&2; exit 1; }
  parallel_loop; t3=$(now) c3=$(cpu)
  batch "--threads 1"; t4=$(now) c4=$(cpu)
  diff -r "$work/L" "$work/B" >/dev/null || { echo "one-thread batch outputs differ" >&2; exit 1; }
  printf 'round %d (load %s): wall / CPU s: loop %.2f / %.2f, batch %.2f / %.2f, loop -P2 %.2f / %.2f, batch --threads 1 %.2f / %.2f; loop/batch wall %.2fx, (loop -P2)/batch wall %.2fx, loop/(batch 1 thread) wall %.2fx, CPU loop/batch %.2fx\n' \
    "$r" "$(cut -d' ' -f1 /proc/loadavg)" \
    "$(elapsed "$t0" "$t1")" "$(elapsed "$c0" "$c1")" "$(elapsed "$t1" "$t2")" "$(elapsed "$c1" "$c2")" \
    "$(elapsed "$t2" "$t3")" "$(elapsed "$c2" "$c3")" "$(elapsed "$t3" "$t4")" "$(elapsed "$c3" "$c4")" \
    "$(echo "($t1 - $t0) / ($t2 - $t1)" | bc -l)" "$(echo "($t3 - $t2) / ($t2 - $t1)" | bc -l)" \
    "$(echo "($t1 - $t0) / ($t4 - $t3)" | bc -l)" "$(echo "($c1 - $c0) / ($c2 - $c1)" | bc -l)"
done
