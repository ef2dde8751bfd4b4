#!/usr/bin/env python3
"""The zusms tool with backup files as real phones write them. Argument: zusms."""
import base64
import gzip
import io
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import unittest
import zipfile
import xml.etree.ElementTree as ElementTree

import cli_test
from cli_test import backup, interrupted_import, mms, sms, wait_reading

MMS_BACKUP = os.path.join(os.path.dirname(__file__), "fixtures", "mms-backup.xml")


def dated(*elements):
    """The elements with a second of their own each, so that none is another's twin."""
    return [e.replace("1700000000000", str(1700000000000 + 1000 * i)) for i, e in enumerate(elements)]


def mms_of(text):
    """Each <mms>: its attributes, its parts' (data decoded), its addresses, in order."""
    def part(p):
        attrs = dict(p.attrib)
        data = attrs.pop("data", None)
        return attrs, None if data is None else base64.b64decode("".join(data.split()),
                                                                  validate=True)
    return sorted((sorted(m.attrib.items()), [part(p) for p in m.iter("part")],
                   [sorted(a.attrib.items()) for a in m.iter("addr")])
                  for m in ElementTree.fromstring(text).iter("mms"))


class Backup(cli_test.Case):
    def messages(self, *args, user=1):
        return self.json_of("list", "--limit", "1000", *args, user=user)

    def exported_mms(self, user=1):
        return mms_of(self.run_cli("export", "--format", "xml", user=user).stdout)

    def test_references_of_every_kind(self):
        file = backup(
            sms(body="&#55357;&#56833; &#xD83D;&#xDE01; &#x1F600; caf&#233; &lt;3 AT&T &nbsp;"),
            sms(body="\u4f60&#15;\u597d&#x7;", date="1700000001000"),
            sms(body="raw \x0f control", date="1700000002000"),
            sms(body="lone &#55357; surrogate", date="1700000003000"),
            sms(body="x", contact_name="\u5f20\u4f1f \U0001F60A", date="1700000004000"))
        proc = self.import_file(file, expect=1)
        self.assertIn("sms at line 6: body: a lone surrogate", proc.stderr)
        self.assertEqual(self.stats()["heads"], 0)
        report = self.import_file(file, "--skip-invalid", expect=4)
        self.assertEqual((report["added"], report["invalid"]), (4, 1))
        bodies = {m["content"] for m in self.messages()}
        self.assertLessEqual({"\U0001F601 \U0001F601 \U0001F600 caf\u00e9 <3 AT&T &nbsp;",
                              "\u4f60\x0f\u597d\x07", "raw \x0f control"}, bodies)
        self.assertIn("\u5f20\u4f1f \U0001F60A", {m["name"] for m in self.messages()})
        # Out as XML 1.0 that a strict parser reads; the controls become U+FFFD.
        proc = self.run_cli("export", "--format", "xml")
        self.assertIn("3 characters that XML 1.0 cannot carry", proc.stderr)
        parsed = {e.get("body") for e in ElementTree.fromstring(proc.stdout).iter("sms")}
        self.assertIn("\u4f60\ufffd\u597d\ufffd", parsed)
        self.assertIn("\U0001F601 \U0001F601 \U0001F600 caf\u00e9 <3 AT&T &nbsp;", parsed)

    def test_unknown_and_impossible_dates(self):
        report = self.import_file(backup(sms(date_sent="0"), sms(date_sent=None, date="1700000100000"),
                                        sms(date="1700000000", body="seconds"),
                                        sms(date="1700000000000000", body="micro"),
                                        sms(date="soon", body="words")), "--skip-invalid",
                                 expect=4)
        self.assertEqual((report["added"], report["invalid"]), (2, 3))
        self.assertIn("between February 1970 and 9999", " ".join(report["problems"]))
        self.assertEqual({m["createtime"] for m in self.messages()}, {""})
        exported = self.run_cli("export", "--format", "xml").stdout
        self.assertEqual({e.get("date_sent") for e in ElementTree.fromstring(exported).iter("sms")},
                         {"0"})

    def test_multimedia_messages_come_back_byte_for_byte(self):
        original = cli_test.read(MMS_BACKUP)
        self.assertEqual(self.import_file(original)["added"], 5)
        again = self.import_file(original)
        self.assertEqual((again["added"], again["skipped"]), (0, 5))
        self.assertEqual(self.exported_mms(), mms_of(original))
        # What the store changes is what is written: read, locked.
        group = [m for m in self.messages() if m["content"].startswith("Cabin")][0]
        self.run_cli("unread", str(group["id"]))
        self.run_cli("lock", str(group["id"]))
        written = [m for m in ElementTree.fromstring(
            self.run_cli("export", "--format", "xml").stdout).iter("mms")
                   if m.get("sub") == "Weekend plans"][0]
        self.assertEqual((written.get("msg_box"), written.get("read"), written.get("locked")),
                         ("2", "0", "1"))
        self.assertEqual(written.get("address"),
                         "+14155550182~+14155550199~+16505550147~+12125550111")

    def test_bad_records_are_invalid_with_their_reason(self):
        limit = 100 * 1024 * 1024
        bad = {"not base64: the character '*'": mms(data="aGVs*bG8="),
               "not base64: a cut last group": mms(data="aGVsb"),
               "not base64: characters after the padding": mms(data="aGVsbA==bG8="),
               "no address": mms(addrs=""),
               "is not 137 (from)": mms(addrs='<addr address="+1" type="7" />'),
               f"more than the {limit} a part may hold":
                   mms(data="A" * (4 * (limit // 3 + 1))),
               "msg_box": mms(msg_box="9"),
               "not base64: the reference &#x4E2D;": mms(data="aGVs&#x4E2D;bG8="),
               # A number cut would send replies elsewhere, as for a text message.
               "address: longer than 32 characters": mms(address="a" * 40 + "@example.com"),
               "addr 2: address: longer than 32 characters": mms(
                   address=None, addrs='<addr address="+1" type="151" />'
                                       f'<addr address="{"b" * 40}@example.com" type="137" />'),
               "more than the 32767": sms(body="z" * (670 * 32767 + 1))}  # parts of a text
        file = backup(*dated(mms(), *bad.values()))
        proc = self.import_file(file, expect=1)
        for reason in bad:
            self.assertIn(reason, proc.stderr)
        report = self.import_file(file, "--skip-invalid", expect=4)
        self.assertEqual((report["added"], report["invalid"]), (1, len(bad)))

    def test_odd_multimedia_messages_import_whole_and_come_back(self):
        group = [f"+1555000{i:04d}" for i in range(100)]
        many = " ".join(f'attribute{i}="{i}"' for i in range(120))
        # (message, its number)
        odd = [(mms(address="~".join(group), addrs="".join(
                    f'<addr address="{a}" type="151" />' for a in group)), group[0]),
               (mms(addrs=f'<addr address="{"9" * 130}" type="151" charset="{"c" * 40}" />'
                          '<addr address="+1555" type="137" />'), "+1555"),
               (mms(parts=f'<part seq="0" ct="image/png" fn="{"f" * 300}.png" {many} '
                          'data="aGVsbG8=" />'), "+1555"),
               (mms(data="&#x61;GVs&#10;bG8&#13;&#61;"), "+1555"),
               # Without an address: the recipients of one sent, the sender of one received.
               (mms(address=None, msg_box="2", addrs='<addr address="+1" type="137" />'
                    '<addr address="+2" type="151" /><addr address="+3" type="130" />'), "+2~+3"),
               (mms(address=None, addrs='<addr address="+4" type="137" />'
                    '<addr address="+1" type="151" />'), "+4"),
               (mms(parts='<part seq="0" ct="text/plain" text="null" data="aGVsbG8=" />'),
                "+1555"),
               # What XML cannot carry is exported as U+FFFD: still the same message.
               (mms(sub="s&#1;", parts='<part seq="0" ct="text/plain" text="a&#2;b" />'
                    '<part seq="1" ct="image/jpeg" fn="x&#3;.jpg" data="aGVsbG8=" />'), "+1555")]
        original = backup(*dated(*(m for m, _ in odd)))
        self.assertEqual(self.import_file(original)["added"], len(odd))
        self.assertEqual(sorted(m["tel"] for m in self.messages()), sorted(n for _, n in odd))
        self.assertNotIn("null", {m["content"] for m in self.messages()})
        exported = self.run_cli("export", "--format", "xml").stdout
        self.assertEqual(mms_of(exported), mms_of(re.sub("&#[123];", "\ufffd", original)))
        self.assertEqual(self.import_file(exported)["added"], 0)
        # Our own JSON, twice into another user: the second time each is known by its UUID.
        text = self.run_cli("export").stdout
        for added in (len(odd), 0):
            self.assertEqual(self.json_of("import", self.write("all.json", text), user=2)["added"],
                             added)
        self.assertEqual(self.exported_mms(2), mms_of(exported))
        # A writer may escape base64 in JSON ("\\u0061", "\\n", "\\/"): the same data;
        # an error's line is the file's, however long the data before it.
        escaped = re.sub(r'"data":"([^"]*)"', lambda m: '"data":"' + m.group(1).replace(
            "a", "\\u0061").replace("G", "\\nG").replace("/", "\\/") + '"', text)
        self.assertNotEqual(escaped, text)
        self.assertEqual(self.json_of("import", self.write("esc.json", escaped), user=4)["added"],
                         len(odd))
        self.assertEqual(self.exported_mms(4), mms_of(exported))
        broken = escaped.rstrip()[:-1] + "\n!\n}\n"
        proc = self.run_cli("import", self.write("broken.json", broken), user=5, expect=1)
        self.assertIn(f"line {broken.count(chr(10)) - 1}: not valid JSON", proc.stderr)
        # A NUL is refused, as in a head's fields; so is what the library would
        # refuse: all found before anything is added.
        heads = json.loads(text)["heads"]
        heads[0]["mms"]["parts"][0]["text"] = "a\u0000b"
        heads[1]["mms"]["attrs"][0][1] = "a\u0000b"
        heads[2]["mms"]["attrs"].append(["part:99", "seq"])
        heads[3]["mms"]["attrs"].append(["sub", "other"])
        refused = self.write("refused.json", json.dumps({"heads": heads}))
        proc = self.run_cli("import", refused, user=6, expect=1)
        for reason in ("text: a NUL character", f"{heads[1]['mms']['attrs'][0][0]}: a NUL character",
                       "heads[2]: mms: attribute", "the message has no part 99",
                       "heads[3]: mms: attribute", "disagrees with the message's subject"):
            self.assertIn(reason, proc.stderr)
        self.assertEqual(self.messages(user=6), [])
        report = json.loads(self.run_cli("--json", "import", "--skip-invalid", refused, user=6,
                                         expect=4).stdout)
        self.assertEqual((report["added"], report["invalid"]), (len(odd) - 4, 4))
        # A part or an address another program deleted: the backups still
        # read back, each part and address with its own attributes.
        with sqlite3.connect(self.db) as db:
            for rows, first in (("zu_mms_part where PartNo", "max"),
                                ("zu_mms_addr where AddrNo", "min")):
                db.execute(f"delete from {rows} = 0 and HeadId = (select {first}(HeadId) "
                           "from zu_mms where UserID = 1)")
        self.json_of("import", "-", user=7, stdin=self.run_cli("export").stdout)
        self.assertEqual(self.exported_mms(7), self.exported_mms())

    def test_memory_follows_the_largest_part_not_the_message(self):
        if cli_test.sanitized():
            self.skipTest("the sanitizers hold freed memory")
        # Parts of 40, 16, 16 and 16 MB: held whole, a message peaks above 130 MB.
        sizes = (40 << 20, 16 << 20, 16 << 20, 16 << 20)
        parts = "".join(f'<part seq="{i}" ct="image/jpeg" data="'
                        f'{base64.b64encode(os.urandom(n)).decode()}" />'
                        for i, n in enumerate(sizes)) + '<part seq="4" ct="text/plain" text="x" />'
        path = self.write("big.xml", backup(mms(parts=parts)))
        json_file = os.path.join(self.dir.name, "big.json")
        for args, user in ((["import", path], 1), (["export", "-o", json_file], 1),
                           (["import", json_file], 2)):
            peak = subprocess.run(
                [sys.executable, "-c", "import resource, subprocess, sys; "
                 "subprocess.run(sys.argv[1:], check=True, capture_output=True); "
                 "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                 cli_test.ZUSMS, "--db", self.db, "--user", str(user), *args],
                capture_output=True, text=True, timeout=120, check=True).stdout
            self.assertLess(int(peak) >> 10, 120, args)
        self.assertEqual(self.json_of("stats", user=2)["multimedia"]["bytes"], sum(sizes))

    def test_read_state_survives_both_formats_and_is_changed_by_read_and_unread(self):
        self.import_file(backup(sms(body="new", read="0"), sms(body="old", date="1700000100000"),
                               sms(body="x" * 700, read="0", type="2", date="1700000200000"),
                               sms(body="no attribute", read=None, date="1700000300000")))

        def unread(user=1):
            return sorted(m["content"][:3] for m in self.messages(user=user) if not m["read"])
        self.assertEqual(unread(), ["new", "xxx"])
        self.assertEqual(self.run_cli("list").stdout.count("\u25cf"), 2)
        folders = {f["FdId"]: f["unread"] for f in self.json_of("folders") if f["unread"]}
        self.assertEqual(folders, {1: 1, 7: 1})  # the long message counts once
        self.assertEqual(self.json_of("stats")["unread"]["messages"], 2)
        # JSON keeps it too (roundtrip_test); XML:
        self.json_of("import", "-", user=2, stdin=self.run_cli("export", "--format", "xml").stdout)
        self.assertEqual(unread(2), ["new", "xxx"])
        heads = json.loads(self.run_cli("export").stdout)["heads"]
        heads[0]["read"] = "no"
        self.assertIn("read: not true or false", self.run_cli(
            "import", self.write("bad.json", json.dumps({"heads": heads})), expect=1).stderr)
        ids = {m["content"][:3]: str(m["id"]) for m in self.messages()}
        self.run_cli("read", ids["new"], ids["xxx"])
        self.assertEqual(unread(), [])
        self.run_cli("unread", ids["old"])
        self.assertIn("(1 already unread)", self.run_cli("unread", ids["old"]).stdout)
        self.run_cli("unread", ids["new"], "999999", expect=1)
        self.assertEqual(unread(), ["old"])  # nothing changed by a command that failed

    def test_packed_backups_are_read_and_other_files_named(self):
        xml = backup(sms(body="packed")).encode()

        def zipped(*names):
            data = io.BytesIO()
            with zipfile.ZipFile(data, "w") as z:
                for name in names:
                    z.writestr(name, xml)
            return data.getvalue()

        for user, name, data in ((1, "b.xml.gz", gzip.compress(xml)),
                                  (2, "b.zip", zipped("readme.txt", "sms-2024.xml"))):
            self.assertEqual(self.json_of("import", self.write(name, data), user=user)["added"], 1)
        for data, what in ((b"\xef\xbb\xbfBEGIN:VCARD\r\nVERSION:3.0\r\n", "a vCard file"),
                           (b"\x89PNG\r\n\x1a\n\0\0", "a PNG image"),
                           (open(self.db, "rb").read(100), "an SQLite database"),
                           (zipped("a.xml", "b.xml"), "a zip archive of 2 files (a.xml, b.xml)")):
            self.assertIn(what, self.run_cli("import", self.write("x", data), expect=1).stderr)

    def test_mistakes_and_stores_that_are_no_store_get_errors(self):
        added = self.json_of("add", "--number", "1", "--text", "x")["id"]
        for args in (("move", str(added), "--to", "99"), ("filter", "add", "--folder", "99"),
                     ("phrase", "delete", "12345"), ("filter", "delete", "12345"),
                     ("recipient", "delete", "12345")):
            self.run_cli(*args, expect=1)
        self.assertEqual(self.json_of("folders")[0]["messages"], 1)
        proc = self.run_cli("import", os.path.join(self.dir.name, "nonexistent"), expect=1)
        self.assertIn("No such file or directory", proc.stderr)
        self.assertIn("is a directory", self.run_cli("import", self.dir.name, expect=1).stderr)
        # Values of a file reach the terminal filtered, in errors and summaries alike.
        hostile = "1\u0085\u202e\u2028\x1b[2J"
        refused = sms(type=hostile), sms(date=hostile)
        err = self.import_file(backup(*refused), expect=1).stderr
        out = self.run_cli("import", "--skip-invalid", self.write("in.xml", backup(
            *refused, sms())), expect=4).stdout
        for text in (err, out):
            self.assertNotRegex(text, "[\x1b\u0085\u202e\u2028]")
            self.assertIn('"1\u23ce\ufffd\u23ce', text)
        self.assertIn("zusms ", self.run_cli("--version").stdout)
        for store, why in ((self.dir.name, "is a directory"), (self.write(
                "junk.dbf", b"not a database at all" * 100), "not a database")):
            self.db = store
            self.assertIn(why, self.run_cli("folders", expect=1).stderr)

    def test_dates_people_read_and_delete_before_keeping_locked_messages(self):
        self.import_file(backup(*(sms(body=f"m{i}&#10;line two", date=str(1700000000000 + 86400000 * i),
                                     locked=str(int(i == 0)))
                                 for i in range(5))))
        table = self.run_cli("--utc", "list").stdout
        self.assertIn("2023-11-14 22:13", table)
        self.assertIn("m0\u23celine two", table)
        self.assertEqual(len(table.splitlines()), 6)
        since = self.json_of("--utc", "list", "--since", "2023-11-16", "--until",
                             "2023-11-18 00:00")
        self.assertEqual([m["content"][:2] for m in since], ["m3", "m2"])
        self.assertEqual(len(self.json_of("list", "--since", "2023-11-17T22:13:20+00:00")), 2)
        self.run_cli("delete", "--folder", "1", "--before", "2023-11-16T00:00Z", expect=1)  # no --yes
        self.assertEqual(self.stats()["heads"], 5)
        self.run_cli("delete", "--folder", "inbox", "--before", "2023-11-16T00:00Z", "--yes")
        self.assertEqual(self.stats()["heads"], 4)
        locked = self.json_of("list", "--oldest", "--limit", "1")[0]["id"]
        self.assertIn("is locked", self.run_cli("delete", str(locked), expect=1).stderr)
        self.run_cli("delete", "--folder", "1", "--before", "2023-11-16T00:00Z", "--yes",
                     "--include-locked")
        self.assertEqual(self.stats()["heads"], 3)

    def test_ctrl_c_keeps_the_batches_stored_and_a_second_run_completes(self):
        # Every message twice: the second is skipped for the first, not stored when
        # the batch that added the first is rolled back.
        count = 16000
        path = self.write("big.xml", backup(*(sms(body=f"message {i // 2}",
                                                  date=str(1600000000000 + 1000 * (i // 2)))
                                              for i in range(count))))
        stored, err = interrupted_import(self, path)
        self.assertIn("running the same import again completes it", err)
        heads = self.stats()["heads"]
        self.assertIn(stored, (2 * heads - 1, 2 * heads))
        self.assertLess(stored, count)
        report = self.json_of("import", path)
        self.assertEqual((report["added"], report["skipped"]),
                         (count // 2 - heads, count // 2 + heads))
        self.assertEqual(self.stats()["heads"], count // 2)
        # Interrupted again, all of the file stored (XML, our JSON), in every phase: what
        # it read is stored; while another writer holds the store, it only checks.
        exported = self.write("big.json", self.run_cli("export").stdout)
        checking = "interrupted while checking the file, before anything was added"
        other = sqlite3.connect(self.db, isolation_level=None)
        read_once = lambda passes, reading: passes == 1 and not reading
        for file, hold, at, said, read_all in (
                (path, True, lambda passes, reading: passes == 1, checking, None),
                (path, True, read_once, checking, count),
                (exported, True, read_once, checking, count // 2),  # once each
                (path, False, lambda passes, reading: passes == 2, "interrupted", None)):
            if hold:
                other.execute("begin immediate")
            proc = self.popen("import", file, stderr=subprocess.PIPE)
            wait_reading(self, proc, file, at)
            proc.send_signal(signal.SIGINT)
            err = proc.communicate(timeout=120)[1]
            if hold:
                other.execute("rollback")
            found = re.search(re.escape(said) + r": (\d+) messages? of the file (?:is|are) "
                              r"stored, of the first (\d+) read", err)
            self.assertTrue(found, err)
            self.assertEqual(found.group(1), found.group(2))
            self.assertGreater(int(found.group(2)), 0)
            if read_all:  # the file read whole
                self.assertEqual(int(found.group(2)), read_all)
        other.close()

    def test_conversations_join_numbers_written_differently(self):
        for number, folder, text in (("+86 138 0013 8000", "1", "hi"),
                                     ("13800138000", "7", "sent\none"),
                                     ("0086-13800138000", "1", "third"),
                                     ("98765", "1", "code"), ("+14155550123", "1", "us")):
            self.run_cli("add", "--number", number, "--folder", folder, "--text", text)
        # No locale variable at all: English, no region, numbers compared as written.
        bare = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG")}
        self.assertIn("MESSAGES", self.run_env(bare, "conversations").stdout)
        self.assertEqual(len(self.json_of("conversations", env=bare)), 5)
        joined = self.json_of("conversations", env=cli_test.locale_env("zh_CN.UTF-8"))
        counts = {c["correspondent"]: c["messages"] for c in joined}
        self.assertEqual(counts, {"+8613800138000": 3, "98765": 1, "+14155550123": 1})
        self.assertEqual(joined[0]["correspondent"], "+14155550123")  # newest first
        exchange = self.json_of("--region", "cn", "conversation", "138 0013 8000")
        self.assertEqual([(m["direction"], m["text"]) for m in exchange],
                         [("received", "hi"), ("sent", "sent\none"), ("received", "third")])
        self.run_cli("conversation", "+4915112345678", expect=1)


if __name__ == "__main__":
    cli_test.ZUSMS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
