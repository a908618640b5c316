#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# scripts/install-deps.sh against stand-in dpkg-query, dpkg and apt-get: a package installed only
# for another architecture (libhwy-dev:arm64 after the Arm cross build) must still be installed
# for this one, while packages present natively or as architecture "all" are left alone.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
fake="$(mktemp -d)"
trap 'rm -rf "$fake"' EXIT

cat >"$fake/dpkg" <<'STUB'
#!/bin/sh
[ "$1" = "--print-architecture" ] && { echo amd64; exit 0; }
exit 1
STUB
# Installed: everything natively, except libhwy-dev (arm64 only) and libcli11-dev (all).
cat >"$fake/dpkg-query" <<'STUB'
#!/bin/sh
for last; do :; done
case "$last" in
  libhwy-dev:arm64|libcli11-dev:all) echo "install ok installed"; exit 0 ;;
  libhwy-dev:*|libcli11-dev:*) exit 1 ;;
esac
# Any other name, with or without an architecture, is installed (a bare name matches any).
echo "install ok installed"
STUB
cat >"$fake/apt-get" <<'STUB'
#!/bin/sh
echo "$*" >>"$FAKE_LOG"
STUB
chmod +x "$fake/dpkg" "$fake/dpkg-query" "$fake/apt-get"

FAKE_LOG="$fake/apt.log" PATH="$fake:$PATH" bash "$root/scripts/install-deps.sh" >/dev/null
installs="$(grep -E '(^| )install ' "$fake/apt.log" || true)"
fail=0
grep -qw 'libhwy-dev' <<<"$installs" || { echo "FAIL: libhwy-dev (only arm64 present) not installed"; fail=1; }
grep -qw 'libcli11-dev' <<<"$installs" && { echo "FAIL: libcli11-dev (arch all, present) reinstalled"; fail=1; }
grep -qw 'cmake' <<<"$installs" && { echo "FAIL: cmake (present natively) reinstalled"; fail=1; }
if [ "$fail" = 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
