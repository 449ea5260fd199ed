#!/usr/bin/env bash
# Sets up (packages + build) and runs the application. Extra arguments go to the application.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build_dir="$root/build"
emulator="$build_dir/emulator/prism-emulator"
if [ -x "$emulator" ]; then
    # A panel stand-in for machines without a real one.
    window=()
    [ -n "${DISPLAY:-}" ] && window=(--window)
    "$emulator" --address 127.0.0.2 --name "Emulated PRISM" "${window[@]}" >/tmp/prism-emulator.log 2>&1 &
    emulator_pid=$!
    trap 'kill $emulator_pid 2>/dev/null || true' EXIT
fi
app=("$build_dir/app/PivotrixEntertainment" "$@")
if [ -z "${DISPLAY:-}" ]; then
    echo "run: no DISPLAY; running under a private Xvfb (look at it with scripts/with-services.sh tools)" >&2
    exec "$root/scripts/with-services.sh" "${app[@]}"
fi
"${app[@]}"
