#!/usr/bin/env bash
# Runs every benchmark in bench/ one after another and prints one summary table of their key figures.
# Each benchmark's whole output is kept in build/bench-logs/<name>.log.
#   scripts/bench-all.sh [--quick] [name...]     (names: fadingpixel devicelink mdnsscan razerlatency
#                                                 capture mirror wayland startup idle; default all)
# --quick runs each with fewer rounds: for checking that they run, not for figures to quote.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
quick=0
if [ "${1:-}" = "--quick" ]; then quick=1; shift; fi
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(fadingpixel devicelink mdnsscan razerlatency capture mirror wayland startup idle)

if [ "${PIVOTRIX_BENCH_INSIDE:-}" != 1 ]; then
    "$root/scripts/setup.sh" >/dev/null   # builds build/ with a loopback update host
    home=$(mktemp -d /tmp/pivotrix-bench.XXXXXX)
    trap 'rm -rf "$home"' EXIT
    mkdir -p "$home/runtime" && chmod 700 "$home/runtime"
    HOME=$home XDG_RUNTIME_DIR=$home/runtime XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
        PIVOTRIX_BENCH_INSIDE=1 "$root/scripts/with-services.sh" "$0" $([ $quick = 1 ] && echo --quick) "${names[@]}"
    exit $?
fi

# name | program and arguments (full) | arguments for --quick | awk printing "figure<TAB>value" lines
args_full() {
    case $1 in
        capture) command -v ffmpeg >/dev/null || echo --no-ffmpeg ;;
    esac
}
args_quick() {
    case $1 in
        fadingpixel) echo 2000 ;;
        devicelink) echo --panels 1,8 --seconds 3 ;;
        mdnsscan) echo --panels 1,8 --rounds 2 ;;
        razerlatency) echo --changes 20 ;;
        capture) echo --ticks 100 --frames 100 --no-ffmpeg ;;
        mirror) echo --changes 20 --seconds 3 --panels 1 ;;
        wayland) echo --ticks 100 ;;
        startup) echo --runs 1 --settle-ms 1000 ;;
        idle) echo --panels 2 --seconds 3 --changes 20 ;;
    esac
}
program() {
    case $1 in
        fadingpixel) echo bench/effects/bench_fadingpixel ;;
        devicelink) echo bench/device/bench_devicelink ;;
        mdnsscan) echo bench/discovery/bench_mdnsscan ;;
        razerlatency) echo bench/razer/bench_razerlatency ;;
        capture) echo bench/capture/bench_capture ;;
        mirror) echo bench/mirror/bench_screenmirror ;;
        wayland) echo bench/wayland/bench_wayland ;;
        startup) echo bench/startup/bench_startup ;;
        idle) echo bench/idle/bench_idle ;;
        *) return 1 ;;
    esac
}
figures() {
    case $1 in
        fadingpixel) awk '$1 ~ /^[0-9]+x[0-9]+$/ { if ($5 > w[$1]) w[$1] = $5; if (!o[$1]++) c[++n] = $1 }
            END { for (i = 1; i <= n; i++) printf "frame %s, slowest case\t%s us\n", c[i], w[c[i]] }' ;;
        devicelink) awk '$1 ~ /^[0-9]+$/ && NF == 9 { printf "%s panels: loss, p99 gap, cpu\t%s %%, %s ms, %s us/frame\n", $1, $4, $7, $9 }
            /^frame path alone/ { printf "frame path alone\t%s us/frame\n", $(NF-1) }' ;;
        mdnsscan) awk '$1 ~ /^[0-9]+$/ && NF == 6 { printf "%s panels: first, all (worst)\t%s ms, %s ms (%s)\n", $1, $2, $3, $4 }
            /not run/ { print "scan\tnot run (no private network namespace)" }' ;;
        razerlatency) awk '$1 == "p50" { printf "colour change to panel p50, p99\t%s ms, %s ms\n", $2, $5 }' ;;
        capture) awk '/^[0-9]+x[0-9]+ \(/ { res = $1 " " }
            / per tick$/ { sub(/^ +/, ""); split($0, a, / +client /); printf "%s%s\t%s ms total\n", res, a[1], $(NF-3) }
            /ffmpeg \/ ours \(paced/ { printf "ffmpeg / ours, paced\t%s\n", $(NF-3) } /^all targets/ { printf "targets\t%s\n", $3 == "met" ? "met" : "NOT met" }' ;;
        mirror) awk '/^change-to-panel/ { printf "change to panel p50, p99\t%s ms, %s ms\n", $10, $13 }
            / panel\(s\):/ { for (i = 1; i <= NF; i++) if ($i == "->") printf "%s panel(s) per 30 ms tick\t%s ms\n", $1, $(i+1) }' ;;
        wayland) awk '/capture of every 30 ms:/ { printf "%s: capture per tick; change to frame p50, p95\t%s ms; %s ms, %s ms\n", $1, $7, $13, $17 }' ;;
        startup) awk '/\| rss MB/ { for (i = 1; i <= NF; i++) { if ($i == "ready") r = $(i+5); if ($i == "rss") m = $(i+5) }
            printf "%s: ready median, rss median\t%s ms, %s MB\n", $1, r, m }' ;;
        idle) awk '/ total: / { sub(/:$/, "", $1); printf "%s: wake-ups, CPU per minute\t%s /s, %s ms\n", $1, $3, $5 }
            /^change to datagram/ { printf "real app change to datagram p50, p99\t%s ms, %s ms\n", $5, $8 }' ;;
    esac
}

logs=$root/build/bench-logs
mkdir -p "$logs"
table=()
for name in "${names[@]}"; do
    bin=$(program "$name") || { echo "unknown benchmark $name" >&2; exit 2; }
    [ -x "$build/$bin" ] || cmake --build "$build" -j2 --target "$(basename "$bin")" >/dev/null
    if [ $quick = 1 ]; then read -ra args <<<"$(args_quick "$name")"; else read -ra args <<<"$(args_full "$name")"; fi
    echo "bench-all: $name ${args[*]}" >&2
    start=$(date +%s)
    status=0
    "$build/$bin" "${args[@]}" >"$logs/$name.log" 2>&1 || status=$?
    took=$(($(date +%s) - start))
    rows=$(figures "$name" <"$logs/$name.log")
    [ -n "$rows" ] || rows=$(printf 'no figures\tsee %s' "$logs/$name.log")
    [ $status -eq 0 ] || rows+=$(printf '\nexit status %d\tsee %s' "$status" "$logs/$name.log")
    while IFS= read -r row; do table+=("$name	$row"); done <<<"$rows"
    table+=("$name	(time)	${took} s")
done

load=$(cut -d' ' -f1-3 /proc/loadavg)
printf '\n%-13s %-50s %s\n' benchmark figure value
printf '%-13s %-50s %s\n' ------------- -------------------------------------------------- -----
for row in "${table[@]}"; do
    IFS=$'\t' read -r name figure value <<<"$row"
    printf '%-13s %-50s %s\n' "$name" "$figure" "$value"
done
echo "$(nproc) CPUs, load at end $load; full output in $logs/"
