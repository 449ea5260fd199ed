#!/usr/bin/env bash
# Builds the Debian packages from a tree configured as a distribution would (prefix /usr, Debian's
# hardening flags, no update check of the program's own) and checks them: each holds exactly what the
# install rules install for its component, together the files listed in contents.txt; the program
# accepts its broadcast library from the folder the package puts it in; lintian finds no error; the
# desktop entry and the AppStream metadata validate (offline).
#   tests/package/check-package.sh <source dir> <work dir> <version>
set -euo pipefail
src=$1 work=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
build=$work/build
fail() { echo "package check: $*" >&2; exit 1; }

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# From the source folder, as a package build runs: the debug paths then start there.
flags() { (cd "$src" && dpkg-buildflags --get "$1"); }
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$src" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DPIVOTRIX_UPDATES_BY_PACKAGE_MANAGER=ON -DPIVOTRIX_BUILD_TESTS=OFF -DPIVOTRIX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" >"$work.configure.log" ||
    { cat "$work.configure.log"; fail "configure failed"; }
cmake --build "$build" -j2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack failed"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
listing() { sed 's|^\./||; /\/$/d' | LC_ALL=C sort; }
rm -rf "$work/stage" "$work/x"
for component in app tools; do
    package=pivotrix-entertainment
    [ "$component" = tools ] && package=pivotrix-entertainment-tools
    deb=$(ls "$build/${package}_${version}_"*.deb) || fail "no package $package $version"
    DESTDIR="$work/stage/$package" cmake --install "$build" --component "$component" >/dev/null
    diff <(cd "$work/stage/$package" && find . ! -type d | listing) <(dpkg-deb --fsys-tarfile "$deb" | tar -t | listing) ||
        fail "$package differs from the install rules (left: install, right: package)"
    dpkg-deb -x "$deb" "$work/x"
    debs+=("$deb")
done
diff <(sed '/^#/d; s/^[^ ]* //; s/@MULTIARCH@/'"$multiarch"'/' "$here/contents.txt" | LC_ALL=C sort) \
    <(cd "$work/x" && find . ! -type d | listing) || fail "the packages differ from contents.txt"

libdir=/usr/lib/$multiarch/pivotrix-entertainment
# The folder is compiled in as a UTF-16 literal.
grep -qxF "$libdir" <(strings -a -e l "$work/x/usr/bin/PivotrixEntertainment") ||
    fail "the program does not accept its library from $libdir"
[ "$(stat -c %a "$work/x$libdir/libRzChromaBroadcast.so")" = 644 ] || fail "library mode not 644"
"$work/x/usr/bin/PivotrixEntertainment" --version | grep -qx "Pivotrix Entertainment $version" ||
    fail "--version does not say $version"
LANG=de_DE.UTF-8 LANGUAGE=de "$work/x/usr/bin/PivotrixEntertainment" --help | grep -q '^Aufruf: ' ||
    fail "--help is not in the user's language"
# A user's first try of the tools; the emulator's help once needed an application object and crashed.
for tool in prism-emulator chroma-publisher; do
    "$work/x/usr/bin/$tool" --help >/dev/null || fail "$tool --help fails"
done
dpkg-deb -f "${debs[0]}" Depends | grep -q libqt5widgets5 || fail "no shlibs dependencies"

desktop-file-validate "$work"/x/usr/share/applications/*.desktop || fail "desktop entry invalid"
metainfo=$(appstreamcli validate --no-net "$work"/x/usr/share/metainfo/*.xml 2>&1) || true
echo "$metainfo"
grep -q '^✔ Validation was successful' <<<"$metainfo" && ! grep -qE '^[EW]:' <<<"$metainfo" ||
    fail "metainfo has errors or warnings"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" || fail "lintian found errors"
echo "package check: ${debs[*]##*/} good"
