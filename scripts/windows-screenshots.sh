#!/usr/bin/env bash
# Takes the screenshots of the region overlay, the region frame and the start
# countdown of the Windows build, painted under Wine on the test display, in
# the scene of the Linux screenshots (the same tiled background, the same
# selection), for comparing them by eye.
#   scripts/test-env.sh scripts/windows-screenshots.sh [folder]   (default: docs/screenshots/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots/windows}")
BUILD=${WINDOWS_BUILD_DIR:-build-windows}
mkdir -p "$out"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target fv_win32_shell_paint_tests
exe=$(realpath "$BUILD/tests/win32/fv_win32_shell_paint_tests.exe")

WINEPREFIX=$(mktemp -d)
work=$(mktemp -d)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  xsetroot -def 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
winecfg -v win10 >/dev/null 2>&1

# The checkered background of the Linux screenshots: 32-pixel squares.
bits=""
for y in $(seq 0 63); do
  for b in $(seq 0 7); do
    [ "$y$b" = "00" ] || bits+=", "
    if { [ "$y" -lt 32 ] && [ "$b" -ge 4 ]; } || { [ "$y" -ge 32 ] && [ "$b" -lt 4 ]; }; then bits+="0xff"; else bits+="0x00"; fi
  done
done
printf '#define t_width 64\n#define t_height 64\nstatic unsigned char t_bits[] = {\n%s};\n' "$bits" >"$work/tile.xbm"
xsetroot -bitmap "$work/tile.xbm" -fg '#3080c0' -bg '#c08030'

for form in overlay:region-overlay frame:region-frame countdown:countdown; do
  wine "$exe" --show "${form%%:*}" 8 &
  pid=$!
  sleep 5
  import -window root "$out/${form#*:}.png"
  wait "$pid"
done
ls -l "$out"
