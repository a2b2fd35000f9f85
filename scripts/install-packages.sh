#!/usr/bin/env bash
# Installs the Debian packages that building and testing the plug-in need:
# the i686 mingw-w64 cross compilers, 32-bit Wine with Mesa for a real
# Direct3D 9 device under Xvfb, and the helpers the third-party source builds
# use. Idempotent: when every package is present it returns without touching
# apt. Must run as root on Debian 12.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build dpkg-dev python3
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  libz-mingw-w64-dev libutfcpp-dev libstb-dev fonts-dejavu-core
  wine wine32:i386 xvfb xauth
  libgl1:i386 libglx0:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386
  googletest zip unzip bc chromium
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
sources_ok=1
grep -qs 'deb-src' /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list || sources_ok=0
if [[ ${#missing[@]} -eq 0 && $sources_ok -eq 1 ]]; then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "install-packages: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [[ $sources_ok -eq 0 ]]; then
  # Source packages are fetched for the third-party builds.
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/vornak-src.list
  fi
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
