#!/usr/bin/env bash
# Syntax-checks every Windows-only source (any */win/*.cpp) with mingw-w64 against the Qt headers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || cxx=x86_64-w64-mingw32-g++
qt=$(dirname "$(find /usr/include -maxdepth 3 -type d -name QtCore -path '*qt5*' | head -n1)")
mapfile -t sources < <(cd "$root" && git ls-files -co --exclude-standard '*/win/*.cpp' 2>/dev/null || find . -path '*/win/*.cpp')
if [ ${#sources[@]} -eq 0 ]; then
    echo "wincheck: no Windows-only sources"
    exit 0
fi
flags=(-std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -DWIN32 -D_WIN32_WINNT=0x0A00 -DQT_NO_DEBUG
       -I"$root" -I"$qt" -I"$qt/QtCore" -I"$qt/QtGui" -I"$qt/QtWidgets" -I"$qt/QtNetwork" -I"$qt/QtDBus"
       -DQT_NO_CAST_FROM_ASCII -DQT_NO_NARROWING_CONVERSIONS_IN_CONNECT -Wall -Wno-unknown-pragmas -Wno-attributes)
status=0
for src in "${sources[@]}"; do
    if "$cxx" "${flags[@]}" "$root/$src"; then
        echo "wincheck: ok $src"
    else
        echo "wincheck: FAILED $src"
        status=1
    fi
done
exit $status
