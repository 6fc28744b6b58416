#!/usr/bin/env bash
# Builds everything and starts the gadget on the user's X display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j "$(nproc)"
program="$root/build/release/bin/protractor"
if [ ! -x "$program" ]; then
  echo "protractor: not built: the GIF module has no writer yet to make the dial and pointer pictures" >&2
  exit 1
fi
exec "$program"
