#!/usr/bin/env bash
# Builds the Windows programs with Debian's mingw-w64 and leaves them together in
# build/win64/bin/: protractor.exe, gifkit.exe, Mantle.dll, Vanes.dll and the ruler programs;
# CPack makes a zip of them in build/win64/. Installs what is missing with apt-get (as root or
# via sudo).
#   bash scripts/build-windows.sh           the 64-bit build
#   bash scripts/build-windows.sh --i686    the 32-bit build, in build/win32/
#   bash scripts/build-windows.sh --test    also builds the tests and runs them under wine
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=x86_64 folder=win64 test=OFF
for arg in "$@"; do
  case "$arg" in
    --i686) arch=i686 folder=win32 ;;
    --test) test=ON ;;
    *) echo "usage: build-windows.sh [--i686] [--test]" >&2; exit 2 ;;
  esac
done

# The compilers (mingw-w64 for the programs, the machine's own for the tools that run during
# the build); for the tests also GoogleTest's sources, wine and the end-to-end test's X tools.
mode=windows
[ "$test" = ON ] && mode=windows-test
bash "$root/scripts/deps.sh" "$mode" "${arch//_/-}"

build="$root/build/$folder"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DMINGW_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release -DPROTRACTOR_WERROR=ON \
  -DPROTRACTOR_TESTS="$test" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G ZIP >/dev/null)
echo "== Programs: $build/bin/"
ls "$build/bin"
echo "== Zip: $(ls "$build"/protractor-*.zip)"

if [ "$test" = ON ]; then
  echo "== Tests under wine"
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
fi
