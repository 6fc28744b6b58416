#!/usr/bin/env bash
# Runs every libFuzzer target of a sanitizer build for a bounded time over its seed corpus.
#   fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-30}
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
[ ${#targets[@]} -eq 0 ] && { echo "no fuzz targets built"; exit 0; }
for target in "${targets[@]}"; do
  name=$(basename "$target")
  work=$(mktemp -d)
  seeds=()
  [ -d "$root/fuzz/seeds/${name#fuzz_}" ] && seeds+=("$root/fuzz/seeds/${name#fuzz_}")
  # Extra seed folders a target names in fuzz/seeds/NAME.dirs, relative to the project root.
  if [ -f "$root/fuzz/seeds/${name#fuzz_}.dirs" ]; then
    while read -r dir; do
      [ -n "$dir" ] && [ -d "$root/$dir" ] && seeds+=("$root/$dir")
    done < "$root/fuzz/seeds/${name#fuzz_}.dirs"
  fi
  echo "-- $name (${#seeds[@]} seed folders, $seconds s)"
  ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=0 -artifact_prefix="$work/" "$work" "${seeds[@]}" \
    >"$work/log" 2>&1 || { tail -n 40 "$work/log"; echo "FAILED: $name"; exit 1; }
  grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -n 1 || true
  rm -rf "$work"
done
