#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, skipping those already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-serialport-dev qt6-serialbus-dev
  libjpeg62-turbo-dev libsimpleini-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils srecord binutils libjpeg-turbo-progs
)
if [ "${TARVO_FUZZ:-0}" = 1 ]; then
  packages+=(clang-16 libclang-rt-16-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
