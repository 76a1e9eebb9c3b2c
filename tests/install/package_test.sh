#!/usr/bin/env bash
# Builds the Debian package from the build tree into a temporary folder and
# checks its control fields and contents with dpkg-deb:
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; exit 1; }
arch=$(dpkg --print-architecture)
deb=$tmp/brontel_${version}_${arch}.deb
[ -f "$deb" ] || { echo "FAIL: no $(basename "$deb") in: $(ls "$tmp")" >&2; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = brontel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = hamradio ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
# One package name a line, versions dropped.
depends_names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
needs() { grep -qxF "$1" <<<"$depends_names" || fail "Depends lacks $1: $depends"; }
# The fonts by hand; the libraries from the programs (shlibdeps).
for dep in fonts-noto-cjk fonts-ipafont-gothic fonts-liberation libc6 libstdc++6 libsndfile1 libsqlite3-0 libpq5 libmosquitto1; do
  needs "$dep"
done
grep -q "pulseaudio | pipewire-pulse" <<<"$(field Recommends)" || fail "Recommends: $(field Recommends)"
grep -qw "pavucontrol" <<<"$(field Recommends)" || fail "Recommends lacks the mixer: $(field Recommends)"
field Description | grep -q "GPL-3.0-or-later" || fail "the description does not name the licence"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
has() { grep -qxF "./usr/$1" <<<"$contents" || fail "the package lacks /usr/$1"; }
has bin/brontel-decode
has bin/navtex-gen
has share/man/man1/brontel-decode.1.gz
has share/man/man1/navtex-gen.1.gz
has share/doc/brontel/copyright
has share/brontel/navtex-stations.csv
has share/doc/brontel/LICENSE
has share/doc/brontel/README.md
has share/doc/brontel/changelog.gz
if grep -qxF ./usr/bin/brontel <<<"$contents"; then
  has share/applications/brontel.desktop
  has share/icons/hicolor/scalable/apps/brontel.svg
  has share/icons/hicolor/48x48/apps/brontel.png
  has share/man/man1/brontel.1.gz
  has share/brontel/translations/brontel_en.qm
  has share/brontel/translations/brontel_ja.qm
  needs libqt6widgets6
  needs libpulse0
fi
outside=$(grep -vE '^\./(usr(/.*)?)?$' <<<"$contents" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
strays=$(grep -E 'test|bench' <<<"$contents" || true)
[ -z "$strays" ] || fail "tests or benchmarks packaged: $strays"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) of the package failed" >&2
  exit 1
fi
echo "package $(basename "$deb"): all checks passed"
