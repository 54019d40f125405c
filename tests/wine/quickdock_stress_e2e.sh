#!/usr/bin/env bash
# quickdock_stress_e2e.sh WINE_RUN QUICKDOCK.EXE QUILLON_STANDIN.EXE DRIVER.EXE WORK_DIR
#
# Runs the stress driver in a fresh Wine virtual desktop with a taskbar, set
# up as for the tools test: a copy of quickdock.exe in WORK_DIR/bin beside the
# stand-in saved there as quillon.exe. Results go to WORK_DIR/results.txt.
set -u
[ $# -eq 5 ] || {
    echo "usage: $0 WINE_RUN QUICKDOCK.EXE QUILLON_STANDIN.EXE DRIVER.EXE WORK_DIR" >&2
    exit 2
}
wine_run=$1 quickdock=$2 standin=$3 driver=$4 work=$5

# Wine maps the Linux root to drive Z:.
windows_path() { local p; p=$(realpath "$1"); printf 'Z:%s' "${p//\//\\}"; }

mkdir -p "$work/bin"
cp "$quickdock" "$work/bin/quickdock.exe"
cp "$standin" "$work/bin/quillon.exe"
results=$work/results.txt
rm -f "$results" "$work/bin/quillon-launches.txt"

export WINEPREFIX=$work/prefix
export WINE_RUN_XVFB=1
timeout 600 "$wine_run" explorer "/desktop=quickdock-stress,1024x768" \
    "$(windows_path "$driver")" "$(windows_path "$work/bin")" "$(windows_path "$results")" \
    </dev/null >"$work/wine.log" 2>&1
status=$?

if [ ! -f "$results" ]; then
    echo "no results from the driver (wine-run status $status); see $work/wine.log" >&2
    exit 1
fi
cat "$results"
if grep -q '^FAIL' "$results" || ! grep -qx DONE "$results"; then
    exit 1
fi
exit 0
