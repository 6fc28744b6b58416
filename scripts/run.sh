#!/usr/bin/env bash
# Builds everything and starts the gadget on the user's X display. Without a display the program
# says so in one line and exits with status 1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j "$(nproc)"
exec "$root/build/release/bin/protractor"
