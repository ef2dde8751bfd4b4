#!/usr/bin/env python3
"""The search index at scale: the library's search (SearchZuSmsHead, through
ctypes) next to raw SQLite running the same lookup on the same index tables,
in the same run, on scale-table stores; the conversation listings
(ListZuSmsPersons, ListZuSmsConversation) next to raw SQLite reading the
same rows of the library's own index; and the index's making, its catch-up
after 1,000 changes another program made and after another program added a
tenth of the store's messages (an import), and the file's growth.

usage: bench/search_index_bench.py build/lib/libzusmsdb.so build/bin/zusms_scale_gen N...
"""
import ctypes
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

# (what, terms, with the total, raw SQL on the index's tables)
CASES = [
    ("a word (a name in two corpus messages), first 50 and the total", "maneesha", True,
     "SELECT s.Time, s.id FROM zu_search_grams CROSS JOIN zu_search s ON s.id = "
     "zu_search_grams.rowid WHERE s.UserID = 1 AND (instr((s.Text), 'maneesha') > 0) AND "
     "zu_search_grams MATCH '" + " AND ".join(f'"{g}"' for g in sorted(
         {"maneesha"[i:i + 3] for i in range(6)})) + "'"),
    ("one Chinese character, first 50", "开", False,
     "SELECT s.id FROM zu_search s INDEXED BY zu_search_time WHERE s.UserID = 1 AND "
     "(instr((s.Text), '开') > 0) ORDER BY s.Time DESC, s.id DESC LIMIT 50"),
]


def median_ms(fn, runs=7):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times) * 1000


class Store:
    def __init__(self, lib, path):
        os.environ["ZUSMS_DB"] = path
        self.lib, self.h = lib, ctypes.c_void_p()
        assert lib.InitZuSmsDB(ctypes.byref(self.h), 1) == 0
        assert lib.OpenZuSmsDB(self.h) == 0

    def refresh(self):
        assert self.lib.RefreshZuSmsIndexes(self.h, None, None) == 0

    def search(self, terms, total):
        ids, n, all_ = (ctypes.c_uint32 * 50)(), ctypes.c_uint32(), ctypes.c_uint64()
        text = terms.encode("utf-16-le") + b"\0\0"
        assert self.lib.SearchZuSmsHead(self.h, text, 0, ids, 50, ctypes.byref(n),
                                        ctypes.byref(all_) if total else None) == 0
        return n.value, all_.value

    def persons(self):
        items = (ctypes.c_ubyte * (96 * 20000))()
        n, total = ctypes.c_uint32(), ctypes.c_uint64()
        assert self.lib.ListZuSmsPersons(self.h, 0, items, 20000, ctypes.byref(n),
                                         ctypes.byref(total)) == 0
        return n.value

    def conversation(self, key):
        ids, n, total = (ctypes.c_uint32 * 50)(), ctypes.c_uint32(), ctypes.c_uint64()
        text = key.encode("utf-16-le") + b"\0\0"
        assert self.lib.ListZuSmsConversation(self.h, text, 0, ids, 50, ctypes.byref(n),
                                              ctypes.byref(total)) == 0
        return n.value, total.value

    def close(self):
        self.lib.CloseZuSmsDB(self.h)
        self.lib.UninitZuSmsDB(self.h)


def raw_build(path):
    """What making the index is at its plainest: the same tables, filled by
    two INSERT ... SELECT (lower() standing in for the folding)."""
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("DROP TABLE IF EXISTS zu_search_grams")
    db.execute("DROP TABLE IF EXISTS zu_search")
    db.execute("DROP TABLE IF EXISTS zu_search_persons")
    db.execute("CREATE TABLE zu_search (id INTEGER PRIMARY KEY, UserID INTEGER NOT NULL, Time "
               "TEXT NOT NULL, Text TEXT NOT NULL, Tel TEXT NOT NULL, Name TEXT NOT NULL, Person "
               "TEXT NOT NULL, Locked INTEGER NOT NULL)")
    db.execute("CREATE INDEX zu_search_time ON zu_search (UserID, Time, id)")
    db.execute("CREATE INDEX zu_search_person ON zu_search (UserID, Person, Time, id)")
    db.execute("CREATE TABLE zu_search_persons (UserID INTEGER NOT NULL, Person TEXT NOT NULL, "
               "Entries INTEGER NOT NULL, Locked INTEGER NOT NULL, Time TEXT, PRIMARY KEY "
               "(UserID, Person)) WITHOUT ROWID")
    db.execute("CREATE VIRTUAL TABLE zu_search_grams USING fts5(t, content='', detail=none, "
               "tokenize='trigram case_sensitive 1')")
    start = time.perf_counter()
    db.execute("BEGIN")
    db.execute("INSERT INTO zu_search SELECT id, UserID, coalesce(recvtime, ''), "
               "lower(content), lower(tel), lower(name), tel, lockflag FROM SmsHead WHERE UserID = 1")
    db.execute("INSERT INTO zu_search_grams (rowid, t) SELECT id, Text || char(10) || Tel || "
               "char(10) || Name FROM zu_search")
    db.execute("INSERT INTO zu_search_persons SELECT UserID, Person, count(*), sum(Locked), "
               "max(Time) FROM zu_search GROUP BY UserID, Person")
    db.execute("COMMIT")
    took = time.perf_counter() - start
    db.close()
    return took


def change(path, ids):
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("UPDATE SmsHead SET content = substr(content || ' changed', 1, 600) WHERE id IN "
               f"({','.join(map(str, ids))})")
    db.close()


def timed_transaction(path, statements):
    """Seconds that `statements` take in one transaction."""
    db = sqlite3.connect(path, isolation_level=None)
    start = time.perf_counter()
    db.execute("BEGIN")
    for sql in statements:
        db.execute(sql)
    db.execute("COMMIT")
    took = time.perf_counter() - start
    db.close()
    return took


def raw_catch_up(path, ids):
    """The same 1,000 entries taken out of the index and put in again."""
    inlist = ",".join(map(str, ids))
    return timed_transaction(path, [
        "INSERT INTO zu_search_grams (zu_search_grams, rowid, t) SELECT 'delete', id, "
        f"Text || char(10) || Tel || char(10) || Name FROM zu_search WHERE id IN ({inlist})",
        f"DELETE FROM zu_search WHERE id IN ({inlist})",
        "INSERT INTO zu_search SELECT id, UserID, coalesce(recvtime, ''), lower(content), "
        f"lower(tel), lower(name), tel, lockflag FROM SmsHead WHERE id IN ({inlist})",
        "INSERT INTO zu_search_grams (rowid, t) SELECT id, Text || char(10) || Tel || "
        f"char(10) || Name FROM zu_search WHERE id IN ({inlist})"])


def raw_catch_up_locks(path, ids):
    """The same 1,000 entries' lock state written, and their persons' counts."""
    inlist = ",".join(map(str, ids))
    return timed_transaction(path, [
        "UPDATE zu_search_persons AS p SET Locked = p.Locked + d.n FROM (SELECT "
        "s.UserID, s.Person, sum(h.lockflag - s.Locked) AS n FROM zu_search s JOIN SmsHead "
        f"h ON h.id = s.id WHERE s.id IN ({inlist}) GROUP BY s.UserID, s.Person) AS d "
        "WHERE p.UserID = d.UserID AND p.Person = d.Person",
        "UPDATE zu_search AS s SET Locked = h.lockflag FROM SmsHead h WHERE h.id = s.id "
        f"AND s.id IN ({inlist})"])


def lock(path, ids):
    db = sqlite3.connect(path, isolation_level=None)
    db.execute(f"UPDATE SmsHead SET lockflag = 1 - lockflag WHERE id IN ({','.join(map(str, ids))})")
    db.close()


def add_tenth(path):
    """A tenth of the store's messages added again, as an import by another
    program would add them; the id they start after."""
    db = sqlite3.connect(path, isolation_level=None)
    top, low, n = db.execute("SELECT max(id), min(id), count(*) FROM SmsHead").fetchone()
    db.execute(
        'INSERT INTO SmsHead (id, "index", type, fid, batid, createtime, tel, name, recvtime, '
        "content, privmode, ccid, lockflag, oldfid, impt, longsms, operid, uuid, UserID, "
        f"ModifyTime) SELECT id + {top}, \"index\", type, fid, 0, createtime, tel, name, "
        "recvtime, substr(content || ' again', 1, 671), privmode, ccid, lockflag, oldfid, impt, "
        f"0, operid, randomblob(16), UserID, ModifyTime FROM SmsHead WHERE id < {low + n // 10}")
    db.close()
    return top


def raw_catch_up_added(path, top):
    """The added messages put in the index, their persons counted."""
    return timed_transaction(path, [
        "INSERT INTO zu_search SELECT id, UserID, coalesce(recvtime, ''), lower(content), "
        f"lower(tel), lower(name), tel, lockflag FROM SmsHead WHERE id > {top}",
        "INSERT INTO zu_search_grams (rowid, t) SELECT id, Text || char(10) || Tel || "
        f"char(10) || Name FROM zu_search WHERE id > {top}",
        "INSERT INTO zu_search_persons SELECT UserID, Person, count(*), sum(Locked), max(Time) "
        f"FROM zu_search WHERE id > {top} GROUP BY UserID, Person ON CONFLICT "
        "(UserID, Person) DO UPDATE SET Entries = Entries + excluded.Entries, Locked = Locked "
        "+ excluded.Locked, Time = max(Time, excluded.Time)"])


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    lib = ctypes.CDLL(os.path.abspath(sys.argv[1]))
    gen = os.path.abspath(sys.argv[2])
    print(f"SQLite {sqlite3.sqlite_version}")
    print("| messages | work | library (ms) | raw SQLite (ms) | ratio |")
    print("|---|---|---|---|---|")
    for n in map(int, sys.argv[3:]):
        with tempfile.TemporaryDirectory(prefix="zusms-index-") as d:
            path, raw = os.path.join(d, "store.dbf"), os.path.join(d, "raw.dbf")
            subprocess.run([gen, path, str(n)], check=True, capture_output=True)
            shutil.copy(path, raw)
            before = os.path.getsize(path)
            store = Store(lib, path)
            start = time.perf_counter()
            store.refresh()
            made = time.perf_counter() - start
            raw_made = raw_build(raw)
            sqlite3.connect(path).execute("PRAGMA wal_checkpoint(TRUNCATE)").close()
            grown = os.path.getsize(path) - before
            row = lambda what, ours, theirs: print(
                f"| {n:,} | {what} | {ours:.2f} | {theirs:.2f} | {theirs / ours:.2f} |")
            row(f"make the index from nothing (file {before / 1e6:.0f} MB, +{grown / 1e6:.0f} MB)",
                made * 1000, raw_made * 1000)
            db = sqlite3.connect(raw)
            for what, terms, total, sql in CASES:
                found = store.search(terms, total)
                ours = median_ms(lambda: store.search(terms, total))
                theirs = median_ms(lambda: db.execute(sql).fetchall())
                row(f"{what} ({found[1] if total else found[0]} found)", ours, theirs)
            db.close()
            # Conversations: raw SQLite reads the library's own tables.
            db = sqlite3.connect(path)
            persons_sql = ("SELECT Person, Entries, Unread, Locked, Newest FROM zu_search_persons "
                           "WHERE UserID = 1 ORDER BY Time DESC, Newest DESC")
            count = store.persons()
            row(f"the list of all persons ({count:,})", median_ms(store.persons),
                median_ms(lambda: db.execute(persons_sql).fetchall()))
            key = db.execute("SELECT Person FROM zu_search_persons WHERE UserID = 1 ORDER BY "
                             "Entries DESC LIMIT 1").fetchone()[0]
            one_sql = ("SELECT id FROM zu_search WHERE UserID = 1 AND Person = ? ORDER BY Time "
                       "DESC, id DESC LIMIT 50")
            got = store.conversation(key)
            row(f"one person's newest 50 messages (of {got[1]:,})",
                median_ms(lambda: store.conversation(key)),
                median_ms(lambda: db.execute(one_sql, (key,)).fetchall()))
            db.close()
            # Changes by another program, then the catch-up: medians of 7
            # rounds, each on another 1,000 messages.
            def caught_up(make_changes, raw_work):
                ours, theirs = [], []
                for _ in range(7):
                    ids = [r[0] for r in sqlite3.connect(path).execute(
                        "SELECT id FROM SmsHead WHERE UserID = 1 ORDER BY random() LIMIT 1000")]
                    make_changes(path, ids)
                    start = time.perf_counter()
                    store.refresh()
                    ours.append(time.perf_counter() - start)
                    make_changes(raw, ids)
                    theirs.append(raw_work(raw, ids))
                return statistics.median(ours) * 1000, statistics.median(theirs) * 1000
            row("bring it up to date after 1,000 texts changed by another program",
                *caught_up(change, raw_catch_up))
            row("bring it up to date after 1,000 messages locked by another program",
                *caught_up(lock, raw_catch_up_locks))
            top = add_tenth(path)
            start = time.perf_counter()
            store.refresh()
            ours = time.perf_counter() - start
            add_tenth(raw)
            row(f"bring it up to date after {n // 10:,} messages imported by another program",
                ours * 1000, raw_catch_up_added(raw, top) * 1000)
            store.close()


if __name__ == "__main__":
    main()
