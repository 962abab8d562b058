#!/usr/bin/env bash
# Installs what is missing (scripts/install-deps.sh --tests), configures,
# builds (Ninja) and runs the whole test suite under a display and a sound
# server (scripts/test-env.sh starts private ones when needed). Beside it,
# each with an X server of its own: the tests that record sound again on
# PipeWire, and the Windows build's tests under Wine. Afterwards the tests
# labelled `wayland`, which bring their own Wayland desktop.
#   scripts/run-tests.sh [ctest options]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests
BUILD=${BUILD_DIR:-build}
# A fresh build folder leaves the benchmarks out (nothing here runs them);
# one configured before keeps its choice.
bench=()
[ -f "$BUILD/CMakeCache.txt" ] || bench=(-DFRELVANTA_BENCH=OFF)
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "${bench[@]}" >/dev/null
cmake --build "$BUILD"
# Built before any test runs, so that the compiler does not compete with them.
scripts/run-windows-tests.sh --build-only
status=0

# The other passes share nothing with the first but the processor: each has
# its own X server and sound server. Their reports follow the first one's.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Most desktops run PipeWire's PulseAudio server: the tests that record
# sound run a second time against it.
FV_SOUND_SERVER=pipewire scripts/test-env.sh \
  ctest --test-dir "$BUILD" --output-on-failure --timeout 300 -L sound "$@" >"$logs/pipewire" 2>&1 &
pipewire_pid=$!
# Wine on an X server that resets between clients (as Wine's clipboard
# wants), no sound server.
FV_X_RESET=1 scripts/test-env.sh scripts/run-windows-tests.sh >"$logs/windows" 2>&1 &
windows_pid=$!

# Two tests at a time: those sharing the test display or the sound server
# hold it (their RESOURCE_LOCK), so they still run one after the other.
scripts/test-env.sh ctest --test-dir "$BUILD" --output-on-failure --timeout 300 -j2 -LE wayland "$@" || status=$?
# The Wayland desktop (sway, the screen-cast portal, PipeWire) is started by
# the test's own entry, once, as an unprivileged user.
echo "== The Wayland tests"
ctest --test-dir "$BUILD" --output-on-failure -L wayland "$@" || status=$?

wait "$pipewire_pid" || status=$?
echo "== The tests that record sound, on PipeWire"
cat "$logs/pipewire"
wait "$windows_pid" || status=$?
echo "== Windows build, tests under Wine"
cat "$logs/windows"
exit $status
