#!/usr/bin/env bash
# Renders the application icon (data/icons/brontel.svg) into the PNG sizes that
# are installed beside it. Run after changing the SVG and commit the PNG files;
# needs rsvg-convert (Debian package librsvg2-bin), which the build does not.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" brontel.svg -o "hicolor/${size}x${size}/apps/brontel.png"
done
