#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the Release
# build with all tests (a private sound server and a virtual display are
# started for them and stopped afterwards), then the headless parts again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/build.sh build/ci -DBUILD_TESTING=ON -DBUILD_BENCHMARKS=ON

services=()
cleanup() {
  for s in "${services[@]}"; do bash "scripts/$s" stop || true; done
}
trap cleanup EXIT
if [ -f scripts/pulse-test-server.sh ]; then
  eval "$(bash scripts/pulse-test-server.sh start)"
  services+=(pulse-test-server.sh)
fi
if [ -f scripts/xvfb-test-display.sh ]; then
  eval "$(bash scripts/xvfb-test-display.sh start)"
  services+=(xvfb-test-display.sh)
fi

ctest --test-dir build/ci --output-on-failure -j"$(nproc)" --timeout 300

bash scripts/build.sh build/sanitize -DSANITIZE=ON -DBUILD_GUI=OFF -DBUILD_AUDIO=OFF \
  -DBUILD_BENCHMARKS=OFF -DBUILD_TESTING=ON
ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)" --timeout 600
