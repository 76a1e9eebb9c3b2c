#!/usr/bin/env bash
# Measures Brontel's processor share and memory while it decodes live with
# both displays on: a private sound server (scripts/pulse-test-server.sh) whose
# standard input device hears a generated NAVTEX emission played in a loop, a
# virtual display (scripts/xvfb-test-display.sh) when DISPLAY is not set, and
# the application's own counters in /proc/<pid>/stat and /proc/<pid>/status.
#
#   measure-app.sh [BUILD_DIR] [SECONDS]     defaults: build/release, 60
#
# Prints the CPU share of one core over SECONDS (after 5 s of start-up) and
# the resident memory at the end and at its peak. Everything started here is
# stopped by its pid afterwards. The settings file beside the executable is
# left as it was (the application is ended without closing its window).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/release}"
seconds="${2:-60}"
app="$build/src/app/brontel"
gen="$build/tools/navtex-gen"
[ -x "$app" ] || { echo "measure-app: $app is not built" >&2; exit 1; }
[ -x "$gen" ] || { echo "measure-app: $gen is not built" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/brontel-measure.XXXXXX")"
app_pid="" player_pid="" xvfb_started=0
cleanup() {
  [ -n "$player_pid" ] && kill "$player_pid" 2>/dev/null || true
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$app_pid" ] && wait "$app_pid" 2>/dev/null || true
  [ "$xvfb_started" = 1 ] && bash scripts/xvfb-test-display.sh stop || true
  [ -n "${BRONTEL_PULSE_DIR:-}" ] && bash scripts/pulse-test-server.sh stop "$BRONTEL_PULSE_DIR" || true
  rm -rf "$work"
}
trap cleanup EXIT

eval "$(bash scripts/pulse-test-server.sh start)"
if [ -z "${DISPLAY:-}" ]; then
  eval "$(bash scripts/xvfb-test-display.sh start)"
  xvfb_started=1
fi

# About 40 s of message after 5 s of phasing, repeated by the player.
text=""
for i in 1 2 3 4 5 6; do
  text+="ZCZC OA0$i"$'\n'"NAVAREA XI WARNING 12$i/26. SOUTHERN PART OF SAGAMI NADA."$'\n'
  text+="BUOY 35-12N 139-45E OFF STATION. VESSELS ARE REQUESTED TO KEEP CLEAR."$'\n'"NNNN"$'\n'
done
"$gen" --snr 20 --phasing 5 --text "$text" "$work/emission.wav"

"$app" >"$work/app.log" 2>&1 &
app_pid=$!
(
  p=""
  trap '[ -n "$p" ] && kill "$p" 2>/dev/null; exit 0' TERM
  while true; do
    paplay "$work/emission.wav" 2>/dev/null &
    p=$!
    wait "$p" || sleep 1
  done
) &
player_pid=$!

sleep 5
kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log" >&2; echo "measure-app: brontel ended" >&2; exit 1; }
ticks() { awk '{ print $14 + $15 }' "/proc/$app_pid/stat"; }
hz="$(getconf CLK_TCK)"
t0="$(ticks)"; w0="$(date +%s.%N)"
peak=0
for _ in $(seq 1 "$seconds"); do
  sleep 1
  rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status")"
  [ "$rss" -gt "$peak" ] && peak="$rss"
done
t1="$(ticks)"; w1="$(date +%s.%N)"
hwm="$(awk '/^VmHWM:/ { print $2 }' "/proc/$app_pid/status")"

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v w0="$w0" -v w1="$w1" -v rss="$rss" -v hwm="$hwm" 'BEGIN {
  wall = w1 - w0
  printf "measured over %.1f s of live decoding, both displays on\n", wall
  printf "CPU: %.2f %% of one core (%.2f s of processor time)\n", 100 * (t1 - t0) / hz / wall, (t1 - t0) / hz
  printf "RSS: %.1f MB now, %.1f MB peak\n", rss / 1024, hwm / 1024
}'
