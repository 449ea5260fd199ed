#!/usr/bin/env bash
# Builds the mDNS reply fuzzer with clang (libFuzzer, ASan, UBSan) and runs it over the committed corpus.
#   fuzz/run-fuzzer.sh [--seconds N] [--build-dir DIR] [extra libFuzzer options...]
# Exit status 77 (skipped) when clang or its libFuzzer runtime is not installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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
sources=("$root/fuzz/mdns_reply_fuzzer.cpp" "$root/discovery/MdnsMessage.cpp"
         "$root/discovery/MdnsRecordCollector.cpp" "$root/discovery/MdnsSource.cpp"
         "$root/core/DiagnosticLog.cpp")
headers=("$root"/discovery/Mdns*.h "$root/discovery/PivotrixBSS.h" "$root/core/DiagnosticLog.h")
binary="$build_dir/mdns_reply_fuzzer"
mkdir -p "$build_dir/corpus" "$build_dir/artifacts"
stale=0
[ -x "$binary" ] || stale=1
for f in "${sources[@]}" "${headers[@]}" "$0"; do [ "$f" -nt "$binary" ] && stale=1; done
if [ $stale -eq 1 ]; then
    echo "fuzz: building $binary"
    # shellcheck disable=SC2046
    "$cxx" -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$root" $(pkg-config --cflags Qt5Core) "${sources[@]}" $(pkg-config --libs Qt5Core) -o "$binary"
fi
# New inputs found go to the build directory; the committed seeds stay as they are.
export ASAN_OPTIONS=detect_leaks=0
exec "$binary" -max_total_time="$seconds" -max_len=2048 -timeout=5 -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/" "$@" "$build_dir/corpus" "$root/fuzz/corpus/mdns_reply"
