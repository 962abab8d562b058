#!/usr/bin/env bash
# Installs what is missing (scripts/install-deps.sh), configures, builds
# (Ninja) and runs the whole test suite under a display and a sound server
# (scripts/test-env.sh starts private ones when needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD"
scripts/test-env.sh ctest --test-dir "$BUILD" --output-on-failure --timeout 300 "$@"
