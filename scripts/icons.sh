#!/usr/bin/env bash
# Renders the program's icon data/icons/tarvo.svg to the PNG sizes a desktop uses (data/icons/NxN.png).
# The PNGs are committed, so a build needs no SVG renderer; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" data/icons/tarvo.svg --output "data/icons/${size}x${size}.png"
done
