#!/usr/bin/env python3
"""End-to-end tests of litpack's reading: every input format and every
dialect through the real program, with the records, the metadata file and
standard error checked whole; statements litsieve would stop on skipped
(or kept with --keep-all); the outputs' refusals; and litsieve accepting
every file litpack packs from the packer's fixtures. Runs the built
programs, also under a runner such as Wine.
"""
import os
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import Run, ScratchCase, parse_options, run_tests  # noqa: E402

OPTIONS = None  # set by main()

HEADER = b"id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"
NO_TOKEN = (b'statement without a token skipped (litsieve would stop with "syntax error")')
TOO_MANY = (b"statement of 5000 tokens or more skipped (litsieve would stop with "
            b'"yacc stack overflow")')
OPEN_QUOTE = b"quoted text is not closed; the rest of the input is kept as one statement"


def summary(written, no_token, too_many, formats):
    return (b"litpack: wrote %d records; skipped %d without a token, %d of 5000 tokens or more; "
            b"read %s" % (written, no_token, too_many, formats.encode()))


def detected(name, fmt):
    return b"litpack: %s: format %s (detected)" % (name.encode(), fmt.encode())


def records_of(data):
    """(id, text) of each record of a record file."""
    out, pos = [], 0
    while pos < len(data):
        rid, length = struct.unpack_from("<ii", data, pos)
        out.append((rid, data[pos + 8:pos + 8 + length]))
        pos += 8 + length
    return out


SLOW_LOG = (
    b"/usr/sbin/mysqld, Version: 8.0.36 (MySQL Community Server - GPL). started with:\n"
    b"Tcp port: 3306  Unix socket: /var/run/mysqld/mysqld.sock\n"
    b"Time                 Id Command    Argument\n"
    b"# Time: 2024-03-05T14:02:11.532871Z\n"
    b"# User@Host: app[app] @ web1 [10.0.0.7]  Id:    31\n"
    b"# Query_time: 0.004211  Lock_time: 0.000103 Rows_sent: 1  Rows_examined: 120\n"
    b"use shop;\n"
    b"SET timestamp=1709647331;\n"
    b"SELECT id FROM customer WHERE email = 'a;b';\n"
    b"# Time: 2024-03-05T14:02:12.001200Z\n"
    b"# User@Host: batch[batch] @ localhost []  Id:    32\n"
    b"# Query_time: 1.250000  Lock_time: 0.000000 Rows_sent: 0  Rows_examined: 0\n"
    b"SET insert_id=5,timestamp=1709647332;\n"
    b"SET NAMES utf8mb4;\n")

GENERAL_LOG = (
    b"2024-03-05T14:02:10.100000Z\t   31 Connect\tapp@web1 on shop using TCP/IP\n"
    b"2024-03-05T14:02:11.532871Z\t   31 Query\tSELECT id\nFROM customer; SELECT 2\n"
    b"2024-03-05T14:02:11.600000Z\t   31 Prepare\tSELECT * FROM orders WHERE id = ?\n"
    b"2024-03-05T14:02:12.000000Z\t   31 Quit\t\n")

PG_LOG = (
    b"2024-03-05 14:02:11.532 UTC [4242] app@shop LOG:  duration: 0.412 ms  statement: "
    b"SELECT 1;\n"
    b"2024-03-05 14:02:12.000 UTC [4242] app@shop LOG:  statement: UPDATE t\n"
    b"\t   SET a = 1;\n"
    b"2024-03-05 14:02:12.003 UTC [4242] app@shop LOG:  duration: 3.001 ms\n"
    b"2024-03-05 14:02:13.000 UTC [4250] app@shop ERROR:  relation \"missing\" does not exist\n"
    b"2024-03-05 14:02:13.000 UTC [4250] app@shop STATEMENT:  SELECT * FROM missing;\n")

PG_CSV = (
    b'2024-03-05 14:02:11.540 UTC,"app","shop",4242,"10.0.0.7:51234",65e725d3.1092,2,"UPDATE",'
    b'2024-03-05 14:02:10 UTC,3/18,7421,LOG,00000,"duration: 12.015 ms  statement: UPDATE orders\n'
    b"   SET status = 'shipped'\n"
    b" WHERE note = 'say \"\"hi\"\"';\",,,,,,,,,\"psql\",\"client backend\",,0\n"
    b'2024-03-05 14:02:11.602 UTC,"app","shop",4243,"10.0.0.8:40110",65e725d3.1093,3,"SELECT",'
    b'2024-03-05 14:02:11 UTC,4/2,0,LOG,00000,"duration: 0.210 ms  execute <unnamed>: '
    b'SELECT * FROM orders WHERE id = $1","Parameters: $1 = \'42\'",,,,,,,,'
    b'"PostgreSQL JDBC Driver","client backend",,-6722316455405125318\n')


def tokens(count):
    return b" ".join([b"x"] * count)


# name: (files, arguments, records as (line, text) per source, stderr lines)
# Records are checked with their ids and metadata lines: ids from 1 (or
# --first-id), the metadata's source and line as listed, the log's fields
# as listed after them.
FORMAT_CASES = {
    "sql, generic": (
        {"a.sql": b"select 1; select 2;\n/* note */ select 3\n/\ntail"},
        ["--from", "sql"],
        [("a.sql", 1, b"select 1"), ("a.sql", 1, b"select 2"), ("a.sql", 2, b"select 3"),
         ("a.sql", 4, b"tail")],
        [summary(4, 0, 0, "sql")]),
    "sql, detected": (
        {"a.sql": b"-- header\nselect 1;\n"},
        [],
        [("a.sql", 2, b"select 1")],
        [detected("a.sql", "sql"), summary(1, 0, 0, "sql")]),
    "lines": (
        {"l.txt": b"select 1; select 2\n\n  \t\nselect 3;\r\n"},
        ["--from", "lines"],
        [("l.txt", 1, b"select 1; select 2"), ("l.txt", 4, b"select 3;")],
        [summary(2, 0, 0, "lines")]),
    "lines by its old option": (
        {"l.txt": b"a\nb"},
        ["--lines"],
        [("l.txt", 1, b"a"), ("l.txt", 2, b"b")],
        [summary(2, 0, 0, "lines")]),
    "mysql-slow, detected": (
        {"slow.log": SLOW_LOG},
        [],
        [("slow.log", 9, b"SELECT id FROM customer WHERE email = 'a;b'", b"4.211", b"app", b"shop",
          b"2024-03-05T14:02:11.532871Z"),
         ("slow.log", 14, b"SET NAMES utf8mb4", b"1250.000", b"batch", b"shop",
          b"2024-03-05T14:02:12.001200Z")],
        [detected("slow.log", "mysql-slow"), summary(2, 0, 0, "mysql-slow")]),
    "mysql-general, detected": (
        {"general.log": GENERAL_LOG},
        [],
        [("general.log", 2, b"SELECT id\nFROM customer", b"", b"app", b"shop",
          b"2024-03-05T14:02:11.532871Z"),
         ("general.log", 3, b"SELECT 2", b"", b"app", b"shop", b"2024-03-05T14:02:11.532871Z")],
        [detected("general.log", "mysql-general"), summary(2, 0, 0, "mysql-general")]),
    "pg-log, detected": (
        {"pg.log": PG_LOG},
        [],
        [("pg.log", 1, b"SELECT 1", b"0.412", b"app", b"shop", b"2024-03-05 14:02:11.532 UTC"),
         ("pg.log", 2, b"UPDATE t\n   SET a = 1", b"3.001", b"app", b"shop",
          b"2024-03-05 14:02:12.000 UTC")],
        [detected("pg.log", "pg-log"), summary(2, 0, 0, "pg-log")]),
    "pg-csv, detected": (
        {"pg.csv": PG_CSV},
        [],
        [("pg.csv", 1, b"UPDATE orders\n   SET status = 'shipped'\n WHERE note = 'say \"hi\"'",
          b"12.015", b"app", b"shop", b"2024-03-05 14:02:11.540 UTC"),
         ("pg.csv", 4, b"SELECT * FROM orders WHERE id = '42'", b"0.210", b"app", b"shop",
          b"2024-03-05 14:02:11.602 UTC")],
        [detected("pg.csv", "pg-csv"), summary(2, 0, 0, "pg-csv")]),
}

DIALECT_CASES = {
    "generic": (
        b"select 'a\\'; select $$b;c$$;\n\\* x; *\\ select 3;\n",
        [(1, b"select 'a\\'"), (1, b"select $$b;c$$"), (2, b"select 3")]),  # a comment before it
    "postgres": (
        b"create function f() returns int as $body$ select 1; $body$ language sql;\n"
        b"select E'it\\'s; fine';\n\\set x 1\nselect /* a /* b; */ c; */ 4;\n",
        [(1, b"create function f() returns int as $body$ select 1; $body$ language sql"),
         (2, b"select E'it\\'s; fine'"), (4, b"select /* a /* b; */ c; */ 4")]),
    "mysql": (
        b"DELIMITER //\ncreate procedure p() begin select 1; end//\nDELIMITER ;\n"
        b"select 'a\\'b;' from `t;` # c;\n;\n",
        [(2, b"create procedure p() begin select 1; end"),
         (4, b"select 'a\\'b;' from `t;` # c;")]),  # a comment inside it stays
    "oracle": (
        b"set serveroutput on\nbegin\n  null;\nend;\n/\nselect q'[a;b]' from dual;\n",
        [(2, b"begin\n  null;\nend;"), (6, b"select q'[a;b]' from dual")]),
    "tsql": (
        b"select [a;b] from t\ngo\ncreate procedure p as\nbegin\n select 1;\nend\nGO\n",
        [(1, b"select [a;b] from t"), (3, b"create procedure p as\nbegin\n select 1;\nend")]),
}

# Fixtures of the packer's unit tests: the format litpack must detect, and
# the dialect their scripts are written in.
FIXTURE_DIALECTS = {
    "pg_dump.sql": "postgres", "psql_script.sql": "postgres", "mysqldump.sql": "mysql",
    "sqlplus_script.sql": "oracle", "sqlcmd_script.sql": "tsql", "migration.sql": "generic",
}
FIXTURE_FORMATS = {
    "mariadb-general.log": "mysql-general", "mysql8-general.log": "mysql-general",
    "mariadb-slow.log": "mysql-slow", "mysql8-slow.log": "mysql-slow",
    "postgres-csvlog.csv": "pg-csv", "postgres-custom-prefix.log": "pg-log",
    "postgres-statement-duration.log": "pg-log", "postgres-stderr.log": "pg-log",
}


class LitpackCase(ScratchCase):
    PREFIX = "litpack-e2e-"

    def pack(self, *args, stdin=b""):
        cmd = OPTIONS.runner + [OPTIONS.litpack] + list(args)
        return Run(subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, cwd=self.dir, timeout=300))

    def sieve(self, *args):
        cmd = OPTIONS.runner + [OPTIONS.litsieve] + list(args)
        return Run(subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  cwd=self.dir, timeout=300))

    def meta_rows(self, name):
        data = self.read(name)
        self.assertTrue(data.startswith(HEADER), data[:80])
        self.assertTrue(data.endswith(b"\n"))
        return [line.split(b"\t") for line in data[len(HEADER):].split(b"\n")[:-1]]

    def check_packed(self, expected, first_id=1):
        """out.rec and out.tsv hold `expected` (source, line, text[, log
        fields]), ids from first_id."""
        records = records_of(self.read("out.rec"))
        rows = self.meta_rows("out.tsv")
        self.assertEqual(records, [(first_id + k, e[2]) for k, e in enumerate(expected)])
        want = []
        for k, e in enumerate(expected):
            fields = list(e[3:]) if len(e) > 3 else [b"", b"", b"", b""]
            want.append([b"%d" % (first_id + k), e[0].encode(), b"%d" % e[1]] + fields)
        self.assertEqual(rows, want)


class FormatTest(LitpackCase):
    def test_each_format(self):
        for name, (files, args, expected, stderr) in FORMAT_CASES.items():
            with self.subTest(name):
                for file_name, data in files.items():
                    self.write(file_name, data)
                run = self.pack(*args, "-o", "out.rec", "--meta", "out.tsv", *files)
                self.assertEqual((run.status, run.stderr), (0, b"\n".join(stderr) + b"\n"))
                self.check_packed(expected)
                self.assertEqual(self.sieve("out.rec", "report.txt").status, 0)

    def test_the_last_format_given_holds_for_every_input(self):
        self.write("s.log", SLOW_LOG)
        run = self.pack("--from", "sql", "--from", "mysql-slow", "-o", "out.rec", "s.log")
        self.assertEqual((run.status, run.stderr), (0, summary(2, 0, 0, "mysql-slow") + b"\n"))
        # A slow log read as SQL: its headers are comments, its SET lines statements.
        run = self.pack("--from", "sql", "-o", "out.rec", "--meta", "out.tsv", "s.log")
        self.assertEqual(run.status, 0)
        texts = [text for _, text in records_of(self.read("out.rec"))]
        self.assertIn(b"SET timestamp=1709647331", texts)

    def test_standard_input_and_output(self):
        run = self.pack("--meta", "out.tsv", stdin=b"select 1;\nselect 2")
        self.assertEqual(run.status, 0)
        self.assertEqual(records_of(run.stdout), [(1, b"select 1"), (2, b"select 2")])
        self.assertEqual(run.stderr, detected("standard input", "sql") + b"\n" +
                         summary(2, 0, 0, "sql") + b"\n")
        self.assertEqual(self.meta_rows("out.tsv"), [[b"1", b"-", b"1", b"", b"", b"", b""],
                                                     [b"2", b"-", b"2", b"", b"", b"", b""]])
        # The metadata on standard output, the records in a file.
        run = self.pack("--from", "lines", "-o", "out.rec", "--meta", "-", stdin=b"x\n")
        self.assertEqual((run.status, run.stdout), (0, HEADER + b"1\t-\t1\t\t\t\t\n"))


class DialectTest(LitpackCase):
    def test_each_dialect(self):
        for dialect, (sql, expected) in DIALECT_CASES.items():
            with self.subTest(dialect):
                self.write("d.sql", sql)
                run = self.pack("--dialect", dialect, "-o", "out.rec", "--meta", "out.tsv",
                                "d.sql")
                self.assertEqual((run.status, run.stderr),
                                 (0, detected("d.sql", "sql") + b"\n" +
                                  summary(len(expected), 0, 0, "sql") + b"\n"))
                self.check_packed([("d.sql", line, text) for line, text in expected])

    def test_logs_split_in_their_servers_dialect(self):
        # The slow log's statement holds a backslash escape: MySQL's rules
        # apply whatever --dialect says.
        log = SLOW_LOG.replace(b"'a;b'", b"'a\\';b'")
        self.write("slow.log", log)
        run = self.pack("--dialect", "postgres", "-o", "out.rec", "slow.log")
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(records_of(self.read("out.rec"))[0],
                         (1, b"SELECT id FROM customer WHERE email = 'a\\';b'"))


class SkipTest(LitpackCase):
    SQL = (b"select 1;\n" + b"\x00x y;\n" + tokens(4999) + b";\n" + tokens(5000) + b";\n" +
           b"select 'open\nquote;\n")

    def test_statements_litsieve_would_stop_on_are_skipped(self):
        self.write("w.sql", self.SQL)
        run = self.pack("--from", "sql", "-o", "out.rec", "--meta", "out.tsv", "w.sql")
        self.assertEqual((run.status, run.stderr), (0, b"\n".join([
            b"litpack: w.sql:2: " + NO_TOKEN,
            b"litpack: w.sql:4: " + TOO_MANY,
            b"litpack: w.sql:5: " + OPEN_QUOTE,
            summary(3, 1, 1, "sql")]) + b"\n"))
        self.check_packed([("w.sql", 1, b"select 1"), ("w.sql", 3, tokens(4999)),
                           ("w.sql", 5, b"select 'open\nquote;")])
        run = self.sieve("-full", "out.rec", "report.txt")
        self.assertEqual((run.status, run.stderr), (0, b""))

    def test_keep_all_packs_them_anyway(self):
        self.write("w.sql", self.SQL)
        run = self.pack("--keep-all", "--from", "sql", "--first-id", "10", "-o", "out.rec",
                        "--meta", "out.tsv", "w.sql")
        self.assertEqual((run.status, run.stderr), (0, b"\n".join([
            b"litpack: w.sql:5: " + OPEN_QUOTE, summary(5, 0, 0, "sql")]) + b"\n"))
        self.check_packed([("w.sql", 1, b"select 1"), ("w.sql", 2, b"\x00x y"),
                           ("w.sql", 3, tokens(4999)), ("w.sql", 4, tokens(5000)),
                           ("w.sql", 5, b"select 'open\nquote;")], first_id=10)
        # What litsieve stops on, it stops on: the reason the default skips.
        run = self.sieve("out.rec", "report.txt")
        self.assertEqual(run.status, 255)


class RefusalTest(LitpackCase):
    """Failures with their exact message and status, leaving no output."""

    def test_refusals(self):
        self.write("a.sql", b"select 1;\nselect 2;\n")
        cases = [
            (["--meta", "out.rec", "-o", "out.rec", "a.sql"], 2,
             b"litpack: can't write out.rec: it is also the record output\n"),
            (["--meta", "./out.rec", "-o", "out.rec", "a.sql"], 2,
             b"litpack: can't write ./out.rec: it is also the record output\n"),
            (["--meta", "-", "a.sql"], 2,
             b"litpack: can't write standard output: it is also the record output\n"),
            (["--meta", "a.sql", "-o", "out.rec", "a.sql"], 2,
             b"litpack: can't write a.sql: it is also an input\n"),
            (["--first-id", "2147483647", "--meta", "out.tsv", "-o", "out.rec", "a.sql"], 1,
             detected("a.sql", "sql") + b"\nlitpack: record ids ran past 2147483647\n"),
            (["--from", "csv", "a.sql"], 1,
             b"litpack: --from takes auto, sql, lines, mysql-slow, mysql-general, pg-log or "
             b"pg-csv, not csv\n"),
            (["--dialect", "db2", "a.sql"], 1,
             b"litpack: --dialect takes generic, postgres, mysql, oracle or tsql, not db2\n"),
            (["--meta", "out.tsv", "-o", "out.rec", "a.sql", "missing.sql"], 1,
             b"litpack: can't open missing.sql: No such file or directory\n"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                before = sorted(os.listdir(self.dir))
                run = self.pack(*args)
                self.assertEqual((run.status, run.stderr), (status, message))
                self.assertEqual(sorted(os.listdir(self.dir)), before, "no output left")

    def test_names_in_warnings_are_escaped(self):
        if OPTIONS.runner:
            self.skipTest("Windows programs get their arguments in the ANSI code page")
        name = "in\u202e.sql"
        self.write(name, b"\x00;\n")
        run = self.pack("--from", "sql", "-o", "out.rec", name)
        self.assertEqual(run.stderr, b"litpack: in\\u{202E}.sql:1: " + NO_TOKEN + b"\n" +
                         summary(0, 1, 0, "sql") + b"\n")


class FixtureTest(LitpackCase):
    """Every fixture packs without a warning, in the format detected for it,
    and litsieve takes the records whole."""

    def test_every_fixture_through_litsieve(self):
        names = sorted(os.listdir(OPTIONS.fixtures))
        self.assertEqual(set(names), set(FIXTURE_DIALECTS) | set(FIXTURE_FORMATS))
        for name in names:
            with self.subTest(name):
                path = os.path.join(OPTIONS.fixtures, name)
                args = ["--dialect", FIXTURE_DIALECTS[name]] if name in FIXTURE_DIALECTS else []
                run = self.pack(*args, "-o", "out.rec", "--meta", "out.tsv", path)
                self.assertEqual(run.status, 0, run.stderr)
                lines = run.stderr.split(b"\n")
                fmt = FIXTURE_FORMATS.get(name, "sql")
                self.assertEqual(lines[0], detected(path, fmt))
                self.assertTrue(lines[1].startswith(b"litpack: wrote "), run.stderr)
                self.assertEqual(lines[2:], [b""], "no warning")
                records = records_of(self.read("out.rec"))
                self.assertTrue(records)
                self.assertEqual(len(self.meta_rows("out.tsv")), len(records))
                run = self.sieve("-full", "out.rec", "report.txt")
                self.assertEqual((run.status, run.stderr), (0, b""))
                report = self.read("report.txt").split(b"\r\n")[:-1]
                self.assertEqual([int(line.split(b"\t")[0]) for line in report],
                                 [rid for rid, _ in records], "one line per record")


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["litpack", "litsieve", "fixtures"])
    run_tests(rest)


if __name__ == "__main__":
    main()
