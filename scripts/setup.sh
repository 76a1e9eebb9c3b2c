#!/usr/bin/env bash
# Installs every Debian package Brontel needs to build, test and run.
# Idempotent and non-interactive: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools qt6-translations-l10n libgl-dev
  libpulse-dev libsndfile1-dev libsamplerate0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libsqlite3-dev
  clang libclang-rt-14-dev
  fonts-liberation fonts-noto-cjk fonts-ipafont-gothic
  desktop-file-utils file dpkg-dev man-db libx11-dev
  xvfb xauth
  libxml2-utils
  pulseaudio pulseaudio-utils
  libpq-dev postgresql libmosquitto-dev mosquitto openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
