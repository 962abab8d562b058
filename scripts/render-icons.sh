#!/usr/bin/env bash
# Renders the application icon's PNG sizes from data/icons/frelvanta.svg into
# data/icons/png/. The PNGs are committed, so a build needs no SVG renderer;
# run this after changing the SVG (needs rsvg-convert from librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 24 32 48 64 128 256 512; do
  rsvg-convert -w "$size" -h "$size" frelvanta.svg -o "png/frelvanta-$size.png"
done
