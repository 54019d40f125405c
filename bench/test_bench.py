#!/usr/bin/env python3
"""Tests of the benchmark's own parts: the floor is the oracle that the
driver checks litsieve's report against, so its normalisation and report
must be right; the generator must give valid, reproducible workloads.

    python3 bench/test_bench.py
"""

import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402

# The tests build their own copies, so they never touch the binaries of a
# benchmark run that may be going on at the same time.
TOOL_DIR = tempfile.mkdtemp(prefix="bench-test-")
TOOLS = None
GEN = os.path.join(bench.BENCH, "gen_workload.py")
BIND = re.compile(rb":[A-Za-z_][A-Za-z0-9_]*")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def records(texts, ids=None):
    ids = ids or range(1, len(texts) + 1)
    return b"".join(struct.pack("<ii", i, len(t)) + t for i, t in zip(ids, texts))


class FloorCase(unittest.TestCase):
    def setUp(self):
        global TOOLS
        TOOLS = TOOLS or bench.build_comparators(TOOL_DIR)
        self.dir = tempfile.TemporaryDirectory()
        self.rec = os.path.join(self.dir.name, "in.rec")

    def tearDown(self):
        self.dir.cleanup()

    def floor(self, data, *args):
        with open(self.rec, "wb") as f:
            f.write(data)
        return subprocess.run([TOOLS["floor"]] + list(args) + [self.rec], capture_output=True)


class FloorNormalisationTest(FloorCase):
    def normalised(self, texts):
        p = self.floor(records(texts), "-d")
        self.assertEqual(p.returncode, 0, p.stderr)
        return p.stdout

    def test_statements_normalise_as_litsieve_does(self):
        cases = [
            (b"select name from emp where id = 10 and hired > '01-Jan-2003'",
             b"SELECT NAME FROM EMP WHERE ID = :N AND HIRED > :D"),
            (b"UPDATE t SET c='abc', d=3.5E+2 WHERE x<=-1",
             b"UPDATE T SET C = :S , D = :N WHERE X < = - :N"),
            (b"select *  from EMP\r\n\twhere ID = 42", b"SELECT * FROM EMP WHERE ID = :N"),
            (b"insert into t values ('It''s', 'x')", b"INSERT INTO T VALUES ( :S , :S )"),
            (b"where id = :id", b"WHERE ID = : ID"),
            (b"select * from dual;", b"SELECT * FROM DUAL ;"),
            (b"select \\* hint *\\ a from t", b"SELECT \\* HINT * \\ A FROM T"),
            (b"x", b"X"),
        ]
        self.assertEqual(self.normalised([c for c, _ in cases]),
                         b"".join(e + b"\n" for _, e in cases))

    def test_numbers_words_and_single_bytes(self):
        cases = [
            (b"3.14", b":N"), (b".5", b". :N"), (b"1.2.3", b":N . :N"), (b"1e 1e+", b":N :N"),
            (b"1else", b":N LSE"), (b"1st", b":N ST"), (b"0x1F", b":N X1F"),
            (b"_tmp9 like", b"_TMP9 LIKE"), (b"v$sql", b"V $ SQL"), (b"a#\"b\"", b"A # \" B \""),
            (b"caf\xe9 \xa0", b"CAF \xe9 \xa0"), (b"-- note", b"- - NOTE"),
            (b"/* x */", b"/ * X * /"), (b"a\x00b c", b"A"),
        ]
        self.assertEqual(self.normalised([c for c, _ in cases]),
                         b"".join(e + b"\n" for _, e in cases))

    def test_strings_and_comments(self):
        cases = [
            (b"''", b":S"), (b"'It''s'", b":S"), (b"'abc", b":S"), (b"'a'''", b":S"),
            (b"a 'x''", b"A :S"), (b"\\**\\", b"\\** \\"),
            (b"\\* a *\\* b *\\", b"\\* A * \\* B * \\"), (b"a \\* never closed", b"A \\* NEVER CLOSED"),
            (b"\\* two\nlines *\\", b"\\* TWO\nLINES * \\"), (b"a \\ b", b"A \\ B"),
        ]
        self.assertEqual(self.normalised([c for c, _ in cases]),
                         b"".join(e + b"\n" for _, e in cases))

    def test_date_bodies(self):
        dates = [b"01-JAN-2003", b"1-jan-03", b"31-Dec-1999 23:59:59", b" 7-MAY-2001",
                 b"01-JAN- 2003", b"0-JAN-1", b"+5-feb-+1", b"05-Sep-2003xyz"]
        strings = [b"32-JAN-2003", b"01-JANUARY-2003", b"2003-01-01", b"01-JAN-", b"01 -JAN-2003",
                   b"01- JAN-2003", b"01-JUX-2003", b"-1-JAN-2003", b"+-1-JAN-2003", b"01-JAN-x1",
                   b"", b"01-JAN", b"JAN-01-2003"]
        texts = [b"d = '" + d + b"'" for d in dates + strings]
        expected = [b"D = :D"] * len(dates) + [b"D = :S"] * len(strings)
        self.assertEqual(self.normalised(texts), b"".join(e + b"\n" for e in expected))


class FloorRunTest(FloorCase):
    def test_report_groups_like_litsieve(self):
        texts = [b"select * from t where a = 1", b"delete from t",
                 b"SELECT *  FROM T WHERE A = 99", b"select * from t where a=3"]
        report = os.path.join(self.dir.name, "out.rpt")
        p = self.floor(records(texts, [5, 7, 9, 12]), "-r", report)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(read(report),
                         b"5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n")
        p = self.floor(records(texts, [5, -7, 9, -2147483648]), "-r", report, "-full")
        self.assertEqual(read(report),
                         b"5\t1\t3\t5\r\n-7\t2\t1\t-7\r\n9\t1\t3\t5\r\n-2147483648\t1\t3\t5\r\n")
        self.assertIn(b"records 4 distinct 2 ", p.stderr)

    def test_token_limits_end_the_run(self):
        p = self.floor(records([b"a " * 4999]))
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn(b"max_tokens 4999", p.stderr)
        p = self.floor(records([b"a", b"a " * 5000]))
        self.assertEqual((p.returncode, p.stderr), (255, b"yacc stack overflow"))
        for empty in (b"", b" \t\r\n", b"\x00select"):
            p = self.floor(records([b"a", empty]))
            self.assertEqual((p.returncode, p.stderr), (255, b"syntax error"))

    def test_bad_records_are_not_silently_dropped(self):
        good = records([b"select 1"])
        for bad in (good[:-1], good + b"\x01\x00", good + struct.pack("<ii", 2, -1)):
            p = self.floor(bad)
            self.assertEqual(p.returncode, 3, bad)

    def test_records_larger_than_the_read_block(self):
        big = b"insert into d values ('" + b"x''y" * 400000 + b"')"
        p = self.floor(records([b"select 1", big, b"select 2"]), "-d")
        self.assertEqual(p.stdout, b"SELECT :N\nINSERT INTO D VALUES ( :S )\nSELECT :N\n")


class GeneratorTest(unittest.TestCase):
    def setUp(self):
        global TOOLS
        TOOLS = TOOLS or bench.build_comparators(TOOL_DIR)
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def generate(self, kind, count, name):
        base = os.path.join(self.dir.name, name)
        subprocess.run([sys.executable, GEN, "--kind", kind, "--count", str(count), "--seed", "7",
                        "-o", base + ".sql", "--pg", base + ".pg.sql"], check=True)
        return base

    def floor_summary(self, base):
        bench.pack_lines(base + ".sql", base + ".rec")
        p = subprocess.run([TOOLS["floor"], base + ".rec"], capture_output=True, text=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        return bench.floor_summary(p.stderr)

    def test_smaller_workloads_are_prefixes_of_larger_ones(self):
        with open(self.generate("oltp", 3000, "a") + ".sql", "rb") as f:
            small = f.read()
        with open(self.generate("oltp", 9000, "b") + ".sql", "rb") as f:
            large = f.read()
        self.assertTrue(large.startswith(small))
        self.assertEqual(small.count(b"\n"), 3000)

    def test_oltp_workload_is_valid_and_repetitive(self):
        base = self.generate("oltp", 20000, "o")
        with open(base + ".sql", "rb") as f:
            lines = f.read().split(b"\n")[:-1]
        self.assertEqual(len(lines), 20000)
        for line in lines:
            self.assertTrue(line and line == line.strip() and b"\r" not in line, line[:80])
        lengths = sorted(len(x) for x in lines)
        self.assertTrue(100 <= lengths[len(lengths) // 2] <= 180, lengths[len(lengths) // 2])
        self.assertGreaterEqual(lengths[0], 30)
        self.assertGreater(lengths[-1], 10000)
        joined = b"\n".join(lines)
        for feature in (b"''", b"\\* ", b" :", b" IN (", b"-JAN-", b":59'", b"\t"):
            self.assertIn(feature, joined)
        s = self.floor_summary(base)
        self.assertEqual(s["records"], 20000)
        self.assertLess(s["max_tokens"], 5000)
        self.assertTrue(0.01 < s["distinct"] / s["records"] < 0.2, s)

    def test_distinct_workload_has_a_shape_per_statement(self):
        s = self.floor_summary(self.generate("distinct", 5000, "d"))
        self.assertGreater(s["distinct"], 0.9 * 5000)

    def test_peer_copy_differs_only_in_binds_and_comments(self):
        base = self.generate("oltp", 5000, "p")
        with open(base + ".sql", "rb") as f, open(base + ".pg.sql", "rb") as g:
            mine, peer = f.read().split(b"\n"), g.read().split(b"\n")
        self.assertEqual(len(mine), len(peer))
        changed = 0
        for m, p in zip(mine, peer):
            self.assertNotIn(b"\\*", p)
            if m != p:
                changed += 1
                back = p.replace(b"/*", b"\\*").replace(b"*/", b"*\\")
                self.assertEqual(back.replace(b"$1", b""), BIND.sub(b"", m), m[:80])
        self.assertGreater(changed, 100)

    def test_peer_copy_parses_for_pg_query(self):
        base = self.generate("oltp", 5000, "q")
        p = subprocess.run([TOOLS["pgq_normalize"], base + ".pg.sql"], capture_output=True,
                           text=True, check=True)
        self.assertIn("statements 5000 errors 0 ", p.stderr)
        base = self.generate("distinct", 2000, "r")
        p = subprocess.run([TOOLS["pgq_normalize"], base + ".pg.sql"], capture_output=True,
                           text=True, check=True)
        self.assertIn("statements 2000 errors 0 ", p.stderr)


class DriverTest(unittest.TestCase):
    """The driver's measuring and bookkeeping, on small stand-ins."""

    def setUp(self):
        global TOOLS
        TOOLS = TOOLS or bench.build_comparators(TOOL_DIR)
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def test_peak_rss_is_the_programs_own(self):
        # A child forked from the driver would report the driver's pages.
        ballast = bytearray(64 << 20)
        for i in range(0, len(ballast), 4096):
            ballast[i] = 1
        _, _, small, _ = bench.timed(["true"], TOOLS["runstat"])
        self.assertLess(small, 16 << 10)
        grab = "b = bytearray(96 << 20)\nfor i in range(0, len(b), 4096): b[i] = 1"
        _, _, big, _ = bench.timed([sys.executable, "-c", grab], TOOLS["runstat"])
        self.assertGreater(big, 96 << 10)
        self.assertLess(big, (96 + 48) << 10)
        del ballast

    def test_cpu_time_counts_the_child_and_failures_stop_the_run(self):
        spin = "import time\nt = time.process_time()\nwhile time.process_time() - t < 0.3: pass"
        cpu, wall, _, _ = bench.timed([sys.executable, "-c", spin], TOOLS["runstat"])
        self.assertGreaterEqual(cpu, 0.3)
        self.assertGreaterEqual(wall, cpu * 0.5)
        with self.assertRaises(SystemExit) as e:
            bench.timed(["sh", "-c", "echo why >&2; exit 3"], TOOLS["runstat"])
        self.assertIn("FAILED (3)", str(e.exception))
        self.assertIn("why", str(e.exception))

    def test_runs_alternate_and_medians_are_taken(self):
        log = os.path.join(self.dir.name, "order")
        programs = [(name, ["sh", "-c", "echo %s >> %s; echo v%s >&2" % (name, log, name)])
                    for name in "abc"]
        stats = bench.measure(programs, 4, TOOLS["runstat"])
        with open(log) as f:
            order = f.read().split()
        self.assertEqual(order, list("abc" "bca" "cab" "abc"))
        self.assertEqual(stats["b"]["runs"], 4)
        self.assertEqual(stats["b"]["stderr"], "vb\n")

    def test_reference_checksums_guard_the_report(self):
        saved = bench.REFERENCE
        bench.REFERENCE = os.path.join(self.dir.name, "ref.txt")
        try:
            rec = os.path.join(self.dir.name, "w.rec")
            with open(rec, "wb") as f:
                f.write(records([b"select 1"]))
            bench.check_reference({"w": {"report_sha256": "aa"}}, {"w": rec})
            again = {"w": {"report_sha256": "aa"}}
            bench.check_reference(again, {"w": rec})
            self.assertTrue(again["w"]["report_same"])
            with self.assertRaises(SystemExit):
                bench.check_reference({"w": {"report_sha256": "bb"}}, {"w": rec})
            with open(rec, "ab") as f:  # another input: kept beside the first
                f.write(records([b"select 2"]))
            bench.check_reference({"w": {"report_sha256": "bb"}}, {"w": rec})
            with open(bench.REFERENCE) as f:
                self.assertEqual(len([x for x in f if not x.startswith("#")]), 2)
        finally:
            bench.REFERENCE = saved

    def test_packing_and_counting_records(self):
        src = os.path.join(self.dir.name, "a.sql")
        with open(src, "wb") as f:
            f.write(b"select 1\n\nselect \xe9 'x'\n")
        rec = os.path.join(self.dir.name, "a.rec")
        bench.pack_lines(src, rec, first_id=7)
        self.assertEqual(read(rec), records([b"select 1", b"select \xe9 'x'"], [7, 8]))
        self.assertEqual(bench.count_records(rec), 2)
        self.assertEqual(bench.floor_summary("records 2 distinct 1 bytes 9 max_tokens 3\n"),
                         {"records": 2, "distinct": 1, "bytes": 9, "max_tokens": 3})


class AgainstLitsieveTest(unittest.TestCase):
    """Random statements over the bytes that matter to the lexer: litsieve
    and the floor must group them identically (the -full report shows every
    record's group)."""

    ALPHABET = b"aZ_e9 0.5+-'''\\\\***\\\\\t\n\r:;,()\xe9\x80  ee11''JAN-1-"
    PIECES = [b"'01-JAN-2003'", b"'7-may-01 x'", b"'32-JAN-1'", b"'01-JANUARY-1'",
              b"'31-DEC-99 2:3:4'", b"\\**\\", b"\\* c *\\", b"1e+", b"'a''b'", b"'-1-JAN-2'"]

    def setUp(self):
        global TOOLS
        TOOLS = TOOLS or bench.build_comparators(TOOL_DIR)
        for build in ("bench", "default"):  # run.sh's build, then the default preset's
            self.litsieve, _ = bench.find_lit_binaries(os.path.join(bench.ROOT, "build", build))
            if self.litsieve:
                break
        if not self.litsieve:
            self.skipTest("litsieve is not built")
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def statements(self, rng, count):
        # Few pieces, so that groups form.
        pool = [bytes(rng.choice(self.ALPHABET) for _ in range(rng.randint(1, 12)))
                for _ in range(40)] + self.PIECES
        out = []
        while len(out) < count:
            s = b" ".join(rng.choice(pool) for _ in range(rng.randint(1, 4)))
            if s.strip(b" \t\n\r"):
                out.append(s)
        return out

    def test_random_statements_group_alike(self):
        rng = random.Random(5)
        rec = os.path.join(self.dir.name, "r.rec")
        with open(rec, "wb") as f:
            f.write(records(self.statements(rng, 3000)))
        mine, ref = os.path.join(self.dir.name, "l.rpt"), os.path.join(self.dir.name, "f.rpt")
        subprocess.run([self.litsieve, "-full", rec, mine], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([TOOLS["floor"], "-r", ref, "-full", rec], check=True,
                       stderr=subprocess.DEVNULL)
        a, b = read(mine).split(b"\r\n"), read(ref).split(b"\r\n")
        self.assertEqual(len(a), len(b))
        for x, y in zip(a, b):
            self.assertEqual(x, y)
        groups = {line.split(b"\t")[1] for line in a if line}
        self.assertTrue(100 < len(groups) < 2900, len(groups))


if __name__ == "__main__":
    try:
        unittest.main()
    finally:
        shutil.rmtree(TOOL_DIR)
