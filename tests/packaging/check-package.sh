#!/bin/bash
# check-package.sh <build-dir> <scratch-dir>
# Packs the build with cpack, unpacks the .deb with dpkg -x and checks the
# installed files, the desktop entry, the metainfo and that the program starts.
set -u
build=$1
scratch=$2
id=com.quarnel.Lumivex
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/home/config" "$scratch/bin" "$scratch/runtime"
chmod 700 "$scratch/runtime"

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
deb=$(ls "$scratch"/out/*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { echo "FAIL: no .deb produced" >&2; exit 1; }
pass "built $(basename "$deb")"

dpkg-deb --info "$deb" >"$scratch/info.txt"
grep -q '^ Package: lumivex$' "$scratch/info.txt" || fail "package name"
grep -q '^ Maintainer: .\+' "$scratch/info.txt" || fail "maintainer"
grep -q '^ Depends: .*libqt6widgets6' "$scratch/info.txt" || fail "depends names Qt 6 Widgets"
grep -q '^ Depends: .*libqt6gui6' "$scratch/info.txt" || fail "depends names Qt 6 Gui"
grep -q '^ Recommends: .*qt6-wayland' "$scratch/info.txt" || fail "recommends Qt's Wayland support"

dpkg -x "$deb" "$scratch/root" || { echo "FAIL: dpkg -x" >&2; exit 1; }
root=$scratch/root/usr
for f in bin/lumivex share/applications/$id.desktop share/metainfo/$id.metainfo.xml; do
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
desktop-file-validate "$desktop" && pass "desktop entry validates" || fail "desktop-file-validate"
for key in Name Comment Icon Exec Categories; do
    grep -q "^$key=." "$desktop" || fail "desktop entry has no $key"
done
grep -qx 'Terminal=false' "$desktop" || fail "desktop entry: Terminal=false"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry names the installed icon"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/bin/$exec_name" ] || fail "Exec=$exec_name is not in the package's bin"

metainfo=$root/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 \
    && pass "metainfo validates" || { cat "$scratch/appstream.log" >&2; fail "appstreamcli validate"; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || fail "metainfo launches the desktop entry"
grep -qi 'photosensitiv' "$metainfo" || fail "metainfo carries the photosensitivity warning"

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
# sure the program is still there a moment later.
conf=$scratch/home/config/Quarnel.conf
for _ in $(seq 1 600); do
    grep -q '^Combo2=0$' "$conf" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
sleep 2
if kill -0 "$pid" 2>/dev/null; then
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

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all package checks passed"
