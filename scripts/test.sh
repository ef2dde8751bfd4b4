#!/usr/bin/env bash
# Builds and runs every test: the optimised build, then the address and
# undefined-behaviour sanitizer build, the fuzz targets, and the Windows DLLs
# under wine (scripts/windows.sh). Each stage is bounded in time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

if command -v clang-format >/dev/null; then
  echo "== format"
  git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
fi

echo "== release build (at ${SECONDS}s)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

echo "== sanitizer build (at ${SECONDS}s)"
# Debug keeps assertions; -O1, as the sanitizers' authors suggest, makes the
# tool's workloads in the CLI tests several times faster than -O0. Clang (the
# fuzzers' compiler, so both compilers' warnings are errors somewhere) with
# line tables only, which is all a sanitizer's report reads: this build
# compiles in about half the time of GCC's with full debug information.
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZUSMS_SANITIZE=ON \
  -DZUSMS_BUILD_BENCH=OFF -DCMAKE_C_FLAGS_DEBUG="-gline-tables-only -O1" \
  -DCMAKE_CXX_FLAGS_DEBUG="-gline-tables-only -O1" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

echo "== fuzzing (bounded) (at ${SECONDS}s)"
# libFuzzer needs clang; every target runs for a fixed time from an empty corpus.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUSMS_FUZZ=ON \
  -DZUSMS_BUILD_TESTS=OFF -DZUSMS_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" >/dev/null
fuzz_seconds=${ZUSMS_FUZZ_SECONDS:-45}
for target in query_fuzz ops_fuzz search_fuzz xml_import_fuzz; do
  cmake --build build-fuzz -j"$jobs" --target "$target"
  corpus=$(mktemp -d)
  log=build-fuzz/"$target".log
  seconds=$fuzz_seconds
  [ "$target" = xml_import_fuzz ] || [ "$target" = search_fuzz ] && seconds=$((fuzz_seconds < 30 ? fuzz_seconds : 30))
  # Seed inputs and a dictionary, where a target has them, start it off.
  # New inputs go to the first folder; the seeds are only read.
  options=() seeds=()
  [ -f tests/fuzz/seeds/"$target".dict ] && options+=(-dict=tests/fuzz/seeds/"$target".dict)
  [ -d tests/fuzz/seeds/"$target" ] && seeds+=(tests/fuzz/seeds/"$target")
  if ! LD_LIBRARY_PATH=build-fuzz/lib build-fuzz/bin/"$target" -max_total_time="$seconds" \
      -artifact_prefix=build-fuzz/ "${options[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target found a fault; the input is in build-fuzz/" >&2
    exit 1
  fi
  tail -n 1 "$log"
  rm -rf "$corpus"
done
echo "fuzz: all targets ran ${fuzz_seconds}s without a finding"

echo "== windows (at ${SECONDS}s)"
bash scripts/windows.sh
echo "== all stages passed in ${SECONDS}s"
