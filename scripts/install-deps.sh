#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: it returns quickly when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libjpeg62-turbo-dev qt6-base-dev qt6-base-dev-tools libgl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core
  desktop-file-utils appstream man-db groff-base dpkg-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
