#!/usr/bin/env bash
# A private PulseAudio server for the capture tests: one null sink at 44100 Hz
# stereo that is the default sink, with its monitor as the default source, so
# that whatever is played into the server is what "the standard input device"
# records.
#
#   pulse-test-server.sh start [DIR]   start a server in DIR (default: a new
#                                      temporary folder) and print, for eval,
#                                      the variables the tests need
#   pulse-test-server.sh stop [DIR]    stop the server of DIR (default:
#                                      $BRONTEL_PULSE_DIR) by its pid and remove DIR
#   pulse-test-server.sh run CMD...    start, run CMD with the variables set,
#                                      stop; exits with CMD's status
#
# The server, its socket, its state and its log live in DIR only; nothing of
# the user's own sound setup is touched. Works as root (as CI runs).
set -euo pipefail

SINK=brontel_test

die() { echo "pulse-test-server: $*" >&2; exit 1; }

start() {
  local dir="${1:-}"
  command -v pulseaudio >/dev/null || die "pulseaudio is not installed (run scripts/setup.sh)"
  command -v pactl >/dev/null || die "pactl is not installed (run scripts/setup.sh)"
  if [ -z "$dir" ]; then
    dir="$(mktemp -d "${TMPDIR:-/tmp}/brontel-pulse.XXXXXX")"
  else
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
  fi
  [ -e "$dir/server.pid" ] && die "a server already runs in $dir"
  chmod 700 "$dir"

  local socket="$dir/native"
  cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=$SINK rate=44100 channels=2 sink_properties=device.description=Brontel-Test-Output
set-default-sink $SINK
set-default-source $SINK.monitor
EOF

  (
    export HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" PULSE_SERVER="unix:$socket"
    unset DBUS_SESSION_BUS_ADDRESS DISPLAY
    exec setsid pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 \
      --use-pid-file=no --disallow-exit --log-target=stderr \
      </dev/null >"$dir/server.log" 2>&1
  ) &
  echo $! >"$dir/server.pid"

  local i
  for i in $(seq 1 100); do
    if PULSE_SERVER="unix:$socket" HOME="$dir" XDG_RUNTIME_DIR="$dir" pactl info >/dev/null 2>&1; then
      break
    fi
    if ! alive "$(cat "$dir/server.pid")"; then
      cat "$dir/server.log" >&2
      rm -f "$dir/server.pid"
      die "the server did not start"
    fi
    sleep 0.1
  done
  PULSE_SERVER="unix:$socket" HOME="$dir" XDG_RUNTIME_DIR="$dir" pactl info >/dev/null 2>&1 || {
    stop "$dir"
    die "the server does not answer"
  }

  # A fresh null sink hands its first data to a reader only after up to 2 s
  # unless a low-latency reader is attached: keep one for the server's life.
  (
    export HOME="$dir" XDG_RUNTIME_DIR="$dir" PULSE_SERVER="unix:$socket"
    exec setsid parec --latency-msec=20 -d "$SINK.monitor" --raw </dev/null >/dev/null 2>>"$dir/server.log"
  ) &
  echo $! >"$dir/reader.pid"
  # Wait for the first data to come through at low latency (the keeper is
  # attached by then).
  PULSE_SERVER="unix:$socket" HOME="$dir" XDG_RUNTIME_DIR="$dir" \
    timeout 10 parec --latency-msec=20 -d "$SINK.monitor" --raw 2>/dev/null | head -c 1764 >/dev/null || true

  echo "PULSE_SERVER=unix:$socket; export PULSE_SERVER;"
  echo "BRONTEL_PULSE_DIR=$dir; export BRONTEL_PULSE_DIR;"
}

# Whether process $1 still runs (an exited process waiting to be reaped does not).
alive() {
  local state
  state="$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

stop_pid() {
  local file="$1" pid i
  [ -f "$file" ] || return 0
  pid="$(cat "$file")"
  if alive "$pid"; then
    kill "$pid" 2>/dev/null || true
    for i in $(seq 1 50); do
      alive "$pid" || break
      sleep 0.1
    done
    if alive "$pid"; then kill -9 "$pid" 2>/dev/null || true; fi
  fi
  rm -f "$file"
}

stop() {
  local dir="${1:-${BRONTEL_PULSE_DIR:-}}"
  [ -n "$dir" ] || die "stop: no folder given and BRONTEL_PULSE_DIR is not set"
  [ -d "$dir" ] || return 0
  stop_pid "$dir/reader.pid"
  stop_pid "$dir/server.pid"
  # Only ever remove a folder this script set up.
  if [ -f "$dir/server.pa" ]; then rm -rf "$dir"; fi
}

run() {
  [ $# -gt 0 ] || die "run: no command given"
  local vars status=0
  vars="$(start)"
  eval "$vars"
  trap 'stop "$BRONTEL_PULSE_DIR"' EXIT
  "$@" || status=$?
  exit "$status"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  run) shift; run "$@" ;;
  *) die "usage: pulse-test-server.sh start [DIR] | stop [DIR] | run CMD..." ;;
esac
