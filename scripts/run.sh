#!/usr/bin/env bash
# Builds the gadget and starts it on the user's X display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j "$(nproc)"
if [ -x "$root/build/release/bin/protractor" ]; then
  exec "$root/build/release/bin/protractor"
fi
echo "The gadget is not built yet; showing the library tool instead." >&2
exec "$root/build/release/bin/gifkit" --help
