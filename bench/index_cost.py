#!/usr/bin/env python3
"""What each query index costs on the add path: 100,000 messages of a
scale-table store inserted again into a table of the same columns with the
schema's indexes only, with the folder indexes, and with all query indexes,
in transactions of 1,000 rows (as an import) and of one row each (as
messages arrive), at synchronous=FULL and NORMAL respectively.

usage: bench/index_cost.py build/bin/zusms_scale_gen [messages]
"""
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

INDEXES = {
    "ctime": "CREATE INDEX ctime ON SmsHead (fid, UserID, createtime)",
    "rtime": "CREATE INDEX rtime ON SmsHead (fid, UserID, recvtime)",
    "uuid": "CREATE INDEX uuid ON SmsHead (uuid)",
}
VARIANTS = [("schema's only", []), ("+ folder indexes", ["ctime", "rtime"]),
            ("+ UUID index", ["uuid"]), ("all", ["ctime", "rtime", "uuid"])]


def table(path, source, keep, sync):
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA journal_mode=WAL")
    db.execute(f"PRAGMA synchronous={sync}")
    db.execute(f"ATTACH '{source}' AS s")
    db.execute("CREATE TABLE SmsHead AS SELECT * FROM s.SmsHead WHERE 0")
    db.execute("CREATE INDEX fk ON SmsHead (UserID)")
    db.execute("CREATE INDEX id_user ON SmsHead (id, UserID)")
    for k in keep:
        db.execute(INDEXES[k])
    return db


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    gen = os.path.abspath(sys.argv[1])
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    with tempfile.TemporaryDirectory(prefix="zusms-indexcost-") as d:
        source = os.path.join(d, "source.dbf")
        subprocess.run([gen, source, str(n)], check=True, capture_output=True)
        rows = sqlite3.connect(source).execute(
            "SELECT * FROM SmsHead ORDER BY id").fetchall()
        insert = "INSERT INTO SmsHead VALUES (" + ",".join("?" * 20) + ")"
        print(f"| indexes | batches of 1,000 (FULL), per row | single adds into {len(rows):,} "
              "rows (NORMAL) |")
        print("|---|---|---|")
        for name, keep in VARIANTS:
            db = table(os.path.join(d, "t.dbf"), source, keep, "FULL")
            start = time.perf_counter()
            for i in range(0, len(rows), 1000):
                db.execute("BEGIN")
                db.executemany(insert, rows[i:i + 1000])
                db.execute("COMMIT")
            batch = (time.perf_counter() - start) / len(rows) * 1e6
            db.execute("PRAGMA synchronous=NORMAL")
            extra = [(r[0] + 10 * len(rows),) + r[1:] for r in rows[:2000]]
            start = time.perf_counter()
            for r in extra:
                db.execute(insert, r)
            single = (time.perf_counter() - start) / len(extra) * 1e6
            db.close()
            print(f"| {name} | {batch:.1f} us | {single:.0f} us |", flush=True)


if __name__ == "__main__":
    main()
