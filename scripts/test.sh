#!/usr/bin/env bash
# Builds and runs every test: the optimised build, then the address and
# undefined-behaviour sanitizer build. Each stage is bounded in time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

if command -v clang-format >/dev/null; then
  echo "== format"
  git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
fi

echo "== release build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

echo "== sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZUSMS_SANITIZE=ON -DZUSMS_BUILD_BENCH=OFF \
  >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
