#!/usr/bin/env bash
# Makes (or removes) the Wine prefix of one test run; a name gives another
# prefix beside it (the benchmark's).
#   wine-prefix.sh <build dir> create|remove [name]
set -euo pipefail
source "$(dirname "$0")/wine-lib.sh"
wine_env "$1" "${3:-prefix}"
case ${2:-} in
create)
    wine_stop
    rm -rf "$WINEPREFIX" "$HOME"
    mkdir -p "$HOME"
    timeout 300 "$wine" wineboot --init > /dev/null 2>&1 || fail "wineboot failed"
    # Wine has no Arial: give its metrics-compatible twin the name, so the
    # windows look as they do on Windows. No crash dialog waits for a person.
    wine_reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ \
        /d 'Liberation Sans' /f > /dev/null
    wine_reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f > /dev/null
    # The registry reaches the disk when the server ends on its own.
    timeout 60 "$wineserver" -w || wine_stop
    wine_reg query 'HKCU\Software\Wine\Fonts\Replacements' | grep -q 'Liberation Sans' \
        || fail "the font replacement did not stick"
    wine_stop
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
remove)
    wine_stop
    rm -rf "$WINEPREFIX" "$HOME"
    ;;
*)
    echo "usage: $0 <build dir> create|remove [name]" >&2
    exit 2
    ;;
esac
