#!/usr/bin/env python3
"""End-to-end tests of the litrank program.

Runs the built binary (optionally through a runner such as Wine) on record
files written here and checks standard output, standard error, exit status,
the checking of a litsieve report and the progress line on a terminal.
"""
import os
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
                                   b"normalized_text\tstatement")
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
        self.assertIn(b"0 records, 0 groups", self.read("page.html"))


class ReportCheckTest(LitrankCase):
    def test_litsieve_reports_are_accepted(self):
        self.write("in.rec", EXAMPLE)
        self.run_sieve("in.rec", "shared.txt")
        self.run_sieve("-full", "in.rec", "full.txt")
        with open(self.path("stdout.txt"), "wb") as f:  # banner and report
            f.write(self.run_sieve("in.rec").stdout)
        for report in ("shared.txt", "full.txt", "stdout.txt"):
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
                cut = [line for line in lines if line.endswith("...")]
                self.assertEqual(bool(cut), columns == 72, lines)


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["exe", "litsieve"])
    run_tests(rest)


if __name__ == "__main__":
    main()
