#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# The Python package (python/): installed with pip into a virtual environment that sees
# Debian's packages (numpy, pybind11, pytest, dask.distributed; scripts/install-deps.sh), built
# as a wheel too, and its tests run against the g729 tool of the build folder.
#
#   BUILD_DIR   the C++ build whose bin/g729 the tests compare with (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(realpath "${BUILD_DIR:-build}")"
# Debian's interpreter, whose packages install-deps.sh installed (not another python3 on PATH).
PYTHON=/usr/bin/python3
venv="$BUILD_DIR/python-venv"
rm -rf "$venv" "$BUILD_DIR/python-wheel"
"$PYTHON" -m venv --system-site-packages "$venv"
# The wheel is built once (the extension builds the codec) and installed from the file.
"$venv/bin/python" -m pip wheel --no-build-isolation --no-index --no-deps --quiet \
  -w "$BUILD_DIR/python-wheel" ./python
"$venv/bin/python" -m pip install --no-index --quiet "$BUILD_DIR"/python-wheel/g729-*.whl
G729_TOOL="$BUILD_DIR/bin/g729" "$venv/bin/python" -m pytest -q -p no:cacheprovider python/tests
