#!/usr/bin/env python3
"""Backup files as they come from the world, byte for byte, and the exit status of an
import that left records out. Argument: zusms."""
import json
import os
import sys
import unittest

import cli_test
from cli_test import backup, sms

INCOMPLETE = 4  # the exit status of an import that left records of the file out


class XmlWorld(cli_test.Case):
    def contents(self):
        return [m["content"] for m in self.json_of("list", "--oldest", "--limit", "1000")]

    def test_a_bad_record_is_skipped_and_the_file_goes_on(self):
        good = [sms(body=f"good {i}", date=str(1700000000000 + 1000 * i)) for i in range(6)]
        data = backup(good[0], "LATIN1", good[1], "CESU8", good[2],
                      sms(body="bad name", contact_name="NAME", date="1700000100000"), good[3],
                      sms(body="odd readable date", readable_date="DATE", date="1700000200000"),
                      good[4], "DUP", good[5], "ATTR", sms(date="soon")).encode("utf-8")
        data = (data.replace(b"LATIN1", sms(body="caf\xe9 au lait", date="1700000300000")
                             .encode("latin-1"))
                .replace(b"CESU8", sms(date="1700000400000").encode("utf-8")
                         .replace(b'body="hi"', b'body="emoji \xed\xa0\xbd\xed\xb8\x81"'))
                .replace(b"NAME", b"Ren\xe9e")
                .replace(b"DATE", b"14 d\xe9c. 2023")
                .replace(b"ATTR", sms(body="n", date="1700000600000").encode("utf-8")
                         .replace(b"/>", b'x\xe9y="1" />'))
                .replace(b"DUP", sms(body="first", date="1700000500000").encode("utf-8")
                         .replace(b"/>", b'body="sec\nond" address = "+1555" />')))
        # All or nothing by default: each bad record named by line and reason.
        proc = self.import_file(data, expect=1)
        for line in (4, 6, 8, 15, 16):
            self.assertIn(f"sms at line {line}: ", proc.stderr)
        self.assertIn("not UTF-8", proc.stderr)
        self.assertIn("sms at line 15: an attribute name", proc.stderr)
        self.assertEqual(self.stats()["heads"], 0)
        # Skipped one at a time; everything after each of them goes in.
        report = self.import_file(data, "--skip-invalid", expect=INCOMPLETE)
        self.assertEqual((report["added"], report["invalid"]), (8, 5))
        self.assertEqual([p.split(":")[0] for p in report["problems"]],
                         [f"sms at line {n}" for n in (4, 6, 8, 15, 16)])
        self.assertNotIn("cut", report)
        texts = self.contents()
        self.assertEqual([t for t in texts if t.startswith("good")], [f"good {i}" for i in range(6)])
        # An attribute given twice: the first value counts, as it always did.
        self.assertNotIn("sec\nond", texts)
        dup = [m for m in self.json_of("list", "--limit", "100") if m["content"] == "first"]
        self.assertEqual(dup[0]["tel"], "+8613800138000")
        # A bad byte in an attribute that is not kept does not matter.
        self.assertIn("odd readable date", texts)

    def test_exit_status_says_whether_the_whole_file_went_in(self):
        whole = backup(sms(body="one"), sms(body="two", date="1700000001000"))
        self.assertEqual(self.import_file(whole)["added"], 2)
        self.assertEqual(self.import_file(backup())["added"], 0)  # an empty backup is a backup
        cut = whole[:whole.index('body="two"') + 6]
        self.assertIn("line 4", self.import_file(cut, "--skip-invalid", expect=INCOMPLETE)["cut"])
        plain = self.run_cli("import", "--skip-invalid", self.write("cut.xml", cut),
                             expect=INCOMPLETE).stdout
        self.assertIn("the rest of it was not read", plain)
        self.assertEqual(self.stats()["heads"], 2)
        # The store cannot keep U+FFFE: found in the check, before anything is stored.
        proc = self.import_file(backup(sms(body="new"), sms(body="&#xFFFE;", date="1700000009000")),
                               expect=1)
        self.assertIn("sms at line 4: body: the noncharacter U+FFFE", proc.stderr)
        # Nothing to import is an error, whatever --skip-invalid says.
        for data, why in ((b"", "the file is empty"),
                          (b"<?xml version='1.0' encoding='UTF-8' ?>\n", "no <smses> element"),
                          (b"<html><sms address='1' date='1700000000000'/></html>",
                           "its first element is <html>"),
                          (b"<smses count='3'>\n", "no element found"),
                          # no record that can be stored; each named
                          (backup(sms(date="soon"), sms(address=None)), "address: missing"),
                          (backup(sms(date="soon"), sms(address=None)), "date: ")):
            for flags in ((), ("--skip-invalid",)):
                proc = self.import_file(data, *flags, expect=1)
                self.assertIn("nothing imported", proc.stderr)
                self.assertIn(why, proc.stderr)
        self.assertEqual(self.stats()["heads"], 2)

    def test_document_type_declarations_are_skipped_unread(self):
        head = "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
        laughs = "".join(f'<!ENTITY l{i} "' + f"&l{i - 1};" * 10 + '">' for i in range(1, 10))
        subsets = [
            "<!DOCTYPE smses>",
            '<!DOCTYPE smses SYSTEM "http://example.invalid/a>b.dtd">',
            f'<!DOCTYPE smses [\n<!ENTITY l0 "lol">{laughs}\n]>',
            '<!DOCTYPE smses [\n<!ENTITY x SYSTEM "file:///etc/passwd">\n'
            "<!-- a comment with ]> and a ' in it -->\n"
            '<!ENTITY % p SYSTEM "http://example.invalid/p.dtd"> %p;\n]>',
            # processing instructions with what would end the subset or open a string
            "<!DOCTYPE smses [<?pi ]> ?>]>", "<!DOCTYPE smses [<?pi don't ?>]>",
            '<!DOCTYPE smses [<?pi "?><!-- \' -->]>',
        ]
        for i, doctype in enumerate(subsets):
            body = sms(body="&l9; &x; &p; &amp; &#x41;", date=str(1700000000000 + 1000 * i))
            data = head + doctype + f"\n<smses count='2'>\n{body}\n<sms body='x'/>\n</smses>\n"
            report = self.import_file(data, "--skip-invalid", expect=INCOMPLETE)
            self.assertEqual(report["added"], 1, doctype)
            # The lines of the file keep their numbers past the declaration.
            line = data[:data.index("<sms body")].count("\n") + 1
            self.assertEqual(report["problems"], [f"sms at line {line}: address: missing"])
        # Declared entities stay as written, like any other unknown name.
        self.assertEqual(set(self.contents()), {"&l9; &x; &p; & A"})

    def export_json(self):
        return json.loads(self.run_cli("export").stdout)

    def heads(self):
        return sorted(((m["index"], m["longsms"], m["content"]) for m in
                       self.export_json()["heads"]), key=lambda h: h[0])

    def test_a_partly_stored_long_message_is_completed_not_stored_again(self):
        text = "B" * 1500 + "-end"
        self.run_cli("add", "--number", "111", "--text", text)
        whole = self.export_json()
        xml = self.run_cli("export", "--format", "xml").stdout
        parts = sorted(whole["heads"], key=lambda h: h["index"])

        def store_with(*indexes):
            self.db = os.path.join(self.dir.name, f"{len(os.listdir(self.dir.name))}.dbf")
            some = dict(whole, heads=[parts[i - 1] for i in indexes])
            self.assertEqual(self.import_file(some, name="some.json")["added"], 1)

        # Parts stored (the first alone: an import cut between two batches), then the
        # files that complete them: one message, three heads, whichever part comes first.
        for stored, files in (((1,), ("whole.xml", "whole.json")),
                              ((3, 2), ("whole.json", "whole.xml")), ((2,), ("whole.xml",))):
            store_with(*stored)
            for n, name in enumerate(files):
                self.assertEqual(self.import_file(xml if name.endswith("xml") else whole,
                                                  name=name)["added"], int(n == 0), name)
                self.assertEqual([h[:2] for h in self.heads()], [(1, 3), (2, 3), (3, 3)])
                self.assertEqual(len({h["batid"] for h in self.export_json()["heads"]}), 1)
                [m] = self.json_of("list")
                self.assertEqual((m["complete"], m["content"]), (True, text))
        # Stored parts with another text are another message, its batid the same in JSON.
        changed = [dict(h, content="C" + h["content"][1:],
                        uuid=h["uuid"][:-1] + ("0" if h["uuid"][-1] != "0" else "1"))
                   if h["index"] == 1 else h for h in parts]  # another UUID, whatever it was
        for other, name in ((xml.replace("BBB", "CBB", 1), "other.xml"),
                            (dict(whole, heads=changed), "other.json")):
            store_with(1)
            self.assertEqual(self.import_file(other, name=name)["added"], 1, name)
            self.assertEqual(sorted((m["content"][0], m["complete"]) for m in self.json_of("list")),
                             [("B", False), ("C", True)], name)

    def test_a_message_is_the_same_by_number_time_and_text_in_both_formats(self):
        controls = backup(sms(body="a&#1;b"), sms(body="a\ufffdb"), sms(body="a&#2;b"),
                          sms(body="plain", date="1700000001123"),  # ms not kept
                          sms(body="\u4f60\ufffd\u597d", address="+1555", date="1700000002000"))
        # Distinct records of one file stay distinct, though XML writes them alike.
        self.assertEqual(self.import_file(controls)["added"], 5)
        self.assertEqual(sorted(self.contents()),
                         ["a\x01b", "a\x02b", "a\ufffdb", "plain", "\u4f60\ufffd\u597d"])
        self.assertEqual(self.import_file(controls)["added"], 0)
        uuids = {m["content"]: m["uuid"] for m in self.json_of("list")}
        # the UUID every earlier version derived for that message
        self.assertEqual(uuids["\u4f60\ufffd\u597d"], "d9296312-b325-82ca-a698-1777fac9f8de")
        source = self.db
        as_json = self.run_cli("export").stdout
        as_xml = self.run_cli("export", "--format", "xml").stdout
        self.assertEqual(self.import_file(as_json, name="a.json")["added"], 0)
        self.assertEqual(self.import_file(as_xml)["added"], 0)
        # Restored from one export, the store has the other's messages, whichever is first.
        for first, second in (((as_xml, "a.xml"), (as_json, "b.json")),
                              ((as_json, "c.json"), (as_xml, "d.xml"))):
            self.db = os.path.join(self.dir.name, f"restored-{first[1]}.dbf")
            self.import_file(first[0], name=first[1])
            if first[1] == "a.xml":  # a control exported as U+FFFD: the UUID of that text
                restored = {m["uuid"] for m in self.json_of("list")}
                self.assertTrue(uuids["a\ufffdb"] in restored and uuids["a\x01b"] not in restored)
            self.assertEqual(self.import_file(second[0], name=second[1])["added"], 0)
        # One JSON record with U+FFFD against the store's control character
        # is the same; a control character against a stored U+FFFD too.
        self.assertEqual(len(self.contents()), 5)
        # A message under another UUID is the same message.
        self.db = source
        renamed = json.loads(as_json)
        for i, h in enumerate(renamed["heads"]):
            h["uuid"] = f"00000000-0000-4000-8000-{i:012d}"
        self.assertEqual(self.import_file(renamed, name="renamed.json")["added"], 0)
        self.assertEqual(self.stats()["heads"], 5)

    def test_json_records_are_checked_and_skip_invalid_honoured(self):
        self.run_cli("add", "--number", "1", "--text", "kept")
        good = self.export_json()
        head = good["heads"][0]

        def record(n, **fields):
            return {**head, "uuid": f"22222222-2222-4222-8222-{n:012d}",
                    "recvtime": f"202301010000{n:02d}", **fields}

        # What the library stores as it comes, the import takes as it comes.
        odd = [record(2, recvtime="20230230000000"), record(3, recvtime="99999999999999"),
               record(4, recvtime="2023"), record(5, tel=""), record(6, type=9),
               record(7, fid=99)]
        bad = [record(1, content="a\u0000b")]
        data = dict(good, heads=[record(10, content="fine")] + bad + odd + [record(11)])
        self.db = os.path.join(self.dir.name, "checked.dbf")
        proc = self.import_file(json.dumps(data), expect=1, name="in.json")
        self.assertIn("heads[1]: content: a NUL character", proc.stderr)
        self.assertIn("--skip-invalid", proc.stderr)
        self.assertEqual(self.stats()["heads"], 0)
        report = self.import_file(json.dumps(data), "--skip-invalid", expect=INCOMPLETE,
                                  name="in.json")
        self.assertEqual((report["added"], report["invalid"]), (2 + len(odd), len(bad)))
        self.assertEqual(sorted(self.contents()), ["fine"] + ["kept"] * (1 + len(odd)))
        # A file cut in the middle: what comes before the cut goes in.
        text = json.dumps(dict(good, heads=[record(20 + i, content=f"m{i}") for i in range(5)]),
                          indent=1)
        cut = text[:text.index('"m3"')]
        self.db = os.path.join(self.dir.name, "cut.dbf")
        self.assertIn("not valid JSON", self.import_file(cut, expect=1, name="c.json").stderr)
        self.assertEqual(self.stats()["heads"], 0)
        report = self.import_file(cut, "--skip-invalid", expect=INCOMPLETE, name="c.json")
        self.assertEqual(report["added"], 3)
        self.assertIn("not valid JSON", report["cut"])
        # A JSON object without any of the export's records is no backup; one
        # record of too many keys is refused as it is read.
        for nothing, why in (("{}", "nothing imported"), ('{"foo": 1}', "nothing imported"),
                             ('{"heads": [{' + ",".join(f'"k{i}": 1' for i in range(100000))
                              + '}]}', "more than 1000 keys")):
            self.assertIn(why, self.import_file(nothing, expect=1, name="n.json").stderr)

    def test_private_use_characters_of_plane_16_survive(self):
        # The last code points of plane 16, literal and as references, next
        # to what the reader marks with them.
        odd = "\U0010FF0F \U0010FFFD \U0010FFFB\U0010FF00 \U0010FFFC\U0010FFFF"
        data = backup(sms(body=odd + " &#x10FF0F;&#1114109; &#15;",
                          contact_name="\U0010FFFC\U0010FF01"))
        self.assertEqual(self.import_file(data)["added"], 1)
        message = self.json_of("list")[0]
        self.assertEqual(message["content"], odd + " \U0010FF0F\U0010FFFD \x0f")
        self.assertEqual(message["name"], "\U0010FFFC\U0010FF01")
        exported = self.run_cli("export", "--format", "xml").stdout
        self.assertEqual(self.import_file(exported)["added"], 0)


if __name__ == "__main__":
    cli_test.ZUSMS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
