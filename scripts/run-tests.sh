#!/usr/bin/env bash
# Installs what is missing (scripts/install-deps.sh), configures, builds
# (Ninja) and runs the whole test suite under a display and a sound server
# (scripts/test-env.sh starts private ones when needed), then the sound and
# end-to-end tests again on PipeWire.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD"
status=0
scripts/test-env.sh ctest --test-dir "$BUILD" --output-on-failure --timeout 300 "$@" || status=$?
# Most desktops run PipeWire's PulseAudio server: the sound and end-to-end
# tests run a second time against it.
FV_SOUND_SERVER=pipewire scripts/test-env.sh \
  ctest --test-dir "$BUILD" --output-on-failure --timeout 300 -L 'audio|e2e' "$@" || status=$?
# The Windows build: cross-compiled with mingw-w64, its tests run under Wine.
FV_X_RESET=1 scripts/test-env.sh scripts/run-windows-tests.sh || status=$?
exit $status
