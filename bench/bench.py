#!/usr/bin/env python3
"""litsieve benchmark driver: workloads, comparators, checks, one table.

Builds the comparators (bench/floor.c, bench/pgq_normalize.c), generates the
workloads with bench/gen_workload.py and packs them with `litpack --lines`,
checks litsieve's report byte for byte against the floor's independent
report, then times every program on the same statements: runs alternated,
medians of --runs runs, CPU time (user + sys of the child, from wait4) as
the main figure, wall time and peak RSS beside it. Prints one table and
writes it with the machine facts, the target verdicts and the sha256 of
litsieve's report on the 1M workload to bench/results/RESULTS.md.

Usage: bench/run.sh [--quick] [--runs N]   (this file takes the same options)
"""

import argparse
import glob
import hashlib
import os
import platform
import shlex
import statistics
import struct
import subprocess
import sys
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
OUT = os.path.join(BENCH, "out")
RESULTS = os.path.join(BENCH, "results")
CORPUS = "/work/shared/corpus" if os.path.isdir("/work/shared/corpus") else \
    os.path.join(os.path.dirname(ROOT), "shared", "corpus")
SEED = 20261207

# name: (kind, statements); the oltp sizes are prefixes of one stream.
WORKLOADS = {"oltp-10k": ("oltp", 10000), "oltp-200k": ("oltp", 200000),
             "oltp-1m": ("oltp", 1000000), "distinct-200k": ("distinct", 200000)}
PEER_WORKLOAD = "oltp-200k"  # pg_query and pt-fingerprint run here

TARGET_FLOOR_RATIO = 2.0
TARGET_PEER_SPEEDUP = 10.0
TARGET_GROWTH = 5.5
TARGET_RECORD_BYTES = 16
TARGET_DICT_BYTES = 1.2 * 1024


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def run(cmd, **kw):
    log("+ " + " ".join(shlex.quote(c) for c in cmd))
    return subprocess.run(cmd, check=True, **kw)


# ---------------------------------------------------------------- building
def build_comparators(where=OUT):
    tools = {}
    for name, src, libs in (("runstat", "runstat.c", []), ("floor", "floor.c", []),
                            ("pgq_normalize", "pgq_normalize.c", ["-lpg_query"])):
        exe = os.path.join(where, name)
        source = os.path.join(BENCH, src)
        newest = max(os.path.getmtime(source), os.path.getmtime(__file__))
        if not os.path.exists(exe) or os.path.getmtime(exe) < newest:
            # -O3 as the Release build of litsieve.
            run(["cc", "-O3", "-Wall", "-Wextra", "-o", exe, source] + libs)
        tools[name] = exe
    return tools


def find_lit_binaries(build):
    litsieve = os.path.join(build, "analyzer", "litsieve")
    litpack = os.path.join(build, "tools", "litpack")
    return (litsieve if os.access(litsieve, os.X_OK) else None,
            litpack if os.access(litpack, os.X_OK) else None)


# --------------------------------------------------------------- workloads
def pack_lines(src, dst, first_id=1):
    """Reference packing of --lines input: one record per non-empty line."""
    with open(src, "rb") as f, open(dst, "wb") as out:
        n = first_id
        for line in f:
            line = line.rstrip(b"\n")
            if line:
                out.write(struct.pack("<ii", n, len(line)))
                out.write(line)
                n += 1


def head_lines(src, dst, n):
    with open(src, "rb") as f, open(dst, "wb") as out:
        for i, line in enumerate(f):
            if i == n:
                break
            out.write(line)


def stamp_of(name, gen_hash):
    kind, count = WORKLOADS[name]
    return "%s %s %d %d\n" % (gen_hash, kind, count, SEED)


def fresh(name, gen_hash):
    """Whether the workload's text was made by this generator and these arguments."""
    path = os.path.join(OUT, name + ".stamp")
    if not os.path.exists(path):
        return False
    with open(path) as f:
        return f.read() == stamp_of(name, gen_hash)


def mark_fresh(name, gen_hash):
    base = os.path.join(OUT, name)
    for suffix in (".rec", ".pt.sql"):  # made again from the new text
        if os.path.exists(base + suffix):
            os.remove(base + suffix)
    with open(base + ".stamp", "w") as f:
        f.write(stamp_of(name, gen_hash))


def make_workloads(names, litpack):
    """Generates (when the generator or its arguments changed) and packs."""
    gen = os.path.join(BENCH, "gen_workload.py")
    gen_hash = sha256(gen)[:16]
    largest = {}
    for name in names:
        kind, count = WORKLOADS[name]
        if count > largest.get(kind, (None, 0))[1]:
            largest[kind] = (name, count)
    for kind, (big, count) in largest.items():
        base = os.path.join(OUT, big)
        if not fresh(big, gen_hash):
            t = time.perf_counter()
            run([sys.executable, gen, "--kind", kind, "--count", str(count), "--seed", str(SEED),
                 "-o", base + ".sql", "--pg", base + ".pg.sql"])
            log("generated %s in %.1f s" % (big, time.perf_counter() - t))
            mark_fresh(big, gen_hash)
        # Smaller workloads of a kind are prefixes of its largest one.
        for name in names:
            k, n = WORKLOADS[name]
            if k == kind and name != big and not fresh(name, gen_hash):
                sub = os.path.join(OUT, name)
                head_lines(base + ".sql", sub + ".sql", n)
                head_lines(base + ".pg.sql", sub + ".pg.sql", n)
                mark_fresh(name, gen_hash)
    for name in names:
        base = os.path.join(OUT, name)
        if not os.path.exists(base + ".rec"):
            if litpack:
                run([litpack, "--lines", "-o", base + ".rec", base + ".sql"])
            else:
                log("litpack not built: packing %s with the reference packer" % name)
                pack_lines(base + ".sql", base + ".rec")
        if name == PEER_WORKLOAD and not os.path.exists(base + ".pt.sql"):
            # pt-fingerprint reads statements ended by ";\n".
            with open(base + ".pg.sql", "rb") as f, open(base + ".pt.sql", "wb") as out:
                for line in f:
                    out.write(line.rstrip(b"\n") + b";\n")


def count_records(path):
    n, size = 0, os.path.getsize(path)
    with open(path, "rb") as f:
        at = 0
        while at < size:
            f.seek(at + 4)
            (length,) = struct.unpack("<i", f.read(4))
            at += 8 + length
            n += 1
    return n


# ------------------------------------------------------------------ timing
RUNSTAT = os.path.join(OUT, "runstat")


def timed(cmd, runstat=None):
    """Runs cmd once through runstat; returns (cpu s, wall s, peak RSS KiB, stderr)."""
    runstat = runstat or RUNSTAT
    stats = runstat + ".txt"
    p = subprocess.run([runstat, stats] + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    err = p.stderr.decode(errors="replace")
    if p.returncode != 0:
        raise SystemExit("FAILED (%d): %s\n%s" % (p.returncode, " ".join(cmd), err))
    with open(stats) as f:
        cpu, wall, rss, _ = f.read().split()
    return float(cpu), float(wall), int(rss), err


def measure(programs, runs, runstat=None):
    """programs: list of (label, cmd). Runs alternated, order rotated."""
    samples = {label: [] for label, _ in programs}
    for i in range(runs):
        k = i % len(programs)
        for label, cmd in programs[k:] + programs[:k]:
            samples[label].append(timed(cmd, runstat))
    return {label: {"cpu": statistics.median(s[0] for s in v),
                    "wall": statistics.median(s[1] for s in v),
                    "rss": statistics.median(s[2] for s in v),
                    "rss_max": max(s[2] for s in v),
                    "stderr": v[-1][3], "runs": len(v)}
            for label, v in samples.items()}


def floor_summary(stderr):
    words = stderr.split()
    return {words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2)
            if words[i].isalpha() or "_" in words[i]}


# ------------------------------------------------------------------ checks
def check_identity(litsieve, floor, rec, tag):
    """litsieve's report equals the floor's, with and without -full."""
    for full in ([], ["-full"]):
        mine = os.path.join(OUT, tag + ".check.litsieve.rpt")
        ref = os.path.join(OUT, tag + ".check.floor.rpt")
        subprocess.run([litsieve] + full + [rec, mine], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([floor, "-r", ref] + full + [rec], check=True,
                       stderr=subprocess.DEVNULL)
        if sha256(mine) != sha256(ref):
            raise SystemExit("CHECK FAILED: litsieve %s report differs from the floor's on %s"
                             " (compare %s %s)" % (" ".join(full) or "default", rec, mine, ref))
        if full:
            groups = 0
            with open(mine, "rb") as f:
                for line in f:
                    groups = max(groups, int(line.split(b"\t")[1]))
            out = subprocess.run([floor, rec], check=True, capture_output=True, text=True)
            distinct = floor_summary(out.stderr)["distinct"]
            if groups != distinct:
                raise SystemExit("CHECK FAILED: %s: litsieve has %d groups, the floor %d distinct"
                                 " texts" % (rec, groups, distinct))
    log("check: litsieve report == floor report (default and -full) on %s" % tag)


def check_litpack(litpack):
    """litpack --lines writes the records the reference packer writes."""
    src = os.path.join(OUT, "oltp-10k.sql")
    ref, mine = os.path.join(OUT, "litpack.ref.rec"), os.path.join(OUT, "litpack.check.rec")
    pack_lines(src, ref)
    subprocess.run([litpack, "--lines", "-o", mine, src], check=True, stderr=subprocess.DEVNULL)
    if sha256(ref) != sha256(mine):
        raise SystemExit("CHECK FAILED: litpack --lines output differs from one record per line")
    log("check: litpack --lines == reference packing on oltp-10k")


# ------------------------------------------------------------------- table
def machine_facts():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    mem = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                mem = "%.1f GiB" % (int(line.split()[1]) / 1048576)
    return {"nproc": os.cpu_count(), "cpu": model, "memory": mem,
            "kernel": platform.release(),
            "cc": subprocess.run(["cc", "--version"], capture_output=True,
                                 text=True).stdout.splitlines()[0]}


def git_head():
    r = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%h (%s)"],
                       capture_output=True, text=True)
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--", "analyzer",
                            "normaliser", "tools"], capture_output=True, text=True).stdout
    return (r.stdout.strip() or "?") + (" plus uncommitted changes in analyzer/, normaliser/"
                                        " or tools/" if dirty.strip() else "")


def fmt_rate(x):
    if x >= 1e6:
        return "%.2fM" % (x / 1e6)
    if x >= 1e3:
        return "%.1fk" % (x / 1e3)
    return "%.0f" % x


def main():
    ap = argparse.ArgumentParser(description="litsieve benchmark")
    ap.add_argument("--quick", action="store_true",
                    help="oltp-10k and oltp-200k only, 3 runs, no corpus timing")
    ap.add_argument("--runs", type=int, help="runs per program (default 5, quick 3)")
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "default"),
                    help="build directory holding analyzer/litsieve and tools/litpack")
    ap.add_argument("--no-peers", action="store_true", help="skip pg_query and pt-fingerprint")
    ap.add_argument("--results", help="default bench/results/RESULTS.md"
                    " (bench/out/RESULTS-quick.md with --quick)")
    ap.add_argument("--baseline", metavar="EXE",
                    help="another litsieve (say, one built from an earlier commit) timed in the"
                    " same runs as litsieve-baseline, its reports checked the same way")
    ap.add_argument("--prepare-only", action="store_true",
                    help="build the comparators and make the workloads, then stop")
    a = ap.parse_args()
    runs = a.runs or (3 if a.quick else 5)
    a.results = a.results or (os.path.join(OUT, "RESULTS-quick.md") if a.quick else
                              os.path.join(RESULTS, "RESULTS.md"))
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(RESULTS, exist_ok=True)

    tools = build_comparators()
    litsieve, litpack = find_lit_binaries(a.build)
    if not litsieve:
        log("litsieve not found under %s: comparators only" % a.build)
    names = ["oltp-10k", "oltp-200k"] if a.quick else list(WORKLOADS)
    make_workloads(names, litpack)
    if a.prepare_only:
        return
    if litpack:
        check_litpack(litpack)

    corpus = sorted(glob.glob(os.path.join(CORPUS, "*.rec")))
    if litsieve:
        check_identity(litsieve, tools["floor"], os.path.join(OUT, "oltp-10k.rec"), "oltp-10k")
        for path in corpus:
            check_identity(litsieve, tools["floor"], path, os.path.basename(path)[:-4])

    rows = []  # (workload, label, stats, records, bytes, note)
    summaries = {}
    sets = [(n, os.path.join(OUT, n + ".rec")) for n in names]
    if not a.quick:
        sets += [("corpus/" + os.path.basename(p)[:-4], p) for p in corpus]
    for name, rec in sets:
        base = os.path.join(OUT, name)
        records, size = count_records(rec), os.path.getsize(rec)
        tag = name.replace("/", "_")
        lit_report = os.path.join(OUT, tag + ".litsieve.rpt")
        floor_report = os.path.join(OUT, tag + ".floor.rpt")
        programs = [("cat", ["cat", rec]),
                    ("floor", [tools["floor"], rec]),
                    ("floor+report", [tools["floor"], "-r", floor_report, rec])]
        if litsieve:
            programs.append(("litsieve", [litsieve, rec, lit_report]))
        base_report = os.path.join(OUT, tag + ".baseline.rpt")
        if a.baseline:
            programs.append(("litsieve-baseline", [a.baseline, rec, base_report]))
        if name == PEER_WORKLOAD and not a.no_peers:
            programs.append(("pg_query_normalize", [tools["pgq_normalize"], base + ".pg.sql"]))
            programs.append(("pt-fingerprint", ["pt-fingerprint", base + ".pt.sql"]))
        log("timing %s: %d records, %.1f MB, %d runs of %s" % (
            name, records, size / 1e6, runs, ", ".join(p[0] for p in programs)))
        stats = measure(programs, runs)
        summaries[name] = floor_summary(stats["floor"]["stderr"])
        summaries[name]["records"] = records
        summaries[name]["file_bytes"] = size
        if litsieve:
            if sha256(lit_report) != sha256(floor_report):
                raise SystemExit("CHECK FAILED: litsieve report differs from the floor's on "
                                 + name)
            summaries[name]["report_sha256"] = sha256(lit_report)
        if a.baseline and sha256(base_report) != sha256(floor_report):
            raise SystemExit("CHECK FAILED: the baseline's report differs from the floor's on "
                             + name)
        if "pg_query_normalize" in stats:
            e = stats["pg_query_normalize"]["stderr"].split()
            summaries[name]["pg_errors"] = int(e[e.index("errors") + 1])
        for label, _ in programs:
            rows.append((name, label, stats[label], records, size))

    if litsieve:
        check_reference(summaries, dict(sets))
    report_table(a, rows, summaries, runs, litsieve is not None)


REFERENCE = os.path.join(RESULTS, "report-sha256.txt")


def check_reference(summaries, inputs):
    """litsieve's reports stay what they were before any optimisation.

    bench/results/report-sha256.txt keeps, per workload, the sha256 of its
    record file and of litsieve's report on it. A report that differs from
    the one kept for the same input fails the run; new inputs are added."""
    known = {}
    if os.path.exists(REFERENCE):
        with open(REFERENCE) as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    name, input_sha, report_sha = line.split()
                    known[(name, input_sha)] = report_sha
    added = False
    for name, s in summaries.items():
        input_sha = sha256(inputs[name])[:16]
        s["input_sha256"] = input_sha
        want = known.get((name, input_sha))
        if want is None:
            known[(name, input_sha)] = s["report_sha256"]
            added = True
        elif want != s["report_sha256"]:
            raise SystemExit("CHECK FAILED: litsieve's report on %s changed: sha256 %s, kept %s"
                             % (name, s["report_sha256"], want))
        else:
            s["report_same"] = True
    if added:
        with open(REFERENCE, "w") as f:
            f.write("# workload, sha256 of its record file (16 digits), sha256 of litsieve's"
                    " report\n")
            for (name, input_sha), report_sha in sorted(known.items()):
                f.write("%s %s %s\n" % (name, input_sha, report_sha))
    log("check: litsieve reports equal the kept checksums (%s)" % os.path.relpath(REFERENCE, ROOT))


def names_timed(get):
    """Workloads in the order they were timed."""
    seen = []
    for w, _ in get:
        if w not in seen:
            seen.append(w)
    return seen


def report_table(a, rows, summaries, runs, have_litsieve):
    lit = {w: s for w, l, s, _, _ in rows if l == "litsieve"}
    lines = []
    head = ("| workload | program | MB/s | statements/s | CPU s | wall s | peak RSS MiB |"
            " litsieve CPU ratio |")
    lines += [head, "|---|---|---:|---:|---:|---:|---:|---:|"]
    for w, label, s, records, size in rows:
        cpu = max(s["cpu"], 1e-6)
        ratio = "%.2fx" % (lit[w]["cpu"] / cpu) if w in lit and label != "litsieve" else ""
        lines.append("| %s | %s | %.0f | %s | %.3f | %.3f | %.1f | %s |" % (
            w, label, size / 1e6 / cpu, fmt_rate(records / cpu), s["cpu"], s["wall"],
            s["rss"] / 1024, ratio))
    table = "\n".join(lines)

    verdicts = []
    get = {(w, l): s for w, l, s, _, _ in rows}
    if have_litsieve:
        def verdict(ok):
            return "MET" if ok else "NOT MET"
        big = "oltp-1m" if ("oltp-1m", "litsieve") in get else "oltp-200k"
        r = get[(big, "litsieve")]["cpu"] / get[(big, "floor")]["cpu"]
        verdicts.append("- CPU ratio to the floor on %s: %.2fx (target <= %.1fx, reach 1.6x): %s"
                        % (big, r, TARGET_FLOOR_RATIO, verdict(r <= TARGET_FLOOR_RATIO)))
        for w in names_timed(get):
            if (w, "litsieve-baseline") in get:
                b = get[(w, "litsieve-baseline")]["cpu"] / get[(w, "floor")]["cpu"]
                n = get[(w, "litsieve")]["cpu"] / get[(w, "floor")]["cpu"]
                verdicts.append("- %s: CPU ratio to the floor %.2fx, the baseline's %.2fx in the"
                                " same runs (%s)" % (w, n, b, a.baseline))
        for peer in ("pg_query_normalize", "pt-fingerprint"):
            if (PEER_WORKLOAD, peer) in get:
                sp = get[(PEER_WORKLOAD, peer)]["cpu"] / get[(PEER_WORKLOAD, "litsieve")]["cpu"]
                verdicts.append("- statements/s vs %s (same %s statements): %.1fx (target >= %.0fx):"
                                " %s" % (peer, PEER_WORKLOAD, sp, TARGET_PEER_SPEEDUP,
                                         verdict(sp >= TARGET_PEER_SPEEDUP)))
        if ("oltp-1m", "litsieve") in get:
            g = get[("oltp-1m", "litsieve")]["cpu"] / get[("oltp-200k", "litsieve")]["cpu"]
            fg = get[("oltp-1m", "floor")]["cpu"] / get[("oltp-200k", "floor")]["cpu"]
            verdicts.append("- CPU growth oltp-200k -> oltp-1m: %.2fx (target <= %.1fx): %s"
                            " (the floor grows %.2fx on the same records; the 1M workload has"
                            " %.1fx the distinct texts)"
                            % (g, TARGET_GROWTH, verdict(g <= TARGET_GROWTH), fg,
                               summaries["oltp-1m"]["distinct"] /
                               summaries["oltp-200k"]["distinct"]))
        if ("distinct-200k", "litsieve") in get:
            o, d = summaries["oltp-200k"], summaries["distinct-200k"]
            drss = (get[("distinct-200k", "litsieve")]["rss"] -
                    get[("oltp-200k", "litsieve")]["rss"]) * 1024
            per = drss / max(1, d["distinct"] - o["distinct"])
            avg_text = d["bytes"] / max(1, d["distinct"])
            verdicts.append("- dictionary per distinct text (distinct-200k vs oltp-200k: peak RSS"
                            " difference / difference in distinct texts, %d vs %d texts, mean"
                            " text %.0f bytes): %.0f bytes (target <= %.0f): %s"
                            % (d["distinct"], o["distinct"], avg_text, per, TARGET_DICT_BYTES,
                               verdict(per <= TARGET_DICT_BYTES)))
            per_all = get[("distinct-200k", "litsieve")]["rss"] * 1024 / d["distinct"]
            verdicts.append("- whole peak RSS / distinct texts on distinct-200k: %.0f bytes"
                            % per_all)
        if ("oltp-1m", "litsieve") in get:
            o2, o1 = summaries["oltp-200k"], summaries["oltp-1m"]
            drss = (get[("oltp-1m", "litsieve")]["rss"] -
                    get[("oltp-200k", "litsieve")]["rss"]) * 1024
            drec = o1["records"] - o2["records"]
            ddist = o1["distinct"] - o2["distinct"]
            dict_part = ddist * (per if ("distinct-200k", "litsieve") in get else 0)
            per_rec = (drss - dict_part) / drec
            verdicts.append("- peak RSS oltp-200k -> oltp-1m: +%.1f MiB for +%d records and +%d"
                            " distinct texts; after the dictionary estimate %.1f bytes per record"
                            " (target <= %d): %s" % (drss / 1048576, drec, ddist, per_rec,
                                                     TARGET_RECORD_BYTES,
                                                     verdict(per_rec <= TARGET_RECORD_BYTES)))
    sums = []
    for w, s in summaries.items():
        sums.append("- %s: %d records (%.1f MB), %d distinct normalised texts (%d bytes),"
                    " %d tokens, max %d tokens per statement%s%s" % (
                        w, s["records"], s["file_bytes"] / 1e6, s["distinct"], s["bytes"],
                        s["tokens"],
                        s["max_tokens"],
                        ", pg_query parse errors %d" % s["pg_errors"] if "pg_errors" in s else "",
                        ", litsieve report sha256 %s%s" % (
                            s["report_sha256"],
                            " (same as kept)" if s.get("report_same") else " (kept now)")
                        if "report_sha256" in s else ""))
    m = machine_facts()
    cmd = "bench/run.sh" + (" --quick" if a.quick else "") + \
        (" --runs %d" % a.runs if a.runs else "") + \
        (" --baseline %s" % a.baseline if a.baseline else "")
    text = "\n".join([
        "# litsieve benchmark results", "",
        "Command: `%s` (from the repository root)  " % cmd,
        "Date: %s UTC, commit %s  " % (time.strftime("%Y-%m-%d %H:%M", time.gmtime()),
                                       git_head()),
        "Machine: %d CPUs (`nproc`), %s, %s memory, Linux %s, %s, shared with other users"
        % (m["nproc"], m["cpu"], m["memory"], m["kernel"], m["cc"]), "",
        "Medians of %d runs, programs alternated. CPU s = user + sys of the process (the main"
        " figure: the machine is shared); MB/s and statements/s are computed from CPU time and"
        " the record file's size, so all rows of a workload divide the same bytes. The peers"
        " run on %s only (their rate is statements/s on those statements); ratio = litsieve's"
        " CPU time / that program's CPU time on the same workload." % (runs, PEER_WORKLOAD), "",
        table, "", "## Targets", ""] + (verdicts or ["- litsieve not built: no verdicts"]) +
        ["", "## Workloads", ""] + sums + [""])
    print(table)
    print("\n".join(verdicts))
    with open(a.results, "w") as f:
        f.write(text)
    log("results written to " + os.path.relpath(a.results, ROOT))


if __name__ == "__main__":
    main()
