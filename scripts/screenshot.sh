#!/usr/bin/env bash
# Screenshots of the main window and the About and Update dialogs, taken on a private Xvfb.
#   scripts/screenshot.sh [build-dir] [output-dir]      (defaults: build, docs)
# Writes main-window.png, about-dialog.png, update-dialog.png, update-dialog-latest.png,
# update-dialog-error.png, razer-preview.png, razer-device.png, screen-mirror-preview.png (the main
# window on its Screen Mirror tab, no panel), screen-mirror-device.png (the same with a paired panel),
# search-devices.png and pairing-dialog.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs}
showcase="$build/tests/ui/pivotrix_showcase"
[ -x "$showcase" ] || { echo "build the tests first: $showcase is missing" >&2; exit 1; }
mkdir -p "$out"

tmp=$(mktemp -d /tmp/pivotrix-shots.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 3>"$tmp/display" &
pids+=($!)
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"
# A bus of its own, so no tray host or portal of the caller's desktop takes part.
export DBUS_SESSION_BUS_ADDRESS=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=4 \
    4>"$tmp/buspid" | head -n1)
pids+=("$(cat "$tmp/buspid")")
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/config" XDG_DATA_HOME="$tmp/home/data"
export XDG_RUNTIME_DIR="$tmp/home/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

shoot() {
    local view=$1 file=$2
    : >"$tmp/$view.out" # the background start may open it only after the first look below
    "$showcase" "$view" >"$tmp/$view.out" 2>"$tmp/$view.err" &
    local pid=$!
    local id=""
    for _ in $(seq 100); do
        id=$(sed -n 's/^window //p' "$tmp/$view.out")
        [ -n "$id" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$id" ]; then
        echo "no window for $view:" >&2
        cat "$tmp/$view.err" >&2
        kill "$pid" 2>/dev/null || true
        return 1
    fi
    import -window "$id" "$out/$file"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "wrote $out/$file"
}

shoot main main-window.png
shoot about about-dialog.png
shoot update update-dialog.png
shoot update-latest update-dialog-latest.png
shoot update-error update-dialog-error.png
shoot search search-devices.png
shoot pairing pairing-dialog.png
shoot razer-preview razer-preview.png
shoot razer-device razer-device.png
shoot main screen-mirror-preview.png
shoot mirror-device screen-mirror-device.png
