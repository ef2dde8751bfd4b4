#!/usr/bin/env python3
"""Times `zusms import` of real-sized messages, from an SMS backup XML file and
from a JSON export, into a fresh store and into one that had one message added
first (so that it holds the statistics of a tiny store), against raw SQLite
inserting the same rows (Python's sqlite3 module, in a process of its own:
one prepared statement, its values bound per row, 1,000 rows a transaction,
the store's pragmas) into the store's own table (with its indexes, id
sequence and change-log triggers, in a file the store made) and into a bare
table of the same columns with one index. Bodies are real messages
(tests/fixtures/sms-corpus-sample.tsv, CC BY 4.0), Chinese and English
names, numbers of 2,000 correspondents. Prints wall and CPU time (user +
system, from wait4), the ratios of rates (of CPU times in brackets) and each
import's peak memory, one row per case and size.

usage: bench/import_bench.py build/bin/zusms [count ...]
"""
import json
import os
import subprocess
import sys
import tempfile
import time
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))


def bench(zusms, count):
    lines = open(os.path.join(HERE, "..", "tests", "fixtures", "sms-corpus-sample.tsv"),
                 encoding="utf-8").read().splitlines()[1:]
    texts = [line.split("\t", 1)[1] for line in lines]
    names = ["\u674e\u96f7", "Anna Schmidt", "\u738b\u82b3", "Mike Chen", "(Unknown)"]
    rows = []
    for i in range(count):
        rows.append({"tel": f"+86138{i % 2000:08d}", "name": names[i % len(names)],
                     "millis": 1600000000000 + 60000 * i + 123, "type": 1 + i % 2,
                     "text": f"{texts[i % len(texts)]} #{i}"})
    with tempfile.TemporaryDirectory(prefix="zusms-import-") as d:
        xml_path = os.path.join(d, "sms.xml")
        with open(xml_path, "w", encoding="utf-8") as f:
            f.write("<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n")
            f.write(f'<smses count="{count}">\n')
            for r in rows:
                f.write(f'  <sms protocol="0" address="{r["tel"]}" date="{r["millis"]}" '
                        f'type="{r["type"]}" subject="null" body={quoteattr(r["text"])} '
                        f'toa="null" sc_toa="null" service_center="null" read="1" status="-1" '
                        f'locked="0" date_sent="0" sub_id="1" readable_date="" '
                        f'contact_name={quoteattr(r["name"])} />\n')
            f.write("</smses>\n")
        json_path = os.path.join(d, "all.json")
        heads = []
        for i, r in enumerate(rows):
            seconds = time.gmtime(r["millis"] // 1000)
            heads.append({"index": 0, "type": r["type"], "fid": 1 if r["type"] == 1 else 7,
                          "batid": 0, "createtime": "", "tel": r["tel"], "name": r["name"],
                          "recvtime": time.strftime("%Y%m%d%H%M%S", seconds),
                          "content": r["text"], "privmode": 0, "ccid": 0, "lockflag": 0,
                          "oldfid": 0, "impt": 0, "longsms": 0, "operid": "",
                          "uuid": f"{i:08x}-0000-4000-8000-{i:012x}"})
        with open(json_path, "w", encoding="utf-8") as f:
            json.dump({"heads": heads}, f, ensure_ascii=False)

        def run(command):
            """Wall seconds, CPU seconds (user + system) and peak KiB of one run."""
            begin = time.monotonic()
            pid = os.fork()
            if pid == 0:
                devnull = os.open(os.devnull, os.O_WRONLY)
                os.dup2(devnull, 1)
                os.dup2(devnull, 2)
                os.execv(command[0], command)
            _, status, usage = os.wait4(pid, 0)
            if status != 0:
                raise SystemExit(f"{command} failed")
            return (time.monotonic() - begin, usage.ru_utime + usage.ru_stime, usage.ru_maxrss)

        # Raw SQLite in a child of its own, so that its CPU time is measured
        # as the tool's is: one prepared statement, 1,000 rows a transaction,
        # with the pragmas the store sets on its connections.
        raw_script = os.path.join(d, "raw.py")
        with open(raw_script, "w", encoding="utf-8") as f:
            f.write(RAW)
        with open(os.path.join(d, "rows.json"), "w", encoding="utf-8") as f:
            json.dump([(h["type"], h["fid"], h["tel"], h["name"], h["recvtime"], h["content"])
                       for h in heads], f)

        def raw(name, schema):
            """Wall and CPU seconds of the inserts alone (not Python's start
            or the reading of the rows), as the child measures them."""
            out = subprocess.run([sys.executable, raw_script, os.path.join(d, "rows.json"),
                                  os.path.join(d, name), schema], check=True,
                                 capture_output=True, text=True).stdout.split()
            return float(out[0]), float(out[1])

        def store(name, first_add):
            path = os.path.join(d, name)
            if first_add:
                # One message added and the store closed: the statistics of a
                # tiny store are in the file before the import.
                subprocess.run([zusms, "--db", path, "add", "--number", "10086", "--text", "hi"],
                               check=True, capture_output=True)
            else:
                subprocess.run([zusms, "--db", path, "folders"], check=True, capture_output=True)
            return path

        bare = raw("bare.dbf", "bare")
        own = raw(store("raw-store.dbf", False), "store")
        print(f"| {count:,} | raw SQLite, bare table | {bare[0]:.2f} s | {bare[1]:.2f} s | | | |")
        print(f"| {count:,} | raw SQLite, store's table | {own[0]:.2f} s | {own[1]:.2f} s | | | |")
        for kind, path in (("xml", xml_path), ("json", json_path)):
            for first_add in (False, True):
                db = store(f"{kind}-{first_add}.dbf", first_add)
                seconds, cpu, kib = run([zusms, "--db", db, "import", path])
                state = "after one add" if first_add else "fresh store"
                print(f"| {count:,} | import {kind.upper()}, {state} | {seconds:.2f} s | "
                      f"{cpu:.2f} s | {own[0] / seconds:.2f} ({own[1] / cpu:.2f}) | "
                      f"{bare[0] / seconds:.2f} ({bare[1] / cpu:.2f}) | {kib / 1024:.0f} MiB |")


RAW = """
import json, sqlite3, sys, time
values = json.load(open(sys.argv[1], encoding="utf-8"))
wall, cpu = time.monotonic(), time.process_time()
db = sqlite3.connect(sys.argv[2], isolation_level=None)
for pragma in ("journal_mode=WAL", "synchronous=FULL", "temp_store=MEMORY", "foreign_keys=ON"):
    db.execute("PRAGMA " + pragma)
if sys.argv[3] == "bare":
    db.execute("CREATE TABLE SmsHead (id INTEGER PRIMARY KEY, \\"index\\" INTEGER, type INTEGER, "
               "fid INTEGER, batid INTEGER, createtime TEXT, tel TEXT, name TEXT, recvtime TEXT, "
               "content TEXT, privmode INTEGER, ccid INTEGER, lockflag INTEGER, oldfid INTEGER, "
               "impt INTEGER, longsms INTEGER, operid TEXT, uuid BLOB, UserID INTEGER, "
               "ModifyTime TEXT)")
    db.execute("CREATE INDEX u ON SmsHead (UserID)")
for i in range(0, len(values), 1000):
    db.execute("BEGIN")
    db.executemany("INSERT INTO SmsHead VALUES (NULL, 0, ?, ?, 0, '', ?, ?, ?, ?, 0, 0, 0, 0, 0, "
                   "0, '', randomblob(16), 1, datetime('now'))", values[i:i + 1000])
    db.execute("COMMIT")
db.close()
print(time.monotonic() - wall, time.process_time() - cpu)
"""


def main():
    zusms = os.path.abspath(sys.argv[1])
    counts = [int(c) for c in sys.argv[2:]] or [100000]
    print("| messages | case | wall | CPU | rate / raw rate, store's table (CPU) | "
          "rate / raw rate, bare table (CPU) | peak memory |")
    print("|---|---|---|---|---|---|---|")
    for count in counts:
        bench(zusms, count)


if __name__ == "__main__":
    main()
