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
targets=(query_fuzz ops_fuzz search_fuzz xml_import_fuzz)
cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"
# Runs one target for its time from an empty corpus; its log is
# build-fuzz/TARGET.log, its finding build-fuzz/TARGET-crash-*.
fuzz() {
  local target=$1 seconds=$fuzz_seconds corpus
  corpus=$(mktemp -d)
  [ "$target" = xml_import_fuzz ] || [ "$target" = search_fuzz ] &&
    seconds=$((fuzz_seconds < 30 ? fuzz_seconds : 30))
  # Seed inputs and a dictionary, where a target has them, start it off.
  # New inputs go to the first folder; the seeds are only read.
  local options=() seeds=()
  [ -f tests/fuzz/seeds/"$target".dict ] && options+=(-dict=tests/fuzz/seeds/"$target".dict)
  [ -d tests/fuzz/seeds/"$target" ] && seeds+=(tests/fuzz/seeds/"$target")
  local status=0
  LD_LIBRARY_PATH=build-fuzz/lib build-fuzz/bin/"$target" -max_total_time="$seconds" \
    -artifact_prefix=build-fuzz/"$target"- "${options[@]}" "$corpus" "${seeds[@]}" \
    >build-fuzz/"$target".log 2>&1 || status=$?
  rm -rf "$corpus"
  return $status
}
# A libFuzzer process uses one core: the targets run as many at a time as
# the machine has cores.
declare -A running=()
failed=()
finish() {  # waits for the first of the running targets to end
  local pid status=0
  wait -n -p pid "${!running[@]}" || status=$?
  ((status == 0)) || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  ((${#running[@]} < jobs)) || finish
  fuzz "$target" &
  running[$!]=$target
done
while ((${#running[@]} > 0)); do finish; done
for target in "${targets[@]}"; do tail -n 1 build-fuzz/"$target".log; done
for target in "${failed[@]}"; do
  tail -n 60 build-fuzz/"$target".log
  echo "fuzz: $target found a fault; the input is in build-fuzz/$target-*" >&2
done
((${#failed[@]} == 0)) || exit 1
echo "fuzz: all targets ran ${fuzz_seconds}s without a finding"

echo "== windows (at ${SECONDS}s)"
bash scripts/windows.sh
echo "== all stages passed in ${SECONDS}s"
