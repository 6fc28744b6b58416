#!/usr/bin/env bash
# Runs every libFuzzer target of a sanitizer build for a bounded time over its seed corpus.
#   fuzz.sh BUILD_DIR SECONDS
# Every run has a limit on the time (-timeout) and the memory (-rss_limit_mb) of one input, so
# that a slow or greedy input fails the run instead of passing unnoticed; fuzz/seeds/NAME.options
# may set other limits for a target, an input size (-max_len) and a dictionary (-dict=FILE, a
# file of fuzz/seeds/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-30}
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
[ ${#targets[@]} -eq 0 ] && { echo "no fuzz targets built"; exit 0; }
for target in "${targets[@]}"; do
  name=$(basename "$target")
  base=${name#fuzz_}
  work=$(mktemp -d)
  seeds=()
  [ -d "$root/fuzz/seeds/$base" ] && seeds+=("$root/fuzz/seeds/$base")
  # Extra seed folders a target names in fuzz/seeds/NAME.dirs, relative to the project root.
  if [ -f "$root/fuzz/seeds/$base.dirs" ]; then
    while read -r dir; do
      [ -n "$dir" ] && [ -d "$root/$dir" ] && seeds+=("$root/$dir")
    done < "$root/fuzz/seeds/$base.dirs"
  fi
  # The limits of every run first; a target's own options follow and take precedence.
  options=(-timeout=10 -rss_limit_mb=1024)
  if [ -f "$root/fuzz/seeds/$base.options" ]; then
    while read -r option; do
      case "$option" in
        ''|'#'*) ;;
        -dict=*) options+=("-dict=$root/fuzz/seeds/${option#-dict=}") ;;
        *) options+=("$option") ;;
      esac
    done < "$root/fuzz/seeds/$base.options"
  fi
  echo "-- $name (${#seeds[@]} seed folders, $seconds s: ${options[*]#-dict=$root/})"
  ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" "${options[@]}" \
    -print_final_stats=0 -artifact_prefix="$work/" "$work" "${seeds[@]}" \
    >"$work/log" 2>&1 || { tail -n 40 "$work/log"; echo "FAILED: $name"; exit 1; }
  grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -n 1 || true
  rm -rf "$work"
done
