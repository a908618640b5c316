#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Builds the Debian packages (scripts/make-packages.sh) and checks them: lintian over every
# .deb reports no error and no warning, each package ships its copyright file and
# changelog.Debian.gz, and libg729-dev depends on libhwy-dev (g729.pc and the CMake package
# need Highway). Needs lintian (scripts/install-deps.sh installs it).
#
#   PKG_BUILD_DIR   build directory (default build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."
PKG_BUILD_DIR="${PKG_BUILD_DIR:-build-pkg}"
fail() { echo "check-packages: $*" >&2; exit 1; }
command -v lintian >/dev/null || fail "lintian is not installed (apt-get install lintian)"

bash scripts/make-packages.sh >/dev/null
debs=("$PKG_BUILD_DIR"/packages/*.deb)
[ -e "${debs[0]}" ] || fail "no package in $PKG_BUILD_DIR/packages"

for deb in "${debs[@]}"; do
  name="$(dpkg-deb --field "$deb" Package)"
  files="$(dpkg-deb --contents "$deb")"
  for doc in copyright changelog.Debian.gz; do
    grep -q " \./usr/share/doc/$name/$doc\$" <<<"$files" || fail "$name lacks /usr/share/doc/$name/$doc"
  done
done
changelog_version="$(sed -n '1s/^g729 (\([^)]*\)).*/\1/p' packaging/debian/changelog)"
for deb in "${debs[@]}"; do
  [ "$(dpkg-deb --field "$deb" Version)" = "$changelog_version" ] ||
    fail "${deb##*/}: version differs from the latest entry of packaging/debian/changelog ($changelog_version)"
done
dev="$(ls "$PKG_BUILD_DIR"/packages/libg729-dev_*.deb)"
dpkg-deb --field "$dev" Depends | grep -qw 'libhwy-dev' || fail "libg729-dev does not depend on libhwy-dev"

echo "== lintian ${debs[*]##*/}"
lintian --fail-on error,warning "${debs[@]}" || fail "lintian reports errors or warnings"
echo "check-packages: ok (${#debs[@]} packages)"
