#!/usr/bin/env bash
# Every tracked source, script and build file names the project's licence in its first lines
# (SPDX-License-Identifier: BSD-2-Clause), and LICENSE holds the full text. Skips (77) outside
# a git checkout.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
tag='SPDX-License-Identifier: BSD-2-Clause'
missing=()
while IFS= read -r f; do
  case "$f" in
    */corpus/*|*/regressions/*) continue ;;
    *.cpp|*.h|*.c|*.sh|*.cmake|*.in|*.map|*.supp|*CMakeLists.txt|.ci/run) ;;
    *) continue ;;
  esac
  head -n 3 "$f" | grep -q "$tag" || missing+=("$f")
done < <(git ls-files)
fail=0
if ((${#missing[@]})); then
  echo "FAIL: no licence line in: ${missing[*]}"
  fail=1
fi
grep -q 'Copyright (c) 2026 the g729 codec authors' LICENSE 2>/dev/null &&
  grep -q 'Redistribution and use in source and binary forms' LICENSE ||
  { echo "FAIL: LICENSE lacks the BSD-2-Clause text"; fail=1; }
if [ "$fail" = 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
