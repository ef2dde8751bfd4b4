#!/usr/bin/env python3
"""Times `zusms import` of 100,000 messages from JSON against raw SQLite
inserting the same rows into the same table in transactions of 1,000 rows
(the sqlite3 command-line shell, reading generated SQL).

usage: bench/import_bench.py build/bin/zusms [count]
"""
import json
import os
import subprocess
import sys
import tempfile
import time


def main():
    zusms = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    with tempfile.TemporaryDirectory(prefix="zusms-import-") as d:
        heads = []
        for i in range(count):
            heads.append({
                "index": 0, "type": 1, "fid": i % 14 + 1, "batid": 0,
                "createtime": "20240101120000", "tel": f"+86138{i % 100000:05d}",
                "name": "\u674e\u96f7", "recvtime": "20240101120000",
                "content": f"Message {i}: meet at the station at five \u660e\u5929\u89c1",
                "privmode": 0, "ccid": 0, "lockflag": 0, "oldfid": 0, "impt": 0,
                "longsms": 0, "operid": "",
                "uuid": f"{i:08x}-0000-4000-8000-{i:012x}"})
        path = os.path.join(d, "messages.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump({"heads": heads}, f, ensure_ascii=False)

        db = os.path.join(d, "zusms.dbf")
        subprocess.run([zusms, "--db", db, "folders"], check=True, capture_output=True)
        start = time.monotonic()
        subprocess.run([zusms, "--db", db, "import", path], check=True, capture_output=True)
        zusms_seconds = time.monotonic() - start

        raw = os.path.join(d, "raw.dbf")
        sql = ["PRAGMA journal_mode=WAL;", "PRAGMA synchronous=FULL;",
               "CREATE TABLE SmsHead (id INTEGER PRIMARY KEY, \"index\" INTEGER, type INTEGER, "
               "fid INTEGER, batid INTEGER, createtime TEXT, tel TEXT, name TEXT, recvtime TEXT, "
               "content TEXT, privmode INTEGER, ccid INTEGER, lockflag INTEGER, oldfid INTEGER, "
               "impt INTEGER, longsms INTEGER, operid TEXT, uuid BLOB, UserID INTEGER, "
               "ModifyTime TEXT);", "CREATE INDEX u ON SmsHead (UserID);"]
        for i, h in enumerate(heads):
            if i % 1000 == 0:
                sql.append("BEGIN;")
            sql.append("INSERT INTO SmsHead VALUES (NULL, 0, 1, %d, 0, '%s', '%s', '%s', '%s', "
                       "'%s', 0, 0, 0, 0, 0, 0, '', randomblob(16), 1, datetime('now'));" % (
                           h["fid"], h["createtime"], h["tel"], h["name"], h["recvtime"],
                           h["content"]))
            if i % 1000 == 999 or i == count - 1:
                sql.append("COMMIT;")
        script = os.path.join(d, "raw.sql")
        with open(script, "w", encoding="utf-8") as f:
            f.write("\n".join(sql))
        start = time.monotonic()
        with open(script, encoding="utf-8") as f:
            subprocess.run(["sqlite3", raw], stdin=f, check=True, capture_output=True)
        raw_seconds = time.monotonic() - start
        print(f"| import {count} messages | zusms {zusms_seconds:.2f} s | "
              f"raw SQLite {raw_seconds:.2f} s | ratio {raw_seconds / zusms_seconds:.2f} |")


if __name__ == "__main__":
    main()
