#!/usr/bin/env bash
# Every text of the windows has its German translation: lupdate over the sources, into a copy of the
# committed catalogue, adds nothing and leaves nothing unfinished.
#   tests/i18n/check-catalogue.sh <source dir> <lupdate> <work dir>
set -euo pipefail
src=$1 lupdate=$2 work=$3
mkdir -p "$work"
cp "$src/i18n/pivotrix_de.ts" "$work/pivotrix_de.ts"
cd "$src"
"$lupdate" -silent -locations none -no-obsolete core device effects capture discovery ui -ts "$work/pivotrix_de.ts"
if ! diff -u "$src/i18n/pivotrix_de.ts" "$work/pivotrix_de.ts"; then
    echo "the catalogue misses texts of the sources: cmake --build build --target update-translations" >&2
    exit 1
fi
if grep -n 'type="unfinished"' "$work/pivotrix_de.ts"; then
    echo "texts without a German translation (above)" >&2
    exit 1
fi
echo "catalogue complete"
