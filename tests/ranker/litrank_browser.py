#!/usr/bin/env python3
"""The litrank page in a real headless browser (Debian's chromium).

Loads pages written by the built litrank from hostile statements and checks,
on the DOM the browser dumps after the page's script has run: no console
message or uncaught error, the script finished (data-ready), one bar per
group in the chart, every hostile text shown as text (no element of its own,
no handler run), control, bidi and invisible characters shown as visible
marks, that clicking the column headers sorts the table, and that the
page's content security policy refuses inline handlers and scripts that
are not the page's own. Then, with probes run inside the page: the layout at
700 and 1600 px (nothing wider than the window, chart labels whole and
readable, room for the texts), the search box, sorting 2,000 rows in under
100 ms (timed with performance.now() around each click, the layout it
causes included), and the diff page's before and after bars.

Exit status 77 (CTest: skipped) when no chromium is installed.
"""
import argparse
import base64
import json
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


META_HEADER = "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"

# The left edges of the visible header cells and of the first row's visible
# cells: a column hidden in one and not the other would shift them.
ALIGNED = """
  var edges = function (cells) {
    return Array.prototype.filter.call(cells, function (c) { return c.offsetWidth > 0; })
        .map(function (c) { return Math.round(c.getBoundingClientRect().left); });
  };
  out.heads = edges(document.querySelectorAll("#groups thead th"));
  out.cells = edges(document.querySelector("#groups tbody tr").cells);
"""


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
        # 2,500 groups of sizes 1 to 5 with durations and sources: more than
        # the page's 2,000 rows, some texts long enough to be ellipsised.
        records, meta = [], [META_HEADER]
        rid = 0
        for g in range(2500):
            for k in range(1 + g % 5):
                rid += 1
                text = ("select c%d, %s from orders o join customers c on c.id = o.cid "
                        "where o.id = %d" % (g, ", ".join("x%d" % j for j in range(g % 40)), k))
                records.append(rec(rid, text))
                meta.append("%d\tapp/%s.log\t%d\t%d.%03d\tweb\tshop\t\n"
                            % (rid, "ab"[g % 2], rid, (g * 7919) % 500, k * 37))
        with open(os.path.join(cls.dir, "big.rec"), "wb") as f:
            f.write(b"".join(records))
        with open(os.path.join(cls.dir, "big.tsv"), "w") as f:
            f.write("".join(meta))
        # An earlier workload for --diff: half the groups, other sizes, and
        # groups of its own.
        records, meta = [], [META_HEADER]
        rid = 0
        for g in list(range(0, 2500, 2)) + list(range(5000, 5030)):
            for k in range(1 + g % 3):
                rid += 1
                records.append(rec(rid, "select c%d, %s from orders o join customers c on "
                                        "c.id = o.cid where o.id = %d"
                                   % (g, ", ".join("x%d" % j for j in range(g % 40)), k)))
                meta.append("%d\told.log\t%d\t%d\t\t\t\n" % (rid, rid, 1 + g % 50))
        with open(os.path.join(cls.dir, "before.rec"), "wb") as f:
            f.write(b"".join(records))
        with open(os.path.join(cls.dir, "before.tsv"), "w") as f:
            f.write("".join(meta))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def page(self, name, *args, data="in.rec"):
        path = os.path.join(self.dir, name)
        proc = subprocess.run([OPTIONS.exe, "--quiet", "--html", path] + list(args) + [data],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir,
                              timeout=120)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        return path

    def load(self, path, width=1280):
        """Dumped DOM after the scripts ran, and the console lines."""
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.dir)
        cmd = [OPTIONS.chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
               "--enable-logging=stderr", "--v=0", "--hide-scrollbars",
               "--window-size=%d,900" % width, "--dump-dom", "file://" + path]
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
                widths = [float(bar["width"].rstrip("%")) for bar in dom.bars]
                self.assertEqual(widths, sorted(widths, reverse=True))
                self.assertEqual(widths[0], 100.0)

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

    def probe(self, path, script, width):
        """Runs `script` (which must set data-probe on <html> to a JSON text)
        after the page's own script in a window `width` pixels wide; returns
        the parsed probe, the DOM and the console lines."""
        self.with_script(path, script)
        dom, console = self.load(path, width)
        self.assertIn("data-probe", dom.root, "the probe ran")
        return json.loads(dom.root["data-probe"]), dom, console

    LAYOUT_PROBE = """
(function () {
  var root = document.documentElement, w = window.innerWidth, out = {width: w};
  out.page = root.scrollWidth;
  var labels = document.querySelectorAll("#chart .lab");
  out.labels = labels.length;
  out.clipped = [];
  var smallest = 99;
  Array.prototype.forEach.call(labels, function (l) {
    var r = l.getBoundingClientRect();
    if (r.left < 0 || r.right > w || l.scrollWidth > l.clientWidth + 1) out.clipped.push(l.textContent);
    smallest = Math.min(smallest, parseFloat(getComputedStyle(l).fontSize));
  });
  out.label_px = smallest;
  var text = document.querySelector("#groups tbody td.t");
  out.text_px = text ? text.getBoundingClientRect().width : 0;
  out.table_right = document.getElementById("groups").getBoundingClientRect().right;
  var long = Array.prototype.filter.call(document.querySelectorAll("#chart .txt"),
      function (t) { return t.offsetWidth > 0 && t.scrollWidth > t.clientWidth; });
  out.ellipsised = long.length;
  out.ellipsis = long.length ? getComputedStyle(long[0]).textOverflow : "";
  out.titled = Array.prototype.every.call(document.querySelectorAll("#chart a"),
      function (a) { return a.title.length > 0; });
""" + ALIGNED + """
  root.setAttribute("data-probe", JSON.stringify(out));
})();
"""

    def test_layout_fits_700_and_1600_pixels(self):
        for width in (700, 1600):
            with self.subTest(width=width):
                path = self.page("layout%d.html" % width, "-n", "0", "--meta", "big.tsv",
                                 data="big.rec")
                seen, dom, console = self.probe(path, self.LAYOUT_PROBE, width)
                self.assertEqual(console, [])
                self.assertEqual(seen["width"], width)
                self.assertLessEqual(seen["page"], width, "nothing wider than the window")
                self.assertLessEqual(seen["table_right"], width)
                self.assertEqual(seen["labels"], 100)
                self.assertEqual(seen["clipped"], [], "labels are never clipped")
                self.assertGreaterEqual(seen["label_px"], 11, "chart text stays readable")
                self.assertGreaterEqual(seen["text_px"], 150, "the normalised text has room")
                self.assertTrue(seen["titled"], "every bar has its text as a tooltip")
                self.assertEqual(seen["heads"], seen["cells"], "columns line up")
                if width == 1600:
                    self.assertGreater(seen["ellipsised"], 0)
                    self.assertEqual(seen["ellipsis"], "ellipsis")

    def test_page_caps_rows_and_names_the_rest(self):
        path = self.page("capped.html", "-n", "0", "--meta", "big.tsv", data="big.rec")
        self.assertLess(os.path.getsize(path), 5 * 1024 * 1024)
        dom, console = self.load(path)
        self.assertEqual(console, [])
        self.assertEqual(len(dom.rows), 2000)
        self.assertEqual(len(dom.bars), 100)
        self.assertIn("The table lists 2000 of the 2500 groups", dom.text)
        self.assertIn("--tsv -n 0", dom.text)
        # Ranked by total time: the chart's first value is the largest.
        self.assertIn("Groups by total time", dom.text.replace("The first 100 of the groups "
                                                               "listed below, by total time",
                                                               "Groups by total time"))

    SEARCH_PROBE = """
(function () {
  var search = document.getElementById("search"), out = [];
  var visible = function () {
    return Array.prototype.filter.call(document.querySelectorAll("#groups tbody tr"),
        function (r) { return !r.hidden && r.offsetHeight > 0; }).length;
  };
  ["c17,", "SELECT C1", "no such text", ""].forEach(function (q) {
    search.value = q;
    search.dispatchEvent(new Event("input"));
    out.push([q, visible(), document.getElementById("shown").textContent]);
  });
  document.documentElement.setAttribute("data-probe", JSON.stringify(out));
})();
"""

    def test_search_filters_the_rows(self):
        path = self.page("search.html", "-n", "0", data="big.rec")
        seen, dom, console = self.probe(path, self.SEARCH_PROBE, 1280)
        self.assertEqual(console, [])
        shown = 2000
        # "c17," is in group c17's texts only; "SELECT C1" (any case) in
        # every group whose number starts with 1 among the rows shown.
        numbers = [int(row[6].split()[1].rstrip(",")[1:]) for row in dom.rows]
        self.assertEqual(len(numbers), shown)
        starting_1 = sum(1 for n in numbers if str(n).startswith("1"))
        self.assertEqual(seen[0][:2], ["c17,", 1])
        self.assertEqual(seen[1][:2], ["SELECT C1", starting_1])
        self.assertEqual(seen[1][2], "%d of %d rows" % (starting_1, shown))
        self.assertEqual(seen[2][:2], ["no such text", 0])
        self.assertEqual(seen[3][:2], ["", shown])

    SORT_PROBE = """
(function () {
  var heads = document.querySelectorAll("#groups thead th button"), out = {times: [], ok: []};
  var body = document.querySelector("#groups tbody");
  for (var c = 0; c < heads.length; c++) {
    var best = 1e9;
    for (var k = 0; k < 4; k++) {
      var t0 = performance.now();
      heads[c].click();
      void body.offsetHeight;  // the layout the new order needs
      best = Math.min(best, performance.now() - t0);
    }
    out.times.push(best);
    var cells = Array.prototype.map.call(body.rows, function (r) {
      return r.cells[c].getAttribute("data-v");
    });
    out.ok.push(cells.length);
  }
  out.columns = heads.length;
  document.documentElement.setAttribute("data-probe", JSON.stringify(out));
})();
"""

    def test_sorting_2000_rows_is_fast(self):
        # Each column sorted four times (one way, then the other), the
        # fastest counted: the page's own time, which a single click on a
        # loaded machine may not show when it waits for the processor. A
        # page that misses 100 ms is loaded again, up to three times, and a
        # column counts its fastest sort of all loads.
        fastest = None
        for attempt in range(3):
            path = self.page("sort2000-%d.html" % attempt, "-n", "0", "--meta", "big.tsv",
                             data="big.rec")
            seen, dom, console = self.probe(path, self.SORT_PROBE, 1600)
            self.assertEqual(console, [])
            self.assertEqual(seen["columns"], 13)
            self.assertEqual(seen["ok"], [2000] * 13)
            fastest = seen["times"] if fastest is None else [min(a, b) for a, b in
                                                             zip(fastest, seen["times"])]
            if max(fastest) < 100:
                break
        self.assertLess(max(fastest), 100, fastest)

    DIFF_PROBE = """
(function () {
  var out = {};
  out.before = document.querySelectorAll("#chart rect.before").length;
  out.after = document.querySelectorAll("#chart rect.after").length;
  out.sections = Array.prototype.map.call(document.querySelectorAll("#groups tbody td.sec"),
      function (c) { return c.textContent; });
  out.page = document.documentElement.scrollWidth <= window.innerWidth;
""" + ALIGNED + """
  document.documentElement.setAttribute("data-probe", JSON.stringify(out));
})();
"""

    def test_diff_page_has_before_and_after_bars(self):
        path = self.page("diff.html", "--meta", "big.tsv", "--diff", "before.rec",
                         "--diff-meta", "before.tsv", "--by", "size", data="big.rec")
        seen, dom, console = self.probe(path, self.DIFF_PROBE, 700)
        self.assertEqual(console, [])
        self.assertEqual(dom.root.get("data-ready"), "1")
        self.assertEqual(seen["before"], seen["after"])
        self.assertGreater(seen["before"], 0)
        self.assertLessEqual(seen["before"], 100)
        self.assertEqual(sorted(set(seen["sections"])), ["gone", "grew", "new", "shrank"])
        self.assertTrue(seen["page"])
        self.assertEqual(seen["heads"], seen["cells"], "columns line up")
        self.assertGreater(len(seen["heads"]), 5)


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
