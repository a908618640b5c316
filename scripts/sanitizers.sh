#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Sanitizer test runs:
#   1. address + undefined behaviour (build type Asan, build-asan): the whole ctest suite but
#      the benchmarks;
#   2. threads (build type Tsan, build-tsan): the tests that run many instances at once
#      (module.ParallelInstances.* and the short soak, soak.MultiInstanceShort).
#
#   SANITIZERS   which runs: "asan tsan" (default), "asan" or "tsan"
#   TSAN_TESTS   ctest -R pattern of the threaded tests
# Exit status 1 when any run fails.
set -euo pipefail
cd "$(dirname "$0")/.."

SANITIZERS="${SANITIZERS:-asan tsan}"
TSAN_TESTS="${TSAN_TESTS:-Parallel|Thread|MultiInstance}"
JOBS="$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

status=0
for run in $SANITIZERS; do
  case "$run" in
  asan)
    echo "== address + undefined: whole suite (build-asan)"
    # The benchmarks measure; they are run natively (bench.smoke) but not rebuilt here.
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Asan -DG729_WERROR=ON -DG729_BUILD_BENCH=OFF >/dev/null
    cmake --build build-asan -j"$JOBS"
    ctest --test-dir build-asan --output-on-failure -j"$JOBS" || status=1
    ;;
  tsan)
    echo "== thread: multi-instance tests (build-tsan)"
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Tsan -DG729_WERROR=ON >/dev/null
    cmake --build build-tsan -j"$JOBS" --target module_tests g729_soak
    # Refuse a pattern that selects nothing: that would pass without testing anything.
    if ! ctest --test-dir build-tsan -N -R "$TSAN_TESTS" | grep -q 'Total Tests: [1-9]'; then
      echo "sanitizers.sh: no test matches '$TSAN_TESTS'" >&2
      status=1
      continue
    fi
    ctest --test-dir build-tsan --output-on-failure -R "$TSAN_TESTS" || status=1
    ;;
  *)
    echo "sanitizers.sh: unknown run '$run' (asan or tsan)" >&2
    exit 2
    ;;
  esac
done
exit "$status"
