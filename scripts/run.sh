#!/usr/bin/env bash
# Installs what is missing, builds Brontel (Release) and starts it.
# Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build/release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF

app=build/release/src/app/brontel
if [ -x "$app" ]; then
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    exec "$app" "$@"
  fi
  echo "run: no desktop here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window" >&2
  echo "run: cannot open; decoding a generated NAVTEX transmission offline instead." >&2
fi

# Without the window: decode a generated NAVTEX transmission offline.
demo=$(mktemp --suffix=.wav)
trap 'rm -f "$demo"' EXIT
build/release/tools/navtex-gen --snr 20 --phasing 5 \
  --text $'ZCZC OA01\nSECURITE. NAVAREA XI WARNING 123/26.\nBUOY OFF STATION 35-12N 139-45E.\nNNNN' "$demo"
build/release/tools/brontel-decode --status "$demo"
