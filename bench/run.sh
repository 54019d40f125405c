#!/usr/bin/env bash
# The one command that reproduces the litsieve benchmark table.
#   bench/run.sh            all workloads, 5 runs each (a few minutes)
#   bench/run.sh --quick    oltp-10k and oltp-200k, 3 runs
# Builds the project (native preset) first, then runs bench/bench.py.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/default/analyzer/litsieve ] || [ ! -x build/default/tools/litpack ]; then
    cmake --preset default >/dev/null
fi
cmake --build --preset default --target litsieve litpack >/dev/null
exec python3 bench/bench.py "$@"
