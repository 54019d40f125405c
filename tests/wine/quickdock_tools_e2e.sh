#!/usr/bin/env bash
# quickdock_tools_e2e.sh WINE_RUN QUICKDOCK.EXE QUILLON_STANDIN.EXE DRIVER.EXE WORK_DIR
#
# Runs the tools driver in a fresh Wine virtual desktop with a taskbar. The
# driver starts a copy of quickdock.exe in WORK_DIR/bin, beside the stand-in
# saved there as quillon.exe, exercises the tray icon, the menu, the tool
# launches and the About box, and writes its results to WORK_DIR/results.txt.
# The menu and About box captures are left as WORK_DIR/menu.bmp and
# WORK_DIR/about.bmp (tools/quickdock-screenshots turns them into PNGs).
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
rm -f "$results" "$work/menu.bmp" "$work/about.bmp" "$work/bin/quillon-launches.txt"

export WINEPREFIX=$work/prefix
export WINE_RUN_XVFB=1
# The desktop ends when the driver and the quickdock copy it started are gone.
timeout 240 "$wine_run" explorer "/desktop=quickdock-tools,1024x768" \
    "$(windows_path "$driver")" "$(windows_path "$work/bin")" "$(windows_path "$results")" \
    </dev/null >"$work/wine.log" 2>&1
status=$?
# wine-run has ended the session; on the first use of a prefix a Wine server
# can still outlive it, so end the prefix's processes once more.
wineserver -k >/dev/null 2>&1 || true

if [ ! -f "$results" ]; then
    echo "no results from the driver (wine-run status $status); see $work/wine.log" >&2
    exit 1
fi
cat "$results"
if grep -q '^FAIL' "$results" || ! grep -qx DONE "$results"; then
    exit 1
fi
exit 0
