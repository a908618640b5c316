#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# 64-bit Arm: installs the cross toolchain, qemu-user and the Arm builds of the libraries (if
# missing), cross-builds the library, the module, the g729 tool and the test suite in
# build-aarch64 (benchmarks and the GStreamer plugin off), runs the test suite under qemu-user
# (all but the tests in NATIVE_ONLY_TESTS), then checks the Arm build against the native one
# (build, built here if absent):
#   - no fused multiply-add instruction in the Arm codec, library or module;
#   - the module's .pel_manifest section and exported symbols, and libg729.so's exported
#     symbols, are the same;
#   - pelhost loads the Arm module under qemu, and its transcoded speech and the g729 tool's
#     coded and decoded files (ITU vectors, the project recording) are the same bytes;
#   - natively, the golden outputs stay the same with glibc's routines for processors
#     without FMA.
#
#   CROSS_BUILD_DIR   Arm build directory (default build-aarch64)
#   NATIVE_BUILD_DIR  native build directory to compare with (default build)
#   NATIVE_ONLY_TESTS ctest -E pattern of the tests left to the native and sanitizer runs: they
#                     check how the programs treat files, pipes and signals (the same system
#                     calls on every processor) by starting the programs hundreds of times on
#                     minutes of audio, which takes a quarter of an hour under emulation; the
#                     codec's bits on Arm are checked by the rest of the suite and the
#                     comparisons below. An empty value runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
step() { echo "== [$((SECONDS - start)) s] $*"; }
fail() { echo "cross-aarch64.sh: $*" >&2; exit 1; }

CROSS_BUILD_DIR="${CROSS_BUILD_DIR:-build-aarch64}"
NATIVE_BUILD_DIR="${NATIVE_BUILD_DIR:-build}"
SYSROOT=/usr/aarch64-linux-gnu
QEMU=(qemu-aarch64 -L "$SYSROOT" -E "LD_LIBRARY_PATH=$SYSROOT/lib")
NATIVE_ONLY_TESTS="${NATIVE_ONLY_TESTS-OutputSafety\.|PelhostFiles\.AnOutputThatFails|BatchTest\.OutputsAreTheSingleFileCommands}"
JOBS="$(nproc)"

step "dependencies"
native=(g++-aarch64-linux-gnu libc6-dev-arm64-cross binutils-aarch64-linux-gnu qemu-user cmake
        pkg-config libcli11-dev nlohmann-json3-dev)
arm=(libsndfile1-dev libgtest-dev libsoxr-dev libpcap-dev libhwy-dev)
missing=()
for p in "${native[@]}" "${arm[@]/%/:arm64}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  dpkg --print-foreign-architectures | grep -qx arm64 || $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

step "cross build ($CROSS_BUILD_DIR)"
cmake -S . -B "$CROSS_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
  -DG729_WERROR=ON -DG729_BUILD_BENCH=OFF -DG729_BUILD_GSTREAMER=OFF --no-warn-unused-cli >/dev/null
cmake --build "$CROSS_BUILD_DIR" -j"$JOBS"

step "test suite under qemu-user${NATIVE_ONLY_TESTS:+ (native only: $NATIVE_ONLY_TESTS)}"
ctest_log="$CROSS_BUILD_DIR/ctest-aarch64.log"
exclude=()
if [ -n "$NATIVE_ONLY_TESTS" ]; then
  # A pattern that no longer matches anything means a test was renamed: say so.
  if ! ctest --test-dir "$CROSS_BUILD_DIR" -N -R "$NATIVE_ONLY_TESTS" | grep -q 'Total Tests: [1-9]'; then
    fail "no test matches NATIVE_ONLY_TESTS='$NATIVE_ONLY_TESTS'"
  fi
  exclude=(-E "$NATIVE_ONLY_TESTS")
fi
ctest --test-dir "$CROSS_BUILD_DIR" --output-on-failure -j"$JOBS" "${exclude[@]}" 2>&1 | tee "$ctest_log"
test_status=${PIPESTATUS[0]}

step "native module and tools to compare with ($NATIVE_BUILD_DIR)"
cmake -S . -B "$NATIVE_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DG729_WERROR=ON >/dev/null
cmake --build "$NATIVE_BUILD_DIR" -j"$JOBS" --target codec_orvane g729_shared pelhost g729 >/dev/null

check_status=0
check() {  # check NAME COMMAND...: runs the command, reports ok or the failure
  if "${@:2}"; then echo "ok    $1"; else echo "FAIL  $1"; check_status=1; fi
}
arm_module="$CROSS_BUILD_DIR/lib/codec_orvane.so"
native_module="$NATIVE_BUILD_DIR/lib/codec_orvane.so"
arm_library="$CROSS_BUILD_DIR/lib/libg729.so"
native_library="$NATIVE_BUILD_DIR/lib/libg729.so"
work="$CROSS_BUILD_DIR/cross-check"
rm -rf "$work"
mkdir -p "$work"

step "Arm build against the native build"
check "the Arm module is an AArch64 file" \
  sh -c "aarch64-linux-gnu-readelf -h '$arm_module' | grep -q 'Machine:.*AArch64'"

no_fused_multiply_add() {
  local f n total=0
  for f in "$CROSS_BUILD_DIR"/lib/libg729.a "$arm_library" "$CROSS_BUILD_DIR"/lib/libg729eval.a \
           "$arm_module"; do
    if [ ! -f "$f" ]; then echo "  $f: missing"; return 1; fi
    n=$(aarch64-linux-gnu-objdump -d "$f" | grep -cE $'\t''f(n?madd|n?msub|mla|mls)[[:space:]]' || true)
    [ "$n" -eq 0 ] || echo "  $f: $n fused multiply-add instructions"
    total=$((total + n))
  done
  [ "$total" -eq 0 ]
}
check "no fused multiply-add in the Arm codec, library and module" no_fused_multiply_add

aarch64-linux-gnu-objcopy --dump-section .pel_manifest="$work/manifest.arm" "$arm_module" \
  "$work/module.arm.so" 2>/dev/null || true
objcopy --dump-section .pel_manifest="$work/manifest.native" "$native_module" \
  "$work/module.native.so" 2>/dev/null || true
check ".pel_manifest section present and identical ($(tr -d '\n' <"$work/manifest.arm" 2>/dev/null))" \
  sh -c "[ -s '$work/manifest.arm' ] && cmp -s '$work/manifest.arm' '$work/manifest.native'"

# Symbol type and name (and version) of each defined dynamic symbol; addresses differ.
aarch64-linux-gnu-nm -D --defined-only "$arm_module" | awk '{print $2, $3}' | sort >"$work/symbols.arm"
nm -D --defined-only "$native_module" | awk '{print $2, $3}' | sort >"$work/symbols.native"
check "module exports identical ($(awk '{print $2}' "$work/symbols.arm" | paste -sd' '))" \
  sh -c "[ -s '$work/symbols.arm' ] && cmp -s '$work/symbols.arm' '$work/symbols.native'"
aarch64-linux-gnu-nm -D --defined-only "$arm_library" | awk '{print $2, $3}' | sort >"$work/library.arm"
nm -D --defined-only "$native_library" | awk '{print $2, $3}' | sort >"$work/library.native"
check "libg729.so exports identical ($(wc -l <"$work/library.arm") symbols)" \
  sh -c "[ -s '$work/library.arm' ] && cmp -s '$work/library.arm' '$work/library.native'"

arm_run() { "${QEMU[@]}" "$@"; }
check "pelhost loads the Arm module under qemu" \
  sh -c "$(printf '%q ' "${QEMU[@]}") '$CROSS_BUILD_DIR/bin/pelhost' cli 'g729 show version' \
         2>/dev/null | grep -q '19.0_3.1.10'"
arm_run "$CROSS_BUILD_DIR/bin/pelhost" transcode data/speech_sample.wav "$work/transcoded.arm.wav" \
  >"$work/pelhost.arm.txt" 2>/dev/null || echo "Arm pelhost transcode failed"
"$NATIVE_BUILD_DIR/bin/pelhost" transcode data/speech_sample.wav "$work/transcoded.native.wav" \
  >/dev/null 2>&1 || echo "native pelhost transcode failed"
check "pelhost transcode under qemu: $(grep -m1 lintog729 "$work/pelhost.arm.txt" | tr -s ' ')" \
  sh -c "[ -s '$work/transcoded.arm.wav' ] && cmp -s '$work/transcoded.arm.wav' '$work/transcoded.native.wav'"

# The golden outputs through the g729 tool on both architectures: same bytes.
vectors=../shared/itu-vectors
jobs_list=(
  "encode-speech encode --format raw $vectors/annex-a/speech.in speech.g729"
  "decode-speech decode $vectors/annex-a/speech.bit speech.pcm"
  "encode-tstseq1-dtx encode --dtx $vectors/annex-ab/tstseq1.in tstseq1.bit"
  "encode-tstseq2-dtx encode --dtx $vectors/annex-ab/tstseq2.in tstseq2.bit"
  "decode-tstseq1 decode $vectors/annex-ab/tstseq1.bit tstseq1.pcm"
  "decode-tstseq6 decode $vectors/annex-ab/tstseq6.bit tstseq6.pcm"
  "decode-erasure decode $vectors/annex-a/erasure.bit erasure.pcm"
  "encode-recording encode --format raw data/speech_sample.wav recording.g729"
  "encode-recording-dtx encode --dtx data/speech_sample.wav recording-dtx.bit"
)
if [ ! -d "$vectors" ]; then echo "note: no $vectors: only the project recording is compared"; fi
native_seconds=0
arm_seconds=0
for job in "${jobs_list[@]}"; do
  read -r name command args <<<"$job"
  input=$(awk '{print $(NF-1)}' <<<"$args")
  output=$(awk '{print $NF}' <<<"$args")
  options=$(awk '{$NF=""; $(NF-1)=""; print}' <<<"$args")
  [ -f "$input" ] || continue
  t0=$(date +%s.%N)
  # shellcheck disable=SC2086
  "$NATIVE_BUILD_DIR/bin/g729" "$command" $options "$input" "$work/native.$output" 2>/dev/null ||
    echo "native g729 $command failed on $input"
  t1=$(date +%s.%N)
  # shellcheck disable=SC2086
  arm_run "$CROSS_BUILD_DIR/bin/g729" "$command" $options "$input" "$work/arm.$output" 2>/dev/null ||
    echo "Arm g729 $command failed on $input"
  t2=$(date +%s.%N)
  native_seconds=$(awk -v s="$native_seconds" -v a="$t0" -v b="$t1" 'BEGIN {print s + b - a}')
  arm_seconds=$(awk -v s="$arm_seconds" -v a="$t1" -v b="$t2" 'BEGIN {print s + b - a}')
  check "$name: sha256 $(sha256sum "$work/arm.$output" 2>/dev/null | cut -c1-16) on both" \
    sh -c "[ -s '$work/arm.$output' ] && cmp -s '$work/native.$output' '$work/arm.$output'"
done
printf 'g729 tool runs above: native %.1f s, aarch64 under qemu-user %.1f s (emulated time, not Arm performance)\n' \
  "$native_seconds" "$arm_seconds"

# glibc picks its cos, acos, log10 and pow at run time on x86-64: fused multiply-add variants
# where the processor has FMA, others elsewhere, and they round differently now and then.
# The golden outputs must not depend on it.
step "native golden outputs with glibc's routines for x86-64 processors without FMA"
cmake --build "$NATIVE_BUILD_DIR" -j"$JOBS" --target codec_tests >/dev/null
check "native golden hashes without FMA in glibc" \
  env GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA "$NATIVE_BUILD_DIR/bin/codec_tests" \
  --gtest_filter='Golden.*' --gtest_brief=1

step "test summary of the aarch64 run under qemu-user"
sed -n '/tests passed/,$p' "$ctest_log"
step "done in $((SECONDS - start)) s"
if [ "$test_status" -ne 0 ]; then fail "the Arm test suite failed"; fi
if [ "$check_status" -ne 0 ]; then fail "the Arm build differs from the native build"; fi
