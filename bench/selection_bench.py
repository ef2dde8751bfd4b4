#!/usr/bin/env python3
"""What people do with many messages at once, through the zusms tool, next
to raw SQLite (Python's sqlite3 module on the same file) doing the same
work: a move and a deletion of about 10,000 messages selected by folder and
time, a search, one conversation and the list of conversations. Each tool
run is timed whole (the process, its opening of the store and its output),
with its peak memory; the raw column is the plainest SQL for the same rows.

usage: bench/selection_bench.py build/bin/zusms build/bin/zusms_scale_gen [messages...]
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time


def tool(zusms, db, *args):
    """Seconds and peak kilobytes of one run of the tool."""
    start = time.perf_counter()
    child = subprocess.Popen([zusms, "--db", db, *args], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"zusms {' '.join(args)} failed")
    return took, usage.ru_maxrss


def raw(db, sql, args=()):
    con = sqlite3.connect(db)
    start = time.perf_counter()
    con.execute(sql, args).fetchall()
    con.commit()
    took = time.perf_counter() - start
    con.close()
    return took


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    zusms, gen = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    sizes = [int(n) for n in sys.argv[3:]] or [100000, 1000000]
    print("| messages | work | tool (s) | peak memory | raw SQLite (s) | ratio |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="zusms-sel-") as d:
        for n in sizes:
            made = os.path.join(d, f"made{n}.dbf")
            subprocess.run([gen, made, str(n)], check=True, capture_output=True)
            con = sqlite3.connect(made)
            # A window of the inbox holding about 10,000 messages.
            times = [r[0] for r in con.execute(
                "select recvtime from SmsHead where UserID=1 and fid=1 order by recvtime")]
            since, until = times[len(times) // 2], times[min(len(times) // 2 + 10000, len(times) - 1)]
            number = con.execute("select tel from SmsHead where UserID=1 group by tel "
                                 "order by count(*) desc limit 1").fetchone()[0]
            con.close()
            window = ["--since", f"{since[:4]}-{since[4:6]}-{since[6:8]}T{since[8:10]}:"
                      f"{since[10:12]}:{since[12:14]}Z", "--until",
                      f"{until[:4]}-{until[4:6]}-{until[6:8]}T{until[8:10]}:{until[10:12]}:"
                      f"{until[12:14]}Z"]
            cases = [
                ("move ~10,000 (folder and time) to the trash",
                 ["move", "--folder", "1", *window, "--to", "9", "--yes"],
                 "update SmsHead set oldfid=fid, fid=9 where UserID=1 and fid=1 and "
                 "recvtime>=? and recvtime<?", (since, until)),
                ("delete them",
                 ["delete", "--folder", "9", *window, "--yes", "--include-locked"],
                 "delete from SmsHead where UserID=1 and fid=9 and recvtime>=? and recvtime<?",
                 (since, until)),
                ("search a word, first 20 and the total", ["list", "--contains", "hello"],
                 "select count(*) from SmsHead where UserID=1 and content like '%hello%'", ()),
                ("one conversation, newest 50", ["conversation", number],
                 "select * from SmsHead where UserID=1 and tel=? order by recvtime desc limit 50",
                 (number,)),
                ("all conversations", ["conversations"],
                 "select tel, count(*), max(recvtime) from SmsHead where UserID=1 group by tel",
                 ()),
            ]
            for label, args, sql, params in cases:
                tool_db, raw_db = os.path.join(d, "tool.dbf"), os.path.join(d, "raw.dbf")
                shutil.copy(made, tool_db)
                shutil.copy(made, raw_db)
                if label == "delete them":  # after the move, on both
                    tool(zusms, tool_db, *cases[0][1])
                    raw(raw_db, cases[0][2], cases[0][3])
                took, peak = tool(zusms, tool_db, *args)
                plain = raw(raw_db, sql, params)
                print(f"| {n:,} | {label} | {took:.2f} | {peak // 1024} MB | {plain:.3f} | "
                      f"{plain / took:.2f} |")
                sys.stdout.flush()


if __name__ == "__main__":
    main()
