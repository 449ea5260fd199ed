#!/usr/bin/env bash
# ThreadSanitizer on the pieces whose threads are our own, in a tree of their own (build-tsan, from
# bench/tsan/CMakeLists.txt) built with clang: the broadcast channel and the colour hand-over from its thread
# to the generators (tsan_colours), frame building with the emulated panel's receiver and the block
# reduction (tsan_frames), and every fuzz target's reader run from several threads over its seeds. Debian's
# Qt is not instrumented: its mutexes and shared-data copies are made visible (bench/tsan/Qt*Annotations.cpp),
# its queued signals are not, so the application itself (device threads, capture worker, event loops) is not
# covered.
#   scripts/tsan.sh [--seconds N] [--no-qt-annotations]
# Exit status 0 when no program reported anything, 1 otherwise; 77 when clang's sanitizer runtime is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"
seconds=4
annotate=ON
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift ;;
        --no-qt-annotations) annotate=OFF; build="$root/build-tsan-plain" ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
cxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$cxx" ] || ! echo 'int main() { return 0; }' | "$cxx" -x c++ -fsanitize=thread - -o /dev/null 2>/dev/null; then
    echo "tsan: SKIPPED, clang with its ThreadSanitizer runtime is not installed (scripts/packages/mdns.txt)"
    exit 77
fi
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root/bench/tsan" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIVOTRIX_TSAN_QT=$annotate >/dev/null
cmake --build "$build" -j "$(nproc)"

# Every report is printed and counted; a program that reported ends with status 66.
export TSAN_OPTIONS="halt_on_error=0 exitcode=66 second_deadlock_stack=1 history_size=4"
# Log lines carry the local time: with TZ fixed, glibc fills its time zone cache once, instead of replacing
# it under a lock of its own that the sanitizer cannot see.
export TZ=UTC
# Panels of tsan_frames on a loopback address of their own.
status=0
run() {
    echo "== ${*#$build/}"
    if ! "$@"; then status=1; fi
}
run "$build/tsan_colours" "$seconds"
run "$build/tsan_frames" "$seconds" 151
for target in $("$root/fuzz/run-fuzzer.sh" --list); do
    [ "$target" = portal_stream ] && continue # see bench/tsan/CMakeLists.txt
    run "$build/${target}_parallel" "$root/fuzz/corpus/$target" 4 20
done
[ $status -eq 0 ] && echo "tsan: no reports" || echo "tsan: REPORTS above"
exit $status
