#!/usr/bin/env python3
"""End-to-end tests of the zusms tool, and the helpers of the others. Argument: zusms."""
import base64
import contextlib
import json
import os
import re
import resource
import signal
import sqlite3
import stat
import subprocess
import unicodedata
import sys
import tempfile
import time
import unittest

ZUSMS = None


class Case(unittest.TestCase):
    """A fresh store per test, and the tool run on it."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zusms-cli-")
        self.db = os.path.join(self.dir.name, "store.dbf")

    def tearDown(self):
        self.dir.cleanup()

    def run_cli(self, *args, user=1, stdin=None, expect=0, env=None):
        return self.run_env(env, "--user", str(user), *args, stdin=stdin, expect=expect)

    def run_env(self, env, *args, stdin=None, expect=0, **kw):
        """The tool on this store in `env`; `stdin` text or a file; `expect` None: any."""
        feed = {"stdin" if hasattr(stdin, "fileno") else "input": stdin}
        proc = subprocess.run([ZUSMS, "--db", self.db, *args], env=env, capture_output=True,
                              text=True, timeout=300, **feed, **kw)
        if expect is not None:
            self.assertEqual(proc.returncode, expect,
                             f"zusms {' '.join(args)}: {proc.stdout}\n{proc.stderr}")
        return proc

    def popen(self, *args, **kw):
        return subprocess.Popen([ZUSMS, "--db", self.db, *args], text=True, **kw)

    def json_of(self, *args, user=1, stdin=None, env=None):
        return json.loads(self.run_cli("--json", *args, user=user, stdin=stdin, env=env).stdout)

    def write(self, name, text):
        """`text` (or bytes) in a file of the test's folder; its path."""
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(text if isinstance(text, bytes) else text.encode("utf-8"))
        return path

    def import_file(self, data, *flags, user=1, expect=0, name="in.xml"):
        """`data` (text, bytes, JSON records) imported: the report, or the failed process."""
        data = json.dumps(data) if isinstance(data, dict) else data
        proc = self.run_cli("--json", "import", *flags, self.write(name, data), user=user,
                            expect=expect)
        return json.loads(proc.stdout) if expect in (0, 4) else proc

    def stats(self, user=1):
        return self.json_of("stats", user=user)["kinds"]

    def add_multimedia(self, *messages, user=1):
        """Adds multimedia messages through the library (mms_fixture.cpp); their ids."""
        fixture = os.path.join(os.path.dirname(ZUSMS), "mms_fixture")
        proc = subprocess.run([fixture, str(user)], input=json.dumps(messages),
                              capture_output=True, text=True, timeout=300,
                              env={**os.environ, "ZUSMS_DB": self.db})
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return json.loads(proc.stdout)


def read(path, mode="r"):
    with open(path, mode, encoding=None if "b" in mode else "utf-8") as f:
        return f.read()


def file_size_limit(limit):
    """For preexec_fn: files the process writes stop at `limit` bytes."""
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))


def sanitized():
    """Whether the tool is built with the address sanitizer."""
    return b"__asan_init" in read(ZUSMS, "rb")


def part_data(size, seed=0):
    """The data mms_fixture gives a part of `size` bytes."""
    return bytes((i * 31 + seed) % 251 for i in range(size))


def picture(name, size=1000, seed=0, ctype="image/jpeg"):
    return {"ctype": ctype, "fname": name, "size": size, "seed": seed}


def multimedia(time, addrs, *parts, text=None, sent=False, subject=""):
    """A message for add_multimedia: `addrs` (address, role) pairs."""
    smil = {"ctype": "application/smil", "text": "<smil><body/></smil>"}
    texts = [{"ctype": "text/plain", "text": text}] if text is not None else []
    return {"tel": addrs[1 if sent else 0][0], "time": time, "type": 2 if sent else 1,
            "folder": 6 if sent else 1, "subject": subject,
            "addrs": [list(a) for a in addrs], "parts": [smil, *texts, *parts]}


def head(number, text, second, batid=0, parts=0, index=0, fid=1, uuid_seed=None):
    """A head as a JSON export holds it, received `second`s after 2023-11-14."""
    seed = batid if uuid_seed is None else uuid_seed
    return {"index": index, "type": 1, "fid": fid, "batid": batid,
            "createtime": "20231114221320", "tel": number, "name": "",
            "recvtime": time.strftime("%Y%m%d%H%M%S", time.gmtime(1700000000 + second)),
            "content": text, "privmode": 0, "ccid": 0, "lockflag": 0, "oldfid": 0, "impt": 0,
            "longsms": parts, "operid": "",
            "uuid": f"{seed:08x}-{index:04x}-4000-8000-{batid:06x}{second % (1 << 24):06x}"}


def message_heads(n, number, name, text, stamp, **fields):
    """Message `n`'s records (670 characters each) at `stamp`, as a JSON export has them."""
    pieces = [text[k:k + 670] for k in range(0, len(text), 670)]
    many = len(pieces) > 1
    return [dict(head(number, piece, 0, batid=1000 + n if many else 0, index=i if many else 0,
                      parts=len(pieces) if many else 0),
                 name=name, createtime=stamp, recvtime=stamp,
                 uuid=f"{n:08x}-{i:04x}-4000-8000-000000000000", **fields)
            for i, piece in enumerate(pieces, 1)]


def locale_env(lang):
    env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG")}
    env["LANG"] = lang
    return env


def sms(**attrs):
    """An <sms> of a phone's backup; an attribute given as None is left out."""
    base = {"protocol": "0", "address": "+8613800138000", "date": "1700000000123", "type": "1",
            "subject": "null", "body": "hi", "toa": "null", "sc_toa": "null",
            "service_center": "null", "read": "1", "status": "-1", "locked": "0",
            "date_sent": "1699999990456", "sub_id": "1", "readable_date": "Nov 14, 2023 22:13:20",
            "contact_name": "(Unknown)"}
    base.update(attrs)
    # Values are written as given: the tests put references in them.
    return "<sms " + " ".join(f'{k}="{v}"' for k, v in base.items() if v is not None) + " />"


def mms(data="aGVsbG8=", addrs='<addr address="+1555" type="137" />', parts=None, **attrs):
    """An <mms> of `parts`, or of text and `data` (base64); None leaves an attribute out."""
    base = {"date": "1700000000000", "msg_box": "1", "address": "+1555", "m_type": "132"}
    base.update(attrs)
    parts = parts or ('<part seq="0" ct="text/plain" text="photo" />'
                      f'<part seq="1" ct="image/jpeg" name="a.jpg" data="{data}" />')
    return ("<mms " + " ".join(f'{k}="{v}"' for k, v in base.items() if v is not None)
            + f"><parts>{parts}</parts><addrs>{addrs}</addrs></mms>")


def backup(*elements):
    return ("<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
            f'<smses count="{len(elements)}">\n' + "\n".join(elements) + "\n</smses>\n")


def interrupted_import(case, path):
    """Ctrl-C to `zusms import PATH` past the middle of its second pass: the
    messages it says are stored, and its standard error."""
    proc = case.popen("import", path, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wait_reading(case, proc, path, lambda passes, reading: passes == 2)
    proc.send_signal(signal.SIGINT)
    _, err = proc.communicate(timeout=120)
    case.assertEqual(proc.returncode, 1, err)
    return int(re.search(r"interrupted: (\d+) messages?", err).group(1)), err


def wait_reading(case, proc, path, at):
    """Waits until at(passes, reading) holds for `proc`: `passes` past the
    middle of the file at `path` (/proc shows where it reads), `reading`
    whether the file is open. A pass a loaded machine let go by unseen is
    counted from what follows it: waiting for a store another writer holds
    (the file read), or messages stored while past the middle (pass two)."""
    path, middle = os.path.realpath(path), os.path.getsize(path) // 2

    def stored():
        try:
            with contextlib.closing(sqlite3.connect(f"file:{case.db}?mode=ro", uri=True)) as db:
                return db.execute("SELECT count(*) FROM SmsHead").fetchone()[0]
        except sqlite3.Error:
            return 0  # not made yet
    before = stored()
    passes, past = 0, False
    deadline = time.monotonic() + 120
    while proc.poll() is None and time.monotonic() < deadline:
        offsets = []
        try:
            for fd in os.listdir(f"/proc/{proc.pid}/fd"):
                if os.readlink(f"/proc/{proc.pid}/fd/{fd}") == path:
                    with open(f"/proc/{proc.pid}/fdinfo/{fd}", encoding="ascii") as info:
                        offsets.append(int(info.readline().split()[1]))
            with open(f"/proc/{proc.pid}/wchan", encoding="ascii") as wchan:
                waiting = "nanosleep" in wchan.read()  # the busy wait
        except OSError:
            continue  # a descriptor closed while it was looked at
        crossed = any(o >= middle for o in offsets)
        passes += not past and crossed
        past = crossed
        if crossed and stored() != before:
            passes = max(passes, 2)
        if waiting and not offsets:
            passes = max(passes, 1)
        if at(passes, bool(offsets)):
            return
        time.sleep(0.002)
    case.fail(f"the import never got there: {proc.communicate(timeout=120)[1]}")


FROM, TO = 137, 151


class Cli(Case):
    def test_demo_twice_adds_the_data_once(self):
        self.assertIn("Added demo data", self.run_cli("demo").stdout)
        counts = self.stats()
        self.assertIn("already in this store", self.run_cli("demo").stdout)
        self.assertEqual(self.stats(), counts)
        # Without --db the demo has a file of its own, never the user's store.
        env = dict(os.environ, XDG_DATA_HOME=self.dir.name)
        env.pop("ZUSMS_DB", None)
        proc = subprocess.run([ZUSMS, "demo"], env=env, capture_output=True, text=True, timeout=300)
        demo = os.path.join(self.dir.name, "zusms", "demo.dbf")
        self.assertIn(f"Demo store: {demo}", proc.stdout)
        self.assertTrue(os.path.exists(demo))
        self.assertFalse(os.path.exists(os.path.join(self.dir.name, "zusms", "zuSms.dbf")))

    def test_sms_backup_xml_round_trips_chinese_emoji_and_long_messages_acted_on_whole(self):
        # 2,005 UTF-16 characters: longer than a record holds (670), and a
        # part boundary falls where it would split a surrogate pair.
        long_body = "\u957f" * 669 + "\U0001F600" * 666 + " end"
        greeting = "\u4f60\u597d\uff0c\u660e\u5929\u89c1 \U0001F44B"
        self.assertEqual(self.import_file(backup(
            sms(body=greeting, contact_name="\u5f20\u4f1f"),
            sms(address="10010", date="1700000100000", body="a" * 670),  # fills one record
            sms(address="10086", date="1700000200000", body=long_body, type="3")))["added"], 3)
        by_tel = {h["tel"]: h for h in self.json_of("list")}
        self.assertEqual((by_tel["+8613800138000"]["content"], by_tel["+8613800138000"]["name"]),
                         (greeting, "\u5f20\u4f1f"))
        self.assertEqual((by_tel["10086"]["content"], by_tel["10086"]["parts"]), (long_body, 3))
        self.assertEqual(by_tel["10010"]["parts"], 1)
        # Found by text across the split; locked and moved on every part.
        long_id = str(by_tel["10086"]["id"])
        self.assertEqual([m["id"] for m in self.json_of("list", "--contains", "\u957f\U0001F600")],
                         [int(long_id)])
        self.run_cli("lock", long_id)
        self.run_cli("move", long_id, "--to", "8")
        rows = json.loads(self.run_cli("export").stdout)["heads"]
        parts = sorted((h for h in rows if h["tel"] == "10086"), key=lambda h: h["index"])
        self.assertEqual([(len(p["content"]), p["longsms"]) for p in parts][0], (669, 3))
        self.assertEqual("".join(p["content"] for p in parts), long_body)
        self.assertEqual({(p["fid"], p["lockflag"]) for p in parts}, {(8, 1)})
        # Out again: the long message is one message, whole.
        proc = self.run_cli("export", "--format", "xml")
        self.assertEqual(proc.stderr, f"exported 3 messages (XML keeps messages only), "
                                      f"{len(proc.stdout.encode())} bytes, to standard output\n")
        self.assertIn(long_body, proc.stdout)
        again = self.write("again.xml", proc.stdout)
        self.assertEqual(self.json_of("import", again, user=5)["added"], 3)

    def test_bad_files_are_reported_and_import_nothing(self):
        self.run_cli("phrase", "add", "keep me")
        before = self.stats()
        cases = {
            "broken.json": ('{"heads": [\n{"index": 1,,}]}', "line 2"),
            "types.json": ('{"heads": [], "phrases": [{"content": 5, "impBool": 0}]}',
                           "phrases[0]: content: not a text"),
            "long.json": ('{"phrases": [{"content": "ok", "impBool": 1}, {"content": "'
                          + "x" * 100 + '", "impBool": 1}]}',
                          "phrases[1]: content: longer than 99 characters"),
            "range.json": ('{"phrases": [{"content": "a", "impBool": 70000}]}',
                           "impBool: out of range"),
            "broken.xml": ('<smses count="1">\n<sms address="1" date="1"\n</smses>', "line"),
            "date.xml": ('<smses><sms address="1" date="soon" body="x"/></smses>',
                         "sms at line 1: date"),
            "address.xml": ('<smses><sms address="' + "9" * 40 + '" date="1700000000000" body="x"/></smses>',
                            "address: longer than 32"),
        }
        for name, (content, reason) in cases.items():
            proc = self.run_cli("import", self.write(name, content), expect=1)
            self.assertIn(reason, proc.stderr, name)
            self.assertEqual(self.stats(), before, name)

    def test_listings_as_json_and_usage_errors(self):
        self.run_cli("add", "--number", "+861234", "--name", "\u738b", "--text", "hello")
        self.assertEqual(self.json_of("list", "--contains", "HELLO")[0]["content"], "hello")
        self.assertIn("+00:00", self.json_of("--utc", "list")[0]["time"])
        self.run_cli("list", "--db", "", expect=2)
        self.assertIn("no message", self.run_cli("show", "999", expect=1).stderr)
        self.run_cli("no-such-command", expect=2)
        self.run_cli("list", "--limit", "x", expect=2)
        proc = self.run_cli("add", "--number", "1" * 40, "--text", "x", expect=1)
        self.assertIn("longer than 32", proc.stderr)

    def test_show_gives_people_the_message_and_raw_gives_its_fields(self):
        self.run_cli("config", "region", "CN")
        self.run_cli("recipient", "add", "--number", "+86 138 0013 8000", "--name", "\u674e\u5a1c")
        self.run_cli("folder", "add", "Work")
        text = "first line\n" + "\u957f" * 700  # two parts
        ids = [self.run_cli("add", *args).stdout.split()[-1] for args in (
            ("--number", "13800138000", "--folder", "Work", "--text", text),
            ("--number", "10086", "--name", "\u5f20\u4f1f", "--text", "hi"))]
        self.run_cli("folder", "rename", "Work", "\u5de5\u4f5c")
        self.run_cli("unread", ids[0])
        self.run_cli("lock", ids[0])
        cases = [  # the contact from the recipient history when the message has no name
            (ids[0], ["CONTACT  \u674e\u5a1c", "FOLDER   15 \u5de5\u4f5c",
                      "STATE    unread, locked", "PARTS    2", "\n\n" + text + "\n"]),
            (ids[1], ["CONTACT  \u5f20\u4f1f", "FOLDER   1 \u6536\u4ef6\u7bb1 (inbox)",
                      "STATE    read", "PARTS    1", "\n\nhi\n"]),
        ]
        for message, lines in cases:
            shown = self.run_cli("show", message).stdout
            for line in lines:
                self.assertIn(line, shown)
        raw = self.run_cli("show", "--raw", ids[0]).stdout
        self.assertIn("lockflag   1\n", raw)
        self.assertIn("content    " + text + "\n", raw)

    def test_texts_beginning_or_ending_with_invisible_characters_are_kept(self):
        marks = ["\ufeff", "\u200b", "\u200c", "\u200d", "\u200e", "\u200f", "\u2060",
                 "\u00a0", "\u0301"]
        want = sorted(m + "y" + m for m in marks)
        for text in want:
            self.run_cli("add", "--number", "10086", "--text", text)
        for user, fmt in ((1, None), (2, "json"), (3, "xml")):
            if fmt:  # through a file of each format into another user
                self.import_file(self.run_cli("export", "--format", fmt).stdout, user=user,
                                 name="all." + fmt)
            self.assertEqual(sorted(h["content"] for h in self.json_of(
                "list", "--limit", "99", user=user)), want, fmt)


    def test_a_later_json_import_files_into_the_folder_of_that_name_whatever_its_number(self):
        self.run_cli("folder", "add", "Old stuff", user=2)  # Trips gets another number there
        self.run_cli("folder", "add", "Trips")
        for text in ("first", "second"):
            self.run_cli("add", "--number", "+15550001", "--folder", "Trips", "--text", text)
            self.json_of("import", self.write("t.json", self.run_cli("export").stdout), user=2)
        listed = self.json_of("list", "--folder", "Trips", user=2)
        self.assertEqual(sorted(m["content"] for m in listed), ["first", "second"])

    def test_tables_align_chinese_text_by_terminal_columns(self):
        self.run_cli("folder", "add", "\u5de5\u4f5c\u4e0e\u751f\u6d3b")
        lines = self.run_cli("folders").stdout.splitlines()[1:]
        width = lambda text: sum(1 + (unicodedata.east_asian_width(c) in "WF") for c in text)
        # The KIND column starts at the same terminal column on every line.
        starts = {width(line[:line.find("default") if "default" in line else line.find("user")])
                  for line in lines}
        self.assertEqual(len(starts), 1, "\n".join(lines))


class Multimedia(Case):
    def test_every_view_shows_the_text_and_one_line_per_attachment(self):
        self.run_cli("add", "--number", "+15550001", "--text", "plain text message")
        [mid] = self.add_multimedia(multimedia(
            "20240301120000", [("+15550001", FROM), ("+15559999", TO)],
            # a phone backup's "null" for the file name it does not have
            dict(picture("null", 1_200_000), name="photo.jpg"),
            picture("", 2500, ctype="audio/amr"),
            {"ctype": "text/x-vCard", "name": "ann.vcf", "text": "BEGIN:VCARD\nEND:VCARD"},
            {"ctype": "text/plain", "text": "null"},  # a phone backup's "no text"
            text="Look at this", subject="Holiday"))
        line = "[image/jpeg photo.jpg 1.2 MB]"
        listed = self.run_cli("list").stdout
        self.assertIn(f"Look at this {line} [audio/amr 2.5 kB] [text/x-vCard ann.vcf 21 B]", listed)
        shown = self.run_cli("show", str(mid)).stdout
        self.assertIn("Holiday", shown)
        self.assertIn(f"\nLook at this\n{line}\n[audio/amr 2.5 kB]\n", shown)
        self.assertNotIn("PARTS", shown)  # a long message's count, not the attachments
        talk = self.run_cli("conversation", "+15550001").stdout
        self.assertRegex(talk, r"received  Look at this\n +\[image/jpeg photo\.jpg 1\.2 MB\]\n")
        j = self.json_of("show", str(mid))
        self.assertEqual(j["content"], "Look at this")
        self.assertEqual([(a["part"], a["name"], a["bytes"]) for a in j["multimedia"]["attachments"]],
                         [(2, "photo.jpg", 1_200_000), (3, "", 2500), (4, "ann.vcf", 21)])
        changed = next(e for e in self.json_of("changes")["messages"] if e["id"] == mid)
        self.assertEqual((changed["content"], changed["multimedia"]), (j["content"], j["multimedia"]))
        self.assertEqual(self.json_of("stats")["multimedia"], {"messages": 1, "bytes": 1_202_500})

    def test_a_message_another_program_gave_odd_attributes_exports_as_xml_that_reads_back(self):
        m = multimedia("20240301120000", [("+15550001", FROM)], picture("a.jpg"), subject="Hi")
        m["attrs"] = [["color", "red"], ["a b", "x"], ["<evil>", "y"], ["", "z"], ["color", "2"],
                      ["part:1", "cd"], ["part:1:cd", "inline"], ["addr:0:x", "1"]]
        self.add_multimedia(m)
        out = os.path.join(self.dir.name, "out.xml")
        said = self.run_cli("export", "--format", "xml", "-o", out).stderr
        self.assertIn("4 attributes of multimedia messages left out", said)
        import xml.etree.ElementTree as ElementTree  # well-formed, the names XML allows, once
        [mms] = ElementTree.parse(out).getroot().iter("mms")
        self.assertEqual((mms.get("color"), mms.get("sub")), ("red", "Hi"))
        self.assertEqual(set(mms.keys()), {"color", "date", "msg_box", "sub", "m_type"})
        # What the kept names of a part or an address leave out is written too.
        self.assertEqual([p.attrib for p in mms.iter("part")][1],
                         {"cd": "inline", "ct": "image/jpeg", "fn": "a.jpg", "data": base64.b64encode(part_data(1000)).decode()})
        self.assertEqual([a.attrib for a in mms.iter("addr")],
                         [{"address": "+15550001", "type": "137", "charset": "", "x": "1"}])
        self.run_cli("import", out, user=2)
        self.assertEqual(self.json_of("stats", user=2)["multimedia"]["messages"], 1)

    def test_attachments_are_saved_inside_the_folder_as_new_files_whatever_their_names(self):
        # (name the backup gives, file written)
        cases = [("../../escaped.jpg", "escaped.jpg"), ("/etc/passwd", "passwd"),
                 ("C:\\Windows\\win.ini", "win.ini"), ("..", "part-{part}.png"), ("", "part-{part}.png"),
                 (".jpg", "part-{part}.jpg"), ("  .png  ", "part-{part}.png"),
                 ("CON", "_CON"), ("nul.txt", "_nul.txt"), ("Com1.jpg", "_Com1.jpg"),
                 ("Photo.JPG", "Photo.JPG"), ("photo.jpg", "photo (2).jpg"),
                 ("kept.jpg", "kept (2).jpg"), ("a\x01b\x1b[31m.jpg", "a_b_[31m.jpg"),
                 ("evil\u202egpj.exe", "evil_gpj.exe"), (" .hidden. ", "hidden"),
                 ("x" * 250 + ".jpg", "x" * 116 + ".jpg"), ("é" * 100, "é" * 60),
                 ("y" * 300 + ".gif", "y" * 116 + ".gif")]  # whole as a backup keeps it
        parts = [picture(name, 100 + i, seed=i, ctype="image/png") for i, (name, _) in enumerate(cases)]
        m = multimedia("20240301120000", [("+15550001", FROM)], *parts)
        m["attrs"] = [[f"part:{i + 1}:fn", name]
                      for i, (name, _) in enumerate(cases) if len(name) > 255]
        [mid] = self.add_multimedia(m)
        self.add_multimedia(multimedia("20240302120000", [("+15550002", FROM)], picture("other.jpg")))
        out = os.path.join(self.dir.name, "out")
        os.mkdir(out)
        self.write("out/kept.jpg", b"mine")
        saved = self.json_of("attachments", "save", str(mid), "--to", out)
        for i, (name, want) in enumerate(cases):
            with self.subTest(name=name):
                got = saved[i]
                self.assertEqual(got["part"], i + 1)
                self.assertEqual(got["file"], want.format(part=i + 1))
                self.assertEqual(read(os.path.join(out, got["file"]), "rb"), part_data(100 + i, i))
        self.assertEqual(sorted(os.listdir(out)), sorted(["kept.jpg"] + [f["file"] for f in saved]))
        self.assertEqual({stat.S_IMODE(os.stat(os.path.join(out, f["file"])).st_mode)
                          for f in saved}, {0o600})  # attachments may be private
        self.assertEqual(read(os.path.join(out, "kept.jpg"), "rb"), b"mine")
        self.assertFalse(os.path.exists(os.path.join(self.dir.name, "escaped.jpg")))
        # No selection: every message's; again: new names, nothing overwritten.
        again = self.json_of("attachments", "save", "--to", out)
        self.assertEqual(len(again), len(cases) + 1)
        self.assertEqual(again[0]["file"], "escaped (2).jpg")
        self.assertEqual(len(os.listdir(out)), 2 * len(cases) + 2)

    def test_group_messages_are_one_conversation_per_set_of_members(self):
        me, ann, bob, cat = "+15559999", "+15550001", "+15550002", "+15550003"
        self.run_cli("add", "--number", ann, "--name", "Smith, Ann", "--text", "just us")
        self.add_multimedia(
            multimedia("20240301100000", [(me, FROM), (ann, TO), (bob, TO)], text="hi both", sent=True),
            multimedia("20240301110000", [(ann, FROM), (me, TO), (bob, TO)], text="hi from ann"),
            multimedia("20240301120000", [(bob, FROM), (ann, TO), (me, TO)], text="hi from bob"),
            multimedia("20240301130000", [(ann, FROM), (cat, TO), (me, TO)], text="other group"),
            multimedia("20240301140000", [(ann, FROM), (me, TO)], picture("one.jpg")))
        rows = {c["correspondent"]: c for c in self.json_of("conversations")}
        self.assertEqual({k: (c["messages"], c.get("members")) for k, c in rows.items()},
                         {f"{ann}, {bob}": (3, [ann, bob]), f"{ann}, {cat}": (1, [ann, cat]),
                          ann: (2, None)})
        # A group is named by its members, a comma in a name no separator.
        self.assertEqual(rows[f"{ann}, {bob}"]["name"], f"Smith, Ann; {bob}")
        for who in (f"{bob},{ann}", f"{ann}; {bob}"):
            self.assertEqual([m["text"] for m in self.json_of("conversation", who)],
                             ["hi both", "hi from ann", "hi from bob"])
        shown = self.run_cli("conversation", f"{ann},{bob}").stdout
        self.assertTrue(shown.startswith(f"members: Smith, Ann ({ann}); {bob}\n"), shown)
        self.assertIn(f"received {bob}  hi from bob", shown)
        self.assertIn(f"received Smith, Ann ({ann})  hi from ann", shown)
        self.assertEqual([m["text"] for m in self.json_of("conversation", ann)], ["", "just us"])
        # --number selects the group messages of every member, other conditions alike.
        for args, texts in (((), ["hi both", "hi from ann", "hi from bob"]),
                            (("--until", "2024-03-01 11:30"), ["hi both", "hi from ann"])):
            listed = self.json_of("list", "--number", bob, *args)
            self.assertEqual(sorted(m["content"] for m in listed), texts)
        self.run_cli("conversation", f"{ann},{me}", expect=1)


if __name__ == "__main__":
    ZUSMS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
