#!/usr/bin/env bash
# Builds and tests everything twice: a release build with g++, whose installation and Debian
# packages are checked too, and a build with AddressSanitizer and UndefinedBehaviorSanitizer with
# clang, which also runs the fuzzers for a bounded time. Warnings are errors in both. Then the
# Windows programs, cross-built with mingw-w64, and their tests under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
jobs=$(nproc)

echo "== Release build (g++)"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DPROTRACTOR_WERROR=ON -DPROTRACTOR_BENCH=ON -DPROTRACTOR_TESTS=ON >/dev/null
cmake --build "$root/build/release" -j "$jobs"
ctest --test-dir "$root/build/release" --output-on-failure -j "$jobs"

echo "== Install and packages"
bash "$root/scripts/package.sh" "$root/build/release"

echo "== Sanitizer build (clang, ASan + UBSan)"
cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DPROTRACTOR_WERROR=ON -DPROTRACTOR_SANITIZE=ON \
  -DPROTRACTOR_FUZZ=ON -DPROTRACTOR_BENCH=ON >/dev/null
cmake --build "$root/build/sanitize" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build/sanitize" --output-on-failure -j "$jobs"

echo "== Fuzzing (${FUZZ_SECONDS:-30} s per target)"
bash "$root/scripts/fuzz.sh" "$root/build/sanitize" "${FUZZ_SECONDS:-30}"
echo "== Windows programs and their tests under wine"
start=$SECONDS
bash "$root/scripts/build-windows.sh" --test
echo "== Windows build and tests under wine: $((SECONDS - start)) s"
echo "== All tests passed"
