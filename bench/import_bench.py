#!/usr/bin/env python3
"""Times `zusms import` of real-sized messages, from an SMS backup XML file and
from a JSON export, against raw SQLite inserting the same rows in
transactions of 1,000 rows (Python's sqlite3 module: one prepared statement,
its values bound per row) into the store's own table (with its indexes, id sequence and change-log
triggers, in a file the store made) and into a bare table of the same columns
with one index, all in one run. Bodies are real messages
(tests/fixtures/sms-corpus-sample.tsv, CC BY 4.0), Chinese and English
names, numbers of 2,000 correspondents. Prints the rates and their ratios,
and each import's peak memory.

usage: bench/import_bench.py build/bin/zusms [count]
"""
import json
import os
import resource
import sqlite3
import subprocess
import sys
import tempfile
import time
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(args, **kwargs):
    start = time.monotonic()
    proc = subprocess.run(args, check=True, capture_output=True, **kwargs)
    return time.monotonic() - start, proc


def peak_kib(command):
    """Peak resident memory of one run of the command, from wait4."""
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        os.execv(command[0], command)
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        raise SystemExit(f"{command} failed")
    return usage.ru_maxrss


def main():
    zusms = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
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

        results = {}
        for kind, path in (("xml", xml_path), ("json", json_path)):
            db = os.path.join(d, f"{kind}.dbf")
            subprocess.run([zusms, "--db", db, "folders"], check=True, capture_output=True)
            seconds, _ = timed([zusms, "--db", db, "import", path])
            again = peak_kib([zusms, "--db", db, "--user", "2", "import", path])
            results[kind] = (seconds, again)

        pragmas = ["PRAGMA journal_mode=WAL;", "PRAGMA synchronous=FULL;"]
        bare = ["CREATE TABLE SmsHead (id INTEGER PRIMARY KEY, \"index\" INTEGER, type INTEGER, "
                "fid INTEGER, batid INTEGER, createtime TEXT, tel TEXT, name TEXT, recvtime TEXT, "
                "content TEXT, privmode INTEGER, ccid INTEGER, lockflag INTEGER, oldfid INTEGER, "
                "impt INTEGER, longsms INTEGER, operid TEXT, uuid BLOB, UserID INTEGER, "
                "ModifyTime TEXT);", "CREATE INDEX u ON SmsHead (UserID);"]
        values = [(h["type"], h["fid"], h["tel"], h["name"], h["recvtime"], h["content"])
                  for h in heads]

        def raw_seconds(name, prologue):
            """Plain SQLite inserting the rows into the file `name` after
            `prologue`: one prepared statement, 1,000 rows a transaction."""
            start = time.monotonic()
            db = sqlite3.connect(os.path.join(d, name), isolation_level=None)
            for statement in pragmas + prologue:
                db.execute(statement)
            for i in range(0, len(values), 1000):
                db.execute("BEGIN")
                db.executemany("INSERT INTO SmsHead VALUES (NULL, 0, ?, ?, 0, '', ?, ?, ?, ?, 0, "
                               "0, 0, 0, 0, 0, '', randomblob(16), 1, datetime('now'))",
                               values[i:i + 1000])
                db.execute("COMMIT")
            db.close()
            return time.monotonic() - start

        # Into a bare table of the same columns with one index, and into the
        # store's own table in a file the store made: its indexes, id
        # sequence and change-log triggers do their work for every row, as
        # they do for the tool.
        bare_seconds = raw_seconds("bare.dbf", bare)
        subprocess.run([zusms, "--db", os.path.join(d, "store.dbf"), "folders"], check=True,
                       capture_output=True)
        store_seconds = raw_seconds("store.dbf", ["PRAGMA foreign_keys=ON;"])
        print(f"raw SQLite: {bare_seconds:.2f} s into a bare table, {store_seconds:.2f} s into "
              f"the store's table")
        print(f"| case ({count:,} messages) | zusms | rate / raw rate, store's table | "
              f"rate / raw rate, bare table | peak memory |")
        print("|---|---|---|---|---|")
        for kind, (seconds, kib) in results.items():
            print(f"| import {kind.upper()} | {seconds:.2f} s | {store_seconds / seconds:.2f} | "
                  f"{bare_seconds / seconds:.2f} | {kib / 1024:.0f} MiB |")


if __name__ == "__main__":
    main()
