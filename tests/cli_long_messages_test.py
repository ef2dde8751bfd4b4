#!/usr/bin/env python3
"""Long messages from parts wherever they lie, and the reading each listing costs
(ZUSMS_COUNT_READS). Argument: zusms."""
import contextlib
import json
import os
import re
import sqlite3
import subprocess
import sys
import unittest

import cli_test
from cli_test import head


def part(number, batid, index, second, parts=3, fid=1):
    return head(number, f"<{batid}.{index}>", second, batid, parts, index, fid)


class LongMessages(cli_test.Case):
    def load(self, heads, one_by_one=False):
        """Imports `heads`; one by one, each gets the next id (an import
        adds the parts of a message together)."""
        for some in [[h] for h in heads] if one_by_one else [heads]:
            path = self.write("heads.json", json.dumps({"format": "zusms", "version": 1,
                                                        "heads": some}))
            self.run_cli("import", path)

    def reads(self, *args):
        """The messages listed and the queries the listing made."""
        proc = subprocess.run([cli_test.ZUSMS, "--db", self.db, "--json", *args],
                              capture_output=True, text=True, timeout=300,
                              env=dict(os.environ, ZUSMS_COUNT_READS="1"))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        queries, rows = map(int, re.search(r"(\d+) queries read (\d+) messages",
                                           proc.stderr).groups())
        return json.loads(proc.stdout), queries, rows

    def texts(self, *args):
        return [(m["content"], m["parts"], m["complete"]) for m in self.json_of(*args)]

    def test_parts_are_found_apart_in_time_and_in_the_store_and_missing_ones_marked(self):
        self.load([
            part("100", 7, 2, 500),     # 7: parts far apart in time and in ids
            head("200", "short a", 400),
            part("100", 8, 1, 300, parts=2),  # 8: its second part is not stored
            part("300", 7, 1, 300),     # the same batid, another number: another message
            head("200", "short b", 200),
            part("300", 7, 2, 301),
            part("300", 7, 3, 302),
            part("100", 7, 3, 100),
            part("900", 9, 2, 600, parts=2),  # 9: its first part is not stored
        ], one_by_one=True)
        self.load([head("400", f"filler {i}", 1000 + i) for i in range(40)])
        self.load([part("100", 7, 1, 50)])
        # Each part the batid its text names, as another program might store it.
        with contextlib.closing(sqlite3.connect(self.db, timeout=30)) as db, db:
            db.execute("UPDATE SmsHead SET batid = CAST(substr(content, 2, 1) AS INTEGER) "
                       "WHERE longsms > 1")
        stored = json.loads(self.run_cli("export").stdout)["heads"]
        self.assertEqual({(h["batid"], h["tel"]) for h in stored if h["longsms"] > 1},
                         {(7, "100"), (8, "100"), (7, "300"), (9, "900")})
        whole = [("<7.1><7.2><7.3>", 3, True), ("<8.1>", 1, False), ("<7.1><7.2><7.3>", 3, True)]
        everything = self.texts("list", "--limit", "100", "--number", "100")
        self.assertEqual(everything, [whole[0], whole[1]])
        self.assertEqual(self.texts("list", "--number", "300"), [whole[2]])
        self.assertIn("[incomplete]", self.run_cli("list", "--number", "100").stdout)
        # Pages that end inside a message, newest and oldest first; three
        # messages whose parts are not all in the page, nor next to each other.
        self.assertEqual(self.texts("list", "--limit", "42")[-2:], [("<9.2>", 1, False), whole[0]])
        self.assertEqual([m for m in self.texts("list", "--limit", "100") if m[1] != 1 or
                          not m[2]], [("<9.2>", 1, False), whole[0], whole[2], whole[1]])
        self.assertEqual(self.texts("list", "--oldest", "--limit", "1"), [whole[0]])
        self.assertEqual(self.texts("list", "--oldest", "--limit", "4"),
                         [whole[0], ("short b", 1, True), whole[1], whole[2]])
        # Found by text across the split, by a part met by the conditions.
        self.assertEqual(self.texts("list", "--contains", "7.1><7.2"), [whole[2], whole[0]])
        self.assertEqual(self.texts("--utc", "list", "--contains", "<7.2>", "--number", "100",
                                    "--until", "2023-11-14 22:15"), [whole[0]])  # <7.1> only
        self.assertEqual(self.texts("list", "--contains", "8.1"), [whole[1]])
        self.assertEqual([(m["text"], m["complete"]) for m in
                          self.json_of("conversation", "100")],
                         [("<7.1><7.2><7.3>", True), ("<8.1>", False)])
        # One command on any part acts on all of them, and on no other message.
        last = self.json_of("list", "--oldest", "--limit", "1")[0]["id"]
        self.assertEqual(self.json_of("show", str(last))["content"], "<7.1><7.2><7.3>")
        self.run_cli("delete", str(last))
        self.assertEqual(self.texts("list", "--limit", "100", "--number", "100"), [whole[1]])
        self.assertEqual(self.stats()["heads"], 2 + 1 + 3 + 1 + 40)
        self.assertIn("would delete 45 messages (47 records)",
                      self.run_cli("delete", "--folder", "1", "--before", "2030-01-01",
                                   "--dry-run").stdout)

    def test_reading_grows_with_what_is_listed_not_with_messages_times_store(self):
        count = 300
        heads = []
        for m in range(1, count + 1):
            heads.append(head("500", f"short {m}", 10 * m))
            heads += [part(f"6{m % 7}", m, i, 10 * m + 5) for i in (1, 2, 3)]
        self.load(heads)
        listed, queries, rows = self.reads("list", "--limit", str(2 * count))
        self.assertEqual((len(listed), {m["parts"] for m in listed}), (2 * count, {1, 3}))
        self.assertLessEqual(queries, 6)
        self.assertLessEqual(rows, 3 * len(heads))
        listed, queries, _ = self.reads("list")
        self.assertEqual(len(listed), 20)
        self.assertLessEqual(queries, 4)
        listed, queries, rows = self.reads("list", "--contains", "<2", "--limit", "1000")
        self.assertEqual(len(listed), 111)  # batids 2, 20-29, 200-299
        # The store's search, then each message found read by its id.
        self.assertLessEqual(queries, 4 + 2 * len(listed))
        self.assertLessEqual(rows, 2 * 3 * count)
        first_part = self.json_of("list", "--oldest", "--limit", "2")[1]["id"]
        shown, queries, _ = self.reads("show", str(first_part + 2))
        self.assertEqual((shown["parts"], queries), (3, 1))


if __name__ == "__main__":
    cli_test.ZUSMS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
