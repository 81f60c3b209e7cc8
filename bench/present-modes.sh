#!/usr/bin/env bash
# Compares two ways to change the screen's colour at a chosen refresh on Xvfb's
# made-up display clock (bench/presentmodes): a fill right after the server
# reports the refresh, as the strobe does, and a full-screen pixmap handed to
# the server to show at that refresh (PresentPixmap). frameprobe watches the
# middle of the screen; prints per rate and way the refreshes per step
# (tools/framecounts.py), the change-to-refresh times, the processor time of
# the client and of the X server, and the X server's memory while it runs.
#   bench/present-modes.sh [build dir] [seconds per run, default 15]
#   RATES="60 144" STEP_MS=100 SIZE=1920x1080
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-15}
step=${STEP_MS:-100}
size=${SIZE:-1920x1080}

if [[ -z "${MODES_RATE:-}" ]]; then
    printf '%-4s %-6s %-16s %4s %6s %7s %7s %7s %6s %8s %8s %9s %s\n' rate way counts dev drift \
        p50 p99 max "<=2ms" client "X CPU" "X RSS" "server's way"
    for rate in ${RATES:-60 144}; do
        MODES_RATE=$rate xvfb-run -a -s "-screen 0 ${size}x24 -fakescreenfps $rate" \
            "$0" "$build" "$seconds"
    done
    exit 0
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
display_number=${DISPLAY#*:}
display_number=${display_number%%.*}
server=$(tr -d ' ' < "/tmp/.X${display_number}-lock")
if [[ -n "$server" ]]; then chrt -f -p 10 "$server" > /dev/null 2>&1 || true; fi
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f", sum }'; }
share() { awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN { printf "%.3f%%", (b - a) / 1e9 / s * 100 }'; }
x_rss() { awk '/VmRSS/ { printf "%.0f MB", $2 / 1024 }' "/proc/$server/status"; }
read -r width height < <(tr x ' ' <<< "$size")

for way in fill pixmap; do
    "$build/bench/presentmodes" "$way" "$step" "$((seconds + 2))" > "$scratch/result" &
    client=$!
    x_before=$(cpu_ns "$server")
    c_before=$(cpu_ns "$client")
    chrt -f 20 "$build/tools/frameprobe" $((width / 2)) $((height / 2)) "$seconds" \
        > "$scratch/probe"
    x_after=$(cpu_ns "$server")
    c_after=$(cpu_ns "$client")
    rss=$(x_rss)
    wait "$client"
    summary=$(python3 "$here/../tools/framecounts.py" "$step" < "$scratch/probe" || true)
    field() { tr ' ' '\n' <<< "$summary" | awk -F= -v k="$1" '$1 == k { print $2 }'; }
    result=$(cat "$scratch/result")
    printf '%-4s %-6s %-16s %4s %6s %7s %7s %7s %6s %8s %8s %9s %s\n' "$MODES_RATE" "$way" \
        "$(field counts)" "$(field deviations)" "$(field drift)" "$(field after_p50)" \
        "$(field after_p99)" "$(field after_max)" "$(field within_2ms)" \
        "$(share "$c_before" "$c_after" "$seconds")" "$(share "$x_before" "$x_after" "$seconds")" \
        "$rss" "${result#mode=* }"
done
