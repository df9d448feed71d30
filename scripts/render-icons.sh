#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the PNG sizes of the program's icon from its SVG into
# data/icons/<size>/. The PNGs are committed, so building needs no SVG
# renderer; run this after changing the SVG (needs rsvg-convert, Debian
# package librsvg2-bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
svg="$root/data/icons/org.tarnbeck.Tarnbeck.svg"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "$root/data/icons/$size"
  rsvg-convert --width "$size" --height "$size" "$svg" -o "$root/data/icons/$size/org.tarnbeck.Tarnbeck.png"
done
echo "Rendered $(ls "$root"/data/icons/*/org.tarnbeck.Tarnbeck.png | wc -l) PNGs from $svg"
