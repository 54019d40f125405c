#!/usr/bin/env python3
"""The litrank page in a real headless browser (Debian's chromium).

Loads pages written by the built litrank from hostile statements and checks,
on the DOM the browser dumps after the page's script has run: no console
message or uncaught error, the script finished (data-ready), one bar per
group in the chart, every hostile text shown as text (no element of its own,
no handler run), control, bidi and invisible characters shown as visible
marks, that clicking the column headers sorts the table, and that the
page's content security policy refuses inline handlers and scripts that
are not the page's own.

Exit status 77 (CTest: skipped) when no chromium is installed.
"""
import argparse
import base64
import hashlib
import html.parser
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

OPTIONS = None
SKIPPED = 77

# Sets data-pwned on <html> if it ever runs as script.
PWN = "document.documentElement.setAttribute('data-pwned','1')"
# Each its own group (different tables); UTF-8, except for one byte 0xE9
# that is not, which the page shows as \xE9.
HOSTILE = [
    "select '</script><script>%s</script>' from t1 where a = 1" % PWN,
    "select '<img src=x onerror=\"%s\">' from t2 where a = 2" % PWN,
    # A comment is kept in the normalised text, upper-cased: markup there too.
    "select \\* </script><img src=x onerror=alert(1)> *\\ from t3 where b = 3",
    "select '&amp; &lt; \"quoted\" ''single''' from caf\u00e9 where x = '\u20ac'",
    "select ']]> --> <![CDATA[' from t5 where z = '</textarea></title></svg>'",
]
NOT_UTF8 = b"select 'bad \xe9 byte' from t6 where y = '<!--'"
NOT_UTF8_SHOWN = "select 'bad \\xE9 byte' from t6 where y = '<!--'"
# Characters that would make the text read differently from what it is: a
# right-to-left override that turns "dcba" around, bidi isolates, zero-width
# characters, a C1 control (CSI) and a C0 one. Each shows as a mark.
INVISIBLE = ("select 'abc\u202edcba' from t7 where n = '\u200b\u2066x\u2069\ufeff"
             "\u009b2J\u200d' and m = '\x1b[0m'")
INVISIBLE_SHOWN = ("select 'abc\\u{202E}dcba' from t7 where n = '\\u{200B}\\u{2066}x"
                   "\\u{2069}\\u{FEFF}\\u{009B}2J\\u{200D}' and m = '\\x1B[0m'")
INVISIBLE_CHARACTERS = "\u202e\u200b\u2066\u2069\ufeff\u009b\u200d\x1b"


def rec(rid, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    return struct.pack("<ii", rid, len(data)) + data


class Dom(html.parser.HTMLParser):
    """Collects what the checks need from a dumped DOM."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = {}
        self.tags = {}
        self.bars = []
        self.rows = []  # cells' text per row of the table body
        self.header_sort = {}
        self._in_body = False
        self._cell = None
        self._row = None
        self._heads = 0

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags[tag] = self.tags.get(tag, 0) + 1
        if tag == "html":
            self.root = attrs
        elif tag == "rect" and attrs.get("class") == "bar":
            self.bars.append(attrs)
        elif tag == "tbody":
            self._in_body = True
        elif tag == "th":
            if attrs.get("aria-sort"):
                self.header_sort[self._heads] = attrs["aria-sort"]
            self._heads += 1
        elif tag == "tr" and self._in_body:
            self._row = []
        elif tag == "td" and self._row is not None:
            self._cell = []

    def handle_endtag(self, tag):
        if tag == "td" and self._cell is not None:
            self._row.append("".join(self._cell))
            self._cell = None
        elif tag == "tr" and self._row is not None:
            self.rows.append(self._row)
            self._row = None
        elif tag == "tbody":
            self._in_body = False

    def handle_data(self, data):
        if self._cell is not None:
            self._cell.append(data)


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="litrank-browser-")
        cls.dir = cls.tmp.name
        records = [rec(i + 1, text) for i, text in enumerate(HOSTILE + [NOT_UTF8, INVISIBLE])]
        # The comment statement again: its group has a second member.
        records.append(rec(50, HOSTILE[2].replace("b = 3", "b = 4")))
        # Groups of different sizes, so that sorting has something to do.
        for i in range(30):
            records.append(rec(100 + i, "select c%d from t%d where k = %d" % (i % 9, i % 9, i)))
        with open(os.path.join(cls.dir, "in.rec"), "wb") as f:
            f.write(b"".join(records))
        cls.groups = len(HOSTILE) + 2 + 9

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def page(self, name, *args):
        path = os.path.join(self.dir, name)
        proc = subprocess.run([OPTIONS.exe, "--quiet", "--html", path] + list(args) + ["in.rec"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir,
                              timeout=120)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        return path

    def load(self, path):
        """Dumped DOM after the scripts ran, and the console lines."""
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.dir)
        cmd = [OPTIONS.chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
               "--enable-logging=stderr", "--v=0", "--dump-dom", "file://" + path]
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr[-2000:])
        log = proc.stderr.decode("utf-8", "replace").splitlines()
        console = [line for line in log if ":CONSOLE" in line or "Uncaught" in line]
        dom = Dom()
        dom.text = proc.stdout.decode("utf-8")
        dom.feed(dom.text)
        return dom, console

    def with_script(self, path, probe):
        """Adds `probe` as a script of its own before </body>, and its digest
        to the page's policy, as the page does for its own script."""
        with open(path, encoding="utf-8") as f:
            page = f.read()
        self.assertEqual(page.count("</body>"), 1)
        self.assertEqual(page.count("script-src '"), 1)
        digest = base64.b64encode(hashlib.sha256(probe.encode()).digest()).decode()
        page = page.replace("script-src '", "script-src 'sha256-%s' '" % digest)
        with open(path, "w", encoding="utf-8") as f:
            f.write(page.replace("</body>", "<script>%s</script>\n</body>" % probe))

    def test_page_loads_clean_with_one_bar_per_group(self):
        for top, shown in ((0, self.groups), (5, 5)):
            with self.subTest(top=top):
                dom, console = self.load(self.page("top%d.html" % top, "-n", str(top)))
                self.assertEqual(console, [])
                self.assertEqual(dom.root.get("data-ready"), "1", "the script ran to its end")
                self.assertNotIn("data-pwned", dom.root)
                self.assertEqual(len(dom.bars), shown)
                self.assertEqual(len(dom.rows), shown)
                self.assertEqual(dom.tags.get("script"), 1)
                self.assertNotIn("img", dom.tags)
                self.assertNotIn("textarea", dom.tags)
                widths = [int(bar["width"]) for bar in dom.bars]
                self.assertEqual(widths, sorted(widths, reverse=True))

    def test_hostile_texts_stay_text(self):
        dom, console = self.load(self.page("all.html", "-n", "0"))
        self.assertEqual(console, [])
        examples = {row[7] for row in dom.rows}
        for text in HOSTILE + [NOT_UTF8_SHOWN, INVISIBLE_SHOWN]:
            self.assertIn(text, examples)
        for c in INVISIBLE_CHARACTERS:
            self.assertNotIn(c, dom.text, "U+%04X reached the page" % ord(c))
        # Marked, so that an escape is not mistaken for the same text typed
        # in a statement; in the chart's tooltip (a title) plainly.
        for mark in ("\\u{202E}", "\\u{2066}", "\\u{009B}", "\\x1B"):
            self.assertIn('<span class="byte">%s</span>' % mark, dom.text)
        normalised = {row[6] for row in dom.rows}
        self.assertIn("SELECT \\* </SCRIPT><IMG SRC=X ONERROR=ALERT(1)> * \\ FROM T3 WHERE B = :N",
                      normalised)

    def test_headers_sort_the_table(self):
        path = self.page("sort.html", "-n", "0")
        with open(path, encoding="utf-8") as f:
            page = f.read()
        # Clicks on headers after the page's own script, recording the
        # order of one column after each click on <html>.
        probe = """
(function () {
  var heads = document.querySelectorAll("#groups thead th button");
  var rows = function (c) {
    return Array.prototype.map.call(document.querySelectorAll("#groups tbody tr"),
        function (r) { return r.cells[c].getAttribute("data-v") || r.cells[c].textContent; });
  };
  var seen = [];
  heads[2].click(); seen.push(rows(2).join(","));
  heads[2].click(); seen.push(rows(2).join(","));
  heads[5].click(); seen.push(rows(5).join(","));
  heads[0].click(); seen.push(rows(0).join(","));
  document.documentElement.setAttribute("data-probe", seen.join("|"));
})();
"""
        self.with_script(path, probe)
        dom, console = self.load(path)
        self.assertEqual(console, [])
        size_down, size_up, first_id, rank_up = dom.root["data-probe"].split("|")
        sizes = [int(v) for v in size_down.split(",")]
        self.assertEqual(len(sizes), self.groups)
        self.assertEqual(sizes, sorted(sizes, reverse=True))
        self.assertGreater(sizes[0], sizes[-1])
        self.assertEqual([int(v) for v in size_up.split(",")], sorted(sizes))
        ids = [int(v) for v in first_id.split(",")]
        self.assertEqual(ids, sorted(ids, reverse=True), "numbers sort high to low first")
        self.assertEqual([int(v) for v in rank_up.split(",")], list(range(1, self.groups + 1)))


    def test_policy_refuses_inline_handlers_and_scripts(self):
        """Markup that escaping let through would still not run: the policy
        allows the page's own script only. Without the policy the same
        markup runs, so the check can fail."""
        injected = ('<img src="x" onerror="%s">'
                    '<svg width="1" height="1" onload="%s"></svg>'
                    '<script>%s</script>' % (PWN, PWN, PWN))
        with open(self.page("policy.html", "-n", "0"), encoding="utf-8") as f:
            page = f.read()
        start = page.index('<meta http-equiv="Content-Security-Policy"')
        unprotected = page[:start] + page[page.index(">", start) + 1:]
        for name, text, pwned in (("protected.html", page, None),
                                  ("unprotected.html", unprotected, "1")):
            with self.subTest(name):
                path = os.path.join(self.dir, name)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text.replace("</body>", injected + "</body>"))
                dom, console = self.load(path)
                self.assertEqual(dom.root.get("data-ready"), "1", "the page's script ran")
                self.assertEqual(dom.root.get("data-pwned"), pwned)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--chromium", default=None)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.exe = os.path.abspath(OPTIONS.exe)
    OPTIONS.chromium = OPTIONS.chromium or find_chromium()
    if OPTIONS.chromium is None:
        print("litrank_browser: skipped: no chromium installed (tools/bootstrap.sh all installs it)")
        sys.exit(SKIPPED)
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=1, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
