#!/usr/bin/env bash
# Draws the Windows build's own placeholder icons (idle, recording, paused)
# into src/app/win32/icons/ with ImageMagick. They stand in until the product
# icon exists; run again after changing a colour.
set -euo pipefail
cd "$(dirname "$0")/../src/app/win32/icons"
draw() {  # name, ring colour, inner drawing
  local name=$1 ring=$2 inner=$3
  convert -size 256x256 xc:none -fill "#20242c" -draw "roundrectangle 16,16 240,240 48,48" \
    -fill none -stroke "$ring" -strokewidth 20 -draw "circle 128,128 128,44" \
    -stroke none -fill "$ring" -draw "$inner" \
    -define icon:auto-resize=48,32,24,16 "$name.ico"
}
draw idle "#9aa4b4" "circle 128,128 128,96"
draw recording "#e5393b" "circle 128,128 128,88"
draw paused "#f0a020" "rectangle 98,92 120,164 rectangle 136,92 158,164"
