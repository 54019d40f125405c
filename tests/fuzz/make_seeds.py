#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets.

Seeds are small: the first records of each workload of the shared corpus
(which is only read), the packer's fixtures (scripts and server logs), and
the edge cases the unit tests use. Each target gets
its own directory under OUT, in the input form its fuzzer expects (see the
comment at the top of each *_fuzzer.cpp).
"""
import argparse
import hashlib
import os
import struct

EDGE_TEXTS = [
    b"select a,b from t", b"x<=-1.5e+3", b"3.14", b".5", b"1.2.3", b"1e", b"1e+", b"1st",
    b"0x1F", b"LIKE like _tmp9", b"v$sql", b"'It''s'", b"''", b"'abc",
    b"'01-JAN-2003'", b"'1-jan-03'", b"'31-Dec-1999 23:59:59'", b"' 7-MAY-2001'",
    b"'01-JAN- 2003'", b"'0-JAN-1'", b"'-0-feb-+1'", b"'32-JAN-2003'", b"'01-JANUARY-2003'",
    b"'2003-01-01'", b"'01-JAN-'", b"'01 -JAN-2003'", b"'01- JAN-2003'", b"'01-JUX-2003'",
    b"\\* hint *\\", b"\\**\\", b"\\* a *\\* b *\\", b"\\* never closed  ", b"-- note",
    b"/* x */", b" \t\r\n", b"", b"caf\xe9", b"\xa0\xff\x80", b"1else",
    b"select name from emp where id = 10 and hired > '01-Jan-2003'",
    b"UPDATE t SET c='abc', d=3.5E+2 WHERE x<=-1", b"where id = :id", b"a; b",
    b"select 'a' from t\x00garbage",
]
# Right at the parser's limit and one past it.
LONG_TEXTS = [b"," * 4999, b"," * 5000, b"x " * 4999, b"'a' 1 " * 2500]

DICTIONARY_SEEDS = [
    b"\n" + b"\n".join([b"ab", b"ab", b"a", b"abc", b"b", b"a", b"ab", b"abc", b"b", b"ba",
                        b"abd", b"ac", b"xyz", b"xy"]),
    b"\n" + b"\n".join([b"abc", b"ab", b"a", b"abc", b"ab", b"a", b""]),
    b"|" + b"|".join([b"a\x80", b"a\x81", b"a\xff", b"a\x00b", b"a\x00", b"a"]),
    # One branch through every size: "p", then "p" and each byte but the
    # separator (4, 16, 48 and 256 children), then the same texts again.
    b"\xfe" + b"\xfe".join([b"p"] + [b"p" + bytes([(i * 37 + 11) % 256]) for i in range(256)
                                       if (i * 37 + 11) % 256 != 0xfe] * 2),
    # Branches of 5, 17 and 49 children at several depths, under one another.
    b"\n" + b"\n".join(b"q" * depth + bytes([65 + i]) for depth in (1, 2, 3)
                        for i in range(49)),
]


def rec(rid, text):
    return struct.pack("<ii", rid, len(text)) + text


def records(path, limit):
    out = []
    with open(path, "rb") as f:
        data = f.read(1 << 20)
    pos = 0
    while len(out) < limit and pos + 8 <= len(data):
        rid, length = struct.unpack_from("<ii", data, pos)
        if length < 0 or pos + 8 + length > len(data):
            break
        out.append((rid, data[pos + 8:pos + 8 + length]))
        pos += 8 + length
    return out


def save(directory, data):
    os.makedirs(directory, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--corpus", help="directory of .rec workloads (read only)")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    workload = []
    if args.corpus and os.path.isdir(args.corpus):
        for name in sorted(os.listdir(args.corpus)):
            if name.endswith(".rec"):
                workload.append(records(os.path.join(args.corpus, name), 40))

    lexer = os.path.join(args.out, "lexer")
    for text in EDGE_TEXTS + LONG_TEXTS:
        save(lexer, text)
    for recs in workload:
        for _, text in recs[:25]:
            save(lexer, text[:4000])

    dictionary = os.path.join(args.out, "dictionary")
    for seed in DICTIONARY_SEEDS:
        save(dictionary, seed)
    for recs in workload:
        # Statement heads share long prefixes: the splits the trie is made for.
        save(dictionary, b"\n" + b"\n".join(t[:200].replace(b"\n", b" ") for _, t in recs))

    pipeline = os.path.join(args.out, "pipeline")
    small = [rec(5, b"select * from t where a = 1"), rec(7, b"select * from u"),
             rec(9, b"SELECT *  FROM T\nWHERE A = 42"), rec(12, b"select * from t where a=3")]
    example = b"".join(small)
    for control in (b"\x00\x00\x00", b"\x01\x00\x00", b"\x02\x00\x07", b"\x05\x00\x00",
                    b"\x09\x00\x00", b"\x0b\x00\x00", b"\x01\x03\x00", b"\x01\x09\x01",
                    # on threads, in batches of 24 to 136 bytes
                    b"\x11\x00\x00", b"\x31\x00\x03", b"\x51\x05\x00", b"\xf3\x00\x01"):
        save(pipeline, control + example)
    for tail in (b"\x01", b"\x01\x02\x03", b"\x01" * 5, b"\x01" * 7,
                 struct.pack("<ii", 2, -5) + b"abc", struct.pack("<ii", 2, 2147483647) + b"ab",
                 rec(2, b""), rec(2, b" \t"), rec(2, b"\x00x"), rec(2, b"\xff\x00\xff"),
                 rec(2, b"," * 4999), rec(2, b"," * 5000)):
        save(pipeline, b"\x01\x00\x00" + example + tail)
        save(pipeline, b"\x21\x00\x00" + example + tail)  # the same on threads
    for recs in workload:
        for count in (3, 10, 40):
            body = b"".join(rec(rid, text) for rid, text in recs[:count])
            if len(body) < 16000:
                save(pipeline, b"\x01\x00\x00" + body)

    # The packer's: each fixture in the format it is (byte 0: format + 7 *
    # dialect, as packer_fuzzer.cpp reads it) and detected, in 7-byte chunks.
    packer = os.path.join(args.out, "packer")
    fixtures = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packer",
                            "fixtures")
    formats = {".log": 0, ".csv": 6}
    dialects = {"pg_dump.sql": 1, "psql_script.sql": 1, "mysqldump.sql": 2,
                "sqlplus_script.sql": 3, "sqlcmd_script.sql": 4}
    for name in sorted(os.listdir(fixtures)):
        with open(os.path.join(fixtures, name), "rb") as f:
            text = f.read()[:16000]
        dialect = dialects.get(name, 0)
        first = formats.get(os.path.splitext(name)[1], 1) + 7 * dialect
        save(packer, bytes([first, 6]) + text)
        save(packer, bytes([7 * dialect, 2]) + text)


    # litrank's patterns (a line), then a normalised text to match and fold.
    pattern = os.path.join(args.out, "pattern")
    texts = [b"SELECT * FROM ORDERS WHERE ID IN ( :N , :N , :N )",
             b"DELETE FROM CART WHERE ID IN ( - :N , - :N ) \\* APP=WEB * \\",
             b"SELECT \\* ONLY * \\", b"UPDATE T SET A = :S WHERE B IN ( $ :N )"]
    for p in (b"FROM ORDERS", b"^select", b"(A|B)+C{1,3}$", b"[[:digit:]]", b"[^a-z ]",
              b"IN \\( (:N , )*:N \\)", b"x*y?z+", b"(((a)))|b|c", b"*.log", b"[!a]?"):
        for text in texts:
            save(pattern, p + b"\n" + text)
    for recs in workload:
        for _, text in recs[:5]:
            save(pattern, b"SELECT.*FROM\n" + text[:800])


if __name__ == "__main__":
    main()
