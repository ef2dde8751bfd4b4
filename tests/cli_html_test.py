#!/usr/bin/env python3
"""The HTML export read by headless Chromium from file://: every message once, in
order, on its side, under its day; hostile markup shown as text, run nothing, no
request out of the folder; the index's filter. Texts: the corpus sample (CC BY
4.0, tests/fixtures/README.md) and odd ones. Screenshots: BUILD/test-artifacts/html/.

usage: cli_html_test.py PATH/TO/zusms   (exits 77, skipped, without Chromium)
"""
import base64
import calendar
import html.parser
import itertools
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
from urllib.parse import unquote

import cli_test
from cli_test import read

CORPUS = os.path.join(os.path.dirname(__file__), "fixtures", "sms-corpus-sample.tsv")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
HOSTILE = ("<script>document.title='PWNED'</script><img src=\"http://127.0.0.1:9/x.png\" "
           "onerror=\"document.title='PWNED'\"> <a href=\"javascript:alert(1)\">tap</a> "
           "</style><style>body{display:none}</style><link rel=stylesheet "
           "href=\"http://127.0.0.1:9/x.css\"> &lt;#&gt; & ' \"")
ODD = ["明天下午三点在老地方见，别忘了带伞。", "سلام، فردا ساعت ۹ صبح جلسه داریم. ممنون!",
       "مرحبا بك في المدينة", "Party tonight 🎉🥳👍🏽 bring 🍕", "see " + "https://example.org/" +
       "a" * 300 + "?q=1", "Long: " + " ".join(f"word{k}" for k in range(400)), HOSTILE]
PEOPLE = [("+8613800138000", "张伟"), ("13800138000", ""), ("+989121234567", "مریم"),
          ("+4915112345678", "Zoë Müller")]
BIDI = "[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]"
LONG = "<b>&" * 175000  # 2.4 MB as a page writes it: pieces on three pages
# Kept whole and in place: line breaks of every kind, direction overrides, invalid
# times (unknown, the oldest), the hour shown twice, no number, names that show
# nothing; a group member and the picture's sender named by their own messages.
BERLIN_FOLD = calendar.timegm((2024, 10, 27, 0, 30, 0))  # 02:30 in summer time
EDGES = [(PEOPLE[3], "crlf\r\nthen cr\rthen ls\u2028then ps\u2029end", None),
         (("+442079460958", "\u202eevil"), "x\u202ey\u2067z", None),
         (PEOPLE[3], "no time at all", "00000000000000"),
         (PEOPLE[3], "the 30th of February", "20240230120000"),
         (PEOPLE[3], "far in the future?", "99999999999999"),
         (PEOPLE[2], "summer time", BERLIN_FOLD), (PEOPLE[2], "winter time", BERLIN_FOLD + 3600),
         (("", ""), "from nowhere", None),
         (("+44\u200f2079460959", " \u200f "), "marks only", None),
         (PEOPLE[3], "still in the outbox", None),
         (("1234567890123456789012345678901", "A number too long to fit"), "wide", None),
         (("\u061c+442079460957", "\u2800\u180e"), "blank as braille", None),
         (("+14155550101", "Ann Lee"), "see you all", None),
         (("+8613700001111", "Li Na"), "a photo follows", None)]
BIG = 4100  # messages with one more person: three pages


def png(width, height, rgb):
    """A picture of one colour."""
    def chunk(kind, data):
        return (len(data).to_bytes(4, "big") + kind + data +
                zlib.crc32(kind + data).to_bytes(4, "big"))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", width.to_bytes(4, "big") +
            height.to_bytes(4, "big") + b"\x08\x02\0\0\0") +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


# Multimedia (number, members, text, parts): a picture, a card, an SVG and a page
# that would run script, names that would leave the folder; a group of two others.
OWN = "+8613911112222"
SVG = (b'<svg xmlns="http://www.w3.org/2000/svg" width="40" height="40"><script>'
       b'document.title="PWNED"</script><rect width="40" height="40" fill="red"/></svg>')
MMS = [("+8613700001111", [], "\u770b\u8fd9\u5f20\u7167\u7247",
        [("image/png", "../../photo #1%.png", png(320, 200, (20, 160, 90))),
         ("text/x-vcard", "card.vcf", b"BEGIN:VCARD\r\nFN:Li\r\nEND:VCARD\r\n"),
         ("image/svg+xml", "logo.svg", SVG),
         ("text/html", "page.xhtm", b"<script>document.title='PWNED'</script>")]),
       ("+14155550101", ["+14155550101", "+14155550102"], "group hello", [])]


def shown_as(text):
    """A text as the pages show it: control characters (C1 too) as U+FFFD."""
    text = re.sub("\r\n|[\r\u2028\u2029]", "\n", text)
    return re.sub("[\x00-\x08\x0b-\x1f\x7f-\x9f]", "\ufffd", text)


class Dom(html.parser.HTMLParser):
    """A dumped page: title, bubbles (side, text, time, day, continued), the
    addresses it refers to, scripts, index rows (shown?), the filter's finds,
    and text with direction controls outside an isolating element (leaks)."""

    VOID = {"meta", "link", "input", "img", "br", "hr", "source", "wbr"}

    def __init__(self, text):
        super().__init__()
        self.title, self.bubbles, self.refs, self.scripts, self.rows, self.links = \
            "", [], [], 0, [], {}
        self.found, self.leaks, self.meta, self._found = [], [], "", False
        self._in, self._day, self._side, self._open = None, "", None, []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag not in self.VOID:
            self._open.append((tag, tag == "bdi" or "dir" in a))
        if tag == "a" and self._in == "found":
            self.found.append(a["href"])
        for name in ("src", "href", "action", "srcset", "poster", "data"):
            if a.get(name):
                self.refs.append(a[name])
        cls = a.get("class") or ""
        if tag == "script":
            self.scripts += 1
        elif tag == "title" or tag == "h2":
            self._in, self._text = tag, ""
        elif tag == "div" and "msg" in cls.split():
            self._side = "out" if "out" in cls.split() else "in"
            self.bubbles.append([self._side, "", "", self._day, "cont" in cls.split()])
        elif tag == "p" and cls in ("text", "meta"):
            self._in = cls
        elif tag == "time" and self._side:
            self.bubbles[-1][2] = a["datetime"]
        elif tag == "tbody":
            self._in = "found" if self._open[-2][0] == "table" and self._found else "tbody"
        elif tag == "table":
            self._found = a.get("id") == "found"
        elif tag == "tr" and self._in == "tbody":
            self.rows.append("hidden" in a)
        elif tag == "a" and a.get("rel") in ("prev", "next"):
            self.links[a["rel"]] = a["href"]

    def handle_endtag(self, tag):
        while self._open and self._open.pop()[0] != tag:
            pass
        if tag == "tbody" or tag == "p" and self._in in ("text", "meta"):
            self._in = None
        elif tag in ("title", "h2") and self._in == tag:
            setattr(self, "title" if tag == "title" else "_day", self._text)
            self._in = None
        elif tag == "div" and self._side:
            self._side = None

    def handle_data(self, data):
        if re.search(BIDI, data) and not any(iso for tag, iso in self._open):
            self.leaks.append(data)
        if self._in == "meta":
            self.meta += data + "\n"
        if self._in in ("title", "h2"):
            self._text += data
        elif self._in == "text":
            self.bubbles[-1][1] += data




@unittest.skipIf(CHROMIUM is None, "no chromium")
class Html(cli_test.Case):
    @classmethod
    def setUpClass(cls):
        corpus = [line.split("\t", 1)[1] for line in read(CORPUS).rstrip("\n").split("\n")[1:]]
        base = int(time.mktime((2024, 3, 20, 9, 0, 0, 0, 0, -1)))  # across a change of clocks
        heads, cls.expected = [], {}
        texts = [(PEOPLE[i % 4], t, base + i * 23757) for i, t in enumerate(ODD + corpus[:80])]
        texts += [(who, t, base - 86400 * (k + 1) if when is None else when)
                  for k, (who, t, when) in enumerate(EDGES)]
        texts.append((PEOPLE[0], LONG, base + 30 * 86400))
        texts += [(("+14155550123", "Mike 2"), f"{corpus[k % 80]} #{k}", base + k * 5 * 3600)
                  for k in range(BIG)]
        for i, ((number, name), text, when) in enumerate(texts):
            outbox = text == "still in the outbox"
            sent = (i % 3 == 0 and text != LONG) or outbox
            stamp, when = (when, -1) if isinstance(when, str) else (
                time.strftime("%Y%m%d%H%M%S", time.gmtime(when)), when)
            heads += cli_test.message_heads(i, number, name, text, stamp, read=i % 4 != 1,
                                            type=4 if outbox else 2 if sent else 1,
                                            fid=6 if outbox else 2 if sent else 1)
            key = "+8613800138000" if number == "13800138000" else number
            cls.expected.setdefault(key, []).append(("out" if sent else "in", text, when))
        cls.template = json.dumps({"format": "zusms", "version": 1, "heads": heads})
        mms = []
        for k, (number, members, text, parts) in enumerate(MMS):
            when = base + 40 * 86400 + k * 60
            addrs = [(number, 137)] + [(m, 151) for m in members if m != number] + [(OWN, 151)]
            parts = [("text/plain", "text.txt", None, text)] + [(t, n, d, None)
                                                                for t, n, d in parts]
            xml_parts = "".join(
                f'<part seq="{i}" ct="{html.escape(t)}" name="{html.escape(n)}" fn="null" '
                f'chset="106" cl="{html.escape(n)}" ' +
                (f'text="{html.escape(x)}"/>' if d is None else
                 f'text="null" data="{base64.b64encode(d).decode()}"/>')
                for i, (t, n, d, x) in enumerate(parts))
            xml_addrs = "".join(f'<addr address="{a}" type="{t}" charset="106"/>'
                                for a, t in addrs)
            mms.append(cli_test.mms(parts=xml_parts, addrs=xml_addrs, date=f"{when}000",
                                    address=number, read="1",
                                    ct_t="application/vnd.wap.multipart.related"))
            key = ", ".join(members) if members else number
            cls.expected.setdefault(key, []).append(("in", text, when))
        cls.mms = cli_test.backup(*mms)
        cls.artifacts = os.path.join(os.path.dirname(os.path.dirname(cli_test.ZUSMS)),
                                     "test-artifacts", "html")
        os.makedirs(cls.artifacts, exist_ok=True)

    def setUp(self):
        super().setUp()
        os.environ["TZ"] = "Europe/Berlin"
        time.tzset()
        self.run_cli("--region", "CN", "import", self.write("mms.xml", self.mms))
        self.run_cli("--region", "CN", "import", self.write("store.json", self.template))

    def browse(self, url, *flags):
        """Chromium on `url`: the DOM it dumped, and the requests pages (not the
        browser) started. Under the sanitizers the test ends here: same pages."""
        if cli_test.sanitized():
            self.skipTest("the optimised build's run reads the pages in the browser")
        profile = tempfile.mkdtemp(dir=self.dir.name)
        net = os.path.join(profile, "net.json")
        proc = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", f"--user-data-dir={profile}",
             f"--log-net-log={net}", "--hide-scrollbars", *flags, url],
            capture_output=True, text=True, timeout=90)
        self.assertEqual(proc.returncode, 0, proc.stderr[-2000:])
        self.log = proc.stderr
        events = json.loads(read(net))["events"]
        # file: loads skip the network stack; a page's requests carry its origin.
        sent = [e["params"].get("url") for e in events
                if e.get("params", {}).get("initiator", "not an origin") != "not an origin"]
        return proc.stdout, sent

    def measured(self, path, expression, *flags):
        """`expression` on the page at `path` once loaded (a copy that lets it run)."""
        page = read(path).replace('content="default-src',
                                  'content="script-src \'unsafe-inline\'; default-src', 1)
        copy = self.write(path[:-5] + "-measured.html", page.replace(
            "</body>", "<script>addEventListener('load', function () { "
            f"document.title = String({expression}); }});</script></body>"))
        dom, sent = self.browse(f"file://{copy}", "--dump-dom", "--virtual-time-budget=5000",
                                *flags)
        os.unlink(copy)
        return Dom(dom).title

    def test_pages_in_a_browser(self):
        out = os.path.join(self.dir.name, "site")
        self.run_cli("--region", "CN", "export", "--format", "html", "--to", out)
        files = sorted(os.listdir(out))
        # The index, newest first (no time: the oldest); its filter: words, a number
        # written nationally or with 00, a mark in it; no match across a name's and
        # a number's digits or with a shown mark's.
        order = sorted(self.expected, key=lambda k: -max(m[2] for m in self.expected[k]))
        for query, hidden in (("zoe%20151%201234", "+4915112345678"),
                              ("015112345678", "+4915112345678"), ("214155", None),
                              ("004915112345678", "+4915112345678"), ("00015112345678", None),
                              ("02079460957", "\u061c+442079460957"), ("0614420", None)):
            dom, sent = self.browse(f"file://{out}/index.html#q={query}", "--dump-dom")
            index = Dom(dom)
            self.assertEqual((index.title, index.scripts, sent, index.leaks),
                             ("Messages", 1, [], []))
            self.assertEqual(index.rows, [k != hidden for k in order], query)
            self.assertIn(f"{int(hidden is not None)} of {len(order)}", dom)
        self.assertIn("unknown time", dom)
        metas, titles = "", []
        for n, key in enumerate(order, 1):
            shown, page = [], f"c{n}.html"
            while page:
                self.assertIn(page, files)
                dom, sent = self.browse(f"file://{out}/{page}", "--dump-dom")
                d = Dom(dom)
                self.assertEqual((sent, d.scripts, d.leaks), ([], 0, []), page)
                self.assertLess(os.path.getsize(os.path.join(out, page)), 2_000_000)
                metas += d.meta
                titles.append(d.title)
                self.assertFalse("PWNED" in d.title or "PWNED" in dom.split("<main>")[0], page)
                self.assertTrue(all(re.fullmatch(r"index\.html|c\d+(-\d+)?\.html(#m\d+-\d+)?", r)
                                    and r.split("#")[0] in files or
                                    re.fullmatch(r"media/[^/]+", r) and os.path.isfile(
                                        os.path.join(out, unquote(r))) for r in d.refs), d.refs)
                for side, text, stamp, day, cont in d.bubbles:  # under its local day
                    self.assertIn(stamp[:10], day)
                    if cont:  # a long message's pieces as one
                        shown[-1] = (side, shown[-1][1] + text)
                    else:
                        shown.append((side, text))
                page = d.links.get("next")
            want = sorted(self.expected[key], key=lambda m: m[2])
            self.assertEqual(shown, [(side, shown_as(text)) for side, text, when in want], key)
        self.assertEqual(len([f for f in files if re.fullmatch(r"c1(-\d+)?\.html", f)]), 3)
        # The hour shown twice told apart; no time and no number said so.
        self.assertIn("02:30 UTC+02:00", metas)
        self.assertIn("02:30 UTC+01:00", metas)
        self.assertEqual((metas.count("unknown time"), metas.count("unsent")), (3, 1))
        self.assertIn("(no number)", titles)
        # Attachments in media/ under safe names; the picture and SVG drawn, the
        # card linked with its size, the page that would run not linked; the
        # group a page of its own, members named where known.
        self.assertEqual(sorted(os.listdir(os.path.join(out, "media"))),
                         ["card.vcf", "logo.svg", "page.xhtm", "photo #1%.png"])
        picture = order.index("+8613700001111") + 1
        page = read(os.path.join(out, f"c{picture}.html"))
        self.assertRegex(page, r'<a href="media/card\.vcf"><bdi>card\.vcf</bdi></a> '
                               r'\(text/x-vcard, \d+ B\)')
        self.assertNotRegex(page, r'href="media/(page\.xhtm|logo\.svg)"')
        self.assertEqual(self.measured(os.path.join(out, f"c{picture}.html"),
                                       "[].map.call(document.images, function (i) "
                                       "{ return i.naturalWidth; })"), "320,40")
        group = order.index("+14155550101, +14155550102") + 1
        index = read(os.path.join(out, "index.html"))
        self.assertIn(f'<a href="c{group}.html"><bdi>Ann Lee; +14155550102</bdi>', index)
        page = read(os.path.join(out, f"c{group}.html"))
        member = '<bdi>Ann Lee</bdi> <bdi class="number">+14155550101</bdi>'
        self.assertIn(f'<h1 class="named">{member}; <bdi class="number member">+14155550102</bdi>'
                      '</h1>', page)
        self.assertIn(f'<p class="from">{member}</p>', page)
        # A name that shows nothing is no name; marks in a number shown.
        for number, shown in (("+44\u200f2079460959", "+44[U+200F]2079460959"),
                              ("\u061c+442079460957", "[U+061C]+442079460957")):
            self.assertIn(f'<a href="c{order.index(number) + 1}.html"><bdi>\u2014</bdi>', index)
            self.assertIn(shown, index)
        zhang = order.index("+8613800138000") + 1
        self.assertIn("local times in Europe/Berlin (CEST, UTC+02:00; CET, UTC+01:00)",
                      read(os.path.join(out, f"c{zhang}.html")))
        # Screenshots for people to look at (kept as the run's artifacts).
        for (name, page), (width, height) in itertools.product(
                (("conversation", f"c{zhang}.html"), ("index", "index.html"),
                 ("picture", f"c{picture}.html")),
                ((1280, 900), (390, 844))):
            shot = os.path.join(self.artifacts, f"{name}-{width}.png")
            self.browse(f"file://{out}/{page}", f"--window-size={width},{height}",
                        f"--screenshot={shot}")
            self.assertGreater(os.path.getsize(shot), 10000)
        # A stylesheet from the folder above and a picture from the network: refused.
        self.write("evil.css", "body { display: none }")
        self.write(os.path.join(out, "injected.html"), read(os.path.join(out, f"c{picture}.html"))
                   .replace("</title>", "</title><link rel=stylesheet href=../evil.css>"
                            "<img src=http://127.0.0.1:9/y.png>"))
        self.browse(f"file://{out}/injected.html", "--dump-dom", "--enable-logging=stderr",
                    "--v=0")
        self.assertRegex(self.log, r"(Refused to load|Loading) the stylesheet 'file://[^']*/evil"
                                   r"\.css'.*Content Security Policy")
        self.assertRegex(self.log, r"(Refused to load|Loading) the image 'http://127\.0\.0\.1:9/y"
                                   r"\.png'.*Content Security Policy")
        # The detectors work: the hostile markup raw, without a policy, runs and reaches out.
        control = self.write("control.html", f"<title>T</title><p>{HOSTILE}</p>")
        dom, sent = self.browse(f"file://{control}", "--dump-dom")
        self.assertEqual((Dom(dom).title, sorted(sent)),
                         ("PWNED", ["http://127.0.0.1:9/x.css", "http://127.0.0.1:9/x.png"]))

    def test_a_selection_gives_its_messages_and_the_folder_is_new_or_empty(self):
        out = os.path.join(self.dir.name, "one")
        os.mkdir(out)
        proc = self.run_cli("--region", "CN", "export", "--format", "html", "--to", out,
                            "--number", "138 0013 8000")
        self.assertIn("in 1 conversation", proc.stderr)
        self.assertEqual(sorted(os.listdir(out)), ["c1-2.html", "c1-3.html", "c1-4.html",
                                                   "c1.html", "index.html"])
        self.assertIn("not empty", self.run_cli("export", "--format", "html", "--to", out,
                                                expect=1).stderr)
        self.run_cli("export", "--format", "html", expect=2)
        self.assertIn("--output", self.run_cli("export", "--format", "csv", "--to", out,
                                               expect=2).stderr)
        # Text shows no direction control, in a heading neither; the hour shown
        # twice told apart; a TZ the system does not know not named as if known.
        txt = self.run_cli("export", "--format", "txt").stdout
        self.assertNotRegex(txt, "[\u202a-\u202e\u2066-\u2069]")
        # but the marks that move no letter stay in the texts that hold them
        self.run_cli("add", "--number", "+15550199", "--text", "\u0633\u200f1 \u061c2 \u200e3")
        self.assertIn("\u0633\u200f1 \u061c2 \u200e3",
                      self.run_cli("export", "--format", "txt", "--number", "+15550199").stdout)
        # Marks in a number shown as the pages show them, in the table too.
        table = self.run_cli("conversations").stdout
        for shown in ("[U+061C]+442079460957", "+44[U+200F]2079460959"):
            self.assertIn(shown, txt)
            self.assertIn(shown, table)
        self.assertRegex(txt, r"02:30 UTC\+02:00  \S+: summer time\n  02:30 UTC\+01:00  ")
        os.environ["TZ"] = "Nowhere/Atlantis"
        proc = self.run_cli("export", "--format", "txt")
        self.assertTrue(proc.stdout.startswith("Local times in UTC.\n"))
        self.assertEqual(proc.stderr.splitlines()[0], 'zusms: TZ "Nowhere/Atlantis" is not a '
                                                      "known time zone: times are in UTC")
        os.environ["TZ"] = "Europe/Berlin"
        # CSV and text name attachments after the text, as `attachments save` does.
        for form, who in (("csv", "Li Na,.*"), ("txt", "Li Na: ")):
            self.assertRegex(self.run_cli("export", "--format", form, "--number",
                                          "+8613700001111").stdout,
                             who + r"\u770b\u8fd9\u5f20\u7167\u7247 \[image/png photo #1%\.png "
                             r"\d+ B\] \[text/x-vcard card\.vcf \d+ B\]")
        # A group's messages under its members, named where known, else by number.
        self.assertRegex(txt, r"\nAnn Lee \(\+14155550101\); \+14155550102\n=+\n\n\S+\n"
                              r"  \d\d:\d\d  Ann Lee: group hello\n")
        self.assertRegex(self.run_cli("export", "--format", "csv").stdout,
                         r",received,\+14155550101,Ann Lee,1,[^,]*,yes,group hello\n")
        group = [c for c in self.json_of("conversations") if c.get("members")]
        self.assertEqual([(c["name"], c["member_names"]) for c in group],
                         [("Ann Lee; +14155550102", ["Ann Lee", ""])])
        # An empty folder through a link is written; the current folder refused as such.
        top = self.dir.name
        os.mkdir(f"{top}/real")
        os.symlink("real", f"{top}/link")
        self.run_cli("export", "--format", "html", "--to", f"{top}/link")
        self.assertIn("index.html", os.listdir(f"{top}/real"))
        here = lambda folder: self.run_env(None, "export", "--format", "html", "--to", ".",
                                           expect=None, cwd=f"{top}/{folder}").stderr
        self.assertIn("not empty", here("link"))
        shutil.rmtree(f"{top}/real")
        os.mkdir(f"{top}/real")
        self.assertIn("is the folder you are in", here("real"))
        # Stopped half-way by any signal: no folder left, not even the hidden one.
        for sig in (signal.SIGTERM, signal.SIGPIPE, signal.SIGUSR1, signal.SIGALRM, signal.SIGXCPU,
                    signal.SIGPWR, signal.SIGRTMIN + 3):
            proc = self.popen("export", "--format", "html", "--to", f"{top}/stop",
                              stderr=subprocess.PIPE)
            while proc.poll() is None and not any(n.startswith(".stop.") for n in os.listdir(top)):
                time.sleep(0.0005)
            proc.send_signal(sig)
            err = proc.communicate(timeout=60)[1]
            if proc.returncode == 0:
                self.skipTest("the export ended before it could be stopped")
            self.assertIn("interrupted: the export was not written", err)
            self.assertEqual(sorted(os.listdir(self.dir.name)),
                             ["link", "mms.xml", "one", "real", "store.dbf", "store.json"])

    def test_an_index_of_many_people_is_cut_into_pages_and_filters_them_all(self):
        one = json.loads(self.template)["heads"][1]
        # 1.4 MB of names of 39 characters, some one word; the first few show
        # nothing; a number with a mark.
        blank = "\u00ad\u034f\u17b4\u17b5\u180b\ufe0f\U000e0020\U000e0001\U0001d173"
        heads = [dict(one, tel=("\u061c" if k == 1 else "") + f"+4930{k:07d}",
                      name=blank[k] * 2 if k < len(blank) else
                      "W" * 39 if k % 97 == 0 else "\u5f20" * 39,
                      index=0, longsms=0, batid=0, uuid=f"{k:08x}-0000-4000-8000-000000000001")
                 for k in range(10000)]
        self.import_file({"format": "zusms", "version": 1, "heads": heads}, user=2, name="m.json")
        out = os.path.join(self.dir.name, "many")
        self.run_cli("export", "--format", "html", "--to", out, user=2)
        pages = sorted((f for f in os.listdir(out) if f.startswith("index")),
                       key=lambda f: int(re.sub(r"\D", "", f) or 1))
        self.assertIn(f'href="{pages[1]}">older \u2192', read(os.path.join(out, pages[0])))
        # Names of 39 characters without a space break instead of widening the page.
        self.assertLessEqual(int(self.measured(os.path.join(out, pages[0]),
                                               "document.documentElement.scrollWidth",
                                               "--window-size=1280,900")), 1280)
        numbers, dashes = [], 0
        for page in pages:
            rows = read(os.path.join(out, page)).split("<tbody>")[1]
            numbers += re.findall(r"\+4930\d{7}", rows)
            dashes += rows.count("<bdi>\u2014</bdi>")
            self.assertLess(os.path.getsize(os.path.join(out, page)), 2_000_000)
        self.assertEqual(sorted(numbers), sorted(h["tel"].lstrip("\u061c") for h in heads))
        self.assertEqual(dashes, len(blank))
        # The last page finds a person of the first by the national number.
        for first, shown in (("+49300000000", "+49300000000"),
                             ("\u061c+49300000001", "[U+061C]+49300000001")):
            dom, sent = self.browse(f"file://{out}/{pages[-1]}#q=0{first[-9:]}", "--dump-dom")
            d = Dom(dom)
            self.assertEqual((len(d.found), sent), (1, []))
            self.assertRegex(dom, r'(?s)<table id="found">.*<bdi>\u2014</bdi></a></td><td><bdi>' +
                             re.escape(shown) + "</bdi>")
            self.assertIn(shown, read(os.path.join(out, d.found[0])))


if __name__ == "__main__":
    cli_test.ZUSMS = sys.argv.pop(1)
    if CHROMIUM is None:
        print("cli_html_test: SKIPPED: no chromium on PATH (scripts/setup.sh installs Debian's "
              "chromium when run as root)", file=sys.stderr)
        sys.exit(77)
    unittest.main()
