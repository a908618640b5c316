#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# The codec as WebAssembly, and the npm package in js/ around it: installs what is missing
# (clang's wasm32 target: wasi-libc, libc++ and the compiler runtime for wasm32), compiles
# the codec (codec/ without the batched entry points) for wasm32-wasi twice, with Highway's
# WASM SIMD128 target and with its scalar one, and writes js/dist/:
#   g729.wasm        the SIMD128 build (the one the package loads)
#   index.js         the ES module entry, the wasm embedded (base64)
#   index.d.ts       its TypeScript declarations
#   g729.classic.js  the same library as a classic script (global G729), for pages opened
#                    from file:// and for Blob-URL workers
#   LICENSE          the project's licence, for the package
# The scalar build stays in the build directory (g729-scalar.wasm): the tests compare the two.
#
#   build-wasm.sh [--no-install]   --no-install: skip (exit 77) when a package is missing
#   WASM_BUILD_DIR  object files and the scalar build (default build-wasm)
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "build-wasm.sh: $*" >&2; exit 1; }

build="${WASM_BUILD_DIR:-build-wasm}"
dist=js/dist
sysroot_lib=/usr/lib/wasm32-wasi

packages=(clang lld libhwy-dev wasi-libc libclang-rt-14-dev-wasm32 libc++-14-dev-wasm32
          libc++abi-14-dev-wasm32)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})) && [ "${1:-}" = "--no-install" ]; then
  echo "skipped: not installed: ${missing[*]} (scripts/build-wasm.sh installs them)"
  exit 77
fi
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
CXX=clang++
command -v "$CXX" >/dev/null || fail "clang++ is not installed"
[ -f "$sysroot_lib/libc.a" ] || fail "no $sysroot_lib/libc.a (wasi-libc)"

# Highway's headers alone (the package's include directory also holds this machine's C
# library headers, which must not shadow wasi-libc's).
mkdir -p "$build/include"
ln -sfn /usr/include/hwy "$build/include/hwy"

# The codec's sources as codec/CMakeLists.txt lists them, less the batched entry points.
mapfile -t sources < <(ls codec/*.cpp codec/common/*.cpp codec/lpc/*.cpp codec/encoder/*.cpp \
                          codec/decoder/*.cpp codec/dtx/*.cpp codec/tables/*.cpp 2>/dev/null)
((${#sources[@]})) || fail "no codec sources found"

# Exact arithmetic as in the native build: no fused multiply-adds, no value-changing
# optimizations. -fno-exceptions: nothing in the codec throws.
common_flags=(--target=wasm32-wasi -std=c++20 -O3 -ffp-contract=off -fno-fast-math
              -fno-exceptions -fvisibility=hidden -Wall -Wextra -Wpedantic -Wshadow -Werror
              -I. -Iinclude -I"$build/include")
exports=(g729_version_string g729_encoder_create g729_encoder_destroy g729_decoder_create
         g729_decoder_destroy g729_encode_frame g729_decode_frame g729_decode_lost_frame
         g729_decode_untransmitted_frame g729_payload_units malloc free)
# shellcheck disable=SC2054  # the commas belong to the linker options
link_flags=(--target=wasm32-wasi -O3 -mexec-model=reactor -Wl,--strip-all -Wl,--gc-sections
            -Wl,-z,stack-size=262144)
for e in "${exports[@]}"; do link_flags+=("-Wl,--export=$e"); done

# variant NAME FLAGS...: compiles every source into $build/NAME and links $build/NAME.wasm.
variant() {
  local name=$1
  shift
  local dir="$build/$name"
  mkdir -p "$dir"
  # Objects made with other flags are made again.
  if [ "$(cat "$dir/flags" 2>/dev/null)" != "${common_flags[*]} $*" ]; then
    rm -f "$dir"/*.o
    echo "${common_flags[*]} $*" >"$dir/flags"
  fi
  # shellcheck disable=SC2016  # the inner script expands its own arguments
  printf '%s\n' "${sources[@]}" | xargs -P "${JOBS:-2}" -I{} sh -c '
    src=$1; obj=$2/$(echo "$1" | tr / _).o; shift 2
    if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || find codec include -name "*.h" -newer "$obj" | grep -q .; then
      "$@" -c "$src" -o "$obj" || { echo "build-wasm.sh: compiling $src failed" >&2; exit 255; }
    fi' sh {} "$dir" "$CXX" "${common_flags[@]}" "$@" || fail "compiling the $name build failed"
  "$CXX" "${link_flags[@]}" "$dir"/*.o -o "$build/$name.wasm" || fail "linking $build/$name.wasm failed"
}
echo "compiling the codec for wasm32 (SIMD128 and scalar) in $build"
variant simd -msimd128 -DHWY_COMPILE_ONLY_EMU128
variant scalar -DHWY_COMPILE_ONLY_EMU128
cp "$build/scalar.wasm" "$build/g729-scalar.wasm"

# The module must need nothing from its host: no WASI call, no other import.
node -e '
const m = new WebAssembly.Module(require("fs").readFileSync(process.argv[1]));
const i = WebAssembly.Module.imports(m);
if (i.length) { console.error("build-wasm.sh: the module imports " + i.map(x => x.module + "." + x.name).join(", ")); process.exit(1); }
' "$build/simd.wasm" || exit 1

mkdir -p "$dist"
cp "$build/simd.wasm" "$dist/g729.wasm"
base64=$(base64 -w0 "$dist/g729.wasm")
{
  echo "// SPDX-License-Identifier: BSD-2-Clause"
  echo "// Generated by scripts/build-wasm.sh from js/src/g729.js: do not edit."
  echo "const WASM_BASE64 = \"$base64\";"
  grep -v '^// SPDX' js/src/g729.js
} >"$dist/index.js"
# The classic script: the same code in a function (its source text also starts workers), the
# exports collected from the `export` declarations.
names=$(sed -n 's/^export \(async \)\{0,1\}\(function\|class\|const\) \([A-Za-z0-9_]*\).*/\3/p' js/src/g729.js | paste -sd, -)
{
  echo "// SPDX-License-Identifier: BSD-2-Clause"
  echo "// Generated by scripts/build-wasm.sh from js/src/g729.js: do not edit."
  echo "// A classic script: defines the global G729 (G729.source: this library's code, for workers)."
  echo "function G729Library() {"
  echo "\"use strict\";"
  echo "const WASM_BASE64 = \"$base64\";"
  grep -v '^// SPDX' js/src/g729.js | sed 's/^export //'
  echo "return { $names };"
  echo "}"
  echo "var G729 = G729Library();"
  echo "G729.source = G729Library.toString();"
} >"$dist/g729.classic.js"
cp js/src/g729.d.ts "$dist/index.d.ts"
cp LICENSE "$dist/LICENSE"
printf 'js/dist: g729.wasm %s bytes (gzip %s), index.js %s bytes\n' "$(stat -c %s "$dist/g729.wasm")" \
  "$(gzip -9c "$dist/g729.wasm" | wc -c)" "$(stat -c %s "$dist/index.js")"
