#!/bin/bash
# check-package.sh <build-dir> <scratch-dir> <source-dir>
# Packs the build with cpack, unpacks the .deb with dpkg -x and checks the
# installed files, the desktop entry, the metainfo, the documents and that the
# program starts. Then builds the package from the source twice as
# docs/packaging.md does (Release) and checks that lintian finds nothing and that the two .deb
# files are the same byte for byte.
# shellcheck disable=SC2015 # pass only prints: "check && pass || fail" is safe
set -u
# shellcheck source=../support/wait-lib.sh
source "$(dirname "$0")/../support/wait-lib.sh"
build=$1
scratch=$2
source=$3
id=com.quarnel.Lumivex
failures=0

# File times in the package and in the resources rcc compiles in come from
# the last commit, as Debian's builds take them from the changelog.
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null) \
    || SOURCE_DATE_EPOCH=$(stat -c %Y "$source/NEWS")
export SOURCE_DATE_EPOCH

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/home/config" "$scratch/bin" "$scratch/runtime"
chmod 700 "$scratch/runtime"

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
debs=("$scratch"/out/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "FAIL: no .deb produced" >&2; exit 1; }
pass "built $(basename "$deb")"

dpkg-deb --info "$deb" >"$scratch/info.txt"
grep -q '^ Package: lumivex$' "$scratch/info.txt" || fail "package name"
grep -q '^ Maintainer: .\+' "$scratch/info.txt" || fail "maintainer"
grep -q '^ Depends: .*libqt6widgets6' "$scratch/info.txt" || fail "depends names Qt 6 Widgets"
grep -q '^ Depends: .*libqt6gui6' "$scratch/info.txt" || fail "depends names Qt 6 Gui"
grep -q '^ Recommends: .*qt6-wayland' "$scratch/info.txt" || fail "recommends Qt's Wayland support"

dpkg -x "$deb" "$scratch/root" || { echo "FAIL: dpkg -x" >&2; exit 1; }
root=$scratch/root/usr
for f in bin/lumivex share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/man/man1/lumivex.1.gz share/doc/lumivex/copyright share/doc/lumivex/changelog.gz; do
    [ -f "$root/$f" ] && pass "$f" || fail "missing $f"
done
[ -x "$root/bin/lumivex" ] || fail "bin/lumivex is not executable"
for n in 16 24 32 48 64 128 256; do
    icon=$root/share/icons/hicolor/${n}x${n}/apps/$id.png
    if [ ! -f "$icon" ]; then
        fail "missing icon ${n}x${n}"
    elif ! file -b "$icon" | grep -q "PNG image data, $n x $n,"; then
        fail "icon ${n}x${n} is $(file -b "$icon")"
    fi
done

desktop=$root/share/applications/$id.desktop
# Debian 12's desktop-file-validate (0.26) knows the keys up to version 1.4 of
# the format; SingleMainWindow, of version 1.5, is the one it may call unknown.
desktop-file-validate "$desktop" >"$scratch/desktop.log" 2>&1
grep -E 'error|warning' "$scratch/desktop.log" | grep -v 'key "SingleMainWindow" in group' \
    >"$scratch/desktop-errors.log"
[ -s "$scratch/desktop-errors.log" ] && fail "desktop-file-validate: $(cat "$scratch/desktop-errors.log")" \
    || pass "desktop entry validates"
grep -qx 'SingleMainWindow=true' "$desktop" || fail "desktop entry: SingleMainWindow=true"
for key in Name Comment Icon Exec Categories; do
    grep -q "^$key=." "$desktop" || fail "desktop entry has no $key"
done
grep -qx 'Terminal=false' "$desktop" || fail "desktop entry: Terminal=false"
# The menu's tooltip and search text warn before the first flash.
grep -q '^Comment=.*seizures.*photosensitive epilepsy' "$desktop" \
    || fail "desktop entry's Comment carries no warning"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry names the installed icon"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/bin/$exec_name" ] || fail "Exec=$exec_name is not in the package's bin"

metainfo=$root/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 \
    && pass "metainfo validates" || { cat "$scratch/appstream.log" >&2; fail "appstreamcli validate"; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || fail "metainfo launches the desktop entry"
# The warning is the description's first paragraph.
sed -n '/<description>/,/<\/p>/p' "$metainfo" | grep -q 'Photosensitivity warning' \
    || fail "metainfo's description does not start with the photosensitivity warning"

# The copyright file carries LICENSE word for word, and the changelog made
# from NEWS starts with the version being packaged.
doc=$root/share/doc/lumivex
[ "$(sed -n 's/^Copyright: //p' "$doc/copyright")" = "$(sed -n 's/^Copyright (c) //p' "$source/LICENSE")" ] \
    && pass "copyright holder as in LICENSE" || fail "copyright file names another holder than LICENSE"
awk '/^License: /{text = ""; next} {text = text $0 "\n"} END {printf "%s", text}' "$doc/copyright" \
    | sed 's/^ //; s/^\.$//' | diff -u <(sed -n '/^Copyright (c) /,$p' "$source/LICENSE" | sed 1,2d) - \
    && pass "licence text as in LICENSE" || fail "licence text in the copyright file differs from LICENSE"
version=$(dpkg-deb -f "$deb" Version)
zcat "$doc/changelog.gz" | head -n1 | grep -q "^lumivex ($version) " \
    && pass "changelog starts with $version" || fail "NEWS has no entry for version $version"

# The installed program starts: offscreen, scratch settings, and an xdg-open
# that only records, so no browser can open.
cat >"$scratch/bin/xdg-open" <<'SH'
#!/bin/sh
echo "$@" >>"${0%/*}/opened"
SH
chmod +x "$scratch/bin/xdg-open"
env -i PATH="$scratch/bin:/usr/bin:/bin" HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/config" \
    XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
    "$root/bin/lumivex" >"$scratch/run.log" 2>&1 &
pid=$!
# Start-up writes both choices back to the store; wait for that (a minute at
# most: sanitized builds on a busy machine start slowly), then make
# sure the program stays for two seconds more.
conf=$scratch/home/config/Quarnel.conf
running() { kill -0 "$pid" 2>/dev/null; }
stored_or_ended() { grep -q '^Combo2=0$' "$conf" 2>/dev/null || ! running; }
e2e_until 600 stored_or_ended
if e2e_stays 20 running; then
    pass "installed program is running"
    grep -q '^Combo1=0$' "$conf" && grep -q '^Combo2=0$' "$conf" \
        && pass "first start stored both choices" || fail "first start did not store its choices"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null
else
    wait "$pid"
    fail "installed program exited early with status $?"
    cat "$scratch/run.log" >&2
fi

# The package as docs/packaging.md builds it, twice in the same folder. The sanitized
# test run packs a sanitized program above and leaves this to the plain run.
# Only what the package holds is built (the program and its documents), not
# the tools and benchmarks beside it.
release_package() { # <n>: builds into $scratch/release, packs into $scratch/release-<n>
    rm -rf "$scratch/release"
    { cmake -S "$source" -B "$scratch/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVEX_TESTS=OFF \
            -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
        && cmake --build "$scratch/release" --target lumivex package-docs \
        && cpack --config "$scratch/release/CPackConfig.cmake" -B "$scratch/release-$1"; } \
        >"$scratch/release-$1.log" 2>&1 || { cat "$scratch/release-$1.log" >&2; return 1; }
    ls "$scratch/release-$1"/*.deb
}
if grep -Eiq '^LUMIVEX_SANITIZERS:BOOL=(on|1|yes|true|y)$' "$build/CMakeCache.txt"; then
    echo "skipped: release package (checked by the unsanitized run)"
elif ! deb1=$(release_package 1) || ! deb2=$(release_package 2); then
    fail "release build"
else
    if cmp -s "$deb1" "$deb2"; then
        pass "two release builds give the same .deb"
    else
        fail "two release builds differ"
        diff <(dpkg-deb -c "$deb1") <(dpkg-deb -c "$deb2") >&2
        diff <(dpkg-deb -I "$deb1" md5sums) <(dpkg-deb -I "$deb2" md5sums) >&2
    fi
    # Info tags are shown but pass. One of them, hardening-no-fortify-functions,
    # is expected: the program is built with _FORTIFY_SOURCE, but the compiler
    # proves its few read and memcpy calls safe and links no checked variant.
    if lintian --fail-on error,warning --display-info "$deb1" >"$scratch/lintian.log" 2>&1; then
        pass "lintian: no errors or warnings"
    else
        fail "lintian"
    fi
    grep -v '^running with root privileges' "$scratch/lintian.log"
    readelf -d "$scratch/release/lumivex" | grep -q BIND_NOW \
        && pass "program binds at start-up (relro, now)" || fail "program is not linked with -z now"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all package checks passed"
