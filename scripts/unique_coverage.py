#!/usr/bin/env python3
"""Which tests cover something no other test does.

Runs every test of a coverage build (scripts/coverage.sh makes build-cov/) on
its own with its own profile: each gtest case, and each test method of the
CLI scripts. Writes OUT_DIR/N.json (a test's covered lines and branches) and
OUT_DIR/unique.txt: one line a test, fewest first, with the lines and
branches only it covers, its exit status, its name and its first such lines.
A test that covers nothing alone is where to look first when the suite is
cut; it may still catch a wrong value on a line others cover.

    scripts/unique_coverage.py build-cov build-cov/unique [-j N]

About as long as the coverage run's tests (20 minutes on two cores); a test
already done (its N.json) is not run again."""
import concurrent.futures, json, os, re, subprocess, sys, collections
build, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
jobs = int(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[3] == "-j" else 2
os.makedirs(out, exist_ok=True)
listing = json.loads(subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                                 capture_output=True, text=True, check=True).stdout)
units = []
for t in listing["tests"]:
    props = {p["name"]: p["value"] for p in t.get("properties", [])}
    if "DISABLED" in props and props["DISABLED"]: continue
    env = dict(os.environ)
    for kv in props.get("ENVIRONMENT", []):
        k, v = kv.split("=", 1); env[k] = v
    cmd, cwd = t["command"], props.get("WORKING_DIRECTORY", build)
    if len(cmd) > 2 and cmd[1].endswith(".py"):
        src = open(cmd[1]).read()
        cls = None
        for line in src.split("\n"):
            m = re.match(r"class (\w+)\(", line)
            if m: cls = m.group(1)
            m = re.match(r"    def (test_\w+)\(", line)
            if m and cls: units.append((f"{t['name']}:{cls}.{m.group(1)}", cmd + [f"{cls}.{m.group(1)}"], cwd, env))
    else:
        units.append((t["name"], cmd, cwd, env))
objects = [os.path.join(build, "lib/libzusmsdb.so"), "-object", os.path.join(build, "bin/zusms")]

def run(i_unit):
    i, (name, cmd, cwd, env) = i_unit
    res = os.path.join(out, f"{i}.json")
    if os.path.exists(res): return
    prof = os.path.join(out, f"p{i}")
    subprocess.run(["rm", "-rf", prof]); os.makedirs(prof)
    env = dict(env, LLVM_PROFILE_FILE=os.path.join(prof, "%p-%m.profraw"))
    try:
        rc = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, timeout=900).returncode
    except subprocess.TimeoutExpired:
        rc = "timeout"
    raws = [os.path.join(prof, f) for f in os.listdir(prof)]
    lines, branches = set(), set()
    if raws:
        subprocess.run(["llvm-profdata", "merge", "-sparse", "-failure-mode=all", "-o",
                        os.path.join(prof, "u.profdata"), *raws], capture_output=True)
        lcov = subprocess.run(["llvm-cov", "export", "-format=lcov", "-instr-profile=" +
                               os.path.join(prof, "u.profdata"), *objects],
                              capture_output=True, text=True).stdout
        f = None
        for l in lcov.split("\n"):
            if l.startswith("SF:"): f = l[3:]
            elif l.startswith("DA:"):
                ln, c = l[3:].split(",")[:2]
                if int(c) > 0: lines.add(f"{f}:{ln}")
            elif l.startswith("BRDA:"):
                p = l[5:].split(",")
                if p[3] not in ("-", "0"): branches.add(f"{f}:{p[0]}:{p[1]}:{p[2]}")
    subprocess.run(["rm", "-rf", prof])
    json.dump({"name": name, "rc": rc, "lines": sorted(lines), "branches": sorted(branches)},
              open(res, "w"))
    print(f"{i}/{len(units)} {name} rc={rc} lines={len(lines)}", flush=True)

with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    list(pool.map(run, enumerate(units)))
data = [json.load(open(os.path.join(out, f"{i}.json"))) for i in range(len(units))]
lc, bc = collections.Counter(), collections.Counter()
for d in data:
    lc.update(d["lines"]); bc.update(d["branches"])
rows = []
for d in data:
    ul = [l for l in d["lines"] if lc[l] == 1]; ub = [b for b in d["branches"] if bc[b] == 1]
    rows.append((len(ul), len(ub), d["name"], d["rc"], ul, ub))
rows.sort()
with open(os.path.join(out, "unique.txt"), "w") as f:
    for ul, ub, name, rc, uls, ubs in rows:
        f.write(f"{ul}\t{ub}\t{rc}\t{name}\t{' '.join(uls[:8])}\n")
print("units", len(data), "zero-unique", sum(1 for r in rows if r[0] == 0 and r[1] == 0))
