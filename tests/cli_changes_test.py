#!/usr/bin/env python3
"""`zusms changes`: a script replaying it keeps an exact copy. Argument: zusms."""
import contextlib
import os
import subprocess
import sys
import sqlite3
import threading
import time
import unittest

import cli_test


class Changes(cli_test.Case):
    def changes(self, since=None):
        return self.json_of("changes", *([] if since is None else ["--since", str(since)]))

    def store_messages(self):
        return {r["id"]: (r["uuid"], r["modifyTime"]) for r in self.json_of("sync-list")}

    @staticmethod
    def apply(copy, listing, folders=None):
        for c in listing["messages"]:
            if c["change"] == "deleted":
                copy.pop(c["id"], None)
            else:
                copy[c["id"]] = c
        for c in listing["folders"] if folders is not None else ():
            (folders.add if c["change"] == "changed" else folders.discard)(c["id"])

    @staticmethod
    def shown(entry):  # as `show --json` gives the message
        return {k: v for k, v in entry.items() if k not in ("change", "modifyTime")}

    def assert_copy(self, copy):
        """The copy holds every message as `list` gives it, one-part heads' UUID and time."""
        listed = self.json_of("list", "--limit", "100000")
        self.assertEqual({i: self.shown(c) for i, c in copy.items()}, {m["id"]: m for m in listed})
        heads = self.store_messages()
        self.assertEqual({i: (c["uuid"], c["modifyTime"]) for i, c in copy.items()
                          if c["parts"] == 1}, {i: heads[i] for i in copy if copy[i]["parts"] == 1})

    def test_a_script_replaying_the_changes_keeps_an_exact_copy_each_message_once_whole(self):
        self.run_cli("add", "--number", "+8613800138000", "--name", "\u5f20\u4f1f",
                     "--text", "\u957f" * 700 + " end")  # two parts
        short, doomed = (self.run_cli("add", "--number", n, "--text", "hi").stdout.split()[-1]
                         for n in ("10086", "10010"))
        self.run_cli("unread", short)
        self.run_cli("lock", short)
        self.run_cli("folder", "add", "Work")
        copy = {}
        first = self.changes()
        self.apply(copy, first)
        self.assert_copy(copy)
        self.assertEqual(sorted(c["parts"] for c in first["messages"]), [1, 1, 2])
        for c in first["messages"]:
            self.assertEqual(self.shown(c), self.json_of("show", str(c["id"])))
        self.assertIn({"id": first["folders"][-1]["id"], "change": "changed", "number": 15,
                       "name": "Work"}, first["folders"])
        # Another program changes the second part alone and deletes a message;
        # a message is moved, one added, one changed then deleted; the folder renamed.
        whole = [c["id"] for c in first["messages"] if c["parts"] == 2][0]
        subprocess.run(["sqlite3", self.db, f"UPDATE SmsHead SET content = 'new' WHERE id = "
                        f"{whole + 1}; DELETE FROM SmsHead WHERE id = {doomed}"], check=True,
                       timeout=60)
        self.run_cli("move", short, "--to", "8")
        added = self.run_cli("add", "--number", "10086", "--text", "hi").stdout.split()[-1]
        gone = self.run_cli("add", "--number", "1", "--text", "soon gone").stdout.split()[-1]
        self.run_cli("lock", gone)
        self.run_cli("delete", gone, "--include-locked")
        self.run_cli("folder", "rename", "Work", "\u5de5\u4f5c")
        second = self.changes(first["next"])
        self.assertEqual(sorted((c["id"], c["change"]) for c in second["messages"]),
                         sorted([(whole, "changed"), (int(short), "changed"), (int(added), "changed"),
                                 (int(doomed), "deleted"), (int(gone), "deleted")]))
        [changed] = [c for c in second["messages"] if c["id"] == whole]
        self.assertEqual(changed["content"], "\u957f" * 670 + "new")
        self.assertEqual(changed["modifyTime"], self.store_messages()[whole + 1][1])
        self.assertEqual([(f["number"], f["name"]) for f in second["folders"]],
                         [(15, "\u5de5\u4f5c")])
        self.apply(copy, second)
        self.assert_copy(copy)
        # Nothing since: nothing listed, the same token; people read the folder's number.
        third = self.changes(second["next"])
        self.assertEqual((third["messages"], third["next"]), ([], second["next"]))
        number = self.json_of("folder", "add", "Home")["number"]
        self.assertIn(f"folder {number} changed\n",
                      self.run_cli("changes", "--since", str(third["next"])).stdout)

    def test_tokens_are_decimal_strings_and_one_of_another_file_asks_for_everything(self):
        self.run_cli("demo")
        listing = self.changes()
        self.assertEqual(listing["since"], "0")
        token = listing["next"]
        self.assertIsInstance(token, str)
        self.assertGreaterEqual(int(token), 2**40)  # the epoch sits in the upper bits
        self.assertEqual(self.run_cli("changes", "--since", token).stdout, f"next {token}\n")
        for bad in ("banana", "-1", "0x10", "18446744073709551616", "", " 1", "1e3"):
            self.run_cli("changes", "--since", bad, expect=2)
        # A store made anew: the token asks for a full listing, status 3.
        os.remove(self.db)
        self.run_cli("demo")
        proc = self.run_cli("changes", "--since", token, expect=3)
        self.assertIn("list everything again", proc.stderr)

    def test_runs_while_another_program_writes_neither_repeat_nor_skip_a_change(self):
        self.run_cli("demo")
        stop = threading.Event()

        def write():  # folders come and go, messages are added, in small transactions
            db = sqlite3.connect(self.db, timeout=30, isolation_level=None)
            deadline = time.monotonic() + 8
            next_id = "(SELECT next FROM mimer_sequences WHERE name = 'sms_id_seq')"  # never reused
            made = []
            while not stop.is_set() and time.monotonic() < deadline:
                made += db.execute(f"INSERT INTO SmsFolder (id, UserID, fname, system) "
                                   f"VALUES ({next_id}, 1, 'w', 0) RETURNING id").fetchone()
                db.execute(f"INSERT INTO SmsHead (id, UserID, fid, content, uuid, ModifyTime) "
                           f"VALUES ({next_id}, 1, 1, 'w', randomblob(16), datetime('now'))")
                if len(made) > 5:
                    db.execute("DELETE FROM SmsFolder WHERE id = ?", (made.pop(0),))
                time.sleep(0.002)  # a writer that never pauses would keep the tool from opening
            db.close()

        writer = threading.Thread(target=write)
        copy, folders, printed = {}, set(), set()
        listing = self.changes()
        writer.start()
        try:
            for _ in range(1000):
                self.apply(copy, listing, folders)
                # Every folder and message is written once, and each folder
                # deleted once: a change printed by two runs is a repeat.
                keys = [(f, c["id"], c["change"]) for f in ("messages", "folders") for c in listing[f]]
                self.assertFalse(printed & set(keys) or len(set(keys)) < len(keys), keys)
                printed.update(keys)
                if not writer.is_alive():
                    break
                listing = self.changes(listing["next"])
        finally:
            stop.set()
            writer.join()
        self.apply(copy, self.changes(listing["next"]), folders)
        self.assert_copy(copy)
        with contextlib.closing(sqlite3.connect(self.db, timeout=30)) as db:
            self.assertEqual(folders, {r[0] for r in db.execute(
                "SELECT id FROM SmsFolder WHERE UserID = 1")})
        self.assertGreater(len([k for k in printed if k[2] == "deleted"]), 10)


if __name__ == "__main__":
    cli_test.ZUSMS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
