#!/bin/sh
# Installs the Debian packages the project builds and runs with.
set -e
PKGS="build-essential cmake ninja-build pkg-config libgdal-dev gdal-bin libgeos-dev libpugixml-dev libcpp-httplib-dev libgtest-dev poppler-utils chromium qt6-base-dev libcli11-dev libssl-dev libcairo2-dev libpango1.0-dev fonts-dejavu-core locales postgresql-15 postgresql-15-postgis-3 xvfb openbox x11-utils python3-qgis"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# Node and Python may come from elsewhere than Debian; only their commands matter.
command -v npm >/dev/null 2>&1 || missing="$missing npm"
command -v python3 >/dev/null 2>&1 || missing="$missing python3"
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
# The tests also run under a decimal-comma locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  if [ -f /etc/locale.gen ] && grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  elif ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
