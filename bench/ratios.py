#!/usr/bin/env python3
"""Runs the benchmarks and prints each zusms case next to its raw-SQLite twin.

Cases come in pairs named BM_<case>_Zusms and BM_<case>_Raw (with the same
arguments); the ratio is raw time / zusms time, so 1.0 means as fast as raw
SQLite and 0.5 means half its rate; the last column compares CPU time (the
benchmark thread's), which the disk's and the machine's noise move less. Pairs BM_<case>_Logged and
BM_<case>_Unlogged compare a store keeping the change log with one that does
not, the same way. With --benchmark_repetitions, the medians are compared.

usage: bench/ratios.py build/bin/zusms_bench [benchmark flags...]
"""
import json
import subprocess
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = subprocess.run(sys.argv[1:] + ["--benchmark_format=json"], check=True,
                         capture_output=True, text=True).stdout
    benchmarks = json.loads(out)["benchmarks"]
    runs = {b["name"]: b for b in benchmarks if b.get("run_type") == "iteration"}
    # With --benchmark_repetitions, each case's median stands for it.
    runs.update({b["run_name"]: b for b in benchmarks if b.get("aggregate_name") == "median"})
    print(f"| case | zusms | raw SQLite | zusms rate / raw rate | the same in CPU time |")
    print(f"|---|---|---|---|---|")
    for name, z in runs.items():
        pair = next((p for p in (("_Zusms", "_Raw"), ("_Logged", "_Unlogged")) if p[0] in name), None)
        if not pair:
            continue
        raw = runs.get(name.replace(*pair))
        if not raw or not z["real_time"] or z.get("error_occurred") or raw.get("error_occurred"):
            print(f"| {name} | error: {z.get('error_message', '')} {raw and raw.get('error_message', '')} | | |")
            continue
        unit = z["time_unit"]
        case = name.replace("BM_", "").replace(pair[0], "")
        ratio = raw["real_time"] / z["real_time"]
        cpu = raw["cpu_time"] / z["cpu_time"] if z["cpu_time"] else 0
        print(f"| {case} | {z['real_time']:.1f} {unit} | {raw['real_time']:.1f} {unit} | {ratio:.2f} | {cpu:.2f} |")


if __name__ == "__main__":
    main()
