#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the Release
# build with all tests (a private sound server, a virtual display, a private
# MQTT broker and a private PostgreSQL cluster are started for them and
# stopped afterwards), then the
# headless parts again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and last the fuzz targets. Each later tree is built in the background, at the
# lowest priority, while the tests of the tree before it run: many of those
# tests wait on real time (sound played through the server, servers stopped
# and started) and would leave a core idle.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/build.sh build/ci -DBUILD_TESTING=ON -DBUILD_BENCHMARKS=ON

services=()
background=""
cleanup() {
  if [ -n "$background" ]; then kill -- "-$background" 2>/dev/null || true; fi
  for s in "${services[@]}"; do bash "scripts/$s" stop || true; done
}
trap cleanup EXIT

# start_background LOG CMD...: runs CMD in a process group of its own (so that
# cleanup can stop all of it by its pid) at the lowest priority.
start_background() {
  local log=$1
  shift
  setsid nice -n 19 "$@" >"$log" 2>&1 </dev/null &
  background=$!
}
# finish_background WHAT LOG: the background command is now all there is to
# wait for, so it gets this script's priority back (where that is allowed, as
# for root); waits for it, and on failure shows the end of its log and fails.
finish_background() {
  local status=0
  renice -n "$(nice)" -g "$background" >/dev/null 2>&1 || true
  wait "$background" || status=$?
  background=""
  if [ "$status" -ne 0 ]; then
    echo "$1 failed (exit $status); the end of $2:" >&2
    tail -n 60 "$2" >&2
    exit 1
  fi
  echo "$1: done"
}
if [ -f scripts/pulse-test-server.sh ]; then
  eval "$(bash scripts/pulse-test-server.sh start)"
  services+=(pulse-test-server.sh)
fi
if [ -f scripts/xvfb-test-display.sh ]; then
  eval "$(bash scripts/xvfb-test-display.sh start)"
  services+=(xvfb-test-display.sh)
fi
if [ -f scripts/mqtt-test-broker.sh ]; then
  eval "$(bash scripts/mqtt-test-broker.sh start)"
  services+=(mqtt-test-broker.sh)
fi
if [ -f scripts/postgres-test-server.sh ]; then
  eval "$(bash scripts/postgres-test-server.sh start)"
  services+=(postgres-test-server.sh)
fi

mkdir -p build
# At -O1 the sanitizers find the same faults and the build costs well under half the
# processor time of -O3 (77 s against 29 s for the message store alone).
start_background build/sanitize.log bash scripts/build.sh build/sanitize -DSANITIZE=ON -DBUILD_GUI=OFF \
  -DBUILD_AUDIO=OFF -DBUILD_BENCHMARKS=OFF -DBUILD_TESTING=ON "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
ctest --test-dir build/ci --output-on-failure -j"$(nproc)" --timeout 300
finish_background "sanitizer build (build/sanitize)" build/sanitize.log

# The fuzz targets (tests/fuzz), built with clang under ASan and UBSan, each
# for a short run from its seed corpus. New inputs go to build/fuzz/corpus.
have_clang=""
if command -v clang++ >/dev/null 2>&1; then
  have_clang=1
  start_background build/fuzz.log bash -c 'CXX=clang++ cmake -S tests/fuzz -B build/fuzz \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" && cmake --build build/fuzz -j"$(nproc)"'
fi
ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)" --timeout 600

if [ -n "$have_clang" ]; then
  finish_background "fuzz targets' build (build/fuzz)" build/fuzz.log
  # As many targets at once as there are cores, so each still has a core for
  # its whole time.
  targets=(bit_decoder soft_decoder file_reader settings message_text)
  for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    mkdir -p "build/fuzz/corpus/$target"
    rm -f "build/fuzz/$target.status"
    echo "fuzzing $target for ${FUZZ_SECONDS:-10} s"
    (
      status=0
      "build/fuzz/fuzz_$target" -max_total_time="${FUZZ_SECONDS:-10}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix=build/fuzz/ "build/fuzz/corpus/$target" "tests/fuzz/corpus/$target" \
        2>"build/fuzz/$target.log" || status=$?
      echo "$status" >"build/fuzz/$target.status"
    ) &
  done
  wait
  fuzz_failed=0
  for target in "${targets[@]}"; do
    if [ "$(cat "build/fuzz/$target.status" 2>/dev/null)" != 0 ]; then
      echo "fuzz_$target failed; the end of build/fuzz/$target.log:" >&2
      tail -n 40 "build/fuzz/$target.log" >&2
      fuzz_failed=1
    fi
    echo "$target: $(grep -E '^stat::number_of_executed_units' "build/fuzz/$target.log" || true)"
  done
  [ "$fuzz_failed" -eq 0 ] || exit 1
else
  echo "clang++ not found: fuzz targets skipped (scripts/setup.sh installs clang)"
fi
