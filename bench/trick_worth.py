#!/usr/bin/env python3
"""What each of litsieve's speed tricks is worth: litsieve without it, against
litsieve as committed.

  python3 bench/trick_worth.py [--pairs N] [--workloads W,W] [TRICK...]

For every trick (default: all below) the committed sources (git archive HEAD)
are copied to bench/out/tricks/TRICK, changed in one place so that the plain
path runs instead of the trick, and built with the Release flags of
bench/run.sh. Then on each workload (default oltp-1m and distinct-200k, made
by bench/run.sh):

1. instructions: valgrind --tool=cachegrind --cache-sim=no, Ir of one run of
   each build. They do not depend on the machine's load, so they decide
   wherever a trick changes the instructions;
2. CPU time (user + sys, through bench/out/runstat) with --pairs N > 0: N
   pairs of runs of the committed build and the trickless one, back to back in
   alternating order; the median of the pairs' ratios and its quartiles. On a
   shared machine the quartiles show how far to trust it.

Every build's report must equal the committed build's. The figures go to
standard output, one line per trick and workload: how much more litsieve
takes without the trick.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
OUT = os.path.join(BENCH, "out")
TRICKS_DIR = os.path.join(OUT, "tricks")

# trick: (what it is, [(file, text as committed, text without the trick)]).
# The texts must occur exactly once; a change of the sources that moves them
# makes the script stop rather than measure something else.
TRICKS = {
    "token-loop": ("the parser's token loop (list state outside the tables)", [
        ("normaliser/parser.cpp", "ParseShortcuts parse_shortcuts = {true, true};",
         "ParseShortcuts parse_shortcuts = {false, true};")]),
    "reduction-chains": ("the end-of-text reduction chain in one loop, with the run skip", [
        ("normaliser/parser.cpp", "ParseShortcuts parse_shortcuts = {true, true};",
         "ParseShortcuts parse_shortcuts = {true, false};")]),
    "run-skip": ("within the chain, the token loop's run of equal states at once", [
        ("normaliser/parser.cpp",
         "if (below >= parser.run_begin && below < parser.run_end) {", "if (false) {")]),
    "identifier-words": ("identifiers upper-cased eight bytes at a time", [
        ("normaliser/upper_case.h",
         "if (limit != nullptr && static_cast<std::size_t>(limit - text) >= 8 * words) {",
         "if (false) {")]),
    "recent-texts": ("the recent texts in front of the trie", [
        ("analyzer/string_dictionary.cpp",
         "    RecentTexts* r = recent_texts(d);\n    if (r == nullptr)",
         "    RecentTexts* r = nullptr;\n    if (r == nullptr)")]),
    "report-tails": ("the report's group tails formatted once per group", [
        ("analyzer/report.cpp",
         "        if (suffix.group != group.number || suffix.size != group.size ||\n"
         "            suffix.first_member != group.first_member) {",
         "        if (true) {")]),
}


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def build(name, changes):
    src = os.path.join(TRICKS_DIR, name)
    if os.path.exists(src):
        shutil.rmtree(src)
    os.makedirs(src)
    subprocess.run("git -C %s archive HEAD | tar -x -C %s" % (ROOT, src), shell=True, check=True)
    for path, before, after in changes:
        p = os.path.join(src, path)
        with open(p) as f:
            text = f.read()
        if text.count(before) != 1:
            raise SystemExit("%s: the text to change occurs %d times in %s"
                             % (name, text.count(before), path))
        with open(p, "w") as f:
            f.write(text.replace(before, after))
    b = os.path.join(src, "build")
    subprocess.run(["cmake", "-S", src, "-B", b, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DLIT_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", b, "--target", "litsieve"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(b, "analyzer", "litsieve")


def instructions(exe, rec, report):
    cg = report + ".cg"
    subprocess.run(["valgrind", "--tool=cachegrind", "--cache-sim=no",
                    "--cachegrind-out-file=" + cg, exe, rec, report],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(cg) as f:
        for line in f:
            if line.startswith("summary:"):
                return int(line.split()[1])
    raise SystemExit("no summary in " + cg)


def cpu(exe, rec, report):
    stats = os.path.join(TRICKS_DIR, "runstat.txt")
    subprocess.run([os.path.join(OUT, "runstat"), stats, exe, rec, report], check=True,
                   stdout=subprocess.DEVNULL)
    with open(stats) as f:
        return float(f.read().split()[0])


def same_file(a, b):
    with open(a, "rb") as f, open(b, "rb") as g:
        return f.read() == g.read()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("tricks", nargs="*", help="default: " + " ".join(TRICKS))
    ap.add_argument("--workloads", default="oltp-1m,distinct-200k")
    ap.add_argument("--pairs", type=int, default=0, help="CPU-time pairs per trick (default 0)")
    a = ap.parse_args()
    names = a.tricks or list(TRICKS)
    for n in names:
        if n not in TRICKS:
            raise SystemExit("unknown trick %s (known: %s)" % (n, " ".join(TRICKS)))
    os.makedirs(TRICKS_DIR, exist_ok=True)
    log("building the committed litsieve and %d without a trick" % len(names))
    committed = build("committed", [])
    exes = {n: build(n, TRICKS[n][1]) for n in names}
    for w in a.workloads.split(","):
        rec = os.path.join(OUT, w + ".rec")
        if not os.path.exists(rec):
            raise SystemExit("%s is missing: run bench/run.sh first" % rec)
        ref = os.path.join(TRICKS_DIR, "committed.%s.rpt" % w)
        base_ir = instructions(committed, rec, ref)
        print("%s: committed litsieve %d instructions" % (w, base_ir), flush=True)
        for n in names:
            report = os.path.join(TRICKS_DIR, "%s.%s.rpt" % (n, w))
            ir = instructions(exes[n], rec, report)
            if not same_file(report, ref):
                raise SystemExit("CHECK FAILED: without %s the report on %s differs" % (n, w))
            line = "%s: without %-17s instructions %+6.1f%%" % (w, n, 100.0 * (ir / base_ir - 1))
            if a.pairs > 0:
                ratios = []
                for i in range(a.pairs):
                    order = [(committed, ref), (exes[n], report)]
                    if i % 2:
                        order.reverse()
                    t = {exe: cpu(exe, rec, r) for exe, r in order}
                    ratios.append(t[exes[n]] / t[committed])
                ratios.sort()
                line += "   CPU %+6.1f%% (quartiles %+.1f%% .. %+.1f%%, %d pairs)" % (
                    100 * (statistics.median(ratios) - 1), 100 * (ratios[len(ratios) // 4] - 1),
                    100 * (ratios[3 * len(ratios) // 4] - 1), a.pairs)
            print(line + "   (%s)" % TRICKS[n][0], flush=True)


if __name__ == "__main__":
    main()
