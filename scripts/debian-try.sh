#!/usr/bin/env bash
# Tries the Debian packages on a fresh Debian 12, as root, in a copy (made beside it) of a
# minimal system made by
#   debootstrap --variant=minbase bookworm CHROOT http://deb.debian.org/debian
# In the copy, with /proc, /sys, /dev and /dev/pts bound: installs protractor with
# `apt-get install ./protractor_*.deb`, runs gifkit and the gadget (on Xvfb, through
# tests/gadget/e2e.sh), builds a program against protractor-dev with CMake and with pkg-config,
# then purges both packages and checks that none of their files is left. CHROOT stays as it was.
#   debian-try.sh CHROOT DEB_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pristine=$(cd "${1:?usage: debian-try.sh CHROOT DEB_DIR}" && pwd)
debs=$(cd "${2:?usage: debian-try.sh CHROOT DEB_DIR}" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "debian-try.sh: must run as root"; exit 2; }
[ -x "$pristine/usr/bin/apt-get" ] || { echo "debian-try.sh: $pristine is not a Debian system"; exit 2; }

system=$(mktemp -d "$(dirname "$pristine")/try.XXXXXX")
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" || umount -l "${mounted[i]}"; done
  rm -rf --one-file-system "$system"
}
trap cleanup EXIT
cp -a "$pristine/." "$system"
for fs in proc sys dev dev/pts; do
  mount --bind "/$fs" "$system/$fs"
  mounted+=("$system/$fs")
done
cp /etc/resolv.conf "$system/etc/resolv.conf"
mkdir -p "$system/tmp/try"
# The end-to-end test, with the helpers it sources and xwait, a test program of the build.
xwait=${XWAIT:-$root/build/release/bin/xwait}
mkdir -p "$system/tmp/try/tests/gadget" "$system/tmp/try/tests/common"
cp "$debs"/protractor_*.deb "$debs"/protractor-dev_*.deb "$xwait" "$system/tmp/try/"
cp "$root/tests/gadget/e2e.sh" "$system/tmp/try/tests/gadget/"
cp "$root/tests/common/e2e_session.sh" "$system/tmp/try/tests/common/"
cp -r "$root/packaging/consumer" "$system/tmp/try/consumer"
gif=${PROTRACTOR_CORPUS:-$root/../shared/corpus}/suite-wuffs/test/data/muybridge.gif
cp "$gif" "$system/tmp/try/picture.gif"

chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  DEBIAN_FRONTEND=noninteractive /bin/bash -euo pipefail -c '
cd /tmp/try
fail() { echo "FAIL: $*"; exit 1; }
apt-get update -qq
echo "== apt-get install ./protractor_*.deb"
apt-get install -y -q ./protractor_*.deb >apt.log
grep -E "^[0-9]+ upgraded|^Setting up protractor" apt.log
dpkg -L protractor >files.list
if ldd /usr/libexec/protractor/protractor /usr/bin/gifkit | grep "not found"; then fail "missing libraries"; fi
gifkit info picture.gif | head -n 2
zcat /usr/share/man/man1/gifkit.1.gz | head -n 1
status=0
message=$(protractor 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "protractor without a display: status $status"
echo "ok: protractor without a display says: $message"

echo "== The gadget on Xvfb, started by the launcher"
apt-get install -y -q --no-install-recommends xvfb x11-utils xdotool imagemagick >/dev/null
bash tests/gadget/e2e.sh /usr/bin/protractor ./xwait | grep -v "^info:"

echo "== apt-get install ./protractor-dev_*.deb, and a program built against it"
apt-get install -y -q --no-install-recommends ./protractor-dev_*.deb g++ cmake make pkg-config >/dev/null
dpkg -L protractor-dev >>files.list
cmake -S consumer -B consumer/build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build consumer/build >/dev/null
echo "CMake:      $(consumer/build/gifsize picture.gif)"
g++ -std=c++20 -O2 -o gifsize-pc consumer/gifsize.cpp $(pkg-config --cflags --libs protractor-gif)
echo "pkg-config: $(./gifsize-pc picture.gif)"

echo "== apt-get purge protractor protractor-dev"
apt-get purge -y -q protractor protractor-dev >apt.log
grep -E "^[0-9]+ upgraded|^(Removing|Purging)" apt.log
left=0
while read -r path; do
  [ -e "$path" ] && [ ! -d "$path" ] && { echo "left behind: $path"; left=1; }
done <files.list
for dir in /usr/libexec/protractor /usr/include/protractor /usr/lib/cmake/Protractor; do
  [ -e "$dir" ] && { echo "left behind: $dir"; left=1; }
done
[ "$left" -eq 0 ] || fail "files left after the purge"
echo "ok: nothing of the packages is left ($(wc -l <files.list) paths checked)"
'
echo "PASS: the packages install, run and purge cleanly on a fresh Debian 12"
