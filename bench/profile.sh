#!/usr/bin/env bash
# Where litsieve's time goes, in numbers that a shared machine cannot blur.
#   bench/profile.sh [WORKLOAD]     (default oltp-200k)
# 1. callgrind instruction counts of litsieve and of the floor on the same
#    records (their ratio is the noise-free twin of the CPU-time ratio);
# 2. the hottest functions of litsieve, exclusive and inclusive;
# 3. a perf sample profile (software clock) when perf works here. For cache
#    misses per function: valgrind --tool=cachegrind --cache-sim=yes (slow).
# litsieve is built for this in build/bench-profile (same optimisation as
# the default preset, plus debug info); the output goes to
# bench/out/profile/WORKLOAD/.
set -eu  # no pipefail: the listings below end in head, which closes the pipe early
cd "$(dirname "$0")/.."
workload=${1:-oltp-200k}
out=bench/out/profile/$workload
mkdir -p "$out"
case "$workload" in
    oltp-1m | distinct-200k) python3 bench/bench.py --prepare-only >/dev/null ;;
    *) python3 bench/bench.py --quick --prepare-only >/dev/null ;;
esac
rec=bench/out/$workload.rec

cmake -S . -B build/bench-profile -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="-g -fno-omit-frame-pointer" -DLIT_TESTS=OFF >/dev/null
cmake --build build/bench-profile --target litsieve >/dev/null
litsieve=build/bench-profile/analyzer/litsieve

instructions() { # callgrind output file -> total Ir
    sed -n 's/^summary: *//p; s/^totals: *//p' "$1" | head -1
}
valgrind --tool=callgrind --callgrind-out-file="$out/litsieve.cg" \
    "$litsieve" "$rec" "$out/litsieve.rpt" >/dev/null 2>"$out/litsieve.valgrind.log"
valgrind --tool=callgrind --callgrind-out-file="$out/floor.cg" \
    bench/out/floor "$rec" >/dev/null 2>"$out/floor.valgrind.log"
lit_ir=$(instructions "$out/litsieve.cg")
floor_ir=$(instructions "$out/floor.cg")
records=$(grep -o 'records [0-9]*' "$out/floor.valgrind.log" | cut -d' ' -f2 || true)
echo "== $workload: instructions (callgrind Ir)"
python3 - "$lit_ir" "$floor_ir" "${records:-0}" <<'PY'
import sys
lit, floor, n = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]) or 1
print("litsieve %d (%.0f per record)\nfloor    %d (%.0f per record)\nratio    %.2fx"
      % (lit, lit / n, floor, floor / n, lit / floor))
PY
echo
echo "== litsieve: functions by own instructions"
callgrind_annotate --auto=no --inclusive=no "$out/litsieve.cg" 2>/dev/null | sed -n "/^Ir/,\$p" | sed -n "5,26p"
echo
echo "== litsieve: functions by inclusive instructions"
callgrind_annotate --auto=no --inclusive=yes "$out/litsieve.cg" 2>/dev/null | sed -n "/^Ir/,\$p" | sed -n "5,22p"
echo
echo "== litsieve: hottest source lines (own instructions)"
callgrind_annotate --auto=yes --context=0 "$out/litsieve.cg" 2>/dev/null | python3 -c '
import re, sys
src, line, hot = "?", 0, []
for text in sys.stdin:
    m = re.match(r"-- Auto-annotated source: (\S+)", text)
    if m:
        src = m.group(1)
        continue
    m = re.match(r"-- line (\d+) -", text)
    if m:
        line = int(m.group(1))
        continue
    m = re.match(r"\s*([\d,]+) \(\s*([\d.]+)%\)  (?!=>)(.*)", text)
    if m and src != "?" and "events annotated" not in text:
        hot.append((int(m.group(1).replace(",", "")), m.group(2), src, line, m.group(3).strip()))
        line += 1
for ir, pct, f, n, code in sorted(hot, reverse=True)[:25]:
    print("%13s %6s%%  %s:%d  %s" % (format(ir, ","), pct, f, n, code[:70]))
'
echo
echo "== litsieve: system calls (strace -c)"
if command -v strace >/dev/null; then
    strace -c -o "$out/strace.txt" "$litsieve" "$rec" "$out/litsieve.rpt" >/dev/null
    head -12 "$out/strace.txt"
else
    echo "(strace not installed)"
fi
echo
if perf stat -e cpu-clock true >/dev/null 2>&1; then
    echo "== litsieve: perf samples (cpu-clock), self time"
    perf record -q -e cpu-clock -F 10000 -o "$out/perf.data" "$litsieve" "$rec" "$out/litsieve.rpt" \
        >/dev/null 2>&1
    perf report -i "$out/perf.data" --stdio --no-children 2>/dev/null |
        grep -v '^#' | grep -v '^$' | head -20
fi
