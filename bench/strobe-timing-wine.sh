#!/usr/bin/env bash
# The strobe's timing for the Windows program under Wine: the interval timer
# alone (timerbench.exe, both sources of ticks), then the strobe as it shows
# on screen, measured as bench/strobe-timing.sh measures the Linux program.
# Runs in a Wine prefix of its own, removed afterwards.
#   bench/strobe-timing-wine.sh [Windows build dir] [Linux build dir] [seconds per speed]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
winbuild=$(cd "${1:-$here/../build-windows}" && pwd)
build=$(cd "${2:-$here/../build}" && pwd)
seconds=${3:-25}
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$winbuild" "$build" "$seconds"
fi
source "$here/../tests/windows/wine-lib.sh"
"$here/../tests/windows/wine-prefix.sh" "$winbuild" create bench > /dev/null
wine_env "$winbuild" bench
trap '"$here/../tests/windows/wine-prefix.sh" "$winbuild" remove bench' EXIT

echo "Interval timer alone, under Wine ($("$wine" --version)):"
timeout 300 "$wine" "$winbuild/bench/timerbench.exe" 10
wine_stop
echo
echo "On screen, under Wine:"
LUMIVEX_LAUNCHER=$wine LUMIVEX_PROGRAM=$winbuild/lumivex.exe "$here/strobe-timing.sh" "$build" "$seconds"
