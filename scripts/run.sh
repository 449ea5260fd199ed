#!/usr/bin/env bash
# Sets up (packages + build) and runs the application.
#   scripts/run.sh [application arguments...]                 demo: an emulated panel, off the real network
#   scripts/run.sh --real-network [application arguments...]  the application alone, finding real panels
#
# The demo runs an emulated panel (prism-emulator on 127.0.0.2, with its window when there is a display)
# and the application together in a private network namespace, so "Scan for devices" finds the emulated
# panel and no scan ever reaches the machine's real network. The demo keeps its own settings under
# build/demo-profile, apart from the user's own, and the emulated panel's key there too, so that a pairing
# outlasts a restart. A second demo start only brings the running one's window forward.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build"
app="$build_dir/app/PivotrixEntertainment"
emulator="$build_dir/emulator/prism-emulator"
PATH="$PATH:/usr/sbin:/sbin"

# Everything the demo starts ends with it, also when it is interrupted or terminated.
demo_pids=()
demo_cleanup() {
    for pid in "${demo_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap demo_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Inside the namespace, with a display and a session bus: the panel, then the application.
demo_run() {
    local window=()
    [ -n "${DISPLAY:-}" ] && window=(--window)
    # Neither holds the demo's lock: it is the scripts' alone.
    "$emulator" --address 127.0.0.2 --name "Emulated PRISM" --key-file "$PIVOTRIX_DEMO_PROFILE/emulator-key" \
        "${window[@]}" >"$PIVOTRIX_DEMO_PROFILE/emulator.log" 2>&1 9>&- &
    demo_pids+=($!)
    local hint='click "Scan for devices"'
    grep -qs '"auth"' "$XDG_DATA_HOME/PivotrixEntertainment/settings.json" && hint="paired already"
    echo "run: emulated panel on 127.0.0.2 (log: $PIVOTRIX_DEMO_PROFILE/emulator.log); $hint"
    "$app" "$@" 9>&- &
    demo_pids+=($!)
    local status=0
    wait $! || status=$?
    return $status
}

# Freshly inside the private namespace: only loopback exists; bring it up for the scan.
demo_network() {
    ip link set lo up
    ip link set lo multicast on
    ip addr add 127.0.0.2/8 dev lo
    if [ -z "${DISPLAY:-}" ]; then
        echo "run: no DISPLAY; running under a private Xvfb" >&2
        exec "$root/scripts/with-services.sh" "$0" --demo-run "$@"
    fi
    # Abstract sockets belong to the network namespace: a bus reached through one, or one that would see
    # us under another user id, is out of reach here; a private bus stands in for it.
    local bus_uid="${PIVOTRIX_OUTER_UID:-}"
    if [[ "${DBUS_SESSION_BUS_ADDRESS:-}" != unix:path=* || "$bus_uid" != "$(id -u)" ]]; then
        local bus_file="$PIVOTRIX_DEMO_PROFILE/bus"
        dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 3>"$bus_file" 4>"$bus_file.pid"
        DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$bus_file")
        export DBUS_SESSION_BUS_ADDRESS
        demo_pids+=("$(cat "$bus_file.pid")")
    fi
    demo_run "$@"
}

case "${1:-}" in
    --demo-network) shift; demo_network "$@"; exit $? ;;
    --demo-run) shift; demo_run "$@"; exit $? ;;
esac

real_network=0
if [ "${1:-}" = "--real-network" ]; then
    real_network=1
    shift
fi
profile="$build_dir/demo-profile"
if [ $real_network -eq 0 ]; then
    mkdir -p "$profile/config" "$profile/data"
    mkdir -p -m 700 "$profile/runtime"
    export XDG_CONFIG_HOME="$profile/config" XDG_DATA_HOME="$profile/data" XDG_RUNTIME_DIR="$profile/runtime"
    # Held by this demo's scripts until the demo ends; a second start leaves the running demo's files alone
    # and only asks its application to show the window (off-screen itself: it needs no display for that).
    exec 9>>"$profile/demo.lock"
    if ! flock -n 9; then
        if [ ! -S "$profile/runtime/pivotrix-entertainment.sock" ]; then
            echo "run: the demo is starting already (profile: $profile); its window comes up shortly" >&2
            exit 1
        fi
        echo "run: the demo already runs (profile: $profile); showing its window" >&2
        QT_QPA_PLATFORM=offscreen exec "$app" "$@" 9>&-
    fi
fi
"$root/scripts/setup.sh"

if [ $real_network -eq 1 ]; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "run: no DISPLAY; running under a private Xvfb" >&2
        exec "$root/scripts/with-services.sh" "$app" "$@"
    fi
    exec "$app" "$@"
fi

if ! unshare -rn true 2>/dev/null; then
    echo "run: private network namespaces are not permitted here (unshare -rn failed), so the demo cannot" >&2
    echo "run: keep its scan off the network. Run against real panels with: scripts/run.sh --real-network" >&2
    exit 1
fi
# X11 through its socket file: the abstract socket stays behind in this namespace.
if [[ "${DISPLAY:-}" =~ ^:([0-9]+(\.[0-9]+)?)$ ]]; then
    export DISPLAY="unix:${BASH_REMATCH[1]}"
elif [ -n "${DISPLAY:-}" ] && [[ "$DISPLAY" != unix:* ]]; then
    echo "run: DISPLAY=$DISPLAY is reached over the network, which the demo cannot; using a private Xvfb" >&2
    unset DISPLAY
fi
export PIVOTRIX_DEMO_PROFILE="$profile" PIVOTRIX_OUTER_UID="$(id -u)"
exec unshare -rn "$0" --demo-network "$@"
