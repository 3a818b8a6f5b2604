#!/usr/bin/env bash
# Installs the Debian packages that building and testing Cartfeeder need.
# Idempotent: quiet when everything is present; refreshes the package lists only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format clang
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libsqlite3-dev libcurl4-openssl-dev libgmime-3.0-dev libzip-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd openssl ffmpeg strace
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
