#!/usr/bin/env python3
"""Would a full-text index pay for the store's contains-search? Builds an
FTS5 trigram index (external content, over SmsHead.content) on a copy of a
scale-table store and compares, for Latin and Chinese patterns of one to
four characters and patterns with % and _, the store's own scan
(`content like ? escape '\\'`, as the engine runs a contains condition) with
what the trigram index answers: counts, times, index build time and size.

usage: bench/search_bench.py build/bin/zusms_scale_gen [messages]
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

PATTERNS = ["home", "love", "火车站", "验证码", "明天", "天", "a", "50%", "_"]


def escape(text):
    return "%" + text.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_") + "%"


def timed(db, sql, args, runs=3):
    best, result = None, None
    for _ in range(runs):
        start = time.perf_counter()
        result = db.execute(sql, args).fetchone()[0]
        took = time.perf_counter() - start
        best = took if best is None or took < best else best
    return result, best * 1000


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    gen = os.path.abspath(sys.argv[1])
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    with tempfile.TemporaryDirectory(prefix="zusms-search-") as d:
        store = os.path.join(d, "store.dbf")
        subprocess.run([gen, store, str(n)], check=True, capture_output=True)
        before = os.path.getsize(store)
        db = sqlite3.connect(store, isolation_level=None)
        print(f"SQLite {sqlite3.sqlite_version}, {n:,} messages of the measured user, "
              f"file {before / 1e6:.0f} MB")
        start = time.perf_counter()
        db.execute("CREATE VIRTUAL TABLE SmsHead_text USING fts5(content, content='SmsHead', "
                   "content_rowid='id', tokenize='trigram')")
        db.execute("INSERT INTO SmsHead_text(SmsHead_text) VALUES ('rebuild')")
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        print(f"trigram index built in {time.perf_counter() - start:.1f} s, file "
              f"{os.path.getsize(store) / 1e6:.0f} MB")
        plan = db.execute("EXPLAIN QUERY PLAN SELECT count(*) FROM SmsHead_text WHERE content "
                          "LIKE ? ESCAPE '\\'", ("%home%",)).fetchall()
        print("plan of `like ? escape` on the index:", plan[-1][-1])
        print()
        print("| pattern | scan (store's like ... escape) | trigram `like` (no escape) | "
              "trigram MATCH | same rows |")
        print("|---|---|---|---|---|")
        for p in PATTERNS:
            scan, scan_ms = timed(db, "SELECT count(*) FROM SmsHead WHERE (UserID=?) AND "
                                      "(content like ? escape '\\')", (1, escape(p)))
            like, like_ms = timed(db, "SELECT count(*) FROM SmsHead WHERE UserID=? AND id IN "
                                      "(SELECT rowid FROM SmsHead_text WHERE content LIKE ?)",
                                  (1, "%" + p + "%"))
            try:
                match, match_ms = timed(db, "SELECT count(*) FROM SmsHead WHERE UserID=? AND id "
                                            "IN (SELECT rowid FROM SmsHead_text WHERE "
                                            "SmsHead_text MATCH ?)",
                                        (1, '"' + p.replace('"', '""') + '"'))
                match_text = f"{match} in {match_ms:.1f} ms"
            except sqlite3.Error as e:
                match, match_text = None, f"error: {e}"
            same = "yes" if scan == like == match else "no"
            print(f"| `{p}` | {scan} in {scan_ms:.1f} ms | {like} in {like_ms:.1f} ms | "
                  f"{match_text} | {same} |", flush=True)
        db.close()


if __name__ == "__main__":
    main()
