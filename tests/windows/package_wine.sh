#!/usr/bin/env bash
# Builds the Windows packages and checks them as a Windows user would meet
# them, under Wine: the zip holds the program, every DLL it needs and the
# licence texts, and runs where it is unpacked; the installer installs for the
# user alone without asking, with a Start-menu shortcut and an uninstall entry;
# the installed program starts; while it runs, neither the installer nor the
# uninstaller changes a file; an upgrade runs the installed uninstaller first;
# the uninstaller removes exactly the installed files and keeps the user's
# settings, and its entry only once the files are gone. The program is
# hardened (stack protector, DLL search, plugins only from its folder) and
# answers --version.
#   package_wine.sh <Windows build dir>
set -euo pipefail
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-lib.sh"
wine_env "$1"
build=$(cd "$1" && pwd)
[[ -d "$WINEPREFIX" ]] || fail "no Wine prefix at $WINEPREFIX (the wine_prefix test makes it)"
unset WINEPATH WINEQT_PLUGIN_PATH
# The first packages are built without a key, whatever the caller's setup.
unset LUMIVEX_SIGN_PKCS12 LUMIVEX_SIGN_PKCS11_MODULE
objdump=x86_64-w64-mingw32-objdump

work=$build/wine/package
pid=""
cleanup() {
    [[ -n "$pid" ]] && kill "$pid" 2> /dev/null
    wine_stop
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

cmake --build "$build" --target windows-packages > "$work/build.log" 2>&1 \
    || { cat "$work/build.log"; fail "the packages did not build"; }
zip=$(ls "$build"/packages/lumivex-*-windows-x64.zip)
setup=$(ls "$build"/packages/lumivex-*-windows-x64-setup.exe)

# --- The zip: what it holds. ---
(cd "$work" && cmake -E tar xf "$zip")
top=$(ls -d "$work"/Lumivex-*)
(cd "$top" && find . -type f | sed 's|^\./||' | sort) > "$work/files"
for file in lumivex.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll \
            libgcc_s_seh-1.dll libwinpthread-1.dll libssp-0.dll plugins/platforms/qwindows.dll \
            plugins/styles/qwindowsvistastyle.dll plugins/imageformats/qico.dll LICENSE.txt \
            licenses/qt6-base/LGPL-3.0-only.txt licenses/qt6-base/GPL-3.0-only.txt \
            licenses/qt6-base/SOURCE.txt; do
    grep -qxF "$file" "$work/files" || fail "the zip lacks $file"
done
grep -v -E '^(lumivex\.exe|[^/]+\.dll|plugins/[a-z]+/[a-z0-9]+\.dll|LICENSE\.txt|licenses/.*)$' \
    "$work/files" && fail "the zip holds files it should not (above)"
grep -q Quarnel "$top/LICENSE.txt" || fail "LICENSE.txt is not the program's licence"

# The program is a GUI program with its icon and version information.
"$objdump" -p "$top/lumivex.exe" > "$work/headers"
grep -q 'Subsystem.*(Windows GUI)' "$work/headers" || fail "lumivex.exe is not a GUI program"
x86_64-w64-mingw32-windres -i "$top/lumivex.exe" -O rc > "$work/resources.rc" 2> /dev/null \
    || fail "cannot read the resources of lumivex.exe"
grep -q 'ICON' "$work/resources.rc" || fail "lumivex.exe has no icon"
grep -q 'VALUE "ProductName", "Lumivex Software"' "$work/resources.rc" \
    || fail "lumivex.exe has no version information"

# Hardened: the stack protector's check, and the DLL search restricted first
# thing (both show as imports).
grep -q -E '__stack_chk_fail$' <("$objdump" -p "$top/lumivex.exe") \
    || fail "lumivex.exe was built without the stack protector"
grep -q -E 'SetDefaultDllDirectories$' <("$objdump" -p "$top/lumivex.exe") \
    || fail "lumivex.exe does not restrict its DLL search"

# Every DLL that a program file imports is in the package or part of Windows
# (here: Wine's system folder; api-ms-win-* names are API sets the loader maps
# to system DLLs). Plugins find the DLLs beside lumivex.exe.
system32=$WINEPREFIX/drive_c/windows/system32
while IFS= read -r pe; do
    while IFS= read -r dll; do
        lower=${dll,,}
        [[ $lower == api-ms-win-* ]] && continue
        [[ -n "$(find "$top" -maxdepth 1 -iname "$dll" -print -quit)" ]] && continue
        [[ -e "$system32/$lower" || -e "$system32/$dll" ]] && continue
        fail "${pe#"$top"/} needs $dll, which is neither in the package nor in Windows"
    done < <("$objdump" -p "$pe" | awk '/DLL Name:/ { print $3 }')
done < <(find "$top" -name '*.exe' -o -name '*.dll')
echo "zip: $(wc -l < "$work/files") files, imports complete"

main_window_up() { [[ -n "$(window_named 'Lumivex Software')" ]]; }
program_ended() { ! kill -0 "$pid" 2> /dev/null; }

# Starts $1 under Wine, waits for the main window, then ends the program.
run_and_close() {
    "$wine" "$1" > "$work/run.log" 2>&1 &
    pid=$!
    e2e_until 600 main_window_up || fail "$1: the main window did not appear"
    [[ -z "$(window_named 'Application Error')" ]] || fail "$1: an error report at start-up"
    kill "$pid"
    e2e_until 100 program_ended || fail "$1 did not end"
    wait "$pid" 2> /dev/null || true
    pid=""
    # The Windows process goes with the server.
    wine_stop
}

# --- The zip runs where it was unpacked. ---
wine_reg delete 'HKCU\Software\Quarnel' /f > /dev/null || true
run_and_close "$top/lumivex.exe"
echo "zip: runs from its folder"

# Qt's plugins come only from the program's folder: the offscreen platform,
# which the package lacks, is not loaded through Qt's variables either. Wine
# tells each DLL it loads; without a platform the program does not end by
# itself here, so it is stopped.
for variable in QT_PLUGIN_PATH QT_QPA_PLATFORM_PLUGIN_PATH; do
    dir=$build/plugins
    [[ $variable == QT_PLUGIN_PATH ]] || dir=$build/plugins/platforms
    env "WINE$variable=$(winpath "$dir")" WINEDEBUG=+loaddll timeout 15 "$wine" \
        "$top/lumivex.exe" -platform offscreen > "$work/run.log" 2>&1 || true
    wine_stop
    grep -q 'Loaded .*lumivex\.exe' "$work/run.log" || fail "$variable: Wine told no DLL loads"
    ! grep -qi 'qoffscreen\.dll' "$work/run.log" \
        || fail "$variable: lumivex.exe loaded a platform plugin from outside its folder"
done
echo "zip: plugins only from its own folder"

# --version goes to standard output when that is a pipe, and into a box when
# there is no output and no console to attach to (started as from Explorer).
timeout 120 "$wine" "$top/lumivex.exe" --version 2> /dev/null | grep -q '^Lumivex' \
    || fail "lumivex.exe --version printed nothing"
"$wine" start /wait /unix "$top/lumivex.exe" --version < /dev/null > /dev/null 2>&1 &
pid=$!
version_box_up() { [[ -n "$(window_named Lumivex)" ]]; }
e2e_until 600 version_box_up || fail "--version without a console showed no box"
xdotool windowfocus --sync "$(window_named Lumivex)" key Return
e2e_until 100 program_ended || fail "--version did not end after its box"
wait "$pid" 2> /dev/null || true
pid=""
wine_stop
echo "zip: hardened, plugins only from its folder, --version answered"

# --- The installer, silent, for this user alone. ---
users=$WINEPREFIX/drive_c/users/$(id -un)
installed=$users/AppData/Local/Programs/Lumivex
shortcut="$users/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Lumivex Software.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivex'
timeout 120 "$wine" "$setup" /S || fail "the installer failed with status $?"
wine_stop
while IFS= read -r file; do
    [[ -f "$installed/$file" ]] || fail "not installed: $file"
done < "$work/files"
[[ -f "$installed/uninstall.exe" ]] || fail "no uninstaller"
[[ -f "$shortcut" ]] || fail "no Start-menu shortcut"
wine_reg query "$uninstall_key" > "$work/entry"
for value in 'DisplayName *REG_SZ *Lumivex Software' 'UninstallString *REG_SZ .*uninstall.exe' \
             'Publisher *REG_SZ *Quarnel' 'DisplayVersion *REG_SZ'; do
    grep -q -E "$value" "$work/entry" || fail "the uninstall entry lacks $value"
done
echo "installer: files, shortcut and uninstall entry in place"

# The installed program starts and stores its first choices.
wine_reg delete 'HKCU\Software\Quarnel' /f > /dev/null || true
run_and_close "$installed/lumivex.exe"
settings=$(wine_reg query 'HKCU\Software\Quarnel\Lumivex Software')
grep -q 'Combo1 *REG_SZ *0' <<< "$settings" || fail "the installed program stored nothing"

# A skin the user put beside the program is the user's own: it stays.
mkdir -p "$installed/x"
echo '#Form1 { background: grey; }' > "$installed/x/o.cjs"

# --- Neither the installer nor the uninstaller touches a running program. ---
snapshot() { (cd "$installed" && find . -type f -printf '%P %s %T@\n' | sort); }
snapshot > "$work/before"
"$wine" "$installed/lumivex.exe" > "$work/run.log" 2>&1 &
pid=$!
e2e_until 600 main_window_up || fail "the installed program did not start"
status=0
timeout 120 "$wine" "$setup" /S || status=$?
[[ $status == 2 ]] || fail "a silent install over the running program ended with $status, not 2"
# In place (_?=) the uninstaller's own status comes back.
status=0
timeout 120 "$wine" "$installed/uninstall.exe" /S "_?=$(winpath "$installed")" || status=$?
[[ $status == 2 ]] || fail "a silent uninstall of the running program ended with $status, not 2"
snapshot | cmp -s - "$work/before" || fail "files changed while the program ran"
wine_reg query "$uninstall_key" > /dev/null || fail "the uninstall entry went while the program ran"
kill "$pid"
e2e_until 100 program_ended || fail "the installed program did not end"
wait "$pid" 2> /dev/null || true
pid=""
wine_stop
echo "installer, uninstaller: the running program left alone"

# --- An upgrade runs the installed uninstaller first: a file held open makes
# it fail, the upgrade stops, and the entry stays for the files left. ---
"$wine" "$build/tests/windows/filelock.exe" "$(winpath "$installed/Qt6Core.dll")" &
pid=$!
status=0
timeout 120 "$wine" "$setup" /S || status=$?
[[ $status == 3 ]] || fail "an upgrade whose uninstaller failed ended with $status, not 3"
[[ -f "$installed/Qt6Core.dll" ]] || fail "the file held open is gone"
wine_reg query "$uninstall_key" > /dev/null || fail "the uninstall entry went with files left"
kill "$pid"
wait "$pid" 2> /dev/null || true
pid=""
wine_stop
timeout 120 "$wine" "$setup" /S || fail "the upgrade failed with status $?"
wine_stop
while IFS= read -r file; do
    [[ -f "$installed/$file" ]] || fail "not installed by the upgrade: $file"
done < "$work/files"
[[ -f "$installed/x/o.cjs" ]] || fail "the upgrade removed the user's skin"
echo "upgrade: through the installed uninstaller"

# --- The uninstaller. It runs from a copy of itself, so wait for the files. ---
timeout 120 "$wine" "$installed/uninstall.exe" /S || fail "the uninstaller failed"
gone() { [[ ! -e "$installed/lumivex.exe" && ! -e "$installed/uninstall.exe" ]]; }
e2e_until 600 gone || fail "the uninstaller left the program"
wine_stop
left=$(cd "$installed" && find . -type f | sed 's|^\./||' | sort)
[[ "$left" == "x/o.cjs" ]] || fail "after uninstalling, the folder holds: $left"
[[ ! -e "$shortcut" ]] || fail "the Start-menu shortcut stayed"
wine_reg query "$uninstall_key" > /dev/null 2>&1 && fail "the uninstall entry stayed"
[[ "$(wine_reg query 'HKCU\Software\Quarnel\Lumivex Software')" == "$settings" ]] \
    || fail "the uninstaller changed the user's settings"
echo "uninstaller: program files gone, user's skin and settings kept"
echo "Windows packages: ok"
