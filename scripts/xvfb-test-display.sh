#!/usr/bin/env bash
# A virtual X display for the tests that show real windows (the screenshot).
#
#   xvfb-test-display.sh start   start Xvfb on a free display number and print,
#                                for eval, the variables the tests need:
#                                  export DISPLAY=:N; export BRONTEL_XVFB_PID=PID
#   xvfb-test-display.sh stop [PID]
#                                stop that server by its pid (default:
#                                $BRONTEL_XVFB_PID)
#
# The server picks its own free display number (-displayfd) and reports it only
# once it accepts clients, so "start" returns with a display that answers.
set -euo pipefail

die() { echo "xvfb-test-display: $*" >&2; exit 1; }

start() {
  command -v Xvfb >/dev/null || die "Xvfb is not installed (run scripts/setup.sh)"
  local dir pid i display=""
  dir="$(mktemp -d "${TMPDIR:-/tmp}/brontel-xvfb.XXXXXX")"
  (
    unset DISPLAY
    exec setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
      3>"$dir/display" </dev/null >"$dir/server.log" 2>&1
  ) &
  pid=$!
  for i in $(seq 1 100); do
    display="$(tr -dc '0-9' 2>/dev/null <"$dir/display" || true)"
    [ -n "$display" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
      cat "$dir/server.log" >&2
      rm -rf "$dir"
      die "Xvfb did not start"
    fi
    sleep 0.1
  done
  rm -rf "$dir"
  if [ -z "$display" ]; then
    kill "$pid" 2>/dev/null || true
    die "Xvfb does not answer"
  fi
  echo "export DISPLAY=:$display;"
  echo "export BRONTEL_XVFB_PID=$pid;"
}

stop() {
  local pid="${1:-${BRONTEL_XVFB_PID:-}}" i
  [ -n "$pid" ] || die "stop: no pid given and BRONTEL_XVFB_PID is not set"
  kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid" 2>/dev/null || true
  for i in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) die "usage: xvfb-test-display.sh start | stop [PID]" ;;
esac
