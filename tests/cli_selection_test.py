#!/usr/bin/env python3
"""Selections, search and conversations on real texts, checked against a reading of
every message in Python (casefold, NFC). Argument: zusms."""
import csv
import io
import json
import os
import re
import sqlite3
import subprocess
import sys
import time
import unicodedata
import unittest

import cli_test

CORPUS = os.path.join(os.path.dirname(__file__), "fixtures", "sms-corpus-sample.tsv")
DAY = 86400

# Texts beyond the corpus: letters whose case folding changes length or
# leaves ASCII, accents composed and not, a phrase, a long Chinese text.
ODD = ["Hallo MÜLLER, alles gut?", "Die STRASSE ist naß", "5\u212a outside, ﬁne",
       "Cafe\u0301 au lait", "Café noir", "happy   new\nyear", "ΣΊΣΥΦΟΣ ὀδυσσεύς",
       "İstanbul'a gidiyorum", "生日快乐！" * 134 + "再见朋友", "祝你生日快乐", "50% off_today \\o/"]
PEOPLE = [("+8613800138000", "张伟"), ("13800138000", ""), ("+4915112345678", "Zoë Müller"),
          ("+14155550123", "Zhang Wei"), ("10086", "Zhang Min")]


def folded(text):
    return re.sub(r"\s+", " ", unicodedata.normalize("NFC", text).casefold())




class Selection(cli_test.Case):
    @classmethod
    def setUpClass(cls):
        with open(CORPUS, encoding="utf-8") as f:
            corpus = [line.split("\t", 1)[1].rstrip("\n") for line in f.readlines()[1:]]
        now = int(time.time())
        heads, cls.messages, cls.times = [], [], []
        for i, text in enumerate(corpus[:90] + ODD):
            number, name = PEOPLE[i % len(PEOPLE)]
            when = now - (i * 37 % 400) * DAY // 10 - 60
            fid = 7 if i % 7 == 0 else 1  # some sent
            cls.messages.append(text)
            cls.times.append(when)
            stamp = time.strftime("%Y%m%d%H%M%S", time.gmtime(when))
            heads += cli_test.message_heads(i, number, name, text, stamp, fid=fid,
                                            type=2 if fid == 7 else 1, lockflag=int(i % 11 == 0),
                                            read=i % 5 != 0)
        cls.template = json.dumps({"format": "zusms", "version": 1, "heads": heads})

    def setUp(self):
        super().setUp()
        self.run_cli("--region", "CN", "import", self.write("store.json", self.template))

    def texts(self, *args):
        return sorted(m.get("content", m.get("text")) for m in self.json_of(*args))

    def test_selections_find_what_a_reading_of_every_message_finds(self):
        by = lambda pick: sorted(t for i, t in enumerate(self.messages) if pick(i, t))
        ref = lambda term: by(lambda i, t: folded(term) in folded(t))
        cases = [
            (["--contains", "müller"], ref("müller")),
            (["--contains", "strasse"], ref("strasse")),
            (["--contains", "café"], by(lambda i, t: t.startswith("Caf"))),  # composed or not
            (["--contains", "cafe"], ref("cafe")),
            (["--contains", "cafe", "--fold-accents"], by(lambda i, t: t.startswith("Caf"))),
            (["--contains", '"new year"'], by(lambda i, t: "new\nyear" in t)),
            (["--contains", "year happy"], by(lambda i, t: "new\nyear" in t)),
            (["--contains", "50%", "--contains", "_"], by(lambda i, t: "50%" in t)),
            (["--contains", "快乐！再见"], by(lambda i, t: "再见" in t)),  # across two parts
            (["--contains", "乐", "--long"], by(lambda i, t: len(t) > 670)),
            (["--contains", "zoë", "--anywhere"], by(lambda i, t: i % 5 == 2)),
            (["--contact", "ZOE MULLER"], by(lambda i, t: i % 5 == 2)),
            (["--contact", "张伟"], by(lambda i, t: i % 5 in (0, 1))),  # two ways of writing
            (["--number", "138 0013 8000", "--folder", "sent"],
             by(lambda i, t: i % 5 in (0, 1) and i % 7 == 0)),
            (["--unread", "--locked"], by(lambda i, t: i % 5 == 0 and i % 11 == 0)),
            (["--since", "7d"], by(lambda i, t: self.times[i] >= time.time() - 7 * DAY)),
            (["--since", "today"], by(lambda i, t: self.times[i] >= time.mktime(
                time.localtime()[:3] + (0, 0, 0, 0, 0, -1)))),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                self.assertEqual(self.texts("--region", "CN", "list", "--all", *args), expected)

    def test_a_limited_listing_says_how_many_there_are_and_all_means_all(self):
        proc = self.run_cli("list", "--contains", "u")
        total = len(self.json_of("list", "--all", "--contains", "u"))
        self.assertIn(f"20 of {total}; --limit N or --all", proc.stderr)
        for limit in ("0", "4294967295"):
            self.assertEqual(len(self.json_of("list", "--limit", limit)), len(self.messages))
        # A name more people's numbers carry than the store looks up one by one.
        for n in range(5):
            self.run_cli("recipient", "add", "--number", f"+4915100000{n}", "--name", "Zoë Müller")
        self.assertEqual(self.texts("list", "--all", "--contact", "zoe muller"),
                         sorted(t for i, t in enumerate(self.messages) if i % 5 == 2))
        self.assertIn("3, and there are more", self.run_cli("list", "--limit", "3").stderr)
        for option in ("--contact", "--number", "--folder"):  # never "any"
            self.assertIn("empty", self.run_cli("delete", option, " ", "--yes", expect=2).stderr)
        self.assertNotIn("\x1b", self.run_cli("list", "--since", "\x1b[2J", expect=2).stderr)
        # The terms found are set off on a terminal, never in a pipe.
        self.assertNotIn("\x1b", proc.stdout)
        tty = subprocess.run(["script", "-qc", f"{cli_test.ZUSMS} --db {self.db} list --contains "
                              "müller", "/dev/null"], capture_output=True, text=True, timeout=60)
        self.assertIn("\x1b[1;7mMÜLLER\x1b[0m", tty.stdout)

    def test_changes_act_on_whole_messages_at_once_after_asking(self):
        sel = ["--contact", "zhang wei"]
        many = len(self.json_of("list", "--all", *sel))
        proc = self.run_cli("move", *sel, "--to", "4", expect=1)
        self.assertIn(f"would move {many} messages", proc.stderr)  # no terminal to ask on
        dry = self.run_cli("move", *sel, "--to", "4", "--dry-run").stdout
        self.assertIn(f"would move {many} messages", dry)
        self.assertEqual(self.json_of("list", "--all", "--folder", "4"), [])
        self.assertIn(f"moved {many} messages to folder 4",
                      self.run_cli("move", *sel, "--to", "4", "--yes").stdout)
        heads = self.json_of("export")["heads"]
        self.assertTrue(all(h["fid"] == 4 for h in heads if h["longsms"] > 1))  # every part
        self.assertIn("marked", self.run_cli("read", "--folder", "4", "--yes").stdout)
        self.assertEqual(self.json_of("list", "--all", "--folder", "4", "--unread"), [])
        locked = len(self.json_of("list", "--all", "--folder", "4", "--locked"))
        proc = self.run_cli("delete", "--folder", "4", "--yes")
        self.assertIn(f"deleted {many - locked} messages; {locked} messages skipped", proc.stdout)
        self.assertEqual(len(self.json_of("list", "--all", "--folder", "4")), locked)
        self.run_cli("move", "--to", "1", expect=2)  # names no messages

    def test_conversations_by_name_day_by_day(self):
        self.run_cli("unread", "--contact", "zhang wei", "--yes")
        self.run_cli("add", "--number", "5550199", "--text", "who?")
        self.run_cli("recipient", "add", "--number", "5550199", "--name", "Only History")
        self.run_cli("add", "--number", "+8613800138000", "--text", "newest, nameless")  # 张伟 still
        people = {c["name"]: c for c in self.json_of("--region", "CN", "conversations")}
        self.assertEqual(people["Zhang Wei"]["unread"], people["Zhang Wei"]["messages"])
        self.assertEqual(people["张伟"]["correspondent"], "+8613800138000")
        self.assertIn("Only History", people)
        proc = self.run_cli("conversation", "zhang", expect=1)
        self.assertIn("+14155550123  Zhang Wei", proc.stderr)  # two people: the candidates
        shown = self.run_cli("--region", "CN", "conversation", "张伟", "--limit", "3").stdout
        self.assertEqual(len(re.findall(r"\u2190 received|\u2192 sent", shown)), 3)
        self.assertTrue(shown.startswith("\u2500\u2500 "))
        newest = self.json_of("--region", "CN", "conversation", "张伟", "--limit", "3")
        self.assertEqual([m["time"] for m in newest], sorted(m["time"] for m in newest))
        whole = self.json_of("conversation", "zhang wei", "--contains", "再见")
        self.assertEqual([(m["parts"], m["text"][-2:]) for m in whole], [(2, "朋友")])
        # More than a page from one number, and a damaged index counting past 2^32: --all
        # still ends, with every message.
        with sqlite3.connect(self.db) as db:
            db.execute("INSERT INTO SmsHead (id, fid, tel, recvtime, content, UserID, uuid) WITH "
                       "RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4100) "
                       "SELECT 900000 + i, 1, '+4915112340000', '20240101000000', 'bulk', 1, "
                       "randomblob(16) FROM n")
        self.json_of("conversation", "+4915112340000", "--limit", "1")
        with sqlite3.connect(self.db) as db:
            db.execute("UPDATE zu_search_persons SET Entries = 4294967297")
        self.assertEqual(len(self.json_of("conversation", "+4915112340000", "--all")), 4100)

    def test_csv_and_text_for_people_take_the_selection(self):
        self.run_cli("add", "--number", "=1+2", "--name", "@x", "--text", '=HYPERLINK("y")\n"q", z')
        plain = self.run_cli("export", "--format", "csv", "--contact", "zoe").stdout
        rows = list(csv.DictReader(io.StringIO(plain, newline="")))
        self.assertEqual(sorted(r["text"] for r in rows), sorted(
            t for i, t in enumerate(self.messages) if i % 5 == 2))
        self.assertEqual([r["time_utc"] for r in rows], sorted(r["time_utc"] for r in rows))
        excel = subprocess.run([cli_test.ZUSMS, "--db", self.db, "export", "--format", "csv",
                                "--excel", "--number", "=1+2"], capture_output=True, timeout=60).stdout
        self.assertTrue(excel.startswith(b"\xef\xbb\xbfid,") and excel.count(b"\r\n") == 2)
        row = next(csv.DictReader(io.StringIO(excel.decode("utf-8-sig"), newline="")))
        self.assertEqual((row["number"], row["name"], row["text"]),
                         ("'=1+2", "'@x", '\'=HYPERLINK("y")\n"q", z'))
        text = self.run_cli("--region", "CN", "export", "--format", "txt", "--contact", "张伟").stdout
        self.assertRegex(text, r"^Local times[^\n]*\.\n\n张伟 \(\+8613800138000\)\n=====")
        self.assertEqual(len(re.findall(r"^  \d\d:\d\d  ", text, re.M)),
                         len([i for i in range(len(self.messages)) if i % 5 < 2]))
        self.run_cli("export", "--format", "txt", "--excel", expect=2)
        # A sent message moved twice (to the trash, then out of it into a
        # folder of the user's) is still sent; a draft is a draft.
        self.run_cli("add", "--number", "5550177", "--folder", "7", "--text", "thrown away")
        self.run_cli("move", "--number", "5550177", "--to", "9")
        self.run_cli("folder", "add", "Kept")
        self.run_cli("move", "--number", "5550177", "--to", "Kept")
        self.run_cli("add", "--number", "5550177", "--folder", "8", "--text", "never sent")
        plain = self.run_cli("export", "--format", "csv", "--number", "5550177").stdout
        self.assertEqual({(r["text"], r["direction"]) for r in csv.DictReader(io.StringIO(plain))},
                         {("thrown away", "sent"), ("never sent", "draft")})
        self.assertIn("me (draft): never sent", self.run_cli(
            "export", "--format", "txt", "--number", "5550177").stdout)


if __name__ == "__main__":
    cli_test.ZUSMS = sys.argv.pop(1)
    unittest.main()
