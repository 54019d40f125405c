#!/usr/bin/env bash
# The one command that reproduces the litsieve benchmark table.
#   bench/run.sh            all workloads, 5 runs each (a few minutes)
#   bench/run.sh --quick    oltp-10k and oltp-200k, 3 runs
# Builds litsieve and litpack from the working tree in build/bench (the
# default preset's Release flags, without the tests), then runs
# bench/bench.py, which writes bench/results/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLIT_TESTS=OFF >/dev/null
cmake --build build/bench --target litsieve litpack dictionary_probe >/dev/null
exec python3 bench/bench.py --build build/bench "$@"
