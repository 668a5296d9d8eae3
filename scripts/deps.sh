#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build, the tests and the program need.
set -euo pipefail
PKGS=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
      libgtest-dev libgmock-dev libbenchmark-dev xorriso xvfb xauth fonts-dejavu-core
      qt6-translations-l10n fonts-noto-cjk file dpkg-dev python3 unicode-data
      dbus at-spi2-core python3-pyatspi xdotool imagemagick openbox trayer
      libarchive-dev libudfread-dev udftools p7zip-full python3-pycdlib
      plocate liburing-dev)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
