#!/usr/bin/env bash
# Builds what the gadget needs to run (the program, its side libraries and the ruler programs:
# the CMake target `runtime`, tests off) and starts it on the user's X display, in the folder
# where those lie, so that its ruler buttons find the rulers. Without a display the program says
# so in one line and exits with status 1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
bash "$root/scripts/deps.sh" run
# A build folder of its own keeps its settings (test.sh turns the tests on there); a new one
# starts without tests, whose libraries run.sh does not install.
options=()
[ -f "$build/CMakeCache.txt" ] || options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DPROTRACTOR_TESTS=OFF)
cmake -S "$root" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" --target runtime -j "$(nproc)"
cd "$build/bin"
beside=$(ls -- Mantle.dll Vanes.dll *.exe 2>/dev/null | paste -sd, - | sed 's/,/, /g')
echo "run.sh: starting the gadget $build/bin/protractor, beside $beside"
exec ./protractor
