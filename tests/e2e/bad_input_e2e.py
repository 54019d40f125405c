#!/usr/bin/env python3
"""Bad input, end to end: the rows litsieve_e2e.py leaves out.

Each row names an input (or a report path) and the exact message and status
litsieve must end with. Most rows put the bad part behind a record longer than
the reader's 1 MiB block, so the offsets in the messages are checked across
block refills and the long-record path. Runs the built binary, optionally
through a runner such as Wine.
"""
import os
import shutil
import struct
import subprocess
import sys
import unittest

from e2e_support import ScratchCase, parse_options, rec, run_tests

OPTIONS = None  # set by main()
FATAL = 255  # exit(-1) as a parent sees it, on Linux and under Wine
BLOCK = 1 << 20  # the reader's block size


def header(rid, length):
    return struct.pack("<ii", rid, length)


# A record of 3 tokens, longer than the reader's block: 8 + 1.5 MB bytes.
LONG = rec(1, b"select " + b"c" * (3 * BLOCK // 2) + b" from t")
GOOD = rec(2, b"select 1")  # 16 bytes
# Tokens of 250 bytes each, so that 4999 of them exceed the block as well.
WORDS_4999 = b" ".join([b"w" * 249] * 4999)
WORDS_5000 = WORDS_4999 + b" w"


def cut_short(offset):
    return b"Record at offset %d of in.rec file is cut short.\n" % offset


def negative(offset):
    return b"Record at offset %d of in.rec file has a negative length.\n" % offset


class Case(ScratchCase):
    PREFIX = "litsieve-bad-"

    def tearDown(self):
        for root, dirs, files in os.walk(self.dir):
            for name in dirs + files:
                os.chmod(os.path.join(root, name), 0o700)
        super().tearDown()

    def run_sieve(self, *args, prefix=(), stdout=subprocess.PIPE):
        proc = subprocess.run(list(prefix) + OPTIONS.runner + [OPTIONS.exe] + list(args),
                              cwd=self.dir, stdout=stdout, stderr=subprocess.PIPE, timeout=600)
        return proc.returncode & 0xFF, proc.stderr


class BadInputTest(Case):
    """Input rows: -full, report to out.txt, which must not appear."""

    ROWS = [
        # name, file bytes, status, message
        ("1 byte after a long record", LONG + b"\x01", FATAL, cut_short(len(LONG))),
        ("3 bytes after a long record", LONG + b"\x01" * 3, FATAL, cut_short(len(LONG))),
        ("5 bytes after a long record", LONG + b"\x01" * 5, FATAL, cut_short(len(LONG))),
        ("7 bytes after a long record", LONG + b"\x01" * 7, FATAL, cut_short(len(LONG))),
        ("length -1", GOOD + header(3, -1) + b"abc", FATAL, negative(16)),
        ("length -2147483648 after a long record", LONG + header(3, -2 ** 31), FATAL,
         negative(len(LONG))),
        ("length 2147483647, 2 MB present", GOOD + header(3, 2 ** 31 - 1) + b"x" * (2 * BLOCK),
         FATAL, cut_short(16)),
        ("length 2147483647 and nothing after it", GOOD + header(3, 2 ** 31 - 1), FATAL,
         cut_short(16)),
        ("length beyond the file, long text", GOOD + header(3, 3 * BLOCK) + b"x" * (2 * BLOCK),
         FATAL, cut_short(16)),
        ("length one beyond the file", GOOD + header(3, 9) + b"select 1", FATAL, cut_short(16)),
        ("text of one NUL", GOOD + rec(3, b"\x00"), FATAL, b"syntax error"),
        ("NUL before the only token", GOOD + rec(3, b" \x00x"), FATAL, b"syntax error"),
        ("4999 long tokens, then 5000", rec(3, WORDS_4999) + rec(4, WORDS_5000), FATAL,
         b"yacc stack overflow"),
        ("5000 tokens after a long record", LONG + rec(3, b"," * 5000), FATAL,
         b"yacc stack overflow"),
    ]

    def test_rows(self):
        for name, data, status, message in self.ROWS:
            with self.subTest(name):
                self.write("in.rec", data)
                self.assertEqual(self.run_sieve("-full", "in.rec", "out.txt"), (status, message))
                self.assertFalse(os.path.exists(self.path("out.txt")), "no report")

    def test_directory_as_input(self):
        os.mkdir(self.path("adir"))
        # POSIX opens a directory and fails at the first read; Windows
        # runtimes refuse to open it.
        message = b"Can't open adir file.\n" if OPTIONS.runner else \
            b"Can't read adir file at offset 0.\n"
        self.assertEqual(self.run_sieve("-full", "adir", "out.txt"), (FATAL, message))
        self.assertFalse(os.path.exists(self.path("out.txt")))

    def test_huge_length_allocates_no_more_than_the_file(self):
        """A record announcing 2 GiB with 2 MB present fails within 64 MiB of address space."""
        if OPTIONS.runner or "ASAN_OPTIONS" in os.environ or "TSAN_OPTIONS" in os.environ or \
                not sys.platform.startswith("linux"):
            self.skipTest("address-space limit: native Linux builds without a sanitizer")
        import resource

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (64 << 20, 64 << 20))

        self.write("in.rec", GOOD + header(3, 2 ** 31 - 1) + b"x" * (2 * BLOCK))
        proc = subprocess.run([OPTIONS.exe, "in.rec", "out.txt"], cwd=self.dir,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=limit,
                              timeout=120)
        self.assertEqual((proc.returncode & 0xFF, proc.stderr), (FATAL, cut_short(16)))

    def test_nul_and_high_bytes_group_by_what_precedes_the_nul(self):
        self.write("in.rec", rec(1, b"\xff") + rec(2, b"\xff\x00\xff garbage") +
                   rec(3, b"'abc\x00def'") + rec(4, b"'x'") + rec(5, b"\xff\xfe") +
                   rec(6, b"\xFF \xFE"))
        self.assertEqual(self.run_sieve("-full", "in.rec", "out.txt"), (0, b""))
        self.assertEqual(self.read("out.txt"),
                         b"1\t1\t2\t1\r\n2\t1\t2\t1\r\n3\t2\t2\t3\r\n4\t2\t2\t3\r\n"
                         b"5\t3\t2\t5\r\n6\t3\t2\t5\r\n")

    def test_4999_tokens_longer_than_the_read_block(self):
        self.write("in.rec", rec(7, WORDS_4999) + rec(8, WORDS_4999.upper()))
        self.assertEqual(self.run_sieve("in.rec", "out.txt"), (0, b""))
        self.assertEqual(self.read("out.txt"), b"7\t1\t2\t7\r\n8\t1\t2\t7\r\n")


class BadReportTest(Case):
    """Report rows: the input is read whole first, then the report fails."""

    INPUT = rec(5, b"select 1") + rec(6, b"SELECT 2")

    def test_read_only_report_file(self):
        self.write("in.rec", self.INPUT)
        self.write("ro.txt", b"keep me")
        os.chmod(self.path("ro.txt"), 0o444)
        prefix = ()
        if OPTIONS.runner and os.geteuid() == 0:
            self.skipTest("root may write any file, and the runner cannot drop to another user")
        if not OPTIONS.runner and os.geteuid() == 0:
            # root may write anything: run as nobody, who may read the input
            # and the directory but not write the file.
            if shutil.which("setpriv") is None:
                self.skipTest("running as root without setpriv")
            os.chmod(self.dir, 0o777)
            os.chmod(self.path("in.rec"), 0o644)
            prefix = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--")
        self.assertEqual(self.run_sieve("in.rec", "ro.txt", prefix=prefix),
                         (2, b"Can't open ro.txt file.\n"))
        self.assertEqual(self.read("ro.txt"), b"keep me")

    def test_report_path_ending_in_a_slash(self):
        self.write("in.rec", self.INPUT)
        self.assertEqual(self.run_sieve("in.rec", "out.txt/"), (2, b"Can't open out.txt/ file.\n"))
        self.assertFalse(os.path.exists(self.path("out.txt")))

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_full_device_with_full_report(self):
        if OPTIONS.runner:
            self.skipTest("/dev/full is not a device under the runner")
        self.write("in.rec", self.INPUT)
        self.assertEqual(self.run_sieve("-full", "in.rec", "/dev/full"),
                         (2, b"Can't write /dev/full file.\n"))
        with open("/dev/full", "wb") as full:
            self.assertEqual(self.run_sieve("-full", "in.rec", stdout=full),
                             (2, b"Can't write standard output.\n"))

    def test_input_named_as_report_survives_a_failing_input(self):
        """The report is opened only after the input was read whole, so a run
        that fails on its input leaves the input as it was."""
        for name, data, message in [
            ("syntax error", self.INPUT + rec(7, b" "), b"syntax error"),
            ("cut short", self.INPUT + b"\x01\x02\x03", cut_short(32)),
            ("negative length", self.INPUT + header(7, -1), negative(32)),
            ("5000 tokens", self.INPUT + rec(7, b"," * 5000), b"yacc stack overflow"),
        ]:
            with self.subTest(name):
                self.write("in.rec", data)
                self.assertEqual(self.run_sieve("-full", "in.rec", "in.rec"), (FATAL, message))
                self.assertEqual(self.read("in.rec"), data)

    def test_input_named_as_report_through_another_path(self):
        """A good input named twice is replaced by its own report."""
        self.write("in.rec", self.INPUT)
        self.assertEqual(self.run_sieve("-full", "in.rec", "./in.rec"), (0, b""))
        self.assertEqual(self.read("in.rec"), b"5\t1\t2\t5\r\n6\t1\t2\t5\r\n")


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["exe"])
    run_tests(rest)


if __name__ == "__main__":
    main()
