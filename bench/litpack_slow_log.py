#!/usr/bin/env python3
"""litpack on a large MySQL slow query log: throughput and peak RSS.

    python3 bench/litpack_slow_log.py              # 1 GiB, 5 runs
    python3 bench/litpack_slow_log.py --size-mib 64 --runs 1

Builds litpack in build/bench (as bench/run.sh does) unless --litpack names
one, generates the log with bench/gen_slow_log.py (seeded) in a new
directory under /tmp (--tmp), and runs `litpack -o LOG.rec --meta LOG.tsv
LOG` (the format detected, as a user would run it) and `litpack -o LOG.rec
LOG` through runstat (bench/runstat.c: CPU, wall time and peak RSS from
wait4), alternating. Every run must write one record and one metadata line
per statement of the log. The generated files are deleted at the end.
Results go to bench/results/LITPACK-SLOW-LOG.md.
"""
import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile

from litpack_stream import build, records_in, timed

HERE = os.path.dirname(os.path.abspath(__file__))
THROUGHPUT_TARGET = 150  # MB/s, wall
RSS_TARGET_MIB = 32


def log(message):
    print(message, file=sys.stderr, flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--seed", type=int, default=20261207)
    ap.add_argument("--litpack", help="a built litpack (default: build it in build/bench)")
    ap.add_argument("--tmp", default="/tmp", help="directory for the generated files")
    ap.add_argument("--results", default=os.path.join(HERE, "results", "LITPACK-SLOW-LOG.md"))
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="litpack-slow-log-", dir=args.tmp)
    try:
        litpack, runstat = build(args, work)
        slow_log = os.path.join(work, "slow.log")
        log("generating a %d MiB slow log in %s" % (args.size_mib, work))
        generated = subprocess.run(
            [sys.executable, os.path.join(HERE, "gen_slow_log.py"), "--seed", str(args.seed),
             "--bytes", "%dM" % args.size_mib, "--count", slow_log],
            check=True, stdout=subprocess.PIPE)
        statements = int(generated.stdout)
        size = os.path.getsize(slow_log)
        out = os.path.join(work, "slow.rec")
        meta = os.path.join(work, "slow.tsv")
        kinds = {
            "with --meta": [litpack, "-o", out, "--meta", meta, slow_log],
            "records only": [litpack, "-o", out, slow_log],
        }
        samples = {kind: [] for kind in kinds}
        for run in range(args.runs):
            order = list(kinds) if run % 2 == 0 else list(reversed(list(kinds)))
            for kind in order:
                cpu, wall, rss, status, errors = timed(runstat, kinds[kind])
                if status != 0:
                    raise SystemExit("litpack failed: %s" % errors.decode(errors="replace"))
                packed = records_in(out)
                if packed != statements:
                    raise SystemExit("CHECK FAILED: %d records for %d statements"
                                     % (packed, statements))
                if kind == "with --meta":
                    with open(meta, "rb") as f:
                        lines = sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))
                    if lines != statements + 1:
                        raise SystemExit("CHECK FAILED: %d metadata lines for %d statements"
                                         % (lines, statements))
                    os.unlink(meta)
                os.unlink(out)
                samples[kind].append((cpu, wall, rss))
                log("run %d, %s: %.2f s wall, %.2f s CPU, %.1f MiB peak RSS"
                    % (run + 1, kind, wall, cpu, rss / 1024))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    mb = size / 1e6
    command = "python3 bench/litpack_slow_log.py"
    if args.size_mib != 1024 or args.runs != 5:
        command += " --size-mib %d --runs %d" % (args.size_mib, args.runs)
    lines = [
        "# litpack on a large MySQL slow query log",
        "",
        "Written by `%s` on %s (%d CPUs, Python %s). The log: `bench/gen_slow_log.py --seed %d "
        "--bytes %dM`, %.0f MiB, %d statements, generated under %s and deleted afterwards. "
        "litpack detects the format. Medians of %d alternated runs; MB/s are 10^6 bytes per "
        "second of the log."
        % (command, platform.platform(), os.cpu_count(), platform.python_version(), args.seed,
           args.size_mib, size / 2 ** 20, statements, args.tmp, args.runs),
        "",
        "| run | wall s | CPU s | MB/s (wall) | MB/s (CPU) | peak RSS MiB |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    verdicts = []
    for kind, runs in samples.items():
        wall = statistics.median(s[1] for s in runs)
        cpu = statistics.median(s[0] for s in runs)
        peak = max(s[2] for s in runs) / 1024
        lines.append("| `litpack -o LOG.rec%s LOG` | %.2f | %.2f | %.0f | %.0f | %.1f |"
                     % (" --meta LOG.tsv" if kind == "with --meta" else "", wall, cpu, mb / wall,
                        mb / cpu, peak))
        verdicts.append((kind, mb / wall >= THROUGHPUT_TARGET, peak <= RSS_TARGET_MIB))
    lines.append("")
    for kind, fast, small in verdicts:
        lines.append("- %s: at least %d MB/s (wall): %s; peak RSS at most %d MiB: %s."
                     % (kind, THROUGHPUT_TARGET, "yes" if fast else "NO", RSS_TARGET_MIB,
                        "yes" if small else "NO"))
    text = "\n".join(lines) + "\n"
    print(text)
    os.makedirs(os.path.dirname(args.results), exist_ok=True)
    with open(args.results, "w") as f:
        f.write(text)
    if not all(fast and small for _, fast, small in verdicts):
        raise SystemExit(1)


if __name__ == "__main__":
    main()
