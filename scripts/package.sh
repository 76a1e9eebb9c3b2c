#!/usr/bin/env bash
# Builds the Debian package: set-up, a Release build of the programs in
# build/package (no tests, no benchmarks), then CPack. The package is left in
# out/ as brontel_<version>_<arch>.deb and its path printed.
# Extra arguments go to CMake (e.g. -DBRONTEL_PACKAGE_MAINTAINER="Name <mail>").
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/build.sh build/package -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF "$@"
rm -rf build/package/package
cpack --config build/package/CPackConfig.cmake >/dev/null
mkdir -p out
for deb in build/package/package/*.deb; do
  mv -f "$deb" out/
  echo "out/$(basename "$deb")"
done
