#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests of the shared message store: a
# fresh cluster (initdb) in a temporary folder, listening only on a Unix
# socket in that folder, on a free port number, with one database "brontel".
#
#   postgres-test-server.sh start   start it and print, for eval, the variables
#                                   the tests need:
#                                     BRONTEL_PG_URI   a libpq URI of the database
#                                     BRONTEL_PG_DIR   the cluster's folder
#   postgres-test-server.sh stop [DIR]
#                                   stop the cluster of DIR (default:
#                                   $BRONTEL_PG_DIR) by its pid and remove DIR
#   postgres-test-server.sh halt [DIR]
#                                   stop the server of DIR, keeping the cluster
#   postgres-test-server.sh resume [DIR]
#                                   start it again on the same port
#   postgres-test-server.sh run CMD...
#                                   start, run CMD with the variables set, stop
#
# PostgreSQL refuses to run as root; run as root (as CI does), the cluster
# belongs to the "postgres" user that Debian's package creates. Nothing outside
# the folder is touched: no system cluster is created, started or changed.
# The cluster does not wait for its files to reach the disk (no fsync): a
# stopped server keeps everything, a machine that crashes may not.
set -euo pipefail

die() { echo "postgres-test-server: $*" >&2; exit 1; }

bindir() {
  local d
  for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && { echo "$d"; return 0; }
  done
  return 1
}

# A TCP port nobody listens on (the socket file is named after it).
free_port() {
  python3 - <<'EOF' 2>/dev/null || echo $((20000 + RANDOM % 20000))
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
EOF
}

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# Starts the server of the cluster in $1 on the port in $1/port and waits
# until it answers.
launch() {
  local dir="$1" bin port i drop=()
  bin="$(bindir)" || die "PostgreSQL is not installed (run scripts/setup.sh)"
  port="$(cat "$dir/port")"
  # setpriv executes the server itself (no process in between), so $! is its pid.
  [ "$(id -u)" -eq 0 ] && drop=(setpriv --reuid=postgres --regid=postgres --init-groups)
  setsid "${drop[@]}" "$bin/postgres" -D "$dir/data" -k "$dir" -p "$port" -c listen_addresses='' \
    -c max_connections=50 -c fsync=off </dev/null >>"$dir/server.log" 2>&1 &
  echo $! >"$dir/server.pid"
  for i in $(seq 1 100); do
    if as_owner "$bin/pg_isready" -q -h "$dir" -p "$port" 2>/dev/null; then return 0; fi
    if ! kill -0 "$(cat "$dir/server.pid")" 2>/dev/null; then
      cat "$dir/server.log" >&2
      return 1
    fi
    sleep 0.1
  done
  as_owner "$bin/pg_isready" -q -h "$dir" -p "$port"
}

# Stops the server of the cluster in $1 (the fast shutdown), by its pid.
halt_server() {
  local dir="$1" pid i
  [ -f "$dir/server.pid" ] || return 0
  pid="$(head -n 1 "$dir/data/postmaster.pid" 2>/dev/null || cat "$dir/server.pid")"
  # SIGINT: the fast shutdown (clients disconnected, no wait for them).
  kill -INT "$pid" 2>/dev/null || true
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/server.pid"
}

start() {
  local bin dir port
  bin="$(bindir)" || die "PostgreSQL is not installed (run scripts/setup.sh)"
  dir="$(mktemp -d "${TMPDIR:-/tmp}/brontel-pg.XXXXXX")"
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    id postgres >/dev/null 2>&1 || die "the postgres user is missing (run scripts/setup.sh)"
    chown postgres: "$dir"
  fi
  touch "$dir/.brontel-pg"
  as_owner "$bin/initdb" -N -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; rm -rf "$dir"; die "initdb failed"; }
  port="$(free_port)"
  echo "$port" >"$dir/port"
  launch "$dir" || { stop "$dir"; die "the server did not start"; }
  as_owner "$bin/createdb" -h "$dir" -p "$port" -U postgres brontel || { stop "$dir"; die "createdb failed"; }

  echo "BRONTEL_PG_URI='postgresql://postgres@/brontel?host=$dir&port=$port'; export BRONTEL_PG_URI;"
  echo "BRONTEL_PG_DIR=$dir; export BRONTEL_PG_DIR;"
}

checked_dir() {
  local dir="${1:-${BRONTEL_PG_DIR:-}}"
  [ -n "$dir" ] || die "no folder given and BRONTEL_PG_DIR is not set"
  # Only ever stop and remove what this script set up.
  [ ! -d "$dir" ] || [ -f "$dir/.brontel-pg" ] || die "$dir is not a test cluster of this script"
  echo "$dir"
}

halt() {
  local dir
  dir="$(checked_dir "${1:-}")"
  halt_server "$dir"
}

resume() {
  local dir
  dir="$(checked_dir "${1:-}")"
  [ -d "$dir" ] || die "resume: no cluster in $dir"
  launch "$dir" || die "the server did not start again"
}

stop() {
  local dir
  dir="$(checked_dir "${1:-}")"
  [ -d "$dir" ] || return 0
  halt_server "$dir"
  rm -rf "$dir"
}

run() {
  [ $# -gt 0 ] || die "run: no command given"
  local vars status=0
  vars="$(start)"
  eval "$vars"
  trap 'stop "$BRONTEL_PG_DIR"' EXIT
  "$@" || status=$?
  exit "$status"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  halt) shift; halt "$@" ;;
  resume) shift; resume "$@" ;;
  run) shift; run "$@" ;;
  *) die "usage: postgres-test-server.sh start | stop [DIR] | halt [DIR] | resume [DIR] | run CMD..." ;;
esac
