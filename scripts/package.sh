#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a user and a developer get: the
# programs and the gadget's folder, the desktop entry and icons, the gadget started by the
# installed launcher, a program outside the source tree built against the installed CMake and
# pkg-config packages and run on a GIF, and the Debian packages with their contents.
#   package.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
pids=()
stop() { # ends the processes this script started
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  pids=()
}
trap 'stop; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

prefix=$work/prefix
echo "-- cmake --install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libprotractor_gif.a | head -n 1)")
[ -d "$libdir" ] || fail "libprotractor_gif.a is not installed"
rulers=()
for ruler in Plank1024.exe Plank800.exe Spire1024.exe Spire800.exe; do
  [ -e "$build/bin/$ruler" ] && rulers+=("$ruler")
done
for file in bin/protractor bin/gifkit libexec/protractor/protractor libexec/protractor/Mantle.dll \
  libexec/protractor/Vanes.dll share/applications/protractor.desktop share/man/man1/gifkit.1.gz \
  include/protractor/gif/gif.h include/protractor/toolkit/core/streams.h \
  "${rulers[@]/#/bin/}" "${rulers[@]/#/libexec/protractor/}"; do
  [ -e "$prefix/$file" ] || fail "$file is not installed"
done
for lib in toolkit_core toolkit_system toolkit_device toolkit_window colour cursor gif; do
  [ -f "$libdir/libprotractor_$lib.a" ] || fail "libprotractor_$lib.a is not installed"
done
for file in cmake/Protractor/ProtractorConfig.cmake cmake/Protractor/ProtractorConfigVersion.cmake \
  cmake/Protractor/ProtractorTargets.cmake pkgconfig/protractor-{toolkit,colour,cursor,gif}.pc; do
  [ -f "$libdir/$file" ] || fail "$file is not installed"
done
echo "ok: the files are installed (${#rulers[@]} ruler programs)"

desktop-file-validate "$prefix/share/applications/protractor.desktop" || fail "desktop-file-validate"
echo "ok: desktop-file-validate"
for icon in "$prefix"/share/icons/hicolor/*/apps/protractor.png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  [ "$(identify -format '%wx%h' "$icon")" = "$size" ] || fail "$icon is not $size"
done
echo "ok: icons $(ls "$prefix/share/icons/hicolor" | tr '\n' ' ')"
zcat "$prefix/share/man/man1/gifkit.1.gz" | grep -q '^\.TH GIFKIT 1' || fail "gifkit.1 is not a manual page"
"$prefix/bin/gifkit" --help >/dev/null || fail "the installed gifkit does not run"

# The launcher starts the gadget in its folder, where it finds its side libraries.
status=0
bash "$root/tests/gadget/e2e.sh" "$prefix/bin/protractor" "$build/bin/xwait" >"$work/e2e.log" 2>&1 ||
  status=$?
if [ $status -eq 77 ]; then
  echo "skip: the installed gadget ($(tail -n 1 "$work/e2e.log"))"
elif [ $status -ne 0 ]; then
  cat "$work/e2e.log"
  fail "the installed gadget"
else
  echo "ok: the installed launcher starts the gadget with its outline and pointer pictures"
fi
# Its working directory is the gadget's folder, so its ruler button starts the installed ruler.
if [ ${#rulers[@]} -eq 4 ] && [ $status -eq 0 ]; then
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/displayfd" \
    >/dev/null 2>&1 &
  pids+=($!)
  read -r -t 180 n <"$work/displayfd" || fail "Xvfb did not start"
  export DISPLAY=":$n"
  "$prefix/bin/protractor" 2>/dev/null &
  pids+=($!)
  win=$("$build/bin/xwait" window Form1 180) || fail "the installed gadget's window did not appear"
  [ "$(readlink "/proc/${pids[-1]}/cwd")" = "$prefix/libexec/protractor" ] ||
    fail "the launcher did not start the gadget in its folder"
  read -r x y < <(xdotool getwindowgeometry "$win" |
    sed -n 's/.*Position: \([-0-9]*\),\([-0-9]*\).*/\1 \2/p')
  sleep 0.5
  xdotool mousemove $((x + 145)) $((y + 101)) click 1
  "$build/bin/xwait" window Plank1024 180 >/dev/null ||
    fail "the installed gadget's ruler button did not start Plank1024.exe"
  echo "ok: the installed gadget runs in its folder and starts Plank1024.exe from there"
  stop
  unset DISPLAY
fi

# Every installed header compiles on the installed include path alone.
includes=$prefix/include/protractor
(cd "$includes" && find . -name '*.h' | sed 's|^\./\(.*\)|#include "\1"|') >"$work/all_headers.cpp"
g++ -std=c++20 -fsyntax-only -I"$includes" "$work/all_headers.cpp" || fail "the installed headers"
echo "ok: $(wc -l <"$work/all_headers.cpp") installed headers compile"

# A program outside the source tree, built against the installed package in two ways.
gif=${PROTRACTOR_CORPUS:-$root/../shared/corpus}/suite-wuffs/test/data/muybridge.gif
[ -f "$gif" ] || gif=$build/resources/art/PT.gif
cp -r "$root/packaging/consumer" "$work/consumer"
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null || fail "find_package(Protractor)"
cmake --build "$work/consumer/build" >/dev/null || fail "the consumer does not build with CMake"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046  # the flags are meant to split
g++ -std=c++20 -O2 -o "$work/gifsize-pc" "$work/consumer/gifsize.cpp" $(pkg-config --cflags --libs protractor-gif) ||
  fail "the consumer does not build with pkg-config"
info=$("$prefix/bin/gifkit" info "$gif")
size=$(head -n 1 <<<"$info" | sed 's/.*, \([0-9]* x [0-9]*\), .*/\1/')
expected="$size, $(grep -c '^frame ' <<<"$info") frames"
for consumer in "$work/consumer/build/gifsize" "$work/gifsize-pc"; do
  got=$("$consumer" "$gif")
  [[ "$got" == "$expected"* ]] || fail "$(basename "$consumer") $gif: expected '$expected', got '$got'"
done
echo "ok: the consumer built with CMake and with pkg-config reads $(basename "$gif"): $got"

# The Debian packages.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null || fail "cpack -G DEB"
deb=$(ls "$work"/deb/protractor_*.deb)
dev=$(ls "$work"/deb/protractor-dev_*.deb)
dpkg-deb -c "$deb" >"$work/deb.list"
dpkg-deb -c "$dev" >"$work/dev.list"
for file in usr/bin/protractor usr/bin/gifkit usr/libexec/protractor/protractor \
  usr/libexec/protractor/Mantle.dll usr/libexec/protractor/Vanes.dll \
  usr/share/applications/protractor.desktop usr/share/icons/hicolor/48x48/apps/protractor.png \
  usr/share/man/man1/gifkit.1.gz "${rulers[@]/#/usr/bin/}" "${rulers[@]/#/usr/libexec/protractor/}"; do
  grep -q " \./$file\( -> .*\)\?$" "$work/deb.list" || fail "$(basename "$deb") lacks /$file"
done
for file in usr/include/protractor/gif/gif.h usr/lib/libprotractor_gif.a \
  usr/lib/cmake/Protractor/ProtractorConfig.cmake usr/lib/pkgconfig/protractor-gif.pc; do
  grep -q " \./$file$" "$work/dev.list" || fail "$(basename "$dev") lacks /$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libx11-6 libxext6 libstdc++6; do
  grep -q "\b$package\b" <<<"$depends" || fail "$(basename "$deb") does not depend on $package: $depends"
done
echo "ok: $(basename "$deb") ($(wc -l <"$work/deb.list") entries; Depends: $depends)"
echo "ok: $(basename "$dev") ($(wc -l <"$work/dev.list") entries)"
