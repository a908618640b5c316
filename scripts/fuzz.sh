#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Builds the libFuzzer targets (clang, -DG729_FUZZ=ON, in build-fuzz) and runs each for a
# bounded time on its seed corpus and the saved regression inputs.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   targets to run (default: all)
#   FUZZ_BUILD_DIR build directory (default build-fuzz)
#
# New inputs go to $FUZZ_BUILD_DIR/fuzz-work/<target>, findings to
# $FUZZ_BUILD_DIR/fuzz-artifacts/<target>; the seed corpora in tests/fuzz/corpus are only
# read. Exit status 1 when any target finds a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
FUZZ_BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"
FUZZ_TARGETS="${FUZZ_TARGETS:-decoder module encoder readers gstdec}"

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool is required" >&2; exit 2; }
done

CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DG729_FUZZ=ON -DG729_WERROR=ON >/dev/null
cmake --build "$FUZZ_BUILD_DIR" --target g729_fuzzers -j"$(nproc)"

# Leaks of the system libraries (tests/fuzz/lsan.supp says which) are not the project's.
export LSAN_OPTIONS="suppressions=$PWD/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

status=0
summary=()
for name in $FUZZ_TARGETS; do
  bin="$FUZZ_BUILD_DIR/bin/g729_${name}_fuzz"
  work="$FUZZ_BUILD_DIR/fuzz-work/$name"
  artifacts="$FUZZ_BUILD_DIR/fuzz-artifacts/$name"
  log="$FUZZ_BUILD_DIR/fuzz-$name.log"
  mkdir -p "$work" "$artifacts"
  corpora=("$work" "tests/fuzz/corpus/$name")
  if [ -d "tests/fuzz/regressions/$name" ]; then corpora+=("tests/fuzz/regressions/$name"); fi

  echo "== $name: ${FUZZ_SECONDS}s"
  rc=0
  "$bin" -max_total_time="$FUZZ_SECONDS" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${corpora[@]}" >"$log" 2>&1 || rc=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n1 || true)
  if [ "$rc" -eq 0 ]; then
    result="ok"
  else
    result="FAULT (exit $rc; see $log and $artifacts)"
    status=1
    grep -E 'INVARIANT VIOLATED|ERROR: |SUMMARY: ' "$log" | head -n5 || true
  fi
  summary+=("$name: ${execs:-?} executions, ${cov:-no coverage line}, $result")
done

echo "== fuzz summary (${FUZZ_SECONDS}s per target)"
printf '%s\n' "${summary[@]}"
exit "$status"
