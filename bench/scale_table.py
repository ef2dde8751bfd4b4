#!/usr/bin/env python3
"""Runs the benchmarks and prints the scale table: for each case and size,
the zusms time, the raw-SQLite time, their ratio (raw time / zusms time;
also of the CPU times, steadier on a shared machine) and how the zusms time
grows from the smallest to the largest size. With
--benchmark_repetitions, the medians are used.

usage: bench/scale_table.py build/bin/zusms_bench [benchmark flags...]
"""
import json
import math
import re
import subprocess
import sys


def fmt(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds * 1e9:.3g} ns"


def growth(times):
    """How a time grows over sizes that step by 10x: constant, logarithmic or linear."""
    sizes = sorted(times)
    if len(sizes) < 2 or sizes[0] == 0:
        return ""
    factor = times[sizes[-1]] / times[sizes[0]]
    steps = math.log10(sizes[-1] / sizes[0])
    per_step = factor ** (1 / steps)
    kind = "constant" if per_step < 1.25 else "logarithmic" if per_step < 3 else "linear"
    return f"x{factor:.2g} ({kind})"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = subprocess.run(sys.argv[1:] + ["--benchmark_format=json"], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    runs = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("error_occurred"):
            print(f"error in {b['name']}: {b.get('error_message')}", file=sys.stderr)
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1}[b["time_unit"]]
        # Without repetitions each run is its own; with them, the median wins.
        if name not in runs or b.get("run_type") == "aggregate":
            runs[name] = (b["real_time"] * scale, b["cpu_time"] * scale)
    cases = {}  # (case, rest of arguments) -> size -> (zusms, raw)
    for name, t in runs.items():
        m = re.match(r"BM_(\w+)_Zusms(?:/(\d+))?(/.*)?$", name)
        if not m or name.replace("_Zusms", "_Raw") not in runs:
            continue
        raw = runs[name.replace("_Zusms", "_Raw")]
        size = int(m.group(2)) if m.group(2) else 0
        cases.setdefault((m.group(1), m.group(3) or ""), {})[size] = (t, raw)
    print("| case | messages | zusms | raw SQLite | ratio | ratio of CPU times | "
          "growth 10k to 1M |")
    print("|---|---|---|---|---|---|---|")
    for (case, rest), by_size in sorted(cases.items()):
        grown = growth({s: z[0] for s, (z, _) in by_size.items() if s > 0})
        for size in sorted(by_size):
            z, raw = by_size[size]
            label = case + rest.replace("/1", " (FULL)").replace("/0", " (NORMAL)")
            print(f"| {label} | {size:,} | {fmt(z[0])} | {fmt(raw[0])} | {raw[0] / z[0]:.2f} | "
                  f"{raw[1] / z[1]:.2f} | {grown if size == max(by_size) else ''} |")


if __name__ == "__main__":
    main()
