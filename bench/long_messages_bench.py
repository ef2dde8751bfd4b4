#!/usr/bin/env python3
"""Times the `zusms` commands that read long messages, on a store of `count`
messages of which a tenth are long (three parts each), imported from an SMS
backup XML file. Bodies are real messages (tests/fixtures/sms-corpus-sample.tsv,
CC BY 4.0). Prints one line per command: its wall time in seconds.

usage: bench/long_messages_bench.py build/bin/zusms [count] [--keep DIR] [--timeout SECONDS]
    [--from COMMAND]
(--keep DIR: make the store there, or use the one made there before; --from:
start at the command of that name)
"""
import json
import os
import subprocess
import sys
import tempfile
import time
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))


def write_backup(path, count):
    lines = open(os.path.join(HERE, "..", "tests", "fixtures", "sms-corpus-sample.tsv"),
                 encoding="utf-8").read().splitlines()[1:]
    texts = [line.split("\t", 1)[1] for line in lines]
    with open(path, "w", encoding="utf-8") as f:
        f.write("<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n")
        f.write(f'<smses count="{count}">\n')
        for i in range(count):
            text = f"{texts[i % len(texts)]} #{i}"
            if i % 10 == 0:  # a long message: three parts of at most 670 characters
                while len(text) <= 1400:
                    text += " " + texts[(i + len(text)) % len(texts)]
                text = text[:1800]
            f.write(f'  <sms protocol="0" address="+86138{i % 2000:08d}" '
                    f'date="{1600000000000 + 60000 * i}" type="{1 + i % 2}" '
                    f'body={quoteattr(text)} read="1" locked="0" date_sent="0" />\n')
        f.write("</smses>\n")


def timed(args, limit=None):
    """Seconds the command took, as text; "> limit" when stopped at `limit`."""
    start = time.monotonic()
    try:
        proc = subprocess.run(args, capture_output=True, timeout=limit)
    except subprocess.TimeoutExpired:
        return f"> {limit:.0f}"
    took = time.monotonic() - start
    if proc.returncode != 0:
        raise SystemExit(f"{args} failed: {proc.stderr.decode()}")
    return f"{took:.2f}"


def main():
    zusms = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2].isdigit() else 100000
    keep = sys.argv[sys.argv.index("--keep") + 1] if "--keep" in sys.argv else None
    limit = float(sys.argv[sys.argv.index("--timeout") + 1]) if "--timeout" in sys.argv else None
    with tempfile.TemporaryDirectory(prefix="zusms-long-") as d:
        d = keep or d
        db = os.path.join(d, "long.db")
        if not os.path.exists(db):
            backup = os.path.join(d, "sms.xml")
            write_backup(backup, count)
            print(f"import\t{timed([zusms, '--db', db, 'import', backup])}", flush=True)
        run = [zusms, "--db", db, "--utc"]
        def newest(*args):
            out = subprocess.run(run + ["--json", "list", "--limit", "1", *args],
                                 capture_output=True, check=True).stdout
            return str(json.loads(out)[0]["id"])

        long_id = newest("--oldest")  # the first message is long
        short_id = newest()  # the last one is short
        start = sys.argv[sys.argv.index("--from") + 1] if "--from" in sys.argv else None
        for name, args in [
            ("list", ["list"]),
            ("list --limit 20000", ["list", "--limit", "20000"]),
            ("list --folder 1 --limit 20000", ["list", "--folder", "1", "--limit", "20000"]),
            ("list --contains WORD", ["list", "--contains", "tomorrow", "--limit", "1000000"]),
            ("conversation NUMBER", ["conversation", "+8613800000000"]),
            ("show ID (long)", ["show", long_id]),
            ("show ID (short)", ["show", short_id]),
            ("delete --folder 1 --before DATE --dry-run",
             ["delete", "--folder", "1", "--before", "2099-01-01", "--dry-run"]),
            ("export (XML)", ["export", "--format", "xml", "-o", os.path.join(d, "out.xml")]),
            ("export (JSON)", ["export", "-o", os.path.join(d, "out.json")]),
            ("changes --json --since 0", ["--json", "changes", "--since", "0"]),
        ]:
            if start and name != start:
                continue
            start = None
            print(f"{name}\t{timed(run + args, limit)}", flush=True)


if __name__ == "__main__":
    main()
