#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, skipping those already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-serialport-dev qt6-serialbus-dev
  libjpeg62-turbo-dev libsimpleini-dev libfontconfig-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils srecord binutils libjpeg-turbo-progs
  # The package test: dpkg-shlibdeps computes the .deb's Depends; desktop-file-validate and appstreamcli
  # check the desktop entry and the metadata; man renders the manual pages; lintian is Debian's own check
  # of the package.
  dpkg-dev desktop-file-utils appstream man-db lintian
  # Data files are tried under a locale whose decimal separator is a comma.
  locales
  # The scope's stored pictures are drawn with this font.
  fonts-dejavu-core
  # record --follow is proved against a real MQTT broker and its command-line clients.
  mosquitto mosquitto-clients
)
if [ "${TARVO_SCREENSHOTS:-0}" = 1 ]; then
  # scripts/screenshots.sh drives the window under Xvfb with xdotool and takes pictures with ImageMagick's
  # import; scripts/icons.sh renders the icon with rsvg-convert.
  packages+=(xdotool imagemagick librsvg2-bin)
fi
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
# The comma-decimal locale the data-file tests run under.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
