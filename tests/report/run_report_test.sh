#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# The call report in a real browser: installs playwright-core (the version pinned in
# package-lock.json, with npm ci, into the build tree; no browser is downloaded) and runs
# report.test.mjs against Debian's chromium. Skips (77) with a message when node, npm or
# chromium is missing, or when the package cannot be installed (offline, no npm cache).
#
#   run_report_test.sh SOURCE_DIR WORK_DIR G729_TOOL SPEECH_WAV
set -euo pipefail
src=$1 work=$2 tool=$3 sample=$4
chromium=${G729_CHROMIUM:-/usr/bin/chromium}
skip() { echo "skipped: $*"; exit 77; }
command -v node >/dev/null || skip "node is not installed"
major=$(node -p 'process.versions.node.split(".")[0]')
[ "$major" -ge 18 ] || skip "node $(node --version) is too old for playwright-core (18 or later)"
[ -x "$chromium" ] || skip "$chromium is not installed (apt-get install --no-install-recommends chromium)"
mkdir -p "$work/node"
version_in() {  # FILE KEY...: the version recorded there, empty when there is none
  node -e 'const fs=require("fs");try{let v=JSON.parse(fs.readFileSync(process.argv[1],"utf8"));
for(const k of process.argv.slice(2))v=v[k];console.log(v.version)}catch{console.log("")}' "$@"
}
pinned=$(version_in "$src/package-lock.json" packages node_modules/playwright-core)
installed=$(version_in "$work/node/node_modules/playwright-core/package.json")
if [ "$installed" != "$pinned" ]; then
  command -v npm >/dev/null || skip "npm is not installed, and playwright-core $pinned is not in $work/node"
  cp "$src/package.json" "$src/package-lock.json" "$work/node/"
  (cd "$work/node" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --prefer-offline >npm.log 2>&1) ||
    skip "npm ci could not install playwright-core $pinned (see $work/node/npm.log)"
fi
exec node "$src/report.test.mjs" --modules "$work/node/node_modules" --out "$work" --tool "$tool" \
  --sample "$sample" --chromium "$chromium"
