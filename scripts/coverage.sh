#!/usr/bin/env bash
# Line and branch coverage of the library and the tool by the whole test suite
# (every ctest unit, the CLI scripts included), with clang's source-based
# coverage. Writes, under build-cov/:
#   coverage.txt        a table per folder: lines and branches covered
#   covered-lines.txt   every covered line as FILE:LINE, sorted, to compare
#                       two runs (comm -23 before.txt after.txt lists what a
#                       change stopped covering)
# Not part of the test command: it takes about 20 minutes on two cores.
#   scripts/coverage.sh [ctest arguments, e.g. -R cli_test]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
out=build-cov
# Optimised: the counters are the front end's, exact whatever the optimiser
# does, and the CLI tests run within their time limits.
flags="-fprofile-instr-generate -fcoverage-mapping -O2 -g0"
CC=clang CXX=clang++ cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Coverage -DZUSMS_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS_COVERAGE="$flags" -DCMAKE_CXX_FLAGS_COVERAGE="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS_COVERAGE=-fprofile-instr-generate \
  -DCMAKE_SHARED_LINKER_FLAGS_COVERAGE=-fprofile-instr-generate >/dev/null
timeout 1800 cmake --build "$out" -j"$jobs"

rm -rf "$out/profiles" && mkdir -p "$out/profiles"
# One profile a process and instrumented module (%p-%m): the CLI tests start
# the tool thousands of times, some of them at once.
LLVM_PROFILE_FILE="$PWD/$out/profiles/%p-%m.profraw" \
  timeout 3600 ctest --test-dir "$out" -j"$jobs" --timeout 900 "$@" || true
# A process killed mid-write (the crash tests kill on purpose) leaves a
# profile cut short: it is left out.
llvm-profdata merge -sparse -failure-mode=all -o "$out/all.profdata" "$out"/profiles/*.profraw

# The product: the shared library and the tool (header-only code counts
# where it is compiled into them).
objects=("$out/lib/libzusmsdb.so" -object "$out/bin/zusms")
llvm-cov export -format=lcov -instr-profile="$out/all.profdata" "${objects[@]}" \
  >"$out/coverage.lcov"
python3 - "$out" "$PWD" <<'EOF'
import collections, sys
out, root = sys.argv[1], sys.argv[2] + "/"
product = ("include/", "engine/", "store/", "messages/", "folders/", "changelog/",
           "search/", "cli/", "uuid/")
lines = collections.defaultdict(lambda: [0, 0])     # folder: covered, found
branches = collections.defaultdict(lambda: [0, 0])
covered = set()
name = None
for row in open(f"{out}/coverage.lcov", encoding="utf-8"):
    row = row.rstrip("\n")
    if row.startswith("SF:"):
        name = row[3:].removeprefix(root)
        folder = name.split("/")[0] + "/"
        if not name.startswith(product):
            name = None
    elif name and row.startswith("DA:"):
        line, count = row[3:].split(",")[:2]
        lines[folder][1] += 1
        if int(count) > 0:
            lines[folder][0] += 1
            covered.add(f"{name}:{line}")
    elif name and row.startswith("BRDA:"):
        taken = row.split(",")[3]
        branches[folder][1] += 1
        branches[folder][0] += taken not in ("-", "0")
with open(f"{out}/covered-lines.txt", "w", encoding="utf-8") as f:
    f.writelines(f"{c}\n" for c in sorted(covered))
def pct(c, n):
    return f"{100 * c / n:5.1f} % ({c}/{n})" if n else "-"
table = ["| folder | lines | branches |", "|---|---|---|"]
for folder in sorted(lines):
    table.append(f"| `{folder}` | {pct(*lines[folder])} | {pct(*branches[folder])} |")
all_lines = [sum(v[i] for v in lines.values()) for i in (0, 1)]
all_branches = [sum(v[i] for v in branches.values()) for i in (0, 1)]
table.append(f"| all | {pct(*all_lines)} | {pct(*all_branches)} |")
open(f"{out}/coverage.txt", "w", encoding="utf-8").write("\n".join(table) + "\n")
print("\n".join(table))
EOF
