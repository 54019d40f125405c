#!/usr/bin/env bash
# Installs the Debian packages a command of this repository needs.
#
#   tools/bootstrap.sh [native]   the native build and its tests: compilers,
#                                 CMake, Ninja, GoogleTest (tools/run-example)
#   tools/bootstrap.sh all        also the two Windows cross builds and their
#                                 tests (MinGW-w64 i686 and x86_64, 32- and
#                                 64-bit Wine, Xvfb, X and ImageMagick tools),
#                                 the fuzzers and sanitizers (clang), the
#                                 browser test and the benchmarks' peers
#                                 (tools/run-tests runs this first)
#
# Idempotent: when everything is present it only checks and returns in about
# a second. Only `all` adds the i386 package architecture (for 32-bit Wine);
# the native set installs nothing for Windows and no browser.
set -euo pipefail

native_pkgs=(
    build-essential cmake ninja-build git python3
    googletest libgtest-dev libgmock-dev
)
windows_pkgs=(
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    wine wine32:i386 wine64 xvfb x11-utils x11-apps imagemagick xdotool
)
extra_pkgs=(
    clang llvm libclang-rt-14-dev hyperfine valgrind
    libpg-query-dev percona-toolkit chromium
)

case "${1:-native}" in
    native) want=("${native_pkgs[@]}") ;;
    all) want=("${native_pkgs[@]}" "${windows_pkgs[@]}" "${extra_pkgs[@]}") ;;
    *)
        echo "usage: tools/bootstrap.sh [native|all]" >&2
        exit 2
        ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

missing=()
foreign=
for p in "${want[@]}"; do
    name=${p%%:*}
    arch=${p#*:}; [ "$arch" = "$p" ] && arch=
    q=$name${arch:+:$arch}
    if ! dpkg-query -W -f='${Status}\n' "$q" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
        [ -n "$arch" ] && foreign=$arch
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
if [ -n "$foreign" ] && ! dpkg --print-foreign-architectures | grep -qx "$foreign"; then
    $sudo dpkg --add-architecture "$foreign"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
