#!/usr/bin/env bash
# Installs every Debian package Kestrel needs to build, test and benchmark. Idempotent: packages
# already present are not asked for again, and apt-get update runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  liblzma-dev liblz4-dev qt6-base-dev
  libsquish-dev libspng-dev libopenexr-dev python3-pil nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  imagemagick assimp-utils ffmpeg
  libastcenc-dev astcenc etc1tool
  xvfb x11-utils xdotool
  dpkg-dev lintian man-db desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
