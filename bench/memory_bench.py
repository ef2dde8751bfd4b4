#!/usr/bin/env python3
"""Peak memory of the zusms tool's export, import and synchronisation listing
at each size of the scale table (10,000, 100,000 and 1,000,000 messages of
the measured user, made by zusms_scale_gen from the same fixed seed as the
benchmarks), with GNU time's maximum resident set size.

usage: bench/memory_bench.py build/bin/zusms build/bin/zusms_scale_gen [sizes...]
"""
import json
import os
import subprocess
import sys
import tempfile


def peak(args):
    """Runs `args`; returns (peak resident MB, seconds)."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M %e"] + args, check=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    kb, seconds = out.stderr.strip().splitlines()[-1].split()
    return int(kb) / 1024, float(seconds)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    zusms, gen = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    sizes = [int(s) for s in sys.argv[3:]] or [10000, 100000, 1000000]
    print("| messages | file | export (JSON) | import (JSON) | sync-list |")
    print("|---|---|---|---|---|")
    for n in sizes:
        with tempfile.TemporaryDirectory(prefix="zusms-memory-") as d:
            store = os.path.join(d, "store.dbf")
            made = json.loads(subprocess.run([gen, store, str(n)], check=True,
                                             capture_output=True, text=True).stdout)
            export = os.path.join(d, "export.json")
            ex = peak([zusms, "--db", store, "export", "-o", export])
            im = peak([zusms, "--db", os.path.join(d, "fresh.dbf"), "import", export])
            sl = peak([zusms, "--db", store, "--json", "sync-list"])
            mb = made["file_bytes"] / 1e6
            print(f"| {n:,} | {mb:.0f} MB | {ex[0]:.0f} MB, {ex[1]:.1f} s | "
                  f"{im[0]:.0f} MB, {im[1]:.1f} s | {sl[0]:.0f} MB, {sl[1]:.1f} s |", flush=True)


if __name__ == "__main__":
    main()
