#!/usr/bin/env bash
# Runs one Windows test program under Wine; CTest's emulator for the Windows
# build. On a virtual X display of its own when there is none; every Wine
# process of the prefix ends with it.
#   wine-run.sh <build dir> <program.exe> [arguments...]
set -uo pipefail
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi
# Qt writes test results and warnings to the debugger, not the output, when
# the program has no console of its own, as under Wine.
export QT_FORCE_STDERR_LOGGING=1
# Offscreen, Qt reads font files itself: the Liberation fonts, as on Linux.
export QT_QPA_FONTDIR=/usr/share/fonts/truetype/liberation
source "$(dirname "$0")/wine-lib.sh"
wine_env "$1"
shift
[[ -d "$WINEPREFIX" ]] || fail "no Wine prefix at $WINEPREFIX (the wine_prefix test makes it)"
trap wine_stop EXIT
timeout 280 "$wine" "$@"
