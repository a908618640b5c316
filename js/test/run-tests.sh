#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# The WebAssembly build and the npm package's tests, as ctest runs them (js/CMakeLists.txt).
# Skips (77) with a message when what a step needs is absent: the wasm toolchain (build),
# node 20 (node), chromium, npm or the pinned playwright-core (browser).
#
#   run-tests.sh build   WORK_DIR           scripts/build-wasm.sh without installing anything
#   run-tests.sh node    WORK_DIR G729_TOOL the Node tests (npm test)
#   run-tests.sh browser WORK_DIR G729_TOOL the player page in headless Chromium
set -euo pipefail
js="$(cd "$(dirname "$0")/.." && pwd)"
mode=$1 work=$2 tool=${3:-}
skip() { echo "skipped: $*"; exit 77; }
mkdir -p "$work"

need_node() {
  command -v node >/dev/null || skip "node is not installed"
  local major
  major=$(node -p 'process.versions.node.split(".")[0]')
  [ "$major" -ge "$1" ] || skip "node $(node --version) is too old (needs $1 or later)"
  [ -f "$js/dist/index.js" ] || skip "no js/dist/index.js (scripts/build-wasm.sh makes it)"
}

case "$mode" in
build)
  WASM_BUILD_DIR="$work" exec bash "$js/../scripts/build-wasm.sh" --no-install
  ;;
node)
  need_node 20
  cd "$js"
  G729_TOOL="$tool" G729_WASM_SCALAR="$work/g729-scalar.wasm" exec node --test test/codec.test.mjs
  ;;
browser)
  need_node 18
  chromium=${G729_CHROMIUM:-/usr/bin/chromium}
  [ -x "$chromium" ] || skip "$chromium is not installed (apt-get install --no-install-recommends chromium)"
  # playwright-core as the call report's browser test pins it (tests/report/package-lock.json).
  lock_dir="$js/../tests/report"
  pinned=$(node -p "require('$lock_dir/package-lock.json').packages['node_modules/playwright-core'].version")
  installed=$(node -p "try{require('$work/node/node_modules/playwright-core/package.json').version}catch{''}")
  if [ "$installed" != "$pinned" ]; then
    command -v npm >/dev/null || skip "npm is not installed, and playwright-core $pinned is not in $work/node"
    mkdir -p "$work/node"
    cp "$lock_dir/package.json" "$lock_dir/package-lock.json" "$work/node/"
    (cd "$work/node" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --prefer-offline >npm.log 2>&1) ||
      skip "npm ci could not install playwright-core $pinned (see $work/node/npm.log)"
  fi
  G729_PLAYWRIGHT="$work/node/node_modules" G729_CHROMIUM="$chromium" G729_TOOL="$tool" G729_OUT="$work" \
    exec node --test "$js/test/browser.test.mjs"
  ;;
*)
  echo "run-tests.sh: unknown step '$mode' (build, node or browser)" >&2
  exit 2
  ;;
esac
