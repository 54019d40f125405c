#!/usr/bin/env python3
"""litpack on a large SQL script: peak RSS and throughput.

    python3 bench/litpack_stream.py              # 1 GiB, 3 runs
    python3 bench/litpack_stream.py --size-mib 64 --runs 1

Builds litpack in build/bench (as bench/run.sh does) unless --litpack names
one, generates the script under a temporary directory (a chunk of the
seeded oltp workload with `;` terminators, multi-line statements, comments,
quoted `;` and `/` lines, repeated to the size), runs litpack through
runstat (bench/runstat.c: peak RSS from wait4) and checks that every
statement became a record. Then, under an address-space limit smaller than
the script, it packs the script again (memory does not follow the input)
and packs one statement larger than the limit, which must end with "Not
enough memory", status 1 and no output. The format is given (--from sql), so
standard error holds only litpack's own lines. The generated files are deleted at
the end. Results go to bench/results/LITPACK-STREAM.md.
"""
import argparse
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RSS_TARGET_MIB = 32
LIMIT_MIB = 48  # address space for the limited runs

# Statements beside the generated ones, in the forms the splitter knows:
# each line below is (text in the script, records it makes).
EXTRA = [
    (b"-- nightly batch\n/* header; with a ; inside */\n", 0),
    (b"select a.id, b.name\n  from orders a\n  join customers b on b.id = a.customer_id\n"
     b" where a.note = 'done; really' and b.code = \"x;y\"  -- trailing; comment\n ;\n", 1),
    (b"begin\n  update stock set qty = qty - 1 where id = 7; commit; end;\n/\n", 1),
    (b"create table t_log (id int, msg varchar(200))\n/\n", 1),
]


def log(message):
    print(message, file=sys.stderr, flush=True)


def build(args, work):
    runstat = os.path.join(work, "runstat")
    subprocess.run(["cc", "-O2", "-o", runstat, os.path.join(HERE, "runstat.c")], check=True)
    if args.litpack:
        return os.path.abspath(args.litpack), runstat
    build_dir = os.path.join(ROOT, "build", "bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DLIT_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "litpack"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "tools", "litpack"), runstat


def make_script(path, size, work):
    """Writes about `size` bytes of SQL; returns (bytes, statements)."""
    lines = os.path.join(work, "oltp.txt")
    subprocess.run([sys.executable, os.path.join(HERE, "gen_workload.py"), "--kind", "oltp",
                    "--count", "20000", "-o", lines], check=True)
    chunk = bytearray()
    statements = 0
    with open(lines, "rb") as f:
        for i, line in enumerate(f):
            chunk += line.rstrip(b"\n") + b";\n"
            statements += 1
            if i % 500 == 0:
                extra, count = EXTRA[i // 500 % len(EXTRA)]
                chunk += extra
                statements += count
    os.unlink(lines)
    repeats = max(1, size // len(chunk))
    with open(path, "wb") as f:
        for _ in range(repeats):
            f.write(chunk)
    return repeats * len(chunk), repeats * statements


def timed(runstat, cmd, limit=None):
    """(cpu s, wall s, peak RSS KiB, status, stderr) of one run."""
    stats = cmd[2] + ".stats"

    def apply_limit():
        if limit:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    p = subprocess.run([runstat, stats] + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, preexec_fn=apply_limit)
    with open(stats) as f:
        cpu, wall, rss, status = f.read().split()
    os.unlink(stats)
    return float(cpu), float(wall), int(rss), int(status), p.stderr


def records_in(path):
    count = 0
    with open(path, "rb") as f:
        while True:
            header = f.read(8)
            if not header:
                return count
            f.seek(int.from_bytes(header[4:], "little", signed=True), os.SEEK_CUR)
            count += 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--litpack", help="a built litpack (default: build it in build/bench)")
    ap.add_argument("--tmp", default=None, help="directory for the generated files")
    ap.add_argument("--results", default=os.path.join(HERE, "results", "LITPACK-STREAM.md"))
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="litpack-stream-", dir=args.tmp)
    try:
        litpack, runstat = build(args, work)
        script = os.path.join(work, "script.sql")
        log("generating %d MiB of SQL in %s" % (args.size_mib, work))
        size, statements = make_script(script, args.size_mib << 20, work)
        out = os.path.join(work, "script.rec")
        samples = []
        for run in range(args.runs):
            cpu, wall, rss, status, errors = timed(
                runstat, [litpack, "-o", out, "--from", "sql", script])
            if status != 0:
                raise SystemExit("litpack failed: %s" % errors.decode(errors="replace"))
            samples.append((cpu, wall, rss))
            log("run %d: %.2f s wall, %.2f s CPU, %.1f MiB peak RSS"
                % (run + 1, wall, cpu, rss / 1024))
        packed = records_in(out)
        if packed != statements:
            raise SystemExit("CHECK FAILED: %d records for %d statements" % (packed, statements))
        os.unlink(out)

        limit = LIMIT_MIB << 20
        cpu, wall, rss, status, errors = timed(
            runstat, [litpack, "-o", out, "--from", "sql", script], limit)
        limited_ok = status == 0 and records_in(out) == statements
        os.unlink(out)
        huge = os.path.join(work, "huge.sql")
        with open(huge, "wb") as f:
            f.write(b"select '" + b"x" * (2 * limit) + b"';\n")
        _, _, _, huge_status, huge_errors = timed(
            runstat, [litpack, "-o", out, "--from", "sql", huge], limit)
        huge_ok = (huge_status == 1 and huge_errors == b"Not enough memory\n"
                   and sorted(os.listdir(work)) == ["huge.sql", "runstat", "script.sql"])
    finally:
        shutil.rmtree(work, ignore_errors=True)

    wall = statistics.median(s[1] for s in samples)
    cpu = statistics.median(s[0] for s in samples)
    peak = max(s[2] for s in samples) / 1024
    mb = size / 1e6
    lines = [
        "# litpack on a large SQL script",
        "",
        "Written by `python3 bench/litpack_stream.py --size-mib %d --runs %d` on %s (%d CPUs, "
        "Python %s). Medians of %d runs; MB/s are 10^6 bytes per second."
        % (args.size_mib, args.runs, platform.platform(), os.cpu_count(),
           platform.python_version(), args.runs),
        "",
        "| input | statements | wall s | CPU s | MB/s (wall) | MB/s (CPU) | peak RSS MiB |",
        "|---|---:|---:|---:|---:|---:|---:|",
        "| %.0f MiB SQL script | %d | %.2f | %.2f | %.0f | %.0f | %.1f |"
        % (size / 2 ** 20, statements, wall, cpu, mb / wall, mb / cpu, peak),
        "",
        "- Peak RSS under %d MiB: %s." % (RSS_TARGET_MIB, "yes" if peak < RSS_TARGET_MIB else "NO"),
        "- Under a %d MiB address-space limit the whole script packs: %s."
        % (LIMIT_MIB, "yes" if limited_ok else "NO"),
        "- Under the same limit a %d MiB statement ends with \"Not enough memory\", status 1, "
        "no output and no new file left: %s." % (2 * LIMIT_MIB, "yes" if huge_ok else "NO"),
    ]
    text = "\n".join(lines) + "\n"
    print(text)
    os.makedirs(os.path.dirname(args.results), exist_ok=True)
    with open(args.results, "w") as f:
        f.write(text)
    if peak >= RSS_TARGET_MIB or not limited_ok or not huge_ok:
        raise SystemExit(1)


if __name__ == "__main__":
    main()
