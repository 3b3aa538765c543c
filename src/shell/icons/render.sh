#!/usr/bin/env bash
# Renders the program's icon to the PNG sizes kept beside it (needs rsvg-convert).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" tobrinel.svg -o "tobrinel-$size.png"
done
