#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Installs the build into a temporary prefix and uses it as an outside program would:
#   - the public header compiles alone as C99 and as C++ (-Wall -Wextra -pedantic -Werror);
#   - the shared library exports only g729_ symbols;
#   - examples/c builds against the prefix with pkg-config (shared and static library) and
#     its round trip gives the same PCM as the installed g729 tool;
#   - examples/cpp builds against the prefix with find_package(G729) and runs;
#   - the tool, its man page and the module are where they belong.
#
#   BUILD_DIR   the configured and built tree to install (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null
libdir="$(dirname "$(find "$prefix" -name libg729.so.1 | head -n1)")"
[ -d "$libdir" ] || fail "libg729.so.1 not installed"

echo "== public header alone: C99 and C++"
printf '#include <g729/g729.h>\n' >"$work/header.c"
cc -std=c99 -Wall -Wextra -pedantic -Werror -I"$prefix/include" -c "$work/header.c" -o "$work/h.o"
c++ -x c++ -std=c++11 -Wall -Wextra -pedantic -Werror -I"$prefix/include" -c "$work/header.c" \
  -o "$work/hpp.o"

echo "== exported symbols of libg729.so"
exports="$(nm -D --defined-only "$libdir/libg729.so" | awk '{print $3}')"
echo "$exports" | tr '\n' ' '
echo
if echo "$exports" | grep -qv '^g729_'; then fail "libg729.so exports a symbol without the g729_ prefix"; fi

echo "== C example with pkg-config (prefix only)"
# The prefix first; the system's own folders only for what g729 requires (Highway).
export PKG_CONFIG_LIBDIR="$libdir/pkgconfig:$(pkg-config --variable pc_path pkg-config)"
export PKG_CONFIG_PATH=""
[ "$(pkg-config --variable pcfiledir g729)" = "$libdir/pkgconfig" ] ||
  fail "pkg-config did not take g729.pc from the prefix"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror examples/c/roundtrip.c \
  $(pkg-config --cflags --libs g729) -o "$work/roundtrip"
cc -std=c99 -Wall -Wextra -pedantic -Werror examples/c/roundtrip.c \
  $(pkg-config --cflags g729) "$libdir/libg729.a" $(pkg-config --libs-only-l --static g729 | sed 's/-lg729//') \
  -o "$work/roundtrip_static"
"$prefix/bin/g729" encode data/speech_sample.wav "$work/speech.g729" 2>/dev/null
"$prefix/bin/g729" decode "$work/speech.g729" "$work/speech.raw"
LD_LIBRARY_PATH="$libdir" "$work/roundtrip" "$work/speech.raw" "$work/shared.raw"
"$work/roundtrip_static" "$work/speech.raw" "$work/static.raw" >/dev/null
"$prefix/bin/g729" encode "$work/speech.raw" "$work/again.g729"
"$prefix/bin/g729" decode "$work/again.g729" "$work/tool.raw"
cmp "$work/shared.raw" "$work/tool.raw" || fail "the shared library and the tool disagree"
cmp "$work/static.raw" "$work/tool.raw" || fail "the static library and the tool disagree"

echo "== C++ example with find_package(G729) (prefix only)"
cmake -S examples/cpp -B "$work/cpp" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
grep -q "^G729_DIR:PATH=$prefix/" "$work/cpp/CMakeCache.txt" || fail "G729 was not found in the prefix"
cmake --build "$work/cpp" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cpp/dtx_example"

echo "== tool, man page, module"
"$prefix/bin/g729" --version
man_page="$prefix/share/man/man1/g729.1.gz"
for section in '^\.SH SYNOPSIS' '^\.SH FORMATS' '^\.SH "EXIT STATUS"' 'g729 encode' 'g729 decode'; do
  zgrep -q "$section" "$man_page" || fail "$man_page lacks $section"
done
"$prefix/bin/g729_capture_impair" --help >/dev/null
zgrep -q '^\.SH "EXIT STATUS"' "$prefix/share/man/man1/g729_capture_impair.1.gz" ||
  fail "the g729_capture_impair man page is missing or incomplete"
[ -f "$prefix/lib/pellarion/modules/codec_orvane.so" ] || fail "the module is not installed"
if [ -n "$(find "$prefix" -name libgstg729.so)" ]; then
  [ -f "$libdir/gstreamer-1.0/libgstg729.so" ] || fail "the GStreamer plugin is not in $libdir/gstreamer-1.0"
fi
echo "check-install: ok"
