#!/usr/bin/env bash
# Runs the capture benchmark; installs its extra packages (the ffmpeg reference) when missing.
#   bench/capture/run.sh [build dir] [bench options...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
shift || true
missing=()
while read -r pkg; do
    [ -z "$pkg" ] || [[ $pkg == \#* ]] && continue
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done <"$here/packages.txt"
if [ ${#missing[@]} -gt 0 ]; then
    apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
fi
[ -x "$build/bench/capture/bench_capture" ] || cmake --build "$build" -j2 --target bench_capture
exec "$build/bench/capture/bench_capture" "$@"
