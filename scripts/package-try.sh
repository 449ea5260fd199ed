#!/usr/bin/env bash
# Tries the Debian packages on this machine as a user would (as root; not part of the suite): installs them
# with apt-get, starts the installed program under a private Xvfb and session bus with an emulated panel
# paired, both in a private network namespace; checks that the Chroma broadcast library is loaded from the
# installed folder, that broadcast colours reach the panel as frames and that the logon entry starts the
# installed program; then removes the packages and checks that none of their files is left behind.
#   scripts/package-try.sh [folder with the .deb files]   (default: build/package/build, made by the
#                                                           package_check test)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
packages=(pivotrix-entertainment pivotrix-entertainment-tools)
fail() { echo "package-try: FAILED: $*" >&2; exit 1; }
say() { echo "package-try: $*"; }

# Inside the private namespace, with the installed programs.
try_run() {
    ip link set lo up
    ip addr add 127.0.0.2/8 dev lo
    local home=$1 pids=()
    trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
    export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
    local data=$XDG_DATA_HOME/PivotrixEntertainment
    mkdir -p "$data" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    # The record a pairing leaves, streaming Razer colours as the page's toggle would.
    cat >"$data/settings.json" <<'JSON'
{"devices": {"emu-127-0-0-2": {"address": "127.0.0.2", "port": 8080, "auth": "emulator-key",
  "name": "Emulated PRISM", "model": "px3", "id": "emu-127-0-0-2", "index": 1,
  "stream_enabled": true, "stream_source": "razer",
  "razer": {"color_indexes": [0, 1, 2], "angle": 2, "show_fading_pixels": 0}}}}
JSON
    prism-emulator --address 127.0.0.2 >"$home/emulator.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q '^ready' "$home/emulator.log" && break; sleep 0.1; done
    say "emulator: $(grep -c '^panel' "$home/emulator.log") panel, $(command -v prism-emulator)"
    QT_LOGGING_RULES='*.debug=true;qt.*.debug=false' PivotrixEntertainment --minimized >"$home/app.log" 2>&1 &
    local app=$!
    pids+=($app)
    say "started $(readlink /proc/$app/exe) --minimized (pid $app)"
    local published=0
    for _ in $(seq 100); do
        chroma-publisher live on >/dev/null 2>&1 && chroma-publisher colors red lime blue '#ffa500' white \
            >/dev/null 2>&1 && published=1 && break
        sleep 0.1
    done
    [ $published = 1 ] || fail "chroma-publisher found no broadcast socket"
    say "chroma-publisher: live on, colours red lime blue #ffa500 white"
    local library
    library=$(grep -o '/[^ ]*libRzChromaBroadcast\.so' /proc/$app/maps | sort -u)
    say "library mapped: ${library:-none}"
    [ "$library" = "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/pivotrix-entertainment/libRzChromaBroadcast.so" ] ||
        fail "broadcast library not loaded from the installed folder"
    local good=0
    for _ in $(seq 100); do
        good=$(curl -s http://127.0.0.2:8081/emulator/status |
            python3 -c 'import json,sys; print(json.load(sys.stdin)["frames"]["good"])' 2>/dev/null || echo 0)
        [ "$good" -gt 10 ] && break
        sleep 0.1
    done
    say "frames at the panel: $good good"
    [ "$good" -gt 10 ] || { tail -20 "$home/app.log"; fail "no frames reached the panel"; }
    local entry=$XDG_CONFIG_HOME/autostart/PivotrixEntertainment.desktop
    say "logon entry: $(grep -E '^(Exec|TryExec)=' "$entry" | tr '\n' ' ')"
    grep -qx 'Exec=/usr/bin/PivotrixEntertainment --minimized' "$entry" || fail "logon entry not the installed program"
    kill -TERM $app
    wait $app || true
    say "program ended; its log: $(grep -c . "$home/app.log") lines, update check: $(grep -m1 -o 'update check left to the package manager' "$home/app.log" || echo 'none logged')"
}

case "${1:-}" in
    --inside) shift; try_run "$@"; exit $? ;;
esac
[ "$(id -u)" = 0 ] || fail "run as root (it installs and removes packages)"
debs_dir=$(cd "${1:-$root/build/package/build}" && pwd)
for p in "${packages[@]}"; do
    ! dpkg -s "$p" >/dev/null 2>&1 || fail "$p is installed already; this script tries a fresh install only"
done
debs=()
for p in "${packages[@]}"; do debs+=("$(ls "$debs_dir/${p}_"*.deb)"); done
say "packages: ${debs[*]##*/}"

# Every path the packages hold, and which of them (shared folders) exist without them.
files=$(for d in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$d" | tar -t; done | sed 's|^\./|/|; s|/$||; /^$/d' | sort -u)
existed_before=$(while read -r f; do if [ -e "$f" ]; then echo "$f"; fi; done <<<"$files")

export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${debs[@]}" | sed 's/^/  apt: /'
say "installed $(wc -l <<<"$files") paths; $(command -v PivotrixEntertainment): $(PivotrixEntertainment --version | head -1)"
man -w PivotrixEntertainment >/dev/null && say "man page: $(man -w PivotrixEntertainment)"

home=$(mktemp -d /tmp/pivotrix-try.XXXXXX)
status=0
unshare -n "$root/scripts/with-services.sh" "$0" --inside "$home" || status=$?
rm -rf "$home"

apt-get -o DPkg::Lock::Timeout=600 purge -y -q "${packages[@]}" | sed 's/^/  apt: /'
left=()
while read -r f; do
    if [ -e "$f" ] && ! grep -qxF "$f" <<<"$existed_before"; then left+=("$f"); fi
done <<<"$files"
for p in "${packages[@]}"; do
    ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install' || left+=("package $p")
done
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
say "removed; nothing of the packages is left"
[ $status -eq 0 ] || fail "the installed program did not pass (see above)"
say "all good"
