#!/usr/bin/env python3
"""Every allocation of litsieve fails once, in turn.

Runs litsieve_faulty (litsieve that reads LITSIEVE_FAIL_AT) over one small
input that reaches every kind of allocation: the read block, a record longer
than that block, the dictionary with its states, byte chunks and branch
tables, the normalised text, and the record list and group table past their
first growth. For n = 1, 2, ... the n-th allocation fails, until a run no
longer reaches n and completes. Every failing run must end with "Not enough
memory\\n" or "Not enough memory for State\\n" and status 1, with nothing but
the banner on standard output and no report file; the completing run must
write the very report the shipped litsieve writes.
"""
import os
import subprocess
import sys
import tempfile
import unittest

from e2e_support import parse_options, rec, run_tests

OPTIONS = None  # set by main()
OUT_OF_MEMORY = (b"Not enough memory\n", b"Not enough memory for State\n")
MOST_RUNS = 5000  # far more allocations than the input needs; a bound, not a guess


def small_input():
    records = []
    # 60 distinct statements (past the group table's first 50 slots), each
    # twice, with shared heads so that the trie splits and branches.
    for i in range(60):
        records.append(rec(i, b"select c%d from t where a = %d" % (i, i)))
        records.append(rec(1000 + i, b"SELECT C%d FROM T WHERE A = 'x'" % i))
    # Past the record list's first 1000 entries.
    for i in range(900):
        records.append(rec(5000 + i, b"update u set v = %d" % i))
    # Longer than the reader's block, so it is gathered in a buffer of its own;
    # and long enough to need a fragment copy of its own in the dictionary.
    records.append(rec(9000, b"select " + b"x" * 1200000 + b" from w"))
    records.append(rec(9001, b"SELECT " + b"X" * 1200000 + b" FROM W"))
    return b"".join(records)


class AllocationFailureTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="litsieve-oom-")
        self.dir = self.tmp.name
        with open(os.path.join(self.dir, "in.rec"), "wb") as f:
            f.write(small_input())

    def tearDown(self):
        self.tmp.cleanup()

    def run_program(self, exe, fail_at=None, pipeline=None):
        env = dict(os.environ)
        env.pop("LITSIEVE_FAIL_AT", None)
        env.pop("LITSIEVE_PIPELINE", None)
        if fail_at is not None:
            env["LITSIEVE_FAIL_AT"] = str(fail_at)
        if pipeline is not None:
            env["LITSIEVE_PIPELINE"] = pipeline
        report = os.path.join(self.dir, "out.txt")
        if os.path.exists(report):
            os.remove(report)
        proc = subprocess.run(OPTIONS.runner + [exe, "-full", "in.rec", "out.txt"], env=env,
                              cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=300)
        content = None
        if os.path.exists(report):
            with open(report, "rb") as f:
                content = f.read()
        return proc.returncode & 0xFF, proc.stdout, proc.stderr, content

    def test_every_allocation_failure_ends_cleanly(self):
        self.every_failure_ends_cleanly(None)

    def test_on_three_threads_too_and_the_same_in_every_run(self):
        # Batches of 4 KiB and no single-threaded start: the threads read
        # and normalise far ahead of the records being filed. Every
        # allocation is made by the calling thread in file order, so each n
        # fails the same allocation, with the same message, in every run.
        pipeline = "3,4096,0"
        first = self.every_failure_ends_cleanly(pipeline)
        self.assertEqual(self.every_failure_ends_cleanly(pipeline), first)

    def every_failure_ends_cleanly(self, pipeline):
        """Runs with n = 1, 2, ... failing until one completes; returns what each ended with."""
        status, banner, err, expected = self.run_program(OPTIONS.exe)
        self.assertEqual((status, err), (0, b""))
        self.assertEqual(expected.count(b"\r\n"), 60 * 2 + 900 + 2)
        self.assertEqual(self.run_program(OPTIONS.faulty, pipeline=pipeline)[3], expected,
                         "without LITSIEVE_FAIL_AT the test build is litsieve")

        failures = 0
        messages = set()
        outcomes = []
        for n in range(1, MOST_RUNS + 1):
            status, out, err, report = self.run_program(OPTIONS.faulty, n, pipeline)
            outcomes.append((status, err))
            if status == 0:
                self.assertEqual((err, report), (b"", expected), "run %d completed" % n)
                break
            with self.subTest(n=n):
                self.assertEqual(status, 1, err)
                self.assertIn(err, OUT_OF_MEMORY)
                messages.add(err)
                self.assertEqual(out, banner, "only the banner on standard output")
                self.assertIsNone(report, "no report file after running out of memory")
            failures += 1
        else:
            self.fail("still failing after %d allocations" % MOST_RUNS)
        # Read block, dictionary, states, bytes, branch tables, text, list and
        # groups, the long record's buffer: at least that many failure points.
        self.assertGreaterEqual(failures, 9)
        self.assertEqual(messages, set(OUT_OF_MEMORY), "dictionary nodes and the rest both fail")
        print("\n%d allocation failure points, each ended cleanly%s" % (
            failures, " (pipeline %s)" % pipeline if pipeline else ""), file=sys.stderr)
        return outcomes


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["exe", "faulty"])  # the shipped litsieve, litsieve_faulty
    run_tests(rest)


if __name__ == "__main__":
    main()
