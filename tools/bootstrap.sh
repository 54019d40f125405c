#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when everything is present it only checks and returns in about a second.
set -euo pipefail

native_pkgs=(
    build-essential cmake ninja-build git python3
    googletest libgtest-dev libgmock-dev
)
windows_pkgs=(
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
    wine wine32:i386 wine64 xvfb x11-utils x11-apps imagemagick xdotool
)
extra_pkgs=(
    clang llvm libclang-rt-14-dev hyperfine valgrind
    libpg-query-dev percona-toolkit chromium
)

want=("${native_pkgs[@]}" "${windows_pkgs[@]}")
case "${1:-all}" in
    native) want=("${native_pkgs[@]}") ;;
    all) want+=("${extra_pkgs[@]}") ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

missing=()
for p in "${want[@]}"; do
    name=${p%%:*}
    arch=${p#*:}; [ "$arch" = "$p" ] && arch=
    q=$name${arch:+:$arch}
    if ! dpkg-query -W -f='${Status}\n' "$q" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
