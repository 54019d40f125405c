#!/usr/bin/env python3
"""End-to-end tests of the litsieve and litpack programs.

Runs the built binaries (optionally through a runner such as Wine) on record
files written here and checks standard output, standard error, exit status and
the report bytes.
"""
import os
import stat
import struct
import subprocess
import unittest

from e2e_support import Run, ScratchCase, parse_options, rec, run_tests

BANNER_FIRST_LINE = b"Literal Sieve version 1.2\n"
OPTIONS = None  # set by main()


class LitsieveCase(ScratchCase):
    PREFIX = "litsieve-e2e-"

    def run_sieve(self, *args, stdout=subprocess.PIPE):
        cmd = OPTIONS.runner + [OPTIONS.exe] + list(args)
        proc = subprocess.run(cmd, stdout=stdout, stderr=subprocess.PIPE, cwd=self.dir,
                              timeout=600)
        return Run(proc)

    def assertBanner(self, run):
        self.assertTrue(run.stdout.startswith(BANNER_FIRST_LINE), run.stdout[:80])
        lines = run.stdout.split(b"\n")
        self.assertGreaterEqual(len(lines), 4)
        self.assertEqual(lines[2], b"", "the banner ends with an empty line")
        self.assertNotEqual(lines[1], b"", "second banner line is the copyright line")

    def report_on_stdout(self, run):
        """The report bytes after the three banner lines."""
        self.assertBanner(run)
        head = run.stdout.index(b"\n\n") + 2
        return run.stdout[head:]


EXAMPLE = (rec(5, "select * from t where a = 1") + rec(7, "select * from u") +
           rec(9, "SELECT *  FROM T\nWHERE A = 42") + rec(12, "select * from t where a='x'"))
# Record 12 has a string literal: it differs from 5 and 9.
EXAMPLE_SAME = (rec(5, "select * from t where a = 1") + rec(7, "select * from u") +
                rec(9, "SELECT *  FROM T\nWHERE A = 42") + rec(12, "select * from t where a=3"))


class CommandLineTest(LitsieveCase):
    def test_no_argument(self):
        run = self.run_sieve()
        self.assertEqual(run.status, 1)
        self.assertEqual(run.stderr, b"Error. Missing command line parameters.\n")
        self.assertTrue(run.stdout.startswith(BANNER_FIRST_LINE))
        self.assertTrue(run.stdout.endswith(b"\n\n"))
        self.assertEqual(run.stdout.count(b"\n"), 3)

    def test_full_alone_names_null(self):
        run = self.run_sieve("-full")
        self.assertEqual(run.status, 255)
        self.assertEqual(run.stderr, b"Can't open (null) file.\n")
        self.assertTrue(run.stdout.startswith(BANNER_FIRST_LINE))

    def test_missing_input(self):
        run = self.run_sieve("nosuch.rec", "out.txt")
        self.assertEqual(run.status, 255)
        self.assertEqual(run.stderr, b"Can't open nosuch.rec file.\n")
        self.assertFalse(os.path.exists(self.path("out.txt")))

    def test_directory_as_input(self):
        os.mkdir(self.path("adir"))
        run = self.run_sieve("adir", "out.txt")
        self.assertEqual(run.status, 255)
        self.assertIn(run.stderr, (b"Can't open adir file.\n",
                                   b"Can't read adir file at offset 0.\n"))
        self.assertFalse(os.path.exists(self.path("out.txt")))


class ReportTest(LitsieveCase):
    def test_example_with_and_without_full(self):
        self.write("in.rec", EXAMPLE_SAME)
        cases = [
            ((), b"5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n"),
            (("-full",), b"5\t1\t3\t5\r\n7\t2\t1\t7\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n"),
        ]
        for flags, expected in cases:
            with self.subTest(flags=flags, to="file"):
                run = self.run_sieve(*flags, "in.rec", "out.txt")
                self.assertEqual((run.status, run.stderr), (0, b""))
                self.assertBanner(run)
                self.assertEqual(self.read("out.txt"), expected)
            with self.subTest(flags=flags, to="stdout"):
                run = self.run_sieve(*flags, "in.rec")
                self.assertEqual((run.status, run.stderr), (0, b""))
                self.assertEqual(self.report_on_stdout(run), expected)

    def test_literal_kinds_make_different_groups(self):
        self.write("in.rec", EXAMPLE)
        run = self.run_sieve("-full", "in.rec", "out.txt")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("out.txt"),
                         b"5\t1\t2\t5\r\n7\t2\t1\t7\r\n9\t1\t2\t5\r\n12\t3\t1\t12\r\n")

    def test_empty_input_gives_empty_report(self):
        self.write("in.rec", b"")
        run = self.run_sieve("in.rec", "out.txt")
        self.assertEqual((run.status, run.stderr), (0, b""))
        self.assertEqual(self.read("out.txt"), b"")
        run = self.run_sieve("-full", "in.rec")
        self.assertEqual(self.report_on_stdout(run), b"")

    def test_negative_ids_and_gaps_in_group_numbers(self):
        self.write("in.rec", rec(-3, "a") + rec(0, "b") + rec(-2147483648, "c 1") +
                   rec(2147483647, "C 22") + rec(-3, "A"))
        run = self.run_sieve("in.rec", "out.txt")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("out.txt"),
                         b"-3\t1\t2\t-3\r\n-2147483648\t3\t2\t-2147483648\r\n"
                         b"2147483647\t3\t2\t-2147483648\r\n-3\t1\t2\t-3\r\n")

    def test_full_in_second_place_is_the_report_name(self):
        self.write("in.rec", EXAMPLE_SAME)
        run = self.run_sieve("in.rec", "-full")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("-full"), b"5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n")

    def test_further_arguments_are_ignored(self):
        self.write("in.rec", EXAMPLE_SAME)
        run = self.run_sieve("in.rec", "out.txt", "extra", "-full")
        self.assertEqual(run.status, 0)
        self.assertFalse(os.path.exists(self.path("extra")))
        self.assertEqual(self.read("out.txt").count(b"\r\n"), 3)

    def test_existing_report_is_truncated(self):
        self.write("in.rec", EXAMPLE_SAME)
        self.write("out.txt", b"x" * 10000)
        run = self.run_sieve("in.rec", "out.txt")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("out.txt"), b"5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n")

    @unittest.skipIf(os.name != "posix", "POSIX permissions")
    def test_new_report_is_private(self):
        if OPTIONS.runner:
            self.skipTest("file modes are the host's under a runner")
        self.write("in.rec", EXAMPLE_SAME)
        old = os.umask(0)
        try:
            self.run_sieve("in.rec", "out.txt")
        finally:
            os.umask(old)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("out.txt")).st_mode), 0o600)

    def test_input_named_as_report_is_read_before_it_is_replaced(self):
        self.write("in.rec", EXAMPLE_SAME)
        run = self.run_sieve("in.rec", "in.rec")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("in.rec"), b"5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n")

    def test_nul_and_high_bytes(self):
        self.write("in.rec", rec(1, b"select 'a' from t\x00garbage") +
                   rec(2, b"SELECT 'b' FROM T\x00other") + rec(3, b"\xff\xe9 caf\xe9") +
                   rec(4, b"\xff\xe9 CAF\xe9"))
        run = self.run_sieve("in.rec", "out.txt")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("out.txt"),
                         b"1\t1\t2\t1\r\n2\t1\t2\t1\r\n3\t2\t2\t3\r\n4\t2\t2\t3\r\n")


class FailureTest(LitsieveCase):
    """Every failure: one message, its status, and no report."""

    def expect_failure(self, data, status, message, report="out.txt"):
        self.write("in.rec", data)
        run = self.run_sieve("-full", "in.rec", report)
        self.assertEqual(run.stderr, message)
        self.assertEqual(run.status, status)
        self.assertBanner(run)
        if report == "out.txt":
            self.assertFalse(os.path.exists(self.path(report)), "no report after a failure")

    def test_statements_that_cannot_be_parsed(self):
        good = rec(1, "select 1")
        cases = [
            ("empty text", good + rec(2, "") + good, b"syntax error"),
            ("white space only", good + rec(2, " \t\r\n") + good, b"syntax error"),
            ("leading NUL", good + rec(2, b"\x00select"), b"syntax error"),
            ("5000 tokens", good + rec(2, "x " * 5000), b"yacc stack overflow"),
            ("5000 literals", rec(2, "'a' 1 " * 2500), b"yacc stack overflow"),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                self.expect_failure(data, 255, message)

    def test_4999_tokens_are_accepted(self):
        self.write("in.rec", rec(1, "x " * 4999) + rec(2, "X\n" * 4999))
        run = self.run_sieve("in.rec", "out.txt")
        self.assertEqual((run.status, run.stderr), (0, b""))
        self.assertEqual(self.read("out.txt"), b"1\t1\t2\t1\r\n2\t1\t2\t1\r\n")

    def test_bad_records(self):
        good = rec(1, "select 1")  # 16 bytes
        cases = [
            ("1 byte", b"\x01", 0, b"is cut short"),
            ("3 bytes", b"\x01\x02\x03", 0, b"is cut short"),
            ("5 bytes", good + b"\x01\x02\x03\x04\x05", 16, b"is cut short"),
            ("7 bytes", good + b"\x01" * 7, 16, b"is cut short"),
            ("short text", good + struct.pack("<ii", 2, 10) + b"abc", 16, b"is cut short"),
            ("length 2147483647", good + struct.pack("<ii", 2, 2147483647) + b"abc", 16,
             b"is cut short"),
            ("negative length", good + struct.pack("<ii", 2, -5) + b"abc", 16,
             b"has a negative length"),
        ]
        for name, data, offset, what in cases:
            with self.subTest(name):
                message = b"Record at offset %d of in.rec file %s.\n" % (offset, what)
                self.expect_failure(data, 255, message)

    def test_report_that_cannot_be_opened(self):
        os.mkdir(self.path("adir"))
        for report in ("missing/out.txt", "adir"):
            with self.subTest(report):
                self.expect_failure(EXAMPLE_SAME, 2,
                                    b"Can't open %s file.\n" % report.encode(), report=report)

    def test_input_failure_comes_before_report_failure(self):
        self.expect_failure(rec(1, ""), 255, b"syntax error", report="missing/out.txt")

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_report_to_a_full_device(self):
        if OPTIONS.runner:
            self.skipTest("/dev/full is not a device under the runner")
        self.write("in.rec", EXAMPLE_SAME)
        run = self.run_sieve("in.rec", "/dev/full")
        self.assertEqual((run.status, run.stderr), (2, b"Can't write /dev/full file.\n"))
        with open("/dev/full", "wb") as full:
            run = self.run_sieve("in.rec", stdout=full)
        self.assertEqual((run.status, run.stderr), (2, b"Can't write standard output.\n"))
        # Nothing to write is no failure, whatever the device.
        self.write("empty.rec", b"")
        run = self.run_sieve("empty.rec", "/dev/full")
        self.assertEqual(run.status, 0)


class LitpackTest(LitsieveCase):
    def pack(self, *args, stdin=b""):
        cmd = OPTIONS.runner + [OPTIONS.litpack] + list(args)
        return subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              cwd=self.dir, timeout=120)

    def records(self, data):
        out = []
        while data:
            rid, length = struct.unpack("<ii", data[:8])
            out.append((rid, data[8:8 + length]))
            data = data[8 + length:]
        return out

    def test_statement_splitting(self):
        sql = (b"-- leading comment\n"
               b"select * from emp where id = 1;\n"
               b"select 'a;\nb' from dual ;  \n"
               b"/* block; */ update t set x = 1 -- note;\n where y = 2; -- trailing\n"
               b"begin\n  null; end;\n"
               b"/\n"
               b"create table t (a int)\n"
               b"/\n"
               b";\n\n   \n"
               b"select \"x;\" from t;\r\n"
               b"tail without terminator")
        self.write("a.sql", sql)
        proc = self.pack("-o", "a.rec", "a.sql")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn(b"wrote 7 records", proc.stderr)
        self.assertEqual(self.records(self.read("a.rec")), [
            (1, b"select * from emp where id = 1"),
            (2, b"select 'a;\nb' from dual"),
            (3, b"update t set x = 1 -- note;\n where y = 2"),
            (4, b"begin\n  null; end;"),  # a PL/SQL block keeps its last ";", as clients send it
            (5, b"create table t (a int)"),
            (6, b"select \"x;\" from t"),
            (7, b"tail without terminator"),
        ])

    def test_lines_mode_and_first_id(self):
        proc = self.pack("--lines", "--first-id", "-2", "-o", "b.rec",
                         stdin=b"select 1\n\n  \nselect 2\r\nselect 3")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(self.records(self.read("b.rec")),
                         [(-2, b"select 1"), (-1, b"select 2"), (0, b"select 3")])

    def test_bad_arguments(self):
        for args in (["--first-id", "x"], ["--first-id", "4294967296"], ["--bogus"],
                     ["-o", "out.rec", "missing.sql"]):
            with self.subTest(args=args):
                self.assertNotEqual(self.pack(*args).returncode, 0)

    def test_packed_sql_through_litsieve(self):
        self.write("c.sql", b"select * from t where a = 1;\nSELECT * FROM T WHERE A = 99;\n"
                            b"select * from u;\n")
        self.assertEqual(self.pack("-o", "c.rec", "c.sql").returncode, 0)
        run = self.run_sieve("c.rec", "out.txt")
        self.assertEqual(run.status, 0)
        self.assertEqual(self.read("out.txt"), b"1\t1\t2\t1\r\n2\t1\t2\t1\r\n")


class CorpusTest(LitsieveCase):
    """Every real workload runs through, and its report keeps its invariants."""

    def read_records(self, path):
        ids = []
        with open(path, "rb") as f:
            data = f.read()
        pos = 0
        while pos < len(data):
            rid, length = struct.unpack_from("<ii", data, pos)
            ids.append(rid)
            pos += 8 + length
        return ids

    def parse_report(self, data):
        self.assertTrue(data == b"" or data.endswith(b"\r\n"))
        rows = []
        for line in data.split(b"\r\n")[:-1]:
            rows.append(tuple(int(x) for x in line.split(b"\t")))
        return rows

    def test_corpus(self):
        files = sorted(f for f in os.listdir(OPTIONS.corpus) if f.endswith(".rec"))
        self.assertTrue(files, "no corpus files found")
        for name in files:
            with self.subTest(name):
                path = os.path.join(OPTIONS.corpus, name)
                ids = self.read_records(path)
                run = self.run_sieve("-full", path, "full.txt")
                self.assertEqual((run.status, run.stderr), (0, b""))
                full = self.parse_report(self.read("full.txt"))
                self.assertEqual([r[0] for r in full], ids, "one line per record, in order")
                sizes, first, next_group = {}, {}, 1
                for rid, group, size, first_member in full:
                    if group not in first:
                        self.assertEqual(group, next_group, "groups numbered by first appearance")
                        next_group += 1
                        first[group] = rid
                    sizes[group] = sizes.get(group, 0) + 1
                    self.assertEqual(first_member, first[group])
                for rid, group, size, first_member in full:
                    self.assertEqual(size, sizes[group])
                run = self.run_sieve(path, "shared.txt")
                self.assertEqual(run.status, 0)
                shared = self.parse_report(self.read("shared.txt"))
                self.assertEqual(shared, [r for r in full if r[2] > 1])


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["exe", "litpack", "corpus"])
    run_tests(rest)


if __name__ == "__main__":
    main()
