#!/usr/bin/env bash
# A private Mosquitto broker for the tests of the MQTT feed: anonymous, on
# 127.0.0.1 only, on a free port, with its configuration, persistence file and
# log in a temporary folder.
#
#   mqtt-test-broker.sh start       start it and print, for eval, the variables
#                                   the tests need:
#                                     BRONTEL_MQTT_HOST  host:port of the broker
#                                     BRONTEL_MQTT_DIR   its folder
#   mqtt-test-broker.sh restart [DIR]
#                                   stop the broker of DIR (default:
#                                   $BRONTEL_MQTT_DIR) and start it again on the
#                                   same port with the same persistence file
#   mqtt-test-broker.sh stop [DIR]  stop it by its pid and remove DIR
#   mqtt-test-broker.sh run CMD...  start, run CMD with the variables set, stop
#
# Run as root (as CI does), the broker runs as Debian's "mosquitto" user.
set -euo pipefail

die() { echo "mqtt-test-broker: $*" >&2; exit 1; }

free_port() {
  python3 - <<'EOF' 2>/dev/null || echo $((20000 + RANDOM % 20000))
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
EOF
}

launch() {
  local dir="$1" port i drop=()
  port="$(cat "$dir/port")"
  [ "$(id -u)" -eq 0 ] && drop=(setpriv --reuid=mosquitto --regid=mosquitto --init-groups)
  setsid "${drop[@]}" mosquitto -c "$dir/mosquitto.conf" </dev/null >>"$dir/broker.log" 2>&1 &
  echo $! >"$dir/broker.pid"
  for i in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    kill -0 "$(cat "$dir/broker.pid")" 2>/dev/null || { cat "$dir/broker.log" >&2; return 1; }
    sleep 0.1
  done
  return 1
}

start() {
  command -v mosquitto >/dev/null || die "mosquitto is not installed (run scripts/setup.sh)"
  local dir port
  dir="$(mktemp -d "${TMPDIR:-/tmp}/brontel-mqtt.XXXXXX")"
  chmod 755 "$dir"
  port="$(free_port)"
  echo "$port" >"$dir/port"
  cat >"$dir/mosquitto.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $dir/
autosave_interval 1
log_dest stderr
log_type error
log_type warning
log_type notice
EOF
  touch "$dir/.brontel-mqtt"
  if [ "$(id -u)" -eq 0 ]; then
    id mosquitto >/dev/null 2>&1 || die "the mosquitto user is missing (run scripts/setup.sh)"
    chown mosquitto: "$dir"
  fi
  launch "$dir" || { rm -rf "$dir"; die "the broker did not start"; }
  echo "BRONTEL_MQTT_HOST=127.0.0.1:$port; export BRONTEL_MQTT_HOST;"
  echo "BRONTEL_MQTT_DIR=$dir; export BRONTEL_MQTT_DIR;"
}

kill_broker() {
  local dir="$1" pid i
  [ -f "$dir/broker.pid" ] || return 0
  pid="$(cat "$dir/broker.pid")"
  kill "$pid" 2>/dev/null || true
  for i in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/broker.pid"
}

checked_dir() {
  local dir="${1:-${BRONTEL_MQTT_DIR:-}}"
  [ -n "$dir" ] || die "no folder given and BRONTEL_MQTT_DIR is not set"
  [ ! -d "$dir" ] || [ -f "$dir/.brontel-mqtt" ] || die "$dir is not a test broker of this script"
  echo "$dir"
}

restart() {
  local dir
  dir="$(checked_dir "${1:-}")"
  kill_broker "$dir"
  launch "$dir" || die "the broker did not start again"
}

stop() {
  local dir
  dir="$(checked_dir "${1:-}")"
  [ -d "$dir" ] || return 0
  kill_broker "$dir"
  rm -rf "$dir"
}

run() {
  [ $# -gt 0 ] || die "run: no command given"
  local vars status=0
  vars="$(start)"
  eval "$vars"
  trap 'stop "$BRONTEL_MQTT_DIR"' EXIT
  "$@" || status=$?
  exit "$status"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  restart) shift; restart "$@" ;;
  stop) shift; stop "$@" ;;
  run) shift; run "$@" ;;
  *) die "usage: mqtt-test-broker.sh start | restart [DIR] | stop [DIR] | run CMD..." ;;
esac
