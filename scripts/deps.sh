#!/usr/bin/env bash
# Installs the Debian packages the project needs, when they are missing (idempotent).
set -euo pipefail
packages=(
  cmake g++ clang libclang-rt-14-dev make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev libxext-dev
  libgif-dev libimagequant-dev
  xvfb xdotool openbox x11-utils imagemagick binutils icoutils
  gdk-pixbuf-tests wx3.2-examples
  desktop-file-utils dpkg-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
