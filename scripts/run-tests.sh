#!/usr/bin/env bash
# Configures, builds (Ninja) and runs the whole test suite under a display
# and a sound server (scripts/test-env.sh starts private ones when needed).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD"
scripts/test-env.sh ctest --test-dir "$BUILD" --output-on-failure --timeout 300 "$@"
# The Windows build: cross-compiled with mingw-w64, its tests run under Wine.
scripts/test-env.sh scripts/run-windows-tests.sh
