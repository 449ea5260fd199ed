#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the application need, then builds.
#   scripts/setup.sh [--sanitize] [--build-dir DIR]
# Package lists live in scripts/packages/*.txt (one name a line, '#' comments).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build"
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
while [ $# -gt 0 ]; do
    case "$1" in
        --sanitize) build_dir="$root/build-asan"; cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DPIVOTRIX_SANITIZE=ON) ;;
        --build-dir) build_dir="$2"; shift ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

mapfile -t packages < <(cat "$root"/scripts/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
fi

# The suite, the benchmarks and the demo run the program; its update check stays on this machine.
cmake_args+=(-DPIVOTRIX_UPDATE_HOST=127.0.0.1)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir" "${generator[@]}" "${cmake_args[@]}"
elif ! grep -qx 'PIVOTRIX_UPDATE_HOST:STRING=127.0.0.1' "$build_dir/CMakeCache.txt"; then
    cmake "$build_dir" -DPIVOTRIX_UPDATE_HOST=127.0.0.1
fi
cmake --build "$build_dir" -j "$(nproc)"
