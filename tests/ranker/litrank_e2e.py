#!/usr/bin/env python3
"""End-to-end tests of the litrank program.

Runs the built binary (optionally through a runner such as Wine) on record
files written here and checks standard output, standard error, exit status,
the checking of a litsieve report and the progress line on a terminal.
"""
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e_support import Run, ScratchCase, parse_options, rec, run_tests, status_of  # noqa: E402

OPTIONS = None  # set by main()


# Groups by first appearance: 1 = "select * from t where a = N" (records 5,
# 9, 12), 2 = "select * from u" (7), 3 = "delete from t" (20, 21).
TEXTS = [(5, "select * from t where a = 1"), (7, "select * from u"),
         (9, "SELECT *  FROM T\nWHERE A = 42"), (12, "select * from t where a=3"),
         (20, "delete from t where note = 'a long note: this group is the largest in bytes'"),
         (21, "DELETE FROM T WHERE NOTE = 'another long note, so the bytes add up to the most'")]
EXAMPLE = b"".join(rec(rid, text) for rid, text in TEXTS)
GROUP_1_BYTES = sum(len(TEXTS[i][1]) for i in (0, 2, 3))
ALL_BYTES = sum(len(text) for _, text in TEXTS)


class LitrankCase(ScratchCase):
    PREFIX = "litrank-e2e-"

    def write(self, name, data):
        """Writes the file and returns its name, which the programs open
        relative to the test's directory."""
        super().write(name, data)
        return name

    def run_rank(self, *args, stdout=subprocess.PIPE):
        cmd = OPTIONS.runner + [OPTIONS.exe] + list(args)
        return Run(subprocess.run(cmd, stdout=stdout, stderr=subprocess.PIPE, cwd=self.dir,
                                  timeout=600))

    def run_sieve(self, *args):
        cmd = OPTIONS.runner + [OPTIONS.litsieve] + list(args)
        return Run(subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  cwd=self.dir, timeout=600))

    def tsv_rows(self, run):
        self.assertEqual((run.status, run.stderr), (0, b""))
        lines = run.stdout.split(b"\n")
        self.assertEqual(lines[-1], b"")
        self.assertEqual(lines[0], b"rank\tgroup\tsize\tshare\tbytes\tfirst_id\t"
                                   b"normalised_text\tstatement")
        return [line.split(b"\t") for line in lines[1:-1]]


class RankingTest(LitrankCase):
    def test_rankings(self):
        self.write("in.rec", EXAMPLE)
        cases = [
            ((), [b"1", b"3", b"2"]),
            (("--by", "bytes"), [b"3", b"1", b"2"]),
            (("--by=size", "-n", "2"), [b"1", b"3"]),
            (("--top=1",), [b"1"]),
            (("-n", "0"), [b"1", b"3", b"2"]),
        ]
        for args, groups in cases:
            with self.subTest(args=args):
                rows = self.tsv_rows(self.run_rank("--tsv", *args, "in.rec"))
                self.assertEqual([r[1] for r in rows], groups)
                self.assertEqual([r[0] for r in rows],
                                 [str(i + 1).encode() for i in range(len(groups))])

    def test_row_contents(self):
        self.write("in.rec", EXAMPLE)
        rows = self.tsv_rows(self.run_rank("--tsv", "in.rec"))
        self.assertEqual(rows[0], [b"1", b"1", b"3", b"50.00", b"%d" % GROUP_1_BYTES, b"5",
                                   b"SELECT * FROM T WHERE A = :N",
                                   b"select * from t where a = 1"])
        self.assertEqual(rows[2][:6], [b"3", b"2", b"1", b"16.67", b"15", b"7"])

    def test_group_numbers_are_litsieves(self):
        """Whatever the order shown, group numbers, sizes and first ids are
        those of litsieve's -full report."""
        self.write("in.rec", EXAMPLE + rec(30, "select 1") + rec(31, "select 2") +
                   rec(-4, "commit"))
        self.assertEqual(self.run_sieve("-full", "in.rec", "full.txt").status, 0)
        groups = {}
        for line in self.read("full.txt").split(b"\r\n")[:-1]:
            rid, group, size, first = line.split(b"\t")
            groups[group] = (size, first)
        rows = self.tsv_rows(self.run_rank("--tsv", "-n", "0", "--by", "bytes", "in.rec"))
        self.assertEqual(len(rows), len(groups))
        for row in rows:
            self.assertEqual(groups[row[1]], (row[2], row[5]))

    def test_table_for_people(self):
        self.write("in.rec", EXAMPLE)
        run = self.run_rank("--width", "78", "in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))
        lines = run.stdout.decode().split("\n")
        self.assertEqual(lines[0], "in.rec: 6 records in 3 groups, %d statement bytes; all "
                                   "groups by size" % ALL_BYTES)
        self.assertTrue(all(len(line) <= 78 for line in lines), lines)
        self.assertEqual(lines[3].split()[:6], ["1", "1", "3", "50.00%", str(GROUP_1_BYTES), "5"])
        # Not a terminal and no --width: texts whole.
        run = self.run_rank("in.rec")
        self.assertIn(b"  DELETE FROM T WHERE NOTE = :S\n", run.stdout)
        self.assertIn(b"  delete from t where note = 'a long note: this group is the largest in "
                      b"bytes'\n", run.stdout)

    def test_empty_input(self):
        self.write("in.rec", b"")
        rows = self.tsv_rows(self.run_rank("--tsv", "in.rec"))
        self.assertEqual(rows, [])
        run = self.run_rank("--html", "page.html", "in.rec")
        self.assertEqual(run.status, 0)
        self.assertIn(b"in.rec: 0 records in 0 groups", self.read("page.html"))


class ReportCheckTest(LitrankCase):
    def test_litsieve_reports_are_accepted(self):
        self.write("in.rec", EXAMPLE)
        self.run_sieve("in.rec", "shared.txt")
        self.run_sieve("-full", "in.rec", "full.txt")
        with open(self.path("stdout.txt"), "wb") as f:  # banner and report
            f.write(self.run_sieve("in.rec").stdout)
        with open(self.path("crlf.txt"), "wb") as f:  # a banner converted to CR LF
            banner, report = self.read("stdout.txt").split(b"\n\n", 1)
            f.write(banner.replace(b"\n", b"\r\n") + b"\r\n\r\n" + report)
        for report in ("shared.txt", "full.txt", "stdout.txt", "crlf.txt"):
            with self.subTest(report):
                run = self.run_rank("--tsv", "in.rec", report)
                self.assertEqual((run.status, run.stderr), (0, b""))

    def test_report_of_another_input(self):
        self.write("in.rec", EXAMPLE)
        self.write("other.rec", EXAMPLE + rec(40, "select * from u"))
        self.run_sieve("other.rec", "other.txt")
        run = self.run_rank("in.rec", "other.txt")
        self.assertEqual(run.status, 255)
        self.assertEqual(run.stderr,
                         b'Report other.txt does not belong to in.rec: line 2 should be '
                         b'"9\\t1\\t3\\t5\\r\\n" but is "7\\t2\\t2\\t7\\r\\n".\n')
        self.assertEqual(run.stdout, b"", "nothing ranked from a mismatch")

    def test_missing_report(self):
        self.write("in.rec", EXAMPLE)
        run = self.run_rank("in.rec", "none.txt")
        self.assertEqual((run.status, run.stderr), (255, b"Can't open none.txt file.\n"))


# Statements that would act on a terminal or read as something else: an ESC
# colour sequence, a C1 CSI (U+009B) that clears the screen, a right-to-left
# override, bidi isolates, zero-width characters and a byte-order mark.
HOSTILE = [
    (1, "select '\x1b[31mred' from t1".encode()),
    (2, "select '\u009b2J' from t2".encode()),
    (3, "select 'abc\u202edcba' from t3".encode()),
    (4, "select '\u2066x\u2069\u200b\u200d\ufeff' from t4".encode()),
]
HOSTILE_SHOWN = [b"select '\\x1B[31mred' from t1", b"select '\\u{009B}2J' from t2",
                 b"select 'abc\\u{202E}dcba' from t3",
                 b"select '\\u{2066}x\\u{2069}\\u{200B}\\u{200D}\\u{FEFF}' from t4"]
RAW = ["\x1b", "\u009b", "\u202e", "\u2066", "\u2069", "\u200b", "\u200d", "\ufeff"]


class HostileTextTest(LitrankCase):
    def test_listing_shows_escapes_only(self):
        self.write("in.rec", b"".join(rec(rid, text) for rid, text in HOSTILE))
        run = self.run_rank("in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))
        for shown in HOSTILE_SHOWN:
            self.assertIn(b"  " + shown + b"\n", run.stdout)
        for c in RAW:
            self.assertNotIn(c.encode(), run.stdout, "U+%04X reached the listing" % ord(c))

    def test_tsv_escapes_controls_and_keeps_other_characters(self):
        self.write("in.rec", b"".join(rec(rid, text) for rid, text in HOSTILE))
        statements = {row[5]: row[7] for row in self.tsv_rows(self.run_rank("--tsv", "in.rec"))}
        self.assertEqual(statements[b"1"], b"select '\\x1B[31mred' from t1")
        self.assertEqual(statements[b"2"], b"select '\\u{009B}2J' from t2")
        self.assertEqual(statements[b"3"], HOSTILE[2][1], "bidi controls are kept as they are")


class FailureTest(LitrankCase):
    """The failures litsieve has: the same messages and statuses."""

    def test_command_line(self):
        self.write("in.rec", EXAMPLE)
        cases = [
            ((), 1, b"Error. Missing command line parameters.\n"),
            (("--tsv",), 1, b"Error. Missing command line parameters.\n"),
            (("nosuch.rec",), 255, b"Can't open nosuch.rec file.\n"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                run = self.run_rank(*args)
                self.assertEqual((run.status, run.stderr), (status, message))
                self.assertEqual(run.stdout, b"")
        for args in (["--bogus", "in.rec"], ["-n", "x", "in.rec"], ["--by", "time", "in.rec"],
                     ["-n", "99999999999", "in.rec"], ["in.rec", "r.txt", "extra"], ["-n"]):
            with self.subTest(args=args):
                run = self.run_rank(*args)
                self.assertEqual(run.status, 1)
                self.assertTrue(run.stderr.startswith(b"litrank: "), run.stderr)
                self.assertIn(b"usage: litrank", run.stderr)

    def test_bad_inputs(self):
        good = rec(1, "select 1")
        cases = [
            ("empty text", good + rec(2, ""), b"syntax error"),
            ("5000 tokens", good + rec(2, "x " * 5000), b"yacc stack overflow"),
            ("cut short", good + b"\x01\x02\x03", b"Record at offset 16 of in.rec file is cut short.\n"),
            ("negative length", good + struct.pack("<ii", 2, -5),
             b"Record at offset 16 of in.rec file has a negative length.\n"),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                self.write("in.rec", data)
                run = self.run_rank("--html", "page.html", "in.rec")
                self.assertEqual((run.status, run.stderr), (255, message))
                self.assertEqual(run.stdout, b"")
                self.assertFalse(os.path.exists(self.path("page.html")))

    def test_input_failure_comes_before_report_check(self):
        self.write("in.rec", rec(1, " "))
        run = self.run_rank("in.rec", "none.txt")
        self.assertEqual((run.status, run.stderr), (255, b"syntax error"))

    def test_page_that_cannot_be_written(self):
        self.write("in.rec", EXAMPLE)
        os.mkdir(self.path("adir"))
        for page in ("missing/page.html", "adir"):
            with self.subTest(page):
                run = self.run_rank("--html", page, "in.rec")
                self.assertEqual((run.status, run.stderr),
                                 (2, b"Can't open %s file.\n" % page.encode()))
                self.assertEqual(run.stdout, b"")

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_full_device(self):
        if OPTIONS.runner:
            self.skipTest("/dev/full is not a device under the runner")
        self.write("in.rec", EXAMPLE)
        run = self.run_rank("--html", "/dev/full", "in.rec")
        self.assertEqual((run.status, run.stderr), (2, b"Can't write /dev/full file.\n"))
        with open("/dev/full", "wb") as full:
            run = self.run_rank("in.rec", stdout=full)
        self.assertEqual((run.status, run.stderr), (2, b"Can't write standard output.\n"))


@unittest.skipUnless(os.name == "posix", "needs a pseudo-terminal")
class TerminalTest(LitrankCase):
    """The progress line shows on a terminal only and never mixes with output;
    a table on a terminal fits its width."""

    def big_input(self):
        # 600000 records, 23 MB: a large input, which shows the line from its
        # first records on, however fast it is read.
        one = b"".join(rec(i, "select c%d from t where a = %d" % (i % 50, i))
                       for i in range(1000))
        return self.write("big.rec", one * 600)

    def run_on_pty(self, *args, columns=80, stream="stderr"):
        """Runs with `stream` on a pseudo-terminal of `columns` columns and the
        other one into a pipe; returns the status, the pipe's bytes and what
        the terminal showed."""
        import fcntl
        import pty
        import termios
        main, secondary = pty.openpty()
        fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        streams = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, stream: secondary}
        proc = subprocess.Popen(OPTIONS.runner + [OPTIONS.exe] + list(args), cwd=self.dir,
                                **streams)
        os.close(secondary)  # the child holds it; its end is the terminal's end
        seen = b""
        while True:
            try:
                chunk = os.read(main, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        os.close(main)
        piped = (proc.stderr if stream == "stdout" else proc.stdout).read()
        proc.wait(timeout=600)
        proc.stdout and proc.stdout.close()
        proc.stderr and proc.stderr.close()
        return status_of(proc.returncode), piped, seen

    def test_progress_on_a_terminal_only(self):
        if OPTIONS.runner:
            self.skipTest("the terminal is the host's under a runner")
        self.big_input()
        status, out, seen = self.run_on_pty("--tsv", "-n", "3", "big.rec")
        self.assertEqual(status, 0)
        self.assertIn(b"litrank: reading big.rec: ", seen)
        self.assertIn(b"MiB (", seen)
        self.assertTrue(seen.endswith(b"\r"), "the line is cleared at the end")
        self.assertEqual(out.count(b"\n"), 4)
        status, out, seen = self.run_on_pty("--quiet", "--tsv", "big.rec")
        self.assertEqual((status, seen), (0, b""))
        self.write("small.rec", EXAMPLE)
        status, out, seen = self.run_on_pty("--tsv", "small.rec")
        self.assertEqual((status, seen), (0, b""), "a small input is read at once")
        run = self.run_rank("--tsv", "big.rec")
        self.assertEqual((run.status, run.stderr), (0, b""), "no progress into a pipe")

    def test_message_after_progress_starts_a_clean_line(self):
        if OPTIONS.runner:
            self.skipTest("the terminal is the host's under a runner")
        data = self.read(self.big_input())
        self.write("bad.rec", data + b"\x01\x02")
        status, out, seen = self.run_on_pty("bad.rec")
        self.assertEqual(status, 255)
        message = b"Record at offset %d of bad.rec file is cut short.\n" % len(data)
        self.assertTrue(seen.endswith(b"\r" + message.replace(b"\n", b"\r\n")), seen[-200:])
        self.assertIn(b"litrank: reading", seen)


    def test_table_fits_the_terminal(self):
        if OPTIONS.runner:
            self.skipTest("the terminal is the host's under a runner")
        self.write("in.rec", EXAMPLE)
        for columns in (72, 120):
            with self.subTest(columns=columns):
                status, errors, seen = self.run_on_pty("in.rec", columns=columns,
                                                       stream="stdout")
                self.assertEqual((status, errors), (0, b""))
                lines = seen.decode().split("\r\n")  # the terminal turns LF into CR LF
                self.assertEqual(len(lines), 3 + 2 * 3 + 1)
                self.assertTrue(all(len(line) <= columns for line in lines), lines)
                cut = [line for line in lines if "..." in line]
                self.assertEqual(bool(cut), columns == 72, lines)


# A workload with known durations (milliseconds), sources, users and
# databases, written here as litpack would write its metadata file.
# Groups by first appearance: 1 = orders lookup (6 records of 1 ms), 2 =
# report (2 records: 100 and 300 ms), 3 = stock update (3 records: 10, 20,
# 30 ms), 4 = IN list of two, 5 = IN list of three, 6 = the same with a
# query tag. By size: 1, 3, 2; by time: 2, 3, 1; by mean: 2, 3, 1 and the
# single-record groups by their one duration.
COST = [
    (1, "select * from orders where id = 1", "1", "app.log", "web", "shop"),
    (2, "select * from report where day = '01-JAN-2026'", "100", "batch.log", "batch", "dw"),
    (3, "select * from orders where id = 2", "1.000", "app.log", "web", "shop"),
    (4, "update stock set qty = 5 where id = 7", "10", "app.log", "web", "shop"),
    (5, "SELECT * FROM orders WHERE id = 3", "1", "app.log", "web", "shop"),
    (6, "update stock set qty = 6 where id = 8", "20.0004", "app.log", "web", "shop"),
    (7, "select * from report where day = '02-JAN-2026'", "300", "batch.log", "batch", "dw"),
    (8, "select * from orders where id = 4", "1", "app.log", "web", "shop"),
    (9, "update stock set qty = 7 where id = 9", "29.9995", "app.log", "web", "shop"),
    (10, "select * from orders where id = 5", "1", "app.log", "web", "shop"),
    (11, "select * from orders where id = 6", "1", "app.log", "web", "shop"),
    (12, "delete from cart where id in (1, 2)", "4", "app.log", "web", "shop"),
    (13, "delete from cart where id in (1, 2, 3)", "5", "app.log", "web", "shop"),
    (14, "delete from cart where id in (7, 8, 9) \\* app=web *\\", "", "app.log", "web", "shop"),
]
META_HEADER = "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"


def meta_lines(rows, header=META_HEADER):
    return (header + "".join("%d\t%s\t%d\t%s\t%s\t%s\t2026-12-01 10:00:%02d\n"
                             % (rid, source, 10 * rid, duration, user, db, rid % 60)
                             for rid, _, duration, source, user, db in rows)).encode()


class CostTest(LitrankCase):
    def setUp(self):
        super().setUp()
        self.write("in.rec", b"".join(rec(r[0], r[1]) for r in COST))
        self.write("in.tsv", meta_lines(COST))

    def rows_by_group(self, *args):
        run = self.run_rank("--tsv", "-n", "0", *args, "in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))
        lines = run.stdout.split(b"\n")
        header = lines[0].split(b"\t")
        return header, [dict(zip(header, line.split(b"\t"))) for line in lines[1:-1]]

    def test_ranking_by_time_differs_from_ranking_by_size(self):
        cases = [
            ((), [b"2", b"3", b"1", b"5", b"4", b"6"]),  # time, the default with durations
            (("--by", "time"), [b"2", b"3", b"1", b"5", b"4", b"6"]),
            (("--by", "mean"), [b"2", b"3", b"5", b"4", b"1", b"6"]),
            (("--by", "size"), [b"1", b"3", b"2", b"4", b"5", b"6"]),
        ]
        for args, groups in cases:
            with self.subTest(args=args):
                header, rows = self.rows_by_group("--meta", "in.tsv", *args)
                self.assertEqual([r[b"group"] for r in rows], groups)

    def test_cost_columns(self):
        header, rows = self.rows_by_group("--meta", "in.tsv")
        self.assertEqual(header, b"rank group size share bytes first_id total_ms mean_ms p50_ms "
                                 b"p95_ms max_ms source line normalised_text statement".split())
        by_group = {r[b"group"]: r for r in rows}
        report = by_group[b"2"]
        self.assertEqual([report[k] for k in (b"size", b"total_ms", b"mean_ms", b"p50_ms",
                                              b"p95_ms", b"max_ms", b"source", b"line")],
                         [b"2", b"400.000", b"200.000", b"100.000", b"300.000", b"300.000",
                          b"batch.log", b"20"])
        # 10, 20.0004 and 29.9995 ms: microseconds, rounded half up.
        stock = by_group[b"3"]
        self.assertEqual([stock[k] for k in (b"total_ms", b"mean_ms", b"p50_ms", b"p95_ms",
                                             b"max_ms")],
                         [b"60.000", b"20.000", b"20.000", b"30.000", b"30.000"])
        self.assertEqual(by_group[b"1"][b"total_ms"], b"6.000")
        # A group without any duration has empty cost fields.
        self.assertEqual([by_group[b"6"][k] for k in (b"total_ms", b"mean_ms", b"p95_ms")],
                         [b"", b"", b""])
        # The table says the same, with "-" for a missing cost.
        run = self.run_rank("--meta", "in.tsv", "--width", "0", "in.rec")
        lines = run.stdout.decode().split("\n")
        self.assertIn("in.rec: 14 records in 6 groups", lines[0])
        self.assertIn("475.000 ms in 13 timed records; all groups by total time", lines[0])
        self.assertEqual(lines[2].split()[:12], ["rank", "group", "size", "share", "bytes",
                                                 "first", "id", "total", "ms", "mean", "ms",
                                                 "p50"])
        self.assertEqual(lines[3].split()[6:11], ["400.000", "200.000", "100.000", "300.000",
                                                  "300.000"])
        self.assertTrue(lines[4].strip().startswith("batch.log:20: select * from report"))

    def test_json_field_by_field(self):
        for target in ("-", "out.json"):
            with self.subTest(target=target):
                run = self.run_rank("--meta", "in.tsv", "--json", target, "-n", "2", "in.rec")
                self.assertEqual((run.status, run.stderr), (0, b""))
                data = json.loads(run.stdout if target == "-" else self.read(target))
                if target != "-":
                    self.assertTrue(run.stdout.startswith(b"in.rec: 14 records"))
                self.assertEqual(
                    {k: v for k, v in data.items() if k != "groups"},
                    {"input": "in.rec", "ranked_by": "time", "folding": [], "records": 14,
                     "records_read": 14, "groups_total": 6, "timed_records": 13,
                     "total_ms": 475.0})
                self.assertEqual(len(data["groups"]), 2)
                self.assertEqual(data["groups"][0], {
                    "rank": 1, "group": 2, "size": 2, "share": 14.29,
                    "bytes": len(COST[1][1]) + len(COST[6][1]), "first_id": 2,
                    "normalised_text": "SELECT * FROM REPORT WHERE DAY = :D",
                    "normalised_text_bytes": 35,
                    "first_statement": COST[1][1], "first_statement_bytes": len(COST[1][1]),
                    "source": "batch.log", "line": 20, "total_ms": 400.0, "mean_ms": 200.0,
                    "p50_ms": 100.0, "p95_ms": 300.0, "max_ms": 300.0})
        # Without metadata: by size, and null costs and sources.
        data = json.loads(self.run_rank("--json", "-", "-n", "1", "in.rec").stdout)
        self.assertEqual(data["ranked_by"], "size")
        self.assertEqual(data["total_ms"], None)
        first = data["groups"][0]
        self.assertEqual((first["group"], first["size"], first["share"]), (1, 6, 42.86))
        for key in ("source", "line", "total_ms", "mean_ms", "p50_ms", "p95_ms", "max_ms"):
            self.assertIsNone(first[key], key)

    def test_json_texts_any_bytes(self):
        self.write("odd.rec", rec(1, b"select 'caf\xe9 \xe2\x82\xac \"q\" \\ \x01' from t"))
        run = self.run_rank("--json", "-", "odd.rec")
        self.assertIn(b"caf\\u00E9 \xe2\x82\xac \\\"q\\\" \\\\ \\u0001", run.stdout)
        first = json.loads(run.stdout)["groups"][0]
        self.assertEqual(first["first_statement"], "select 'caf\u00e9 \u20ac \"q\" \\ \x01' from t")

    def test_metadata_texts_are_unescaped(self):
        rows = [(1, "select 1", "2", "dir\\twith tab\\\\x.log", "u\\tv\\u{0085}", "d\\tb")]
        self.write("one.rec", rec(1, "select 1"))
        self.write("one.tsv", meta_lines(rows))
        data = json.loads(self.run_rank("--meta", "one.tsv", "--json", "-", "one.rec").stdout)
        self.assertEqual(data["groups"][0]["source"], "dir\twith tab\\x.log")
        tsv = self.run_rank("--meta", "one.tsv", "--tsv", "one.rec").stdout
        self.assertIn(b"\tdir\\twith tab\\\\x.log\t10\t", tsv)
        # The database is d, a tab, b; the user u, a tab, v and U+0085.
        run = self.run_rank("--meta", "one.tsv", "--database", "d\tb", "--tsv", "one.rec")
        self.assertEqual(run.stdout.count(b"\n"), 2, "the unescaped database matches")
        run = self.run_rank("--meta", "one.tsv", "--user", "u\tv", "--tsv", "one.rec")
        self.assertEqual(run.stdout.count(b"\n"), 1, "no group: the header only")
        if not OPTIONS.runner:  # Windows' command line has no room for U+0085
            run = self.run_rank("--meta", "one.tsv", "--user", "u\tv\u0085", "--tsv", "one.rec")
            self.assertEqual(run.stdout.count(b"\n"), 2, "the unescaped user matches")

    def test_metadata_that_does_not_belong(self):
        good = meta_lines(COST).split(b"\n")
        cases = [
            ("an id out of step", b"\n".join(good[:3] + [good[4], good[3]] + good[5:]),
             b"Metadata m.tsv does not belong to in.rec: line 4 is for record 4 but the "
             b"record there is 3.\n"),
            ("a line missing", b"\n".join(good[:-2]) + b"\n",
             b"Metadata m.tsv does not belong to in.rec: it ends after line 14 but record 14 "
             b"follows.\n"),
            ("a line too many", meta_lines(COST) + b"15\tx\t1\t\t\t\t\n",
             b"Metadata m.tsv does not belong to in.rec: line 16 is for record \"15\" but "
             b"in.rec has no more records.\n"),
            ("another header", b"id\tsource\tline\n" + b"\n".join(good[1:]),
             b"Metadata m.tsv: line 1 should begin with the header \"id\\x09source\\x09line\\x09"
             b"duration_ms\\x09user\\x09database\\x09time\" but is \"id\\x09source\\x09line\".\n"),
            ("a bad duration", meta_lines([(1,) + COST[0][1:2] + ("1,5",) + COST[0][3:]]
                                          + COST[1:]),
             b"Metadata m.tsv: line 2: duration_ms is not a number of milliseconds: "
             b"\"1,5\".\n"),
            ("a bad escape", meta_lines([(1,) + COST[0][1:3] + ("a\\qb",) + COST[0][4:]]
                                        + COST[1:]),
             b"Metadata m.tsv: line 2 has a bad escape in \"a\\qb\".\n"),
            ("empty", b"", b"Metadata m.tsv: line 1 should begin with the header \"id\\x09source"
                           b"\\x09line\\x09duration_ms\\x09user\\x09database\\x09time\" but the "
                           b"file is empty.\n"),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                self.write("m.tsv", data)
                run = self.run_rank("--meta", "m.tsv", "--html", "page.html", "in.rec")
                self.assertEqual((run.status, run.stderr), (255, message))
                self.assertEqual(run.stdout, b"")
                self.assertFalse(os.path.exists(self.path("page.html")))
        # Further columns, and CR LF line ends, are accepted.
        wider = b"".join(line.rstrip(b"\n") + b"\textra\r\n"
                         for line in meta_lines(COST).splitlines(True))
        self.write("m.tsv", wider)
        run = self.run_rank("--meta", "m.tsv", "--tsv", "in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))

    def test_filters(self):
        cases = [
            (("--match", "from orders"), [b"1"]),  # letters of either case
            (("--match", "ORDERS", "--match", "^UPDATE"), [b"1", b"3"]),
            (("--exclude", "ORDERS|STOCK|CART"), [b"2"]),
            (("--match", "IN \\( (:N , )*:N \\)$"), [b"4", b"5"]),
            (("--meta", "in.tsv", "--source", "batch*"), [b"2"]),
            (("--meta", "in.tsv", "--source", "*.log", "--user", "web", "--by", "size"),
             [b"1", b"3", b"4", b"5", b"6"]),
            (("--meta", "in.tsv", "--database", "dw", "--database", "none"), [b"2"]),
            (("--meta", "in.tsv", "--user", "nobody"), []),
        ]
        for args, groups in cases:
            with self.subTest(args=args):
                header, rows = self.rows_by_group(*args)
                self.assertEqual([r[b"group"] for r in rows], groups)
        # Counts are of the records the filters keep.
        header, rows = self.rows_by_group("--meta", "in.tsv", "--user", "web", "--by", "size")
        self.assertEqual(rows[0][b"share"], b"50.00")  # 6 of the 12 records of user web
        summary = self.run_rank("--meta", "in.tsv", "--user", "web", "in.rec").stdout
        self.assertIn(b"filters keep 12 of 14 records", summary)

    def test_bad_filters(self):
        cases = [
            (("--match", "a(b"), b"litrank: --match a(b: a ( is not closed\n"),
            (("--exclude", "x{3,1}"), b"litrank: --exclude x{3,1}: a {m,n} repetition"),
            (("--user", "web"), b"litrank: --source, --user and --database need --meta\n"),
            (("--by", "mean"), b"litrank: durations come from a metadata file"),
            (("--diff-meta", "in.tsv"), b"litrank: --diff-meta needs --diff\n"),
            (("--fold-lists", "--", "in.rec", "r.txt"),
             b"litrank: a REPORT cannot be checked with "),
            (("--json", "-", "--tsv"), b"litrank: --tsv and --json - both write standard output"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                run = self.run_rank(*args) if "r.txt" in args else self.run_rank(*args, "in.rec")
                self.assertEqual(run.status, 1)
                self.assertTrue(run.stderr.startswith(message), run.stderr)
                self.assertIn(b"usage: litrank", run.stderr)

    def test_folding(self):
        header, rows = self.rows_by_group("--fold-lists")
        self.assertEqual(header[-2], b"folded_normalised_text")
        texts = {r[b"folded_normalised_text"]: r[b"size"] for r in rows}
        self.assertEqual(texts[b"DELETE FROM CART WHERE ID IN ( :N , ... )"], b"2")
        self.assertEqual(texts[b"DELETE FROM CART WHERE ID IN ( :N , ... ) \\\\* APP=WEB * \\\\"],
                         b"1")
        header, rows = self.rows_by_group("--fold-lists", "--drop-comments")
        texts = {r[b"folded_normalised_text"]: r[b"size"] for r in rows}
        self.assertEqual(texts[b"DELETE FROM CART WHERE ID IN ( :N , ... )"], b"3")
        self.assertEqual(len(rows), 4)
        header, rows = self.rows_by_group("--drop-comments")
        texts = {r[b"folded_normalised_text"]: r[b"size"] for r in rows}
        self.assertEqual(len(rows), 5, "the tagged list joins its untagged twin")
        self.assertEqual(texts[b"DELETE FROM CART WHERE ID IN ( :N , :N , :N )"], b"2")
        self.assertEqual(texts[b"DELETE FROM CART WHERE ID IN ( :N , :N )"], b"1")
        summary = self.run_rank("--drop-comments", "--fold-lists", "in.rec").stdout
        self.assertIn(b"; lists folded and comments dropped (groups differ from litsieve's)",
                      summary)
        data = json.loads(self.run_rank("--fold-lists", "--json", "-", "in.rec").stdout)
        self.assertEqual(data["folding"], ["lists"])
        self.run_rank("--fold-lists", "--html", "page.html", "in.rec")
        self.assertIn(b"lists folded (groups differ from litsieve&#39;s)", self.read("page.html"))

    def test_diff_has_groups_in_every_section(self):
        # Before: orders 2 records (grew to 6), stock 5 (shrank to 3), a
        # group only before (gone); the report group is only after (new).
        before = [
            (1, "select * from orders where id = 10", "50", "old.log", "web", "shop"),
            (2, "update stock set qty = 1 where id = 1", "1", "old.log", "web", "shop"),
            (3, "update stock set qty = 2 where id = 1", "1", "old.log", "web", "shop"),
            (4, "select * from orders where id = 11", "50", "old.log", "web", "shop"),
            (5, "update stock set qty = 3 where id = 1", "1", "old.log", "web", "shop"),
            (6, "update stock set qty = 4 where id = 1", "1", "old.log", "web", "shop"),
            (7, "update stock set qty = 5 where id = 1", "1", "old.log", "web", "shop"),
            (8, "select legacy from archive", "7", "old.log", "web", "shop"),
            (9, "delete from cart where id in (1, 2)", "4", "old.log", "web", "shop"),
        ]
        self.write("before.rec", b"".join(rec(r[0], r[1]) for r in before))
        self.write("before.tsv", meta_lines(before))
        run = self.run_rank("--diff", "before.rec", "--by", "size", "--tsv", "in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))
        lines = run.stdout.split(b"\n")
        header = lines[0].split(b"\t")
        self.assertEqual(header[:9], b"section rank group size_before size size_change "
                                     b"share_before share share_change".split())
        rows = [dict(zip(header, line.split(b"\t"))) for line in lines[1:-1]]
        got = [(r[b"section"], r[b"group"], r[b"size_before"], r[b"size"], r[b"size_change"])
               for r in rows]
        self.assertEqual(got, [
            (b"new", b"2", b"0", b"2", b"+2"), (b"new", b"5", b"0", b"1", b"+1"),
            (b"new", b"6", b"0", b"1", b"+1"),
            (b"gone", b"", b"1", b"0", b"-1"),
            (b"grew", b"1", b"2", b"6", b"+4"),
            (b"shrank", b"3", b"5", b"3", b"-2"),
        ])
        self.assertEqual(rows[3][b"normalised_text"], b"SELECT LEGACY FROM ARCHIVE")
        # By time, with both metadata files: orders 100 -> 6 ms shrank,
        # stock 5 -> 60 ms grew.
        run = self.run_rank("--diff", "before.rec", "--meta", "in.tsv", "--diff-meta",
                            "before.tsv", "--json", "-", "in.rec")
        data = json.loads(run.stdout)
        self.assertEqual((data["ranked_by"], data["records"], data["records_before"]),
                         ("time", 14, 9))
        sections = {k: [(g["group"], g["total_ms_before"], g["total_ms"], g["total_ms_change"])
                        for g in v["groups"]] for k, v in data["sections"].items()}
        self.assertEqual(sections["grew"], [(3, 5.0, 60.0, 55.0)])
        self.assertEqual(sections["shrank"], [(1, 100.0, 6.0, -94.0)])
        self.assertEqual(sections["gone"], [(None, 7.0, 0.0, -7.0)])
        self.assertEqual([g[0] for g in sections["new"]], [2, 5, 6])
        self.assertEqual(data["unchanged"], 1)
        # The table and the page show the same sections.
        table = self.run_rank("--diff", "before.rec", "--by", "size", "in.rec").stdout
        for heading in (b"\nnew: 3 groups\n", b"\ngone: 1 group\n", b"\ngrew: 1 group\n",
                        b"\nshrank: 1 group\n"):
            self.assertIn(heading, table)
        self.run_rank("--diff", "before.rec", "--by", "size", "--html", "diff.html", "in.rec")
        page = self.read("diff.html")
        self.assertEqual(page.count(b'<rect class="before"'), 6)
        self.assertEqual(page.count(b'<td class="sec">'), 6)


FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packer", "fixtures")


class LitpackMetadataTest(LitrankCase):
    """litpack's own metadata files, from the server logs of its fixtures,
    read by litrank: every duration counted, every source named."""

    def test_server_logs(self):
        for log in ("mysql8-slow.log", "postgres-statement-duration.log", "postgres-csvlog.csv"):
            with self.subTest(log):
                shutil.copy(os.path.join(FIXTURES, log), self.path(log))
                cmd = OPTIONS.runner + [OPTIONS.litpack, "--meta", "m.tsv", "-o", "in.rec", log]
                packed = subprocess.run(cmd, cwd=self.dir, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, timeout=600)
                self.assertEqual(packed.returncode, 0, packed.stderr)
                lines = self.read("m.tsv").decode().split("\n")[1:-1]
                durations = [line.split("\t")[3] for line in lines]
                timed = [float(d) for d in durations if d]
                self.assertGreater(len(timed), 0)
                run = self.run_rank("--meta", "m.tsv", "--json", "-", "-n", "0", "in.rec")
                self.assertEqual((run.status, run.stderr), (0, b""))
                data = json.loads(run.stdout)
                self.assertEqual(data["ranked_by"], "time")
                self.assertEqual(data["records"], len(lines))
                self.assertEqual(data["timed_records"], len(timed))
                self.assertAlmostEqual(data["total_ms"], sum(timed), places=3)
                self.assertAlmostEqual(sum(g["total_ms"] or 0 for g in data["groups"]),
                                       sum(timed), places=3)
                self.assertEqual({g["source"] for g in data["groups"]}, {log})


class TerminalTextTest(LitrankCase):
    def test_short_options_and_width_zero(self):
        self.write("in.rec", EXAMPLE)
        rows = self.tsv_rows(self.run_rank("--tsv", "-n2", "in.rec"))
        self.assertEqual(len(rows), 2)
        run = self.run_rank("-q", "-n1", "--width", "0", "in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))
        self.assertIn(b"top 1 by size", run.stdout)

    def test_cuts_keep_the_end_that_tells_texts_apart(self):
        long_list = ", ".join("'v%d'" % i for i in range(30))
        self.write("in.rec", rec(1, "select * from t where c in (%s)" % long_list) +
                   rec(2, "select * from t where c in (%s, 'x')" % long_list))
        run = self.run_rank("--width", "90", "in.rec")
        lines = run.stdout.decode().split("\n")
        texts = [line for line in lines if "SELECT" in line]
        self.assertEqual(len(texts), 2)
        self.assertNotEqual(texts[0], texts[1])
        for line in texts:
            self.assertLessEqual(len(line), 90)
            self.assertRegex(line, r"\.\.\.\(\d+ bytes\)\.\.\..*:S \)$")

    def test_wide_characters_take_two_columns(self):
        self.write("in.rec", rec(1, ("select '%s' from t" % ("\u6f22\u5b57" * 40)).encode()))
        run = self.run_rank("--width", "80", "in.rec")
        for line in run.stdout.decode().split("\n"):
            width = sum(2 if "\u4e00" <= c <= "\u9fff" else 1 for c in line)
            self.assertLessEqual(width, 80, line)

    def test_page_stays_small_for_any_input(self):
        # 2,500 groups of statements made of control bytes, each of which a
        # page marks as an escape: the page still stays under 5 MB.
        body = " ".join("\x01" for _ in range(1500))
        self.write("in.rec", b"".join(rec(i, "select c%d %s" % (i, body)) for i in range(2500)))
        run = self.run_rank("-q", "-n", "0", "--html", "page.html", "in.rec")
        self.assertEqual((run.status, run.stderr), (0, b""))
        self.assertLess(os.path.getsize(self.path("page.html")), 5 * 1024 * 1024)
        page = self.read("page.html")
        self.assertEqual(page.count(b'<tr id="g'), 2000)
        self.assertIn(b"The table lists 2000 of the 2500 groups", page)


class ThreadsTest(LitrankCase):
    """Inputs past the size below which the statement pipeline stays on one
    thread: whatever the thread count, litrank reads the same records in the
    same order, with their metadata, and meets the same first failure."""

    RECORDS = 80000

    def setUp(self):
        super().setUp()
        rng = random.Random(16)
        tables = ["orders", "stock", "cart", "report", "customers", "ledger"]

        def statement(i):
            table = rng.choice(tables)
            kind = rng.randrange(4)
            if kind == 0:
                return "select * from %s where id = %d and note = 'n%d'" % (table, i, i % 97)
            if kind == 1:
                ids = ", ".join(str(rng.randrange(1000)) for _ in range(rng.randrange(1, 6)))
                return "delete from %s where id in (%s)" % (table, ids)
            if kind == 2:  # a shape of its own for about a quarter of the records
                return "select c%d, c%d from %s_%d where x > %d" % (
                    rng.randrange(50), rng.randrange(50), table, rng.randrange(40), i)
            return "update %s set qty = %d where id = %d /* job %d */" % (table, i, i, i % 7)

        def rows(first, count):
            return [(rid, statement(rid), "%d.%03d" % (rng.randrange(500), rng.randrange(1000)),
                     "app%d.log" % (rid % 3), "web" if rid % 2 else "batch", "shop")
                    for rid in range(first, first + count)]

        self.after = rows(1, self.RECORDS)
        self.before = rows(1, self.RECORDS // 2)
        for name, table in (("in", self.after), ("before", self.before)):
            self.write(name + ".rec", b"".join(rec(r[0], r[1]) for r in table))
            self.write(name + ".tsv", meta_lines(table))
        self.assertGreater(os.path.getsize(self.path("in.rec")), 4 << 20)

    def run_threads(self, threads, *args):
        env = dict(os.environ, LIT_THREADS=str(threads))
        cmd = OPTIONS.runner + [OPTIONS.exe] + list(args)
        return Run(subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  cwd=self.dir, env=env, timeout=600))

    def assert_same_on_every_thread_count(self, *args, status=0):
        first = self.run_threads(1, *args)
        self.assertEqual(first.status, status, first.stderr)
        for threads in (2, 3):
            with self.subTest(args=args, threads=threads):
                run = self.run_threads(threads, *args)
                self.assertEqual((run.status, run.stderr, run.stdout),
                                 (first.status, first.stderr, first.stdout))
        return first

    def test_outputs_do_not_depend_on_threads(self):
        self.assertEqual(self.run_sieve("in.rec", "report.tsv").status, 0)
        cases = [
            ("--json", "-", "-n", "0", "--meta", "in.tsv", "--diff", "before.rec",
             "--diff-meta", "before.tsv", "in.rec"),
            ("--tsv", "-n", "0", "--fold-lists", "--drop-comments", "--user", "web",
             "--meta", "in.tsv", "in.rec"),
            ("--tsv", "-n", "50", "in.rec", "report.tsv"),
        ]
        for args in cases:
            run = self.assert_same_on_every_thread_count(*args)
            self.assertGreater(len(run.stdout), 1000)
        report = json.loads(self.run_threads(2, "--json", "-", "-n", "0", "--meta", "in.tsv",
                                             "in.rec").stdout)
        self.assertEqual(sum(g["size"] for g in report["groups"]), self.RECORDS)

    def test_first_failure_is_the_same(self):
        # Metadata out of step near the end, then an empty statement.
        lines = meta_lines(self.after).split(b"\n")
        late = self.RECORDS - 100
        lines[late], lines[late + 1] = lines[late + 1], lines[late]
        self.write("bad.tsv", b"\n".join(lines))
        run = self.assert_same_on_every_thread_count("--meta", "bad.tsv", "--tsv", "in.rec",
                                                     status=255)
        self.assertIn(b"does not belong to in.rec", run.stderr)
        self.write("bad.rec", self.read("in.rec") + rec(self.RECORDS + 1, ""))
        run = self.assert_same_on_every_thread_count("--tsv", "bad.rec", status=255)
        self.assertEqual(run.stderr, b"syntax error")


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["exe", "litsieve", "litpack"])
    run_tests(rest)


if __name__ == "__main__":
    main()
