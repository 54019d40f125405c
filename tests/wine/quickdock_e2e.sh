#!/usr/bin/env bash
# quickdock_e2e.sh WINE_RUN QUICKDOCK.EXE DRIVER.EXE WORK_DIR
#
# Runs the end-to-end driver in a fresh Wine virtual desktop with a taskbar;
# the driver starts quickdock.exe there, checks it, and writes its results to
# WORK_DIR/results.txt. The run has its own prefix (WORK_DIR/prefix, made once)
# and its own Xvfb display; wine-run ends both when the desktop closes
# (WINE_RUN_IDLE=0: no session outlives the run).
set -u
[ $# -eq 4 ] || { echo "usage: $0 WINE_RUN QUICKDOCK.EXE DRIVER.EXE WORK_DIR" >&2; exit 2; }
wine_run=$1 quickdock=$2 driver=$3 work=$4

# Wine maps the Linux root to drive Z:.
windows_path() { local p; p=$(realpath "$1"); printf 'Z:%s' "${p//\//\\}"; }

mkdir -p "$work"
results=$work/results.txt
rm -f "$results"

export WINEPREFIX=$work/prefix
export WINE_RUN_XVFB=1
export WINE_RUN_IDLE=0
# The desktop lives as long as a program uses it: the driver ends every copy
# of quickdock it started before it returns, so explorer returns too.
timeout 240 "$wine_run" explorer "/desktop=quickdock-e2e,1024x768" \
    "$(windows_path "$driver")" "$(windows_path "$quickdock")" "$(windows_path "$results")" \
    </dev/null >"$work/wine.log" 2>&1
status=$?

if [ ! -f "$results" ]; then
    echo "no results from the driver (wine-run status $status); see $work/wine.log" >&2
    exit 1
fi
cat "$results"
if grep -q '^FAIL' "$results" || ! tr -d '\r' <"$results" | grep -qx DONE; then
    exit 1
fi
exit 0
