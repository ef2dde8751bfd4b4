#!/usr/bin/env python3
"""The HTML export read by a real browser: headless Chromium loads the pages
from file:// and the DOM it built is checked (every selected message once,
in order, on its side and under its day; the hostile message shown as text
and run nothing; no request left the folder; the index's filter). Texts:
the corpus sample (CC BY 4.0, see tests/fixtures/README.md), Chinese,
Persian, emoji, a long message and markup meant to run. Screenshots at a
desktop and a phone width go to BUILD/test-artifacts/html/ (not kept in git).

usage: cli_html_test.py PATH/TO/zusms   (exits 77, skipped, without Chromium)
"""
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import cli_test

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
BIG = 4100  # messages with one more person: three pages


def shown_as(text):
    """A text as the pages show it: control characters (the corpus has C1
    ones) as U+FFFD, as the tool's other outputs for people show them."""
    return re.sub("[\x00-\x08\x0b-\x1f\x7f-\x9f]", "\ufffd", text)


class Dom(html.parser.HTMLParser):
    """What a dumped page shows: title, bubbles (side, text, time, day), the
    addresses it refers to, scripts, and the index rows with their state."""

    def __init__(self, text):
        super().__init__()
        self.title, self.bubbles, self.refs, self.scripts, self.rows, self.links = \
            "", [], [], 0, [], {}
        self._in, self._day, self._side = None, "", None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
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
            self.bubbles.append([self._side, "", "", self._day])
        elif tag == "p" and cls == "text":
            self._in = "text"
        elif tag == "time" and self._side:
            self.bubbles[-1][2] = a["datetime"]
        elif tag == "tbody":
            self._in = "tbody"
        elif tag == "tr" and self._in == "tbody":
            self.rows.append("hidden" in a)
        elif tag == "a" and a.get("rel") in ("prev", "next"):
            self.links[a["rel"]] = a["href"]

    def handle_endtag(self, tag):
        if tag == "title" and self._in == "title":
            self.title, self._in = self._text, None
        elif tag == "h2" and self._in == "h2":
            self._day, self._in = self._text, None
        elif tag == "p" and self._in == "text":
            self._in = None
        elif tag == "div" and self._side:
            self._side = None

    def handle_data(self, data):
        if self._in in ("title", "h2"):
            self._text += data
        elif self._in == "text":
            self.bubbles[-1][1] += data


@unittest.skipIf(CHROMIUM is None, "no chromium")
class Html(cli_test.Case):
    @classmethod
    def setUpClass(cls):
        with open(CORPUS, encoding="utf-8") as f:
            corpus = [line.split("\t", 1)[1].rstrip("\n") for line in f.readlines()[1:]]
        base = int(time.mktime((2024, 3, 20, 9, 0, 0, 0, 0, -1)))  # across a change of clocks
        heads, cls.expected = [], {}
        texts = [(PEOPLE[i % 4], t, base + i * 23757) for i, t in enumerate(ODD + corpus[:80])]
        texts += [(("+14155550123", "Mike"), f"{corpus[k % 80]} #{k}", base + k * 5 * 3600)
                  for k in range(BIG)]
        for i, ((number, name), text, when) in enumerate(texts):
            sent = i % 3 == 0
            stamp = time.strftime("%Y%m%d%H%M%S", time.gmtime(when))
            pieces = [text[k:k + 670] for k in range(0, len(text), 670)]
            for index, piece in enumerate(pieces, 1):
                many = len(pieces) > 1
                heads.append({"index": index if many else 0, "type": 2 if sent else 1,
                              "fid": 2 if sent else 1, "batid": 900 + i if many else 0,
                              "createtime": stamp, "tel": number, "name": name,
                              "recvtime": stamp, "content": piece, "privmode": 0, "ccid": 0,
                              "lockflag": 0, "oldfid": 0, "impt": 0,
                              "longsms": len(pieces) if many else 0, "operid": "",
                              "read": i % 4 != 1,
                              "uuid": f"{i:08x}-{index:04x}-4000-8000-000000000000"})
            key = "+8613800138000" if number == "13800138000" else number
            cls.expected.setdefault(key, []).append(("out" if sent else "in", text, when))
        cls.template = json.dumps({"format": "zusms", "version": 1, "heads": heads})
        cls.artifacts = os.path.join(os.path.dirname(os.path.dirname(cli_test.ZUSMS)),
                                     "test-artifacts", "html")
        os.makedirs(cls.artifacts, exist_ok=True)

    def setUp(self):
        super().setUp()
        os.environ["TZ"] = "Europe/Berlin"
        time.tzset()
        self.run_cli("--region", "CN", "import", self.write("store.json", self.template))

    def browse(self, url, *flags):
        """Chromium on `url`, bounded in time; the DOM it dumped, and the
        requests that pages (not the browser itself) started on the network."""
        profile = tempfile.mkdtemp(dir=self.dir.name)
        net = os.path.join(profile, "net.json")
        proc = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", f"--user-data-dir={profile}",
             f"--log-net-log={net}", "--hide-scrollbars", *flags, url],
            capture_output=True, text=True, timeout=90)
        self.assertEqual(proc.returncode, 0, proc.stderr[-2000:])
        with open(net, encoding="utf-8") as f:
            events = json.load(f)["events"]
        # file: loads do not pass the network stack; whatever a page asks of
        # the network does, with the page's origin as its initiator.
        sent = [e["params"].get("url") for e in events
                if e.get("params", {}).get("initiator", "not an origin") != "not an origin"]
        return proc.stdout, sent

    def test_pages_in_a_browser(self):
        out = os.path.join(self.dir.name, "site")
        self.run_cli("--region", "CN", "export", "--format", "html", "--to", out)
        files = sorted(os.listdir(out))
        # The index, newest conversation first (the big one), and its filter.
        dom, sent = self.browse(f"file://{out}/index.html#q=zoe%20151%201234", "--dump-dom")
        index = Dom(dom)
        self.assertEqual((index.title, index.scripts, sent), ("Messages", 1, []))
        order = sorted(self.expected, key=lambda k: -self.expected[k][-1][2])
        self.assertEqual(index.rows, [k != "+4915112345678" for k in order])
        self.assertIn("1 of 4", dom)
        for n, key in enumerate(order, 1):
            shown, page = [], f"c{n}.html"
            while page:
                self.assertIn(page, files)
                dom, sent = self.browse(f"file://{out}/{page}", "--dump-dom")
                d = Dom(dom)
                self.assertEqual((sent, d.scripts), ([], 0), page)
                self.assertFalse("PWNED" in d.title or "PWNED" in dom.split("<main>")[0], page)
                self.assertTrue(all(re.fullmatch(r"(index|c\d+(-\d+)?)\.html|style\.css", r) and
                                    r in files for r in d.refs), d.refs)
                for side, text, stamp, day in d.bubbles:  # under the day of its local time
                    self.assertIn(stamp[:10], day)
                shown += [(side, text) for side, text, stamp, day in d.bubbles]
                page = d.links.get("next")
            want = sorted(self.expected[key], key=lambda m: m[2])
            self.assertEqual(shown, [(side, shown_as(text)) for side, text, when in want], key)
        self.assertEqual(len([f for f in files if f.startswith("c1")]), 3)
        zhang = order.index("+8613800138000") + 1
        with open(os.path.join(out, f"c{zhang}.html"), encoding="utf-8") as f:
            self.assertIn("local times in Europe/Berlin (CEST, UTC+02:00; CET, UTC+01:00)",
                          f.read())
        for width, height in ((1280, 900), (390, 844)):
            shot = os.path.join(self.artifacts, f"conversation-{width}.png")
            self.browse(f"file://{out}/c{zhang}.html", f"--window-size={width},{height}",
                        f"--screenshot={shot}")
            self.assertGreater(os.path.getsize(shot), 10000)
        # The detectors see what they look for: a page of the same hostile
        # markup, written raw and with no policy, runs it and reaches out.
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
        with open(os.path.join(out, "c1.html"), encoding="utf-8") as f:
            d = Dom(f.read())
        self.assertEqual([t for s, t, *_ in d.bubbles],
                         [shown_as(t) for s, t, w in sorted(self.expected["+8613800138000"],
                                                  key=lambda m: m[2])])
        self.assertEqual(sorted(os.listdir(out)),
                         ["c1.html", "filter.js", "index.html", "style.css"])
        self.assertIn("not empty", self.run_cli("export", "--format", "html", "--to", out,
                                                expect=1).stderr)
        self.run_cli("export", "--format", "html", expect=2)
        self.assertEqual(sorted(os.listdir(self.dir.name)), ["one", "store.dbf", "store.json"])


if __name__ == "__main__":
    cli_test.ZUSMS = sys.argv.pop(1)
    if CHROMIUM is None:
        print("cli_html_test: SKIPPED: no chromium on PATH (scripts/setup.sh installs Debian's "
              "chromium when run as root)", file=sys.stderr)
        sys.exit(77)
    unittest.main()
