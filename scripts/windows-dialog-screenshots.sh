#!/usr/bin/env bash
# Takes screenshots of the dialogs on the system's dialog manager under Wine
# (Windows cross build in build-windows/), beside the Linux host's in
# docs/screenshots/. Runs on a display with a window manager:
#   scripts/test-env.sh scripts/windows-dialog-screenshots.sh [folder]
# (default folder: docs/screenshots/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots/windows}")
BUILD=${WINDOWS_BUILD_DIR:-build-windows}
mkdir -p "$out"
cmake --build "$BUILD" --target fv_win32_dialog_preview
preview=$(realpath "$BUILD/tests/win32/fv_win32_dialog_preview.exe")

WINEPREFIX=$(mktemp -d)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
openbox >/dev/null 2>&1 &
wm=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$wm" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
winecfg -v win10 >/dev/null 2>&1
# The dialogs ask for "Segoe UI", which Wine does not have; its fallback is
# much wider than the face the layout was made for. Nimbus Sans (from the
# base fonts) has Arial's widths, which are close, and the Linux host picks
# it too, so the two screenshots compare like with like.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Segoe UI' /d 'Nimbus Sans' /f >/dev/null 2>&1 || true

shoot() {  # dialog, window title (start), file
  wine "$preview" "$1" &
  local pid=$!
  local win
  win=$(timeout 30 xdotool search --sync --onlyvisible --name "^$2" | head -1)
  sleep 2  # let it paint
  import -frame -window "$win" "$out/$3"
  # Ends the preview with everything Wine runs for it.
  wineserver -k 2>/dev/null || true
  wait "$pid" || true
}
shoot settings "Frelvanta 3.3.0" settings.png
shoot about "About Frelvanta" about.png
shoot donate "Donate to Frelvanta" donate.png
shoot update-available "Frelvanta Update Available" update-available.png
ls -l "$out"
