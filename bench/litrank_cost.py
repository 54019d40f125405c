#!/usr/bin/env python3
"""litrank ranking by cost on a 1M-statement workload with metadata.

    python3 bench/litrank_cost.py               # oltp-1m and distinct-1m, 5 runs
    python3 bench/litrank_cost.py --runs 3 --workloads oltp-1m

Builds litsieve, litpack and litrank in build/bench (as bench/run.sh does)
unless --build names a build, generates and packs the workloads with
bench/bench.py's generator (into bench/out/), and writes beside each record
file a metadata file as litpack writes it: a header, then per record its
id, a source (app-N.log, in runs of 10,000 records), the line, a duration
in milliseconds (seeded: a log-normal spread per statement shape, 2 % of
records without one), a user, a database and a time. Then, alternating the
programs in each run (bench.py's method: runstat's user + sys CPU time, wall
time and peak RSS, medians), it times

    litsieve INPUT.rec REPORT
    litrank --quiet --meta INPUT.tsv --by time --json OUT.json --html OUT.html INPUT.rec
    litrank ... -n 0 (every group in the JSON, 2,000 rows on the page)

and gives litrank's CPU time as a multiple of litsieve's (target: at most
1.5x for the first form), the page's size (target: under 5 MB) and how long
headless chromium takes to load the page and take a screenshot (target:
under 3 s; the browser's own start is measured on an empty page beside it).
Results go to bench/results/LITRANK-COST.md.
"""
import argparse
import os
import platform
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench  # noqa: E402  (the generator, packing and timing of the main benchmark)

ROOT = bench.ROOT
TARGET_RATIO = 1.5
TARGET_PAGE_BYTES = 5 * 1024 * 1024
TARGET_RENDER_S = 3.0
# distinct-1m is timed without its few statements over 4,999 bytes (see
# short_workload): about 850k groups.
bench.WORKLOADS.setdefault("distinct-1m", ("distinct", 1000000))

META_HEADER = b"id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"


def log(message):
    print(message, file=sys.stderr, flush=True)


def build(args):
    if args.build:
        return args.build
    build_dir = os.path.join(ROOT, "build", "bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DLIT_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "litsieve", "litpack", "litrank"],
                   check=True, stdout=subprocess.DEVNULL)
    return build_dir


def records_of(path):
    """(id, first bytes of the text) of every record, in file order."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while at < len(data):
        rid, length = struct.unpack_from("<ii", data, at)
        yield rid, data[at + 8:at + 8 + min(length, 24)]
        at += 8 + length


def write_meta(rec, meta):
    """The metadata file of `rec`, made once (seeded: the same every time)."""
    if os.path.exists(meta) and os.path.getmtime(meta) >= os.path.getmtime(rec):
        return
    rng = random.Random(bench.SEED)
    users = [b"web", b"batch", b"report"]
    with open(meta + ".tmp", "wb") as out:
        out.write(META_HEADER)
        for i, (rid, start) in enumerate(records_of(rec)):
            # Statements that start alike cost alike: the mean follows the
            # first bytes, the spread is log-normal.
            mu = (sum(start) % 23) / 4.0 - 1.0
            duration = b"" if rng.random() < 0.02 else b"%.3f" % rng.lognormvariate(mu, 1.0)
            out.write(b"%d\tapp-%d.log\t%d\t%s\t%s\tshop\t2026-12-01 10:%02d:%02d\n"
                      % (rid, i // 10000, i + 1, duration, users[i % 3], (i // 60) % 60, i % 60))
    os.replace(meta + ".tmp", meta)


def short_workload(base, litpack):
    """The workload without its statements of more than 4,999 bytes: at 1M
    statements the distinct kind draws a few IN lists of 5,000 tokens and
    more, on which litsieve (and so litrank) stops by design ("yacc stack
    overflow"). A statement of at most 4,999 bytes has at most 4,999 tokens."""
    short = base + "-short"
    if not os.path.exists(short + ".rec") or \
            os.path.getmtime(short + ".rec") < os.path.getmtime(base + ".sql"):
        with open(base + ".sql", "rb") as f, open(short + ".sql", "wb") as out:
            for line in f:
                if len(line.rstrip(b"\n")) <= 4999:
                    out.write(line)
        subprocess.run([litpack, "--lines", "-o", short + ".rec", short + ".sql"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return short


def render_seconds(chromium, page, runs):
    """Median wall time of headless chromium loading `page` and taking a
    screenshot of it."""
    times = []
    with tempfile.TemporaryDirectory(prefix="litrank-render-") as work:
        for i in range(runs):
            profile = os.path.join(work, "profile%d" % i)
            t = time.perf_counter()
            subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu",
                            "--no-first-run", "--disable-background-networking",
                            "--disable-component-update", "--disable-sync",
                            "--user-data-dir=" + profile, "--window-size=1280,1000",
                            "--screenshot=" + os.path.join(work, "shot.png"), "file://" + page],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=120)
            times.append(time.perf_counter() - t)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description="litrank cost benchmark")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--workloads", default="oltp-1m,distinct-1m")
    ap.add_argument("--build", help="a build directory with the three programs")
    ap.add_argument("--results", default=os.path.join(bench.RESULTS, "LITRANK-COST.md"))
    args = ap.parse_args()
    names = args.workloads.split(",")

    build_dir = build(args)
    litsieve, litpack = bench.find_lit_binaries(build_dir)
    litrank = os.path.join(build_dir, "ranker", "litrank")
    os.makedirs(bench.OUT, exist_ok=True)
    tools = bench.build_comparators()
    bench.make_workloads(names, litpack)
    chromium = next((p for p in (subprocess.run(["sh", "-c", "command -v " + n],
                                                capture_output=True, text=True).stdout.strip()
                                 for n in ("chromium", "chromium-browser")) if p), None)

    rows = []
    for name in names:
        base = os.path.join(bench.OUT, name)
        if name == "distinct-1m":
            base = short_workload(base, litpack)
        rec, meta = base + ".rec", base + ".tsv"
        write_meta(rec, meta)
        out = base + ".litrank"
        programs = [
            ("litsieve", [litsieve, rec, base + ".report"]),
            ("litrank", [litrank, "--quiet", "--meta", meta, "--by", "time",
                         "--json", out + ".json", "--html", out + ".html", rec]),
            ("litrank -n 0", [litrank, "--quiet", "--meta", meta, "--by", "time", "-n", "0",
                              "--json", out + "-all.json", "--html", out + "-all.html", rec]),
        ]
        log("timing %s, %d runs" % (name, args.runs))
        result = bench.measure(programs, args.runs, tools["runstat"])
        sizes = {label: (os.path.getsize(out + suffix + ".html"),
                         os.path.getsize(out + suffix + ".json"))
                 for label, suffix in (("litrank", ""), ("litrank -n 0", "-all"))}
        render = blank = None
        if chromium:
            empty = os.path.join(bench.OUT, "empty.html")
            with open(empty, "w") as f:
                f.write("<!DOCTYPE html><title>empty</title>\n")
            blank = render_seconds(chromium, empty, 3)
            render = {label: render_seconds(chromium, out + suffix + ".html", 3)
                      for label, suffix in (("litrank", ""), ("litrank -n 0", "-all"))}
        groups = None
        with open(out + "-all.json") as f:
            import json
            groups = json.load(f)["groups_total"]
        rows.append((os.path.basename(base), result, sizes, render, blank, groups,
                     bench.count_records(rec)))

    lines = ["# litrank: ranking by cost", "",
             "Command: `python3 bench/litrank_cost.py --runs %d --workloads %s` (from the "
             "repository root)  " % (args.runs, args.workloads),
             "Date: %s UTC, commit %s  " % (time.strftime("%Y-%m-%d %H:%M", time.gmtime()),
                                            bench.git_head()),
             "Machine: %s  " % bench.machine_facts(), "",
             "Medians of %d runs, programs alternated (runstat: user + sys CPU time of the "
             "process, wall time, peak RSS). litrank runs `--quiet --meta INPUT.tsv --by time "
             "--json OUT.json --html OUT.html INPUT.rec` (default top 20) and the same with "
             "`-n 0`; ratio = litrank's CPU time / litsieve's (`litsieve INPUT.rec REPORT`) in "
             "the same runs. Render: headless chromium loading the page and taking a "
             "screenshot, wall time, median of 3 (its own start: an empty page)." % args.runs,
             "",
             "| workload | records | groups | program | CPU s | wall s | peak RSS MiB | ratio | "
             "page | JSON | render s |",
             "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"]
    verdicts = []
    for name, result, sizes, render, blank, groups, records in rows:
        base_cpu = result["litsieve"]["cpu"]
        for label in ("litsieve", "litrank", "litrank -n 0"):
            r = result[label]
            ratio = r["cpu"] / base_cpu if base_cpu > 0 else float("nan")
            page, js = sizes.get(label, (None, None))
            lines.append("| %s | %d | %d | %s | %.3f | %.3f | %.1f | %s | %s | %s | %s |" % (
                name, records, groups, label, r["cpu"], r["wall"], r["rss"] / 1024.0,
                "" if label == "litsieve" else "%.2fx" % ratio,
                "" if page is None else "%.2f MB" % (page / 1e6),
                "" if js is None else "%.2f MB" % (js / 1e6),
                "" if render is None or label not in render
                else "%.2f (empty page %.2f)" % (render[label], blank)))
        ratio = result["litrank"]["cpu"] / base_cpu
        verdicts.append("- %s: litrank %.2fx litsieve's CPU (target at most %.1fx): %s; pages "
                        "%.2f and %.2f MB (under 5 MB: %s)%s" % (
                            name, ratio, TARGET_RATIO, "met" if ratio <= TARGET_RATIO else "MISSED",
                            sizes["litrank"][0] / 1e6, sizes["litrank -n 0"][0] / 1e6,
                            "met" if max(s[0] for s in sizes.values()) < TARGET_PAGE_BYTES
                            else "MISSED",
                            "" if render is None else "; rendered in %.2f s at most (under 3 s: "
                            "%s)" % (max(render.values()),
                                     "met" if max(render.values()) < TARGET_RENDER_S
                                     else "MISSED")))
    lines += ["", "Targets:", ""] + verdicts + [""]
    with open(args.results, "w") as f:
        f.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
