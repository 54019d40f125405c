#!/usr/bin/env python3
"""Writes a MySQL 8 slow query log of a given size for the litpack benchmark.

    bench/gen_slow_log.py [--seed N] [--bytes SIZE] [--count] OUTPUT

The log is what a busy order-entry server with long_query_time = 0 writes:
the server's opening lines, then entries of "# Time:", "# User@Host:" and
"# Query_time:" header lines (one in twenty with the log_slow_extra fields),
a "use" line when the database changes, the "SET timestamp=...;" line
(sometimes with insert_id) and the statement with its ';'. Statements come
from 40 templates over 12 tables (lookups, joins, grouping, multi-row
inserts, updates, deletes, administrator commands), one in five written over
several lines, with fresh literals: numbers, quoted strings with \\' and ''
escapes, dates. The stream depends only on the seed; SIZE (default 1 GiB,
suffixes K, M, G) is reached by whole entries, so the file ends on a complete
entry just past it. With --count, the number of statements written (the
records litpack must make of the log) is printed on standard output.
"""
import argparse
import random
import sys

TABLES = ["customer", "orders", "order_line", "product", "stock", "warehouse",
          "invoice", "payment", "shipment", "address", "supplier", "audit_log"]
DATABASES = ["shop", "shop", "shop", "reports", "archive"]
USERS = [("app", "web1", "10.0.0.7"), ("app", "web2", "10.0.0.8"),
         ("batch", "localhost", ""), ("report", "bi1", "10.0.1.3")]
WORDS = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
         "O'Brien", "it's", "semi;colon", "back\\slash", "caf\u00e9", "#hash", "-- dash"]


def quoted(rng):
    """A MySQL string literal with the escapes a client library writes."""
    word = rng.choice(WORDS) + " " + rng.choice(WORDS)
    if rng.random() < 0.5:
        body = word.replace("\\", "\\\\").replace("'", "\\'")
    else:
        body = word.replace("\\", "\\\\").replace("'", "''")
    return "'" + body + "'"


def date(rng):
    return "'2024-%02d-%02d %02d:%02d:%02d'" % (rng.randint(1, 12), rng.randint(1, 28),
                                                 rng.randint(0, 23), rng.randint(0, 59),
                                                 rng.randint(0, 59))


def number(rng):
    return str(rng.randint(1, 10 ** rng.randint(1, 7)))


def statement(rng, template):
    """One statement of template number `template` with fresh literals."""
    t = TABLES[template % len(TABLES)]
    u = TABLES[(template * 7 + 3) % len(TABLES)]
    kind = template % 10
    if kind == 0:
        return "SELECT * FROM %s WHERE id = %s" % (t, number(rng))
    if kind == 1:
        return ("SELECT a.id, a.name, b.total FROM %s a JOIN %s b ON b.%s_id = a.id "
                "WHERE a.created >= %s AND b.status IN (%s) ORDER BY b.total DESC LIMIT %d"
                % (t, u, t, date(rng), ", ".join(quoted(rng) for _ in range(rng.randint(1, 6))),
                   rng.randint(1, 100)))
    if kind == 2:
        rows = ", ".join("(%s, %s, %s, %s)" % (number(rng), quoted(rng), number(rng), date(rng))
                         for _ in range(rng.randint(1, 12)))
        return "INSERT INTO %s (id, name, qty, created) VALUES %s" % (t, rows)
    if kind == 3:
        return "UPDATE %s SET qty = qty - %s, note = %s WHERE id = %s" % (
            t, number(rng), quoted(rng), number(rng))
    if kind == 4:
        return "DELETE FROM %s WHERE created < %s LIMIT 1000" % (t, date(rng))
    if kind == 5:
        return ("SELECT status, COUNT(*), SUM(total)\n  FROM %s\n WHERE created BETWEEN %s AND %s\n"
                " GROUP BY status\nHAVING COUNT(*) > %s" % (t, date(rng), date(rng), number(rng)))
    if kind == 6:
        return "SELECT name FROM %s WHERE name LIKE %s /* search box */" % (t, quoted(rng))
    if kind == 7:
        return ("SELECT id FROM %s WHERE id IN (%s) FOR UPDATE"
                % (t, ", ".join(number(rng) for _ in range(rng.randint(2, 40)))))
    if kind == 8:
        return ("INSERT INTO %s (id, doc) VALUES (%s, %s) ON DUPLICATE KEY UPDATE doc = VALUES(doc)"
                % (t, number(rng), quoted(rng)))
    return "SELECT COUNT(*) FROM %s WHERE owner = %s AND flag = b'1'" % (t, quoted(rng))


def entries(rng):
    """The log's entries, forever: (text, statements in it)."""
    clock = 1709647331.0
    database = None
    thread = 30
    while True:
        clock += rng.expovariate(400.0)
        user, host, ip = rng.choice(USERS)
        thread = thread + 1 if rng.random() < 0.01 else thread
        query_time = rng.lognormvariate(-7, 2)
        seconds = int(clock)
        stamp = "%s.%06dZ" % (format_time(seconds), int((clock - seconds) * 1e6))
        lines = ["# Time: %s\n" % stamp,
                 "# User@Host: %s[%s] @ %s [%s]  Id: %5d\n" % (user, user, host, ip, thread)]
        head = "# Query_time: %.6f  Lock_time: %.6f Rows_sent: %d  Rows_examined: %d" % (
            query_time, query_time * rng.random() / 10, rng.randint(0, 50),
            rng.randint(0, 100000))
        if rng.random() < 0.05:
            head += (" Thread_id: %d Errno: 0 Killed: 0 Bytes_received: %d Bytes_sent: %d "
                     "Read_first: 0 Read_last: 0 Read_key: 1 Read_next: 0 Read_prev: 0 "
                     "Read_rnd: 0 Read_rnd_next: 0 Sort_merge_passes: 0 Sort_range_count: 0 "
                     "Sort_rows: 0 Sort_scan_count: 0 Created_tmp_disk_tables: 0 "
                     "Created_tmp_tables: 0 Count_hit_tmp_table_size: 0  Start: %s End: %s"
                     % (thread, rng.randint(20, 900), rng.randint(50, 9000), stamp, stamp))
        lines.append(head + "\n")
        wanted = rng.choice(DATABASES)
        if wanted != database:
            database = wanted
            lines.append("use %s;\n" % database)
        template = min(int(rng.paretovariate(1.2)) - 1, 39)
        statements = 1
        if rng.random() < 0.01:
            lines.append("SET timestamp=%d;\n# administrator command: Quit;\n" % seconds)
            statements = 0  # a comment: no statement
        else:
            if template % 10 in (2, 8) and rng.random() < 0.3:
                lines.append("SET insert_id=%s,timestamp=%d;\n" % (number(rng), seconds))
            else:
                lines.append("SET timestamp=%d;\n" % seconds)
            lines.append(statement(rng, template) + ";\n")
        yield "".join(lines), statements


DAYS = [31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]  # 2024


def format_time(seconds):
    """ISO time of a 2024 Unix time, without the time module's locale."""
    day, rest = divmod(seconds - 1704067200, 86400)
    month = 0
    while day >= DAYS[month]:
        day -= DAYS[month]
        month = (month + 1) % 12
    return "2024-%02d-%02dT%02d:%02d:%02d" % (month + 1, day + 1, rest // 3600, rest // 60 % 60,
                                               rest % 60)


def size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1:].upper() in units:
        return int(text[:-1]) * units[text[-1].upper()]
    return int(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--bytes", type=size, default=1 << 30)
    parser.add_argument("--count", action="store_true", help="print the statements written")
    parser.add_argument("output")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    written = 0
    statements = 0
    with open(args.output, "w", encoding="utf-8", newline="\n") as out:
        opening = ("/usr/sbin/mysqld, Version: 8.0.36 (MySQL Community Server - GPL). "
                   "started with:\nTcp port: 3306  Unix socket: /var/run/mysqld/mysqld.sock\n"
                   "Time                 Id Command    Argument\n")
        out.write(opening)
        written += len(opening)
        block = []
        for entry, count in entries(rng):
            block.append(entry)
            statements += count
            written += len(entry.encode("utf-8"))
            if len(block) == 4096 or written >= args.bytes:
                out.write("".join(block))
                block = []
            if written >= args.bytes:
                break
    if args.count:
        print(statements)
    return 0


if __name__ == "__main__":
    sys.exit(main())
