#!/usr/bin/env bash
# Installs the Debian packages the project needs, when they are missing (idempotent).
#   deps.sh run    what building and running the gadget needs (scripts/run.sh)
#   deps.sh test   that, and what the tests, benchmarks, fuzzers and packages need
#   deps.sh        the same as test
#   deps.sh windows ARCH        the Windows cross build (ARCH: x86-64 or i686)
#   deps.sh windows-test ARCH   that, and what its tests under wine need
set -euo pipefail
run=(cmake g++ make libx11-dev libxext-dev)
test=(
  clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libgif-dev libimagequant-dev
  xvfb xdotool openbox x11-utils imagemagick binutils icoutils
  gdk-pixbuf-tests wx3.2-examples
  desktop-file-utils dpkg-dev file
)
# GoogleTest's sources are built for the target; wine runs the programs (wine64 alone: no i386
# architecture is needed), on Xvfb for the end-to-end test.
windows=(cmake make g++ "g++-mingw-w64-${2:-x86-64}-posix")
windows_test=(googletest wine64 xvfb xdotool x11-utils imagemagick procps)
case "${1:-test}" in
  run) packages=("${run[@]}") ;;
  test) packages=("${run[@]}" "${test[@]}") ;;
  windows) packages=("${windows[@]}") ;;
  windows-test) packages=("${windows[@]}" "${windows_test[@]}") ;;
  *) echo "usage: deps.sh [run|test|windows ARCH|windows-test ARCH]" >&2; exit 2 ;;
esac
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
