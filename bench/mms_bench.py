#!/usr/bin/env python3
"""Memory and rate of importing and exporting a phone backup made of many
photos (about 1 GB of XML by default): multimedia messages of one to three
pictures of 0.5 to 4 MB each with their SMIL and text parts. Prints the
peak resident size (GNU time) and the rate of the import and of the XML
export, and the rate of a plain SQLite insert of the same pictures as blobs
into a table of their own (WAL, synchronous=FULL, one transaction per
64 MB, as the import's batches). Works in a temporary folder (TMPDIR),
deleted at the end.

With --one-part, one message with one picture of MB megabytes instead
(100 by default, the largest part the store takes is 104.8 MB): the peak
and time of the XML import, the XML and JSON exports, the JSON import
and `attachments save`, each on its own. With --parts, one message with
COUNT pictures of MB megabytes each, the same steps.

usage: bench/mms_bench.py build/bin/zusms [MB]
       bench/mms_bench.py build/bin/zusms --one-part [MB]
       bench/mms_bench.py build/bin/zusms --parts COUNT MB
"""
import base64
import os
import random
import sqlite3
import subprocess
import sys
import tempfile
import time


def peak(args, **kw):
    """Runs `args`; returns (peak resident MB, seconds)."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M %e"] + args, check=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, **kw)
    kb, seconds = out.stderr.strip().splitlines()[-1].split()
    return int(kb) / 1024, float(seconds)


def pictures(total):
    """The messages' pictures, the same every run: a list of lists of sizes."""
    r = random.Random(27)
    messages, size = [], 0
    while size < total:
        sizes = [r.randrange(500_000, 4_000_000) for _ in range(r.choice((1, 1, 2, 3)))]
        messages.append(sizes)
        size += sum(sizes) * 4 // 3
    return messages


def picture(i, k, n):
    return random.Random(i * 16 + k).randbytes(n)


def write_backup(path, messages):
    with open(path, "w", encoding="ascii") as f:
        f.write(f"<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
                f'<smses count="{len(messages)}">\n')
        for i, sizes in enumerate(messages):
            f.write(f'  <mms date="{1600000000000 + 60000 * i}" msg_box="{1 + i % 2}" '
                    f'address="+1415555{i % 10000:04d}" m_type="132" sub="null" '
                    'ct_t="application/vnd.wap.multipart.related" read="1" locked="0">\n'
                    '    <parts>\n      <part seq="-1" ct="application/smil" name="smil.xml" '
                    'text="&lt;smil&gt;&lt;body&gt;&lt;/body&gt;&lt;/smil&gt;" />\n')
            for k, n in enumerate(sizes):
                f.write(f'      <part seq="0" ct="image/jpeg" name="IMG_{i}_{k}.jpg" '
                        f'cl="IMG_{i}_{k}.jpg" text="null" data="')
                data = picture(i, k, n)
                for at in range(0, n, 3 << 16):
                    f.write(base64.b64encode(data[at:at + (3 << 16)]).decode())
                f.write('" />\n')
            f.write(f'      <part seq="0" ct="text/plain" text="picture {i}" />\n    </parts>\n'
                    f'    <addrs><addr address="+1415555{i % 10000:04d}" type="137" />'
                    '<addr address="+14155550000" type="151" /></addrs>\n  </mms>\n')
        f.write("</smses>\n")


def plain_sqlite(path, messages):
    """Seconds to insert the pictures as blobs with plain SQLite."""
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("pragma journal_mode=wal")
    db.execute("pragma synchronous=full")
    db.execute("create table part (id integer primary key, mms integer, data blob)")
    spent, batch = 0.0, 0
    db.execute("begin")
    for i, sizes in enumerate(messages):
        for k, n in enumerate(sizes):
            data = picture(i, k, n)
            start = time.perf_counter()
            db.execute("insert into part (mms, data) values (?, ?)", (i, data))
            batch += n
            if batch >= 64 << 20:
                db.execute("commit")
                db.execute("begin")
                batch = 0
            spent += time.perf_counter() - start
    start = time.perf_counter()
    db.execute("commit")
    db.close()
    return spent + time.perf_counter() - start


def one_part(zusms, mb, count=1):
    """The steps with one message of `count` pictures of `mb` MB."""
    with tempfile.TemporaryDirectory(prefix="zusms-mms-") as d:
        path = lambda name: os.path.join(d, name)
        write_backup(path("one.xml"), [[mb * 1_000_000] * count])
        db = ["--db", path("store.dbf")]
        steps = [
            ("import (XML)", [zusms, *db, "import", path("one.xml")]),
            ("export --format xml", [zusms, *db, "export", "--format", "xml", "-o", path("out.xml")]),
            ("export (JSON)", [zusms, *db, "export", "-o", path("out.json")]),
            ("attachments save", [zusms, *db, "attachments", "save", "--to", path("saved")]),
            ("import (JSON)", [zusms, "--db", path("other.dbf"), "import", path("out.json")]),
        ]
        print(f"one message, {count} picture(s) of {mb} MB")
        print("| step | peak resident | time |")
        print("|---|---|---|")
        for name, args in steps:
            mb_peak, seconds = peak(args)
            print(f"| {name} | {mb_peak:.0f} MB | {seconds:.1f} s |", flush=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    zusms = os.path.abspath(sys.argv[1])
    if sys.argv[2:3] == ["--one-part"]:
        return one_part(zusms, int(sys.argv[3] if len(sys.argv) > 3 else 100))
    if sys.argv[2:3] == ["--parts"]:
        return one_part(zusms, int(sys.argv[4]), int(sys.argv[3]))
    total = int(sys.argv[2] if len(sys.argv) > 2 else 1000) * 1_000_000
    messages = pictures(total)
    data_mb = sum(map(sum, messages)) / 1e6
    with tempfile.TemporaryDirectory(prefix="zusms-mms-") as d:
        backup = os.path.join(d, "photos.xml")
        write_backup(backup, messages)
        file_mb = os.path.getsize(backup) / 1e6
        store = os.path.join(d, "store.dbf")
        im_mb, im_s = peak([zusms, "--db", store, "import", backup])
        os.remove(backup)
        ex_mb, ex_s = peak([zusms, "--db", store, "export", "--format", "xml"])
        os.remove(store)
        raw_s = plain_sqlite(os.path.join(d, "plain.db"), messages)
    print(f"{len(messages)} messages, {sum(map(len, messages))} pictures, "
          f"{data_mb:.0f} MB of pictures, {file_mb:.0f} MB of XML")
    print("| step | peak resident | time | rate (file) | rate (pictures) |")
    print("|---|---|---|---|---|")
    print(f"| import | {im_mb:.0f} MB | {im_s:.1f} s | {file_mb / im_s:.1f} MB/s "
          f"| {data_mb / im_s:.1f} MB/s |")
    print(f"| export --format xml | {ex_mb:.0f} MB | {ex_s:.1f} s | {file_mb / ex_s:.1f} MB/s "
          f"| {data_mb / ex_s:.1f} MB/s |")
    print(f"| plain SQLite insert of the pictures | | {raw_s:.1f} s | "
          f"| {data_mb / raw_s:.1f} MB/s |")


if __name__ == "__main__":
    main()
