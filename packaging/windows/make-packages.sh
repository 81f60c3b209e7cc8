#!/usr/bin/env bash
# Builds the two Windows packages from the build folder's install tree:
#   lumivex-<version>-windows-x64.zip        unpack anywhere and run lumivex.exe
#   lumivex-<version>-windows-x64-setup.exe  per-user installer (NSIS)
# Both land in <build dir>/packages. With a signing key (sign.sh names the
# variables) every program file is signed before packing, and the installer and
# its uninstaller as makensis writes them.
#   make-packages.sh <build dir> <version> [makensis] [strip]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
version=$2
makensis=${3:-makensis}
strip=${4:-x86_64-w64-mingw32-strip}
out=$build/packages
name=lumivex-$version-windows-x64
stage=$out/Lumivex-$version

rm -rf "$out"
mkdir -p "$out"
cmake --install "$build" --prefix "$stage" --strip > /dev/null
[[ -f "$stage/lumivex.exe" ]] || { echo "make-packages: no lumivex.exe in $stage" >&2; exit 1; }
# Debian's compiler run-time DLLs carry their debugging symbols.
find "$stage" -name '*.dll' -exec "$strip" --strip-unneeded {} +

sign_defines=()
if "$here/sign.sh" --configured; then
    find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec "$here/sign.sh" {} +
    sign_defines=(-DSIGN="$here/sign.sh")
    echo "make-packages: signing every program file, the installer and the uninstaller"
else
    echo "make-packages: no signing key (LUMIVEX_SIGN_PKCS12 or LUMIVEX_SIGN_PKCS11_MODULE):" \
         "the packages are unsigned"
fi

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "Lumivex-$version")

# The installer names every file it installs, so that the uninstaller removes
# exactly those and nothing a user put beside them. $INSTDIR is NSIS's own.
# shellcheck disable=SC1003 # a lone backslash
winpath() { printf '%s' "${1#./}" | tr / '\\'; }
# shellcheck disable=SC2016
{
    while IFS= read -r dir; do
        if [[ $dir == . ]]; then
            printf 'SetOutPath "$INSTDIR"\n'
        else
            printf 'SetOutPath "$INSTDIR\\%s"\n' "$(winpath "$dir")"
        fi
        find "$stage/${dir#./}" -maxdepth 1 -type f | sort | while IFS= read -r file; do
            printf 'File "%s"\n' "$file"
        done
    done < <(cd "$stage" && find . -type d | sort)
} > "$out/files.nsh"
# shellcheck disable=SC2016
(cd "$stage" && find . -type f | sort) | while IFS= read -r file; do
    printf 'Delete "$INSTDIR\\%s"\n' "$(winpath "$file")"
done > "$out/unfiles.nsh"
# shellcheck disable=SC2016
(cd "$stage" && find . -mindepth 1 -type d | sort -r) | while IFS= read -r dir; do
    printf 'RMDir "$INSTDIR\\%s"\n' "$(winpath "$dir")"
done > "$out/undirs.nsh"

size_kb=$(du -sk "$stage" | cut -f1)
"$makensis" -V2 -NOCD "${sign_defines[@]}" -DVERSION="$version" -DSTAGE="$stage" -DFILES="$out/files.nsh" \
    -DUNFILES="$out/unfiles.nsh" -DUNDIRS="$out/undirs.nsh" -DICON="$here/../../src/layouts/icons/lumivex.ico" \
    -DSIZE_KB="$size_kb" -DOUTFILE="$out/$name-setup.exe" "$here/lumivex.nsi"
rm -f "$out/files.nsh" "$out/unfiles.nsh" "$out/undirs.nsh"
ls -l "$out/$name.zip" "$out/$name-setup.exe"
