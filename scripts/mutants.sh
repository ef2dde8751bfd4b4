#!/usr/bin/env bash
# Mutation check: applies the faults listed in scripts/mutants.txt to the
# library and the tool one at a time, rebuilds, runs the tests, and says of
# each whether the tests caught it (killed), missed it (survived), or whether
# it did not compile (did not build; not counted as killed). The source is put
# back after each mutant, also when the run is interrupted.
#
#   scripts/mutants.sh [options] [ID|PATTERN ...] [-- CTEST_ARGUMENTS]
#
# With no ID or PATTERN every mutant runs. A number selects the mutant of that
# id; anything else is a regular expression (case-insensitive) matched
# against a mutant's name, file and description: `scripts/mutants.sh 3 7
# fsync`. Arguments after `--` go to ctest, e.g. `-- -R "c_api|StoreTest"`.
#
#   -t SECONDS   time bound of each mutant's tests (default 1800)
#   -j N         build and test jobs (default 2)
#   --check      only check that every snippet of the list is found once
#   --no-baseline  skip the first run on the unchanged source (which shows
#                that the selected tests pass without a mutant)
#
# Builds in build-mut/ (optimised, through ccache); each mutant's build and
# test output is build-mut/mutants/ID.log, the results table
# build-mut/mutants/summary.md. Not part of the test command: the whole list
# against the whole suite takes hours on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."

list=scripts/mutants.txt
out=build-mut
log_dir=$out/mutants
seconds=1800
build_seconds=1800
jobs=2
check_only=false
baseline=true
selectors=()
ctest_args=()
while (($# > 0)); do
  case $1 in
    -t) seconds=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    --check) check_only=true; shift ;;
    --no-baseline) baseline=false; shift ;;
    -h | --help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; ctest_args=("$@"); break ;;
    -*) echo "mutants: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) selectors+=("$1"); shift ;;
  esac
done

# The list's reader. `check LIST [SELECTOR...]` checks every entry (unique
# ids, existing files, each snippet found exactly once) and prints the
# selected ones as ID<TAB>NAME<TAB>FILE<TAB>DESCRIPTION; `apply LIST ID`
# writes the mutant into its file.
mutants() {
  python3 - "$@" <<'EOF'
import re, sys

def read(path):
    entries, entry = [], None
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        where = f"{path}:{number}"
        if line.startswith("== "):
            m = re.fullmatch(r"== (\d+) (\S+) (\S+) \| (.+)", line)
            if not m:
                sys.exit(f"mutants: {where}: expected '== ID NAME FILE | description'")
            entry = dict(id=int(m[1]), name=m[2], file=m[3], what=m[4], old=[], new=[], at=where)
            entries.append(entry)
        elif line[:1] in ("-", "+") and (len(line) == 1 or line[1] == " "):
            if entry is None:
                sys.exit(f"mutants: {where}: a snippet line outside an entry")
            if line[0] == "+" and not entry["old"]:
                sys.exit(f"mutants: {where}: the replacement comes before the original")
            if line[0] == "-" and entry["new"]:
                sys.exit(f"mutants: {where}: an original line after the replacement")
            entry["old" if line[0] == "-" else "new"].append(line[2:])
        elif line.strip() == "" or line.startswith("#"):
            continue
        else:
            sys.exit(f"mutants: {where}: cannot read {line!r}")
    return entries

def check(e):
    if not e["old"]:
        return "no original snippet"
    try:
        text = open(e["file"], encoding="utf-8").read()
    except OSError as error:
        return f"cannot read {e['file']}: {error.strerror}"
    old, new = "\n".join(e["old"]), "\n".join(e["new"])
    if old == new:
        return "the replacement is the original"
    count = text.count(old)
    if count != 1:
        return f"its snippet occurs {count} times in {e['file']}, not once"
    return None

command, path, args = sys.argv[1], sys.argv[2], sys.argv[3:]
entries = read(path)
ids = [e["id"] for e in entries]
if len(set(ids)) != len(ids):
    sys.exit("mutants: the ids in " + path + " are not unique")
if command == "check":
    broken = [f"mutants: {e['at']}: mutant {e['id']} ({e['name']}): {why}"
              for e in entries if (why := check(e))]
    if broken:
        sys.exit("\n".join(broken) + "\nmutants: mend the list: it no longer fits the code")
    chosen = []
    for e in entries:
        haystack = f"{e['name']} {e['file']} {e['what']}"
        if not args or any(str(e["id"]) == a if a.isdigit() else
                           re.search(a, haystack, re.IGNORECASE) for a in args):
            chosen.append(e)
    for a in args:
        if a.isdigit() and int(a) not in ids:
            sys.exit(f"mutants: there is no mutant {a}")
    if not chosen:
        sys.exit("mutants: no mutant matches " + " ".join(args))
    for e in chosen:
        print("\t".join([str(e["id"]), e["name"], e["file"], e["what"]]))
elif command == "apply":
    e = next(e for e in entries if e["id"] == int(args[0]))
    if why := check(e):
        sys.exit(f"mutants: mutant {e['id']}: {why}")
    text = open(e["file"], encoding="utf-8").read()
    with open(e["file"], "w", encoding="utf-8") as f:
        f.write(text.replace("\n".join(e["old"]), "\n".join(e["new"]), 1))
EOF
}

selected=$(mutants check "$list" "${selectors[@]}")
if $check_only; then
  echo "mutants: every entry of $list fits the code; selected:"
  cut -f1,2 <<<"$selected" | tr '\t' ' '
  exit 0
fi

# The one mutated file, its original beside it, and the job that runs, so
# that an interrupt (or any exit) ends the job and puts the source back.
mutated="" original="" running=""
scratch=$(mktemp -d)
restore() {
  if [ -n "$running" ]; then
    kill -TERM "$running" 2>/dev/null || true
    wait "$running" 2>/dev/null || true
    running=""
  fi
  if [ -n "$mutated" ]; then
    # Copied over, not moved: the file keeps its mode, and its new
    # modification time makes the next build compile it again.
    cp "$original" "$mutated"
    echo "mutants: restored $mutated" >&2
    mutated=""
  fi
}
trap 'restore; rm -rf "$scratch"' EXIT
trap 'echo "mutants: interrupted" >&2; exit 130' INT TERM

# Runs a command bounded by `timeout` as a background job that the traps can
# end, its output into LOG; its status in $status (124 when the time ran out).
bounded() {
  local limit=$1 log=$2
  shift 2
  nice -n 10 timeout -k 30 "$limit" "$@" >>"$log" 2>&1 </dev/null &
  running=$!
  status=0
  wait "$running" || status=$?
  running=""
}

# The first test that failed, from a ctest log.
first_failure() {
  sed -n '/The following tests FAILED:/,$p' "$1" | sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*$/\1/p' |
    head -n 1
}

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")}
mkdir -p "$log_dir"
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DZUSMS_BUILD_BENCH=OFF \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
tests=(ctest --test-dir "$out" --stop-on-failure --no-tests=error --output-on-failure -j"$jobs"
       "${ctest_args[@]}")

if $baseline; then
  log=$log_dir/baseline.log
  : >"$log"
  echo "mutants: building and testing the unchanged source"
  bounded "$build_seconds" "$log" cmake --build "$out" -j"$jobs"
  ((status == 0)) || { echo "mutants: the unchanged source does not build: see $log" >&2; exit 1; }
  bounded "$seconds" "$log" "${tests[@]}"
  if ((status != 0)); then
    echo "mutants: the tests fail without a mutant (${status}): see $log" >&2
    exit 1
  fi
fi

results=$log_dir/results.tsv
: >"$results"
total=$(wc -l <<<"$selected")
done_count=0
while IFS=$'\t' read -r id name file what; do
  done_count=$((done_count + 1))
  log=$log_dir/$id.log
  : >"$log"
  start=$SECONDS
  cp "$file" "$scratch/original"
  original=$scratch/original
  mutated=$file
  mutants apply "$list" "$id"
  caught=""
  bounded "$build_seconds" "$log" cmake --build "$out" -j"$jobs"
  if ((status == 124)); then
    result="did not build (the build ran out of time)"
  elif ((status != 0)); then
    result="did not build"
  else
    bounded "$seconds" "$log" "${tests[@]}"
    if ((status == 0)); then
      result="survived"
    elif ((status == 124)); then
      result="killed (time ran out)"
    else
      result="killed"
      caught=$(first_failure "$log")
    fi
  fi
  restore
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$name" "$file" "$what" "$result" "$caught" >>"$results"
  echo "mutants: [$done_count/$total] $id $name: $result${caught:+ by $caught} ($((SECONDS - start)) s)"
done <<<"$selected"

# The table, ready for docs/TESTING.md.
summary=$log_dir/summary.md
{
  echo "| # | mutant | file | fault | result |"
  echo "|---|---|---|---|---|"
  while IFS=$'\t' read -r id name file what result caught; do
    echo "| $id | \`$name\` | \`$file\` | ${what//|/\\|} | $result${caught:+ by \`$caught\`} |"
  done <"$results"
  echo
  killed=$(cut -f5 "$results" | grep -c '^killed' || true)
  survived=$(cut -f5 "$results" | grep -c '^survived' || true)
  unbuilt=$(cut -f5 "$results" | grep -c '^did not build' || true)
  echo "$total mutants: $killed killed, $survived survived, $unbuilt did not build" \
    "(tests: ctest${ctest_args[*]:+ ${ctest_args[*]}}; $(git rev-parse --short HEAD))."
} >"$summary"
echo
cat "$summary"
