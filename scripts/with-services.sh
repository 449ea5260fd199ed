#!/usr/bin/env bash
# Runs a command with a private X server (Xvfb) and a private D-Bus session bus, and stops both afterwards.
#   scripts/with-services.sh <command...>
set -euo pipefail
tmp=$(mktemp -d /tmp/pivotrix-services.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT

# Pick a free display number; Xvfb writes it back once it is ready.
Xvfb -displayfd 3 -noreset -screen 0 1920x1080x24 -nolisten tcp +extension RANDR +extension MIT-SHM \
    +extension DAMAGE >"$tmp/xvfb.log" 2>&1 3>"$tmp/display" &
pids+=($!)
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "Xvfb did not start:" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"

dbus-daemon --session --fork --nopidfile --print-address=4 --print-pid=5 4>"$tmp/bus" 5>"$tmp/buspid"
pids+=("$(cat "$tmp/buspid")")
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$tmp/bus")

echo "services: DISPLAY=$DISPLAY DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
"$@"
