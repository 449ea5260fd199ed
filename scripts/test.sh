#!/usr/bin/env bash
# Sets up (packages + build) and runs the whole test suite under a private Xvfb and D-Bus.
#   scripts/test.sh [--sanitize] [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build"
setup_args=()
if [ "${1:-}" = "--sanitize" ]; then
    build_dir="$root/build-asan"
    setup_args=(--sanitize)
    shift
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
"$root/scripts/setup.sh" "${setup_args[@]}"
cd "$build_dir"
exec "$root/scripts/with-services.sh" ctest --output-on-failure -j "$(nproc)" "$@"
