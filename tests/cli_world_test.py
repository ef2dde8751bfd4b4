#!/usr/bin/env python3
"""The zusms tool as people use it: messages counted, numbers of a country, failed
exports, command-line mistakes, a Chinese locale, two imports at once. Argument: zusms."""
import contextlib
import errno
import gzip
import json
import os
import signal
import sqlite3
import stat
import subprocess
import sys
import time
import unittest

import cli_test
from cli_test import backup, head, locale_env, read, sms


def long_messages(count, parts):
    """`count` messages of `parts` parts each, as a JSON export holds them."""
    return {"format": "zusms", "version": 1, "heads": [
        head(f"+4477009{m % 100000:05d}", f"part {i} of message {m}", m % 3600, batid=m,
             parts=parts, index=i, uuid_seed=m)
        for m in range(1, count + 1) for i in range(1, parts + 1)]}


def holds_a_file_in(pid, folder):
    """Whether process `pid` has a file of `folder` open (one without a name too)."""
    for fd in os.listdir(f"/proc/{pid}/fd"):
        with contextlib.suppress(OSError):  # closed meanwhile
            if os.readlink(f"/proc/{pid}/fd/{fd}").startswith(folder + "/"):
                return True
    return False


class LongMessages(cli_test.Case):
    def test_folders_and_json_import_summaries_count_messages_not_records(self):
        self.run_cli("add", "--number", "10086", "--text", "L" * 1500)  # three records
        self.run_cli("add", "--number", "10086", "--text", "short")
        self.run_cli("add", "--number", "10086", "--folder", "7", "--text", "S" * 700)
        counts = {f["FdId"]: f["messages"] for f in self.json_of("folders")}
        self.assertEqual((counts[1], counts[7]), (2, 1))
        table = self.run_cli("stats").stdout.split("\n\n")[1].splitlines()
        self.assertEqual(table[1].split()[1:], ["2", "0", "4"])
        path = self.write("all.json", self.run_cli("export").stdout)
        self.assertIn("3 messages added", self.run_cli("import", path, user=2).stdout)

    def test_ctrl_c_during_a_json_import_reports_what_is_stored_and_a_rerun_completes_it(self):
        # Three parts a message and a thousand rows a batch: some message
        # has parts on both sides of the batch the interrupt rolled back.
        count = 5000
        path = self.write("three.json", json.dumps(long_messages(count, 3)))
        self.run_cli("stats")
        stored, _ = cli_test.interrupted_import(self, path)
        self.assertLess(stored, count)
        listed = self.json_of("list", "--limit", str(count))
        self.assertEqual(len(listed), stored)
        self.assertEqual(self.stats()["heads"], 3 * stored)
        self.assertTrue(all(m["parts"] == 3 and m["complete"] for m in listed))
        report = self.json_of("import", path)
        self.assertEqual((report["added"], report["skipped"]), (count - stored, stored))
        with sqlite3.connect(self.db) as c:
            parts = c.execute("select count(*) from SmsHead group by batid, tel").fetchall()
        self.assertEqual(parts, [(3,)] * count)


class NumbersOfACountry(cli_test.Case):
    def ids(self, env, *args):
        return sorted(m["id"] for m in self.json_of(*args, env=env))

    def test_the_first_import_guesses_a_region_that_then_reads_numbers_alike_in_any_locale(self):
        numbers = ("+86 138 0013 8000", "13800138000", "0086-138-0013-8000", "13912345678",
                   "+49 151 12345678")
        path = self.write("b.json", json.dumps(
            {"heads": [head(n, n, i, uuid_seed=i) for i, n in enumerate(numbers)]}))
        plain, us = locale_env("C.UTF-8"), locale_env("en_US.UTF-8")
        self.assertIn("zusms config region", self.run_env(plain, "import", path).stderr)
        self.assertEqual(self.run_env(plain, "config", "region").stdout, "CN\n")
        self.assertEqual(self.run_env(plain, "import", path).stderr, "")
        self.run_env(plain, "config", "region", "cn")
        self.assertEqual(self.json_of("config", env=us), {"region": "CN"})
        one = self.ids(plain, "list", "--number", "+86 138 0013 8000")
        self.assertEqual(len(one), 3)
        for env in (plain, us):
            self.assertEqual(self.ids(env, "list", "--number", "13800138000"), one)
            self.assertEqual(self.ids(env, "list", "--number", "138", "--limit", "2"), [])
            self.assertEqual(self.ids(env, "list", "--number", "13800138000", "--limit", "2"),
                             one[1:])
            self.assertEqual(self.ids(env, "conversation", "13800138000"), one)
            self.assertEqual(len(self.json_of("conversations", env=env)), 3)
        # The option still reads them its own way.
        self.assertEqual(len(self.ids(plain, "--region", "DE", "list", "--number", "13800138000")),
                         1)

    def test_an_unknown_region_is_a_usage_error(self):
        self.run_cli("add", "--number", "98765", "--text", "x")
        for args in (("--region", "XX", "conversations"), ("--region", "", "list")):
            self.assertIn("unknown region", self.run_cli(*args, expect=2).stderr)
        # A locale of a country libphonenumber does not know: numbers as written.
        self.assertEqual(self.json_of("conversations", env=locale_env("en_XX.UTF-8"))[0]
                         ["correspondent"], "98765")


class ExportFile(cli_test.Case):
    def test_a_failed_or_interrupted_export_keeps_the_old_file_and_leaves_no_other(self):
        self.import_file({"heads": [head(f"+4477009{i:05d}", f"message {i} " + "x" * 200, i % 3600,
                                         uuid_seed=i + 1) for i in range(5000)]}, name="fill.json")
        out = os.path.join(self.dir.name, "out")
        os.mkdir(out)
        for fmt in ("json", "xml"):
            path = self.write(f"out/backup.{fmt}", "the export of yesterday\n")
            os.chmod(path, 0o640)
            # Not killed by SIGXFSZ: the tool says why and exits 1.
            proc = self.run_env(None, "export", "-o", path, "--format", fmt, expect=1,
                                preexec_fn=cli_test.file_size_limit(64 * 1024))
            self.assertIn(f"{path}: {os.strerror(errno.EFBIG)}", proc.stderr)
            self.assertEqual(read(path), "the export of yesterday\n")
            # With room enough the file is replaced whole, its mode kept.
            self.run_cli("export", "-o", path, "--format", fmt)
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o640)
        before = read(path)
        self.assertIn("message 4999 ", before)
        # Ctrl-C once the temporary file is there.
        proc = self.popen("export", "--format", "xml", "-o", path, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while proc.poll() is None and time.monotonic() < deadline and len(os.listdir(out)) < 3:
            time.sleep(0.001)
        proc.send_signal(signal.SIGINT)
        proc.communicate(timeout=60)
        if proc.returncode == 0:
            self.skipTest("the export ended before it could be interrupted")
        self.assertEqual(proc.returncode, -signal.SIGINT)
        self.assertEqual(sorted(os.listdir(out)), ["backup.json", "backup.xml"])
        self.assertEqual(read(path), before)

    def test_an_export_through_a_link_writes_its_target_private_and_devices_are_written(self):
        self.run_cli("add", "--number", "10086", "--text", "linked")
        # A link to a file replaced, and a dangling one (its target made the
        # owner's alone whatever the umask), both relative as people make them.
        for existing in (True, False):
            target = os.path.join(self.dir.name, f"real{existing}.json")
            link = os.path.join(self.dir.name, f"link{existing}.json")
            if existing:
                self.write(target, "old")
            os.symlink(os.path.basename(target), link)
            old = os.umask(0)
            try:
                said = self.run_cli("export", "-o", link).stderr
            finally:
                os.umask(old)
            self.assertTrue(os.path.islink(link))
            if not existing:
                self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o600)
                self.assertEqual(said, "exported 1 message, 14 folders and 0 other records, "
                                 f"{os.path.getsize(target)} bytes, to {link}\n")
            self.assertEqual(json.loads(read(target))["heads"][0]["content"], "linked")
        self.run_cli("export", "-o", "/dev/null")
        self.assertTrue(os.path.exists("/dev/null") and not os.path.isfile("/dev/null"))
        self.assertIn("is a directory", self.run_cli("export", "-o", self.dir.name,
                                                     expect=1).stderr)


class StandardInputKept(cli_test.Case):
    """Standard input is kept in a temporary file (TMPDIR) for the import."""

    def test_a_copy_that_fails_stores_nothing_and_endless_input_stops(self):
        self.run_cli("stats")  # the store is made before the limit
        tmp = os.path.join(self.dir.name, "tmp")
        os.mkdir(tmp)
        env = dict(os.environ, TMPDIR=tmp)
        intact = self.write("intact.xml", backup(*(
            sms(body=f"message {i} " + "x" * 100, date=str(1600000000000 + i))
            for i in range(3000))))
        # A small file that unpacks into more than the folder takes stops there too.
        packed = os.path.join(self.dir.name, "packed.xml.gz")
        with gzip.open(packed, "wb") as out:
            out.write(b"<smses>" + b" " * (8 << 20))
        with open(intact, "rb") as file, open("/dev/zero", "rb") as zero:
            for args, stdin in ((("import", "-"), file), (("import", "/dev/zero"), None),
                                (("import", "-"), zero), (("import", packed), None)):
                proc = self.run_env(env, *args, stdin=stdin, expect=1,
                                    preexec_fn=cli_test.file_size_limit(256 * 1024))
                self.assertRegex(proc.stderr, "could not be kept in a temporary file in "
                                 + tmp + r" \([0-9.]+ MB free there\): "
                                 + os.strerror(errno.EFBIG) + "; nothing was imported")
                self.assertEqual(os.listdir(tmp), [])
                self.assertEqual(self.stats()["heads"], 0)
            # However the copy ends (a kill too), no file is left; all but the kill say so.
            for sig in (signal.SIGINT, signal.SIGHUP, signal.SIGQUIT, signal.SIGKILL):
                proc = self.popen("import", "-", stdin=subprocess.PIPE, stderr=subprocess.PIPE,
                                  env=env)
                proc.stdin.write("<smses>" + " " * 100000)
                proc.stdin.flush()
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline and not holds_a_file_in(proc.pid, tmp):
                    time.sleep(0.01)
                proc.send_signal(sig)
                err = proc.communicate(timeout=60)[1]
                self.assertEqual(os.listdir(tmp), [])
                if sig == signal.SIGKILL:
                    continue
                self.assertEqual(proc.returncode, 1, err)
                self.assertIn("interrupted while keeping standard input in a temporary file: "
                              "nothing was imported; the store is as it was", err)
            # A message's text from endless input stops at the longest a message holds.
            proc = self.run_cli("add", "--number", "5", stdin=zero, expect=1)
        self.assertIn("more than a message can hold", proc.stderr)
        self.assertEqual(self.stats()["heads"], 0)


class MistakesOnTheCommandLine(cli_test.Case):
    def test_impossible_dates_are_usage_errors(self):
        self.run_cli("add", "--number", "1", "--text", "x")
        for bad in ("2023-02-30", "2023-13-01", "2023-04-31", "2023-02-29", "2023-01-01 24:61",
                    "2023-01-01 24:00", "2023-01-01 23:60", "2023-00-10", "2023-1-01",
                    "2023- 1-01", "2023-01-01T10:00+25:00", "2023-01-01T10:00:6x", "tomorrow",
                    "1900-02-29"):
            for args in (("list", "--since", bad), ("list", "--until", bad),
                         ("delete", "--folder", "1", "--before", bad, "--yes")):
                self.assertIn("not a time", self.run_cli(*args, expect=2).stderr)
        for good in ("2024-02-29", "2000-02-29", "2023-01-01 23:59", "2023-01-01T10:00:00+05:30",
                     "2023-01-01T10:00+0530", "2023-12-31T23:59:59.5Z"):
            self.run_cli("list", "--since", good)
        self.assertEqual(self.stats()["heads"], 1)

    def test_blank_names_numbers_and_texts_and_numbers_with_controls_are_refused(self):
        before = self.json_of("folders")
        add, rule = ("add", "--number", "5"), ("filter", "add", "--folder", "1")
        for why, cases in (
                ("a folder needs a name", [("folder", "add", "   "), ("folder", "add", "\u3000\t"),
                                           ("folder", "rename", "1", " ")]),
                ("a phrase needs some text", [("phrase", "add", " \n ")]),
                ("needs a number", [("add", "--number", "", "--text", "x"),
                                    ("add", "--number", "   ", "--text", "x"),
                                    ("recipient", "add", "--number", " ")]),
                ("needs some text", [(*add, "--text", ""), (*add, "--text", " \u3000 ")]),
                ("blank", [(*add, "--name", "", "--text", "x"), (*add, "--name", " \t", "--text", "x"),
                           ("recipient", "add", "--number", "5", "--name", "  "),
                           (*rule, "--number", ""), (*rule, "--number", "   "),
                           (*rule, "--name", "\u200b"), (*rule, "--number", "5", "--name", " ")]),
                ("a number or a name", [rule])):
            for args in cases:
                self.assertIn(why, self.run_cli(*args, expect=1).stderr, args)
        self.assertIn("needs some text", self.run_cli("add", "--number", "5", stdin="\n",
                                                      expect=1).stderr)
        for bad in ("1\x1b[31m", "1\n2", "1\x07", "1\u0085", "1\u202e2", "1\x9b", "1\u200f2",
                    "1\u061c2"):  # a number with control characters: a usage error
            for args in (("add", "--number", bad, "--text", "x"), ("recipient", "add", "--number", bad),
                         ("filter", "add", "--number", bad, "--folder", "1")):
                self.assertIn("control characters", self.run_cli(*args, expect=2).stderr, args)
        self.assertEqual(self.json_of("folders"), before)
        self.assertEqual(self.stats(), {k: 0 for k in self.stats()} | {"folders": 14})
        # Text from standard input, and a name with inner blanks, still go in.
        self.run_cli("add", "--number", "5", stdin="from stdin\n")
        self.run_cli("folder", "add", " Old  stuff ")
        self.assertEqual(self.stats()["heads"], 1)
        # A name is optional: left out, the record has none; a rule needs one of the two.
        self.run_cli("recipient", "add", "--number", "5")
        self.run_cli("filter", "add", "--name", "Bank", "--folder", "1")
        self.assertEqual([(f["tel"], f["name"]) for f in self.json_of("filters")], [("", "Bank")])
        self.assertEqual(self.json_of("history")[0]["name"], "")


class TerminalEscapes(cli_test.Case):
    # Each of these acts on a terminal when printed raw: clears the screen,
    # sets the window title, rings, breaks a row, turns text around.
    NASTY = ("\x1b[2J", "\x1b]0;pwned\x07", "\n", "\r", "\x7f", "\x9b31m", "\u0085",
             "\u2028", "\u2029", "\u202e", "\u2066", "\u2069", "\u061c", "\u200e", "\u200f")

    def assert_harmless(self, text):
        for c in text:
            code = ord(c)
            self.assertFalse(code < 0x20 and c != "\n" or 0x7f <= code <= 0x9f
                             or code in (0x061c, 0x200e, 0x200f, 0x2028, 0x2029)
                             or 0x202a <= code <= 0x202e or 0x2066 <= code <= 0x2069,
                             f"U+{code:04X} printed raw in {text!r}")

    def test_numbers_and_names_from_files_print_harmlessly_in_every_listing(self):
        number = "+1" + "".join(self.NASTY[1:]) + "5"  # the field holds 32 characters
        name = "Eve" + "".join(self.NASTY)
        attr = "".join(f"&#{ord(c)};" for c in number)
        xml = self.write("nasty.xml", "<smses>\n<sms address=\"" + attr + "\" contact_name=\""
                         + "".join(f"&#{ord(c)};" for c in name) + "\" date=\"1700000000000\""
                         " type=\"1\" body=\"two&#10;lines&#27;[31m\"/>\n</smses>\n")
        self.run_cli("import", xml)
        records = {"format": "zusms", "version": 1, "heads": [],
                   "filters": [{"folderid": 1, "ftype": 0, "fattr": 0, "tel": number, "name": name}],
                   "receiverHistory": [{"tel": number, "name": name, "privmode": 0,
                                        "lastdate": "20261206"}],
                   "phrases": [{"content": name, "impBool": 0}]}
        self.run_cli("import", self.write("nasty.json", json.dumps(records)))
        [message] = self.json_of("list")
        self.assertEqual((message["tel"], message["name"]), (number, name))  # stored as they came
        for args in (("list",), ("conversations",), ("conversation", number), ("filters",),
                     ("history",), ("phrases",), ("show", str(message["id"]))):
            out = self.run_cli(*args).stdout
            self.assert_harmless(out)
            self.assertRegex(out, "Eve|lines", args)
            if args[0] != "show":  # a table: the header and one row
                self.assertEqual(len(out.splitlines()), 2, args)
            if args[0] == "list":
                self.assertIn("\ufffd[2J", out)
                self.assertIn("\u23ce", out)
        self.assertIn("two\nlines\ufffd[31m", out)  # show's: the text keeps its lines, only those


class FolderNames(cli_test.Case):
    def test_folders_are_named_by_number_name_or_role_in_any_case_and_no_two_share_one(self):
        before = self.json_of("folders")
        for args, why in ((("folder", "rename", "1", "Inbox2"), "cannot be renamed"),
                          (("folder", "rename", "14", "x"), "cannot be renamed"),
                          (("folder", "delete", "9"), "cannot be deleted"),
                          (("folder", "add", before[0]["fname"]), "already"),
                          (("folder", "add", "Work"), "added folder 15"),
                          (("folder", "add", "Work"), "already"),
                          (("folder", "add", "work"), "added folder 16"),  # names compare exactly
                          (("folder", "rename", "16", "Work"), "already")):
            proc = self.run_cli(*args, expect=None)
            self.assertIn(why, proc.stdout + proc.stderr, args)
            self.assertEqual(proc.returncode, int(why.startswith("added")) ^ 1, args)
        self.run_cli("folder", "rename", "15", "Work")  # its own name again
        self.run_cli("folder", "rename", "15", "Office")
        self.run_cli("folder", "add", "Work")
        self.assertEqual([f["fname"] for f in self.json_of("folders")], [f["fname"] for f in before]
                         + ["Office", "work", "Work"])
        self.assertNotIn(" ID", self.run_cli("folders").stdout.splitlines()[0])
        message = self.json_of("add", "--number", "1", "--folder", "SENT", "--text", "x")["id"]
        for args, folder in ((("move", str(message), "--to", "Drafts"), 8),
                             (("move", str(message), "--to", "\u6536\u4ef6\u7bb1"), 1),  # stored name
                             (("move", str(message), "--to", "work"), 16),  # exactly, before any case
                             (("move", str(message), "--to", "15"), 15),
                             (("folder", "rename", "nowhere", "x"), None),
                             (("move", str(message), "--to", "WORK"), None),  # two folders answer
                             (("folder", "add", "Inbox"), None),  # a role's name
                             (("folder", "add", "2024"), None)):  # would read as a number
            self.run_cli(*args, expect=0 if folder else 1)
            if folder:
                self.assertEqual(self.json_of("show", str(message))["fid"], folder, args)
        self.assertEqual(len(self.json_of("list", "--folder", "work")), 0)
        self.run_cli("filter", "add", "--number", "95588", "--folder", "inbox")
        self.assertEqual(self.json_of("filters")[0]["folderid"], 1)
        # Another program's folder named like a role keeps out of the role's way.
        backup = json.loads(self.run_cli("export").stdout)
        next(f for f in backup["folders"] if f["fname"] == "work")["fname"] = "Drafts"
        self.run_cli("import", self.write("f.json", json.dumps(backup)), user=2)
        self.assertIn("Drafts (imported)", [f["fname"] for f in self.json_of("folders", user=2)])

    def test_a_folder_that_holds_messages_is_deleted_only_with_them(self):
        self.run_cli("folder", "add", "Work")
        self.run_cli("folder", "add", "Other")
        locked = self.json_of("add", "--number", "1", "--folder", "work", "--text", "a")["id"]
        self.run_cli("add", "--number", "1", "--folder", "work", "--text", "b" * 700)
        self.run_cli("lock", str(locked))
        self.run_cli("filter", "add", "--number", "95588", "--folder", "Work")
        proc = self.run_cli("folder", "delete", "Work", expect=1)
        self.assertIn("holds 2 messages and 1 filter rule:", proc.stderr)
        self.run_cli("folder", "delete", "Work", "--move-to", "other")
        self.assertEqual(len(self.json_of("list", "--folder", "16")), 2)
        self.assertEqual(self.json_of("filters")[0]["folderid"], 16)
        self.run_cli("folder", "delete", "16", "--with-messages", expect=1)  # no --yes
        proc = self.run_cli("folder", "delete", "16", "--with-messages", "--yes", expect=1)
        self.assertIn("holds 1 locked message:", proc.stderr)
        self.assertIn("would delete", self.run_cli("delete", str(locked), "--dry-run",
                                                   "--include-locked").stdout)
        self.run_cli("folder", "delete", "16", "--with-messages", "--yes", "--include-locked")
        self.assertEqual((self.stats()["heads"], self.stats()["filters"]), (0, 0))
        self.assertEqual(len(self.json_of("folders")), 14)

    def test_check_reports_what_is_wrong_and_repair_recovers_stranded_messages(self):
        self.run_cli("folder", "add", "Work")
        stranded = self.json_of("add", "--number", "1", "--folder", "15", "--text", "a")["id"]
        with sqlite3.connect(self.db) as db:  # as another program may leave a store
            db.execute("delete from SmsFolder where FdId = 15")
            db.execute("insert into SmsHead (fid, UserID, batid, longsms, \"index\", tel) "
                       "values (1, 1, 7, 2, 2, '10086')")
            db.execute("insert into SmsFolder (FdId, fname, system, password, privmode, UserID) "
                       "values (14, 'Twin', 0, 0, 0, 1)")
        self.assertEqual(self.run_cli("folder", "add", "New").stdout, "added folder 16\n")
        out = self.run_cli("check", expect=1).stdout
        for finding in (f"message {stranded} is in folder number 15", "lacks its first part",
                        "folder number 14 is taken by 2 folders"):
            self.assertIn(finding, out)
        out = self.run_cli("check", "--repair", expect=1).stdout
        self.assertIn(f"moved message {stranded} from folder number 15 to folder 17 (Recovered)",
                      out)
        self.assertEqual(self.json_of("show", str(stranded))["fid"], 17)
        with sqlite3.connect(self.db) as db:
            db.execute("delete from SmsFolder where fname = 'Twin'")
            db.execute("delete from SmsHead where batid = 7")
        self.assertEqual(self.run_cli("check").stdout, "no problems found\n")
        # A default folder gone, then the heads' table damaged: both found.
        with sqlite3.connect(self.db) as db:
            db.execute("delete from SmsFolder where FdId = 9")
            root = db.execute("select rootpage from sqlite_schema where name = 'SmsHead'").fetchone()
            db.commit()
            db.execute("pragma wal_checkpoint(truncate)")
        self.assertIn("default folder number 9 is missing", self.run_cli("check", expect=1).stdout)
        with open(self.db, "r+b") as f:
            f.seek(root[0] * 4096 - 1000)
            f.write(b"\xff" * 1000)
        out = self.run_cli("check", expect=1).stdout
        self.assertIn("cannot be read whole", out)
        self.assertIn("file: ", out)  # integrity_check's findings


    def test_check_finds_what_raw_deletes_left_of_multimedia_messages(self):
        # (what another program writes without foreign keys or the library's
        #  checks, what check finds, what --repair does: None leaves it as it is)
        cases = [("delete from SmsHead where id = {0}", "multimedia message {0} has no head",
                  "removed what multimedia message {0} left"),
                 ("delete from zu_mms where HeadId = {0}",
                  "message {0} has the parts of a multimedia message", None),
                 ("delete from zu_mms_addr where HeadId = {0}",
                  "multimedia message {0} has no address", None),
                 ("delete from zu_mms_part where HeadId = {0} and PartNo = 0",
                  "multimedia message {0} has parts numbered 1 (not 0 to 0)", None),
                 # rows deleted from the end: found by the rows kept of their attributes
                 ("insert into zu_mms_attr select {0}, UserID, 99, 'part:0', 'ct' from zu_mms "
                  "where HeadId = {0}; delete from zu_mms_part where HeadId = {0}",
                  "multimedia message {0} lost its parts numbered 0", None),
                 ("update zu_mms_addr set AddrNo = 3 where HeadId = {0}",
                  "multimedia message {0} has addresses numbered 3 (not 0 to 0)", None),
                 ("update zu_mms_addr set type = 7 where HeadId = {0}",
                  "multimedia message {0} has an address of the unknown type 7", None),
                 ("update zu_mms_part set HeadId = {0}00 where HeadId = {0}",
                  "message {0}00 has no head but multimedia rows (zu_mms_part)",
                  "removed what multimedia message {0}00 left")]
        m = cli_test.multimedia("20240301120000", [("+15550001", cli_test.FROM)],
                                cli_test.picture("a.jpg"))
        kept, *spoiled = self.add_multimedia(*[m] * (len(cases) + 1))
        with sqlite3.connect(self.db) as db:
            for (sql, _, _), mid in zip(cases, spoiled):
                db.executescript(sql.format(mid))
        found = self.run_cli("check", expect=1).stdout
        # What is left of each message is still backed up, in order; the backup reads back.
        self.assertIn("a.jpg", self.run_cli("export", "--format", "xml").stdout)
        backup = self.write("damaged.json", self.run_cli("export").stdout)
        proc = self.run_cli("import", backup, "--skip-invalid", user=2, expect=4)
        skipped = proc.stdout + proc.stderr
        self.assertEqual(skipped.count("mms:"), 2, skipped)  # no address; an unknown role
        repaired = self.run_cli("check", "--repair", expect=1).stdout
        after = self.run_cli("check", expect=1).stdout
        for (sql, finding, repair), mid in zip(cases, spoiled):
            with self.subTest(sql=sql):
                self.assertIn(finding.format(mid), found)
                if repair:
                    self.assertIn(repair.format(mid), repaired)
                    self.assertNotIn(finding.format(mid), after)
                else:
                    self.assertIn(finding.format(mid), after)
        with sqlite3.connect(self.db) as db:  # nothing but the headless rows deleted
            self.assertEqual(db.execute("select distinct HeadId from zu_mms_part where UserID = 1")
                             .fetchall(),
                             [(kept,), *[(mid,) for (sql, _, _), mid in zip(cases[1:-1], spoiled[1:-1])
                                         if not sql.endswith("from zu_mms_part where HeadId = {0}")]])

    @unittest.skipUnless(os.geteuid() == 0, "needs root to act as another user")
    def test_check_by_a_reader_of_another_users_store_makes_no_file(self):
        # In a folder all may write (sticky, as /tmp), a -wal or -shm file of
        # the reader's beside the store would lock its owner out.
        folder = os.path.join(self.dir.name, "shared")
        os.mkdir(folder)
        os.chmod(folder, 0o1777)
        os.chmod(self.dir.name, 0o711)
        self.db = os.path.join(folder, "s.dbf")
        self.run_cli("add", "--number", "1", "--text", "x")
        os.chmod(self.db, 0o644)
        def as_nobody(*args):
            return self.run_env(None, *args, expect=None, user=65534, group=65534,
                                extra_groups=[])
        for args in (("check",), ("check", "--repair")):
            proc = as_nobody(*args)
            self.assertEqual(proc.stdout, "no problems found\n", proc.stderr)
            self.assertEqual(os.listdir(folder), ["s.dbf"])
        # A damaged search index: found, and not said mended where the reader cannot mend it.
        self.run_cli("list", "--contains", "x")
        sqlite3.connect(self.db).execute("DELETE FROM zu_search").connection.commit()
        proc = as_nobody("check", "--repair")
        self.assertIn("the search index", proc.stdout)
        self.assertNotIn("made the search index anew", proc.stdout)
        self.assertEqual(proc.returncode, 1)

class DatesPeopleType(cli_test.Case):
    def add_at(self, when):
        """A message received at the JSON time `when` (UTC, YYYYMMDDhhmmss)."""
        h = head("5550123", f"at {when}", 0, uuid_seed=int(when[2:10]) * 100 + int(when[10:12]))
        h["recvtime"] = when
        self.import_file({"heads": [h]}, name="m.json")

    def texts(self, *args, env=None):
        return sorted(m["content"] for m in self.json_of("list", *args, env=env))

    def test_a_date_alone_as_until_takes_in_the_whole_day(self):
        for when in ("20241230235959", "20241231000000", "20241231120000", "20241231235959",
                     "20250101000000"):
            self.add_at(when)
        day = ["at 20241231000000", "at 20241231120000", "at 20241231235959"]
        self.assertEqual(self.texts("--utc", "--since", "2024-12-31", "--until", "2024-12-31",
                                    "--contains", "at"), day)  # the tool's own check of times
        self.assertEqual(self.texts("--utc", "--until", "2024-12-31"),
                         ["at 20241230235959"] + day)
        # A time of day stays an exclusive bound, and --before a date excludes that day.
        self.assertEqual(self.texts("--utc", "--since", "2024-12-31", "--until",
                                    "2024-12-31 12:00"), ["at 20241231000000"])
        self.assertIn("1 message ", self.run_cli("delete", "--folder", "1", "--before",
                                                 "2024-12-31", "--utc", "--dry-run").stdout)

    def test_local_times_the_clocks_skip_are_refused_and_those_shown_twice_are_the_first(self):
        berlin = dict(os.environ, TZ="Europe/Berlin")
        self.add_at("20241027003000")  # 02:30 summer time in Berlin
        self.add_at("20241027013000")  # 02:30 winter time, an hour later
        for gap in ("2024-03-31 02:30", "2024-03-31 02:00", "2024-03-31T02:59"):
            for args in (("list", "--since", gap), ("list", "--until", gap),
                         ("delete", "--folder", "1", "--before", gap, "--yes")):
                self.assertIn("does not exist", self.run_env(berlin, *args, expect=2).stderr)
        self.run_env(berlin, "list", "--since", "2024-03-31 03:00")
        self.run_env(berlin, "list", "--since", "2024-03-31 02:30+02:00")  # an offset says which
        self.assertEqual(self.texts("--since", "2024-10-27 02:30", env=berlin),
                         ["at 20241027003000", "at 20241027013000"])
        self.assertEqual(self.texts("--until", "2024-10-27 02:30", env=berlin), [])
        self.assertEqual(len(self.texts("--since", "2024-10-27", "--until", "2024-10-27",
                                        env=berlin)), 2)
        self.assertEqual(self.stats()["heads"], 2)


class ChineseLocale(cli_test.Case):
    def test_headers_and_words_follow_the_roles_language(self):
        self.run_cli("add", "--number", "10086", "--folder", "7", "--text", "hi")
        chinese = locale_env("zh_CN.UTF-8")
        header = self.run_env(chinese, "folders").stdout.splitlines()[0]
        self.assertNotRegex(header, "[A-Z]{3}")  # no English header word
        self.assertEqual([f["role"] for f in self.json_of("folders", env=chinese)][:7:6],
                         ["\u6536\u4ef6\u7bb1", "\u5df2\u53d1\u9001"])  # inbox, sent
        self.assertIn("\u65f6\u95f4\uff08UTC\uff09", self.run_env(chinese, "list", "--utc").stdout)
        exchange = self.run_env(chinese, "conversation", "10086").stdout
        self.assertIn("\u2192 \u5df2\u53d1\u9001", exchange)
        # JSON stays the same in every language.
        self.assertEqual(self.json_of("list", env=chinese)[0]["tel"], "10086")

    def test_names_cut_where_an_emoji_meets_the_end_of_the_field(self):
        emoji = "\U0001F600"
        names = ["\u540d" * 37 + emoji,  # 39 UTF-16 units: fits whole
                 "\u540d" * 38 + emoji,  # 40: the emoji does not fit, cut to 38
                 "a" * 39 + emoji]  # 41: cut to 39
        path = self.write("names.xml", backup(*(
            sms(address=str(100 + i), date=str(1700000000000 + 1000 * i), body=f"n{i}",
                contact_name=n) for i, n in enumerate(names))))
        self.assertEqual(self.json_of("import", path, user=2)["namesCut"], 2)
        stored = {m["tel"]: m["name"] for m in self.json_of("list", user=2)}
        self.assertEqual(stored, {"100": names[0], "101": "\u540d" * 38, "102": "a" * 39})
        summary = self.run_cli("import", path, user=3).stdout
        self.assertIn("2 contact names cut", summary)
        self.assertIn("39 UTF-16 units", summary)  # not "39 characters": the first has 38


class TwoImportsAtOnce(cli_test.Case):
    def test_every_kind_of_record_is_stored_once(self):
        kinds = {
            "phrases": [{"content": f"phrase {i}", "impBool": 0} for i in range(1500)],
            "filters": [{"folderid": 1, "ftype": 1, "fattr": 0, "tel": f"9{i:05d}", "name": ""}
                        for i in range(1500)],
            "receiverHistory": [{"tel": f"+86138{i:08d}", "name": "", "privmode": 0,
                                 "lastdate": "20231114"} for i in range(1500)],
        }
        path = same = self.write("same.json", json.dumps(long_messages(600, 2) | kinds))
        # Six rounds (the scheduler decides whether the two take turns between
        # batches), the last three of the same messages in a phone's backup.
        for user in range(2, 8):
            if user == 5:  # one in seven a long message
                path = self.write("same.xml", backup(*(
                    sms(date=str(1700000000000 + 1000 * i), body=f"m{i}" + "x" * 700 * (i % 7 == 0))
                    for i in range(1100))))
                kinds = {}
            self.run_cli("stats", user=user)
            runs = [self.popen("--user", str(user), "import", path, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE) for _ in range(2)]
            for run in runs:
                _, err = run.communicate(timeout=300)
                self.assertEqual(run.returncode, 0, err)
            counts = self.stats(user=user)
            self.assertEqual({k: counts[k] for k in kinds}, {k: len(v) for k, v in kinds.items()})
            self.assertEqual(counts["heads"], 1200 if kinds else 1100 + 158)
        self.assertEqual(self.json_of("import", same, user=2)["otherRecords"]["added"], 0)


if __name__ == "__main__":
    cli_test.ZUSMS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
