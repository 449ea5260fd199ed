#!/usr/bin/env bash
# Builds one fuzz target with clang (libFuzzer, ASan, UBSan) and runs it over its committed corpus.
#   fuzz/run-fuzzer.sh <target> [--seconds N] [--build-dir DIR] [extra libFuzzer options...]
#   fuzz/run-fuzzer.sh --list
#   fuzz/run-fuzzer.sh --sources <target>
# Targets are fuzz/<target>_fuzzer.cpp with seeds in fuzz/corpus/<target>. Qt itself is not instrumented:
# only the project's own reading code is, linked against the system's Qt.
# Exit status 77 (skipped) when clang or its libFuzzer runtime is not installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The program's own sources each target links, and the largest input to try (for the mDNS reply, the whole
# receive buffer of the scan).
target_sources() {
    case "$1" in
        mdns_reply) echo discovery/MdnsMessage.cpp discovery/MdnsRecordCollector.cpp discovery/MdnsSource.cpp \
            core/DiagnosticLog.cpp 42048 ;;
        panel_reply) echo device/PanelReply.cpp core/DiagnosticLog.cpp 65536 ;;
        chroma_message) echo broadcast/ChromaBroadcastMessage.cpp 64 ;;
        panel_frame) echo emulator/PanelFrameParser.cpp 65600 ;;
        settings_file) echo core/SettingsFile.cpp 65536 ;;
        pairing_reply) echo discovery/PairingChallenge.cpp 65536 ;;
        instance_message) echo core/SingleInstanceMessage.cpp 2048 ;;
        update_reply) echo ui/UpdateReply.cpp 65536 ;;
        portal_stream) echo capture/linux/PortalStream.cpp capture/linux/StreamFormat.cpp \
            capture/linux/BlockAverage.cpp 4096 ;;
        *) return 1 ;;
    esac
}
targets=(mdns_reply panel_reply chroma_message panel_frame settings_file pairing_reply instance_message update_reply
    portal_stream)

if [ "${1:-}" = "--list" ]; then
    printf '%s\n' "${targets[@]}"
    exit 0
fi
# The program's own sources of one target, for other builds of the same code (scripts/tsan.sh).
if [ "${1:-}" = "--sources" ]; then
    spec=$(target_sources "${2:-}") || { echo "unknown target ${2:-}" >&2; exit 2; }
    read -r -a words <<<"$spec"
    unset 'words[-1]'
    printf '%s\n' "${words[@]}"
    exit 0
fi
target="${1:-}"
if [ -z "$target" ] || ! spec=$(target_sources "$target"); then
    echo "usage: $0 <target> [--seconds N] [--build-dir DIR] [libFuzzer options...]; targets: ${targets[*]}" >&2
    exit 2
fi
shift
read -r -a words <<<"$spec"
max_len="${words[-1]}"
unset 'words[-1]'
seconds=5
build_dir="$root/build/fuzz"
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --build-dir) build_dir="$2"; shift 2 ;;
        *) break ;;
    esac
done
cxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$cxx" ]; then
    echo "fuzz: SKIPPED, clang++ is not installed (scripts/packages/mdns.txt)"
    exit 77
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        "$cxx" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
    echo "fuzz: SKIPPED, clang's libFuzzer runtime is not installed (scripts/packages/mdns.txt)"
    exit 77
fi
sources=("$root/fuzz/${target}_fuzzer.cpp")
headers=()
for s in "${words[@]}"; do
    sources+=("$root/$s")
    headers+=("$root/$(dirname "$s")"/*.h)
done
binary="$build_dir/${target}_fuzzer"
corpus="$build_dir/corpus/$target"
artifacts="$build_dir/artifacts/$target/"
mkdir -p "$corpus" "$artifacts"
stale=0
[ -x "$binary" ] || stale=1
for f in "${sources[@]}" "${headers[@]}" "$0"; do [ "$f" -nt "$binary" ] && stale=1; done
if [ $stale -eq 1 ]; then
    echo "fuzz: building $binary"
    # shellcheck disable=SC2046
    "$cxx" -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -DQT_NO_CAST_FROM_ASCII -I"$root" $(pkg-config --cflags Qt5Core Qt5Gui Qt5DBus libspa-0.2) "${sources[@]}" \
        $(pkg-config --libs Qt5Core Qt5Gui Qt5DBus) -o "$binary.tmp"
    mv "$binary.tmp" "$binary"
fi
# New inputs found go to the build directory; the committed seeds stay as they are.
export ASAN_OPTIONS=detect_leaks=0
exec "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=5 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$@" "$corpus" "$root/fuzz/corpus/$target"
