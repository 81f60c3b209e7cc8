#!/usr/bin/env bash
# Measures the strobe as it shows on screen: runs the program on a virtual
# 1920x1080 X display and, at each speed, samples the middle of the screen as
# fast as the server answers for a while. Prints, per speed, the error of each
# colour step against its nominal length (median and 99th percentile), the
# drift of the mean period, the program's CPU use and its peak memory.
#   bench/strobe-timing.sh [build dir] [seconds per speed, default 25]
# LUMIVEX_PROGRAM names another program to measure, LUMIVEX_LAUNCHER what
# starts it (bench/strobe-timing-wine.sh: lumivex.exe under Wine); the build
# dir then only provides the tools.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-25}
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$build" "$seconds"
fi

scratch=$(mktemp -d)
pid=""
cleanup() { [[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$scratch"; }
trap cleanup EXIT

export HOME=$scratch XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME" "$scratch/bin"
printf '#!/bin/sh\n' > "$scratch/bin/xdg-open"
chmod +x "$scratch/bin/xdg-open"
export PATH=$scratch/bin:$PATH
sampler=$build/tools/pixelsampler
ticks_per_second=$(getconf CLK_TCK)

cpu_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }

printf '%-7s %8s %7s %11s %11s %13s %8s %9s %9s\n' speed nominal steps "median err" "p99 err" \
    "period drift" "CPU" "peak RSS" "private"
speeds=(Slow Medium Fast)
nominals=(200 150 100)
for index in 0 1 2; do
    ${LUMIVEX_LAUNCHER:+"$LUMIVEX_LAUNCHER"} "${LUMIVEX_PROGRAM:-$build/lumivex}" &
    pid=$!
    win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1)
    downs=""
    for ((k = 0; k < index; k++)); do downs+="Down "; done
    xdotool windowfocus --sync "$win"
    xdotool key --delay 80 Home Tab Home $downs Tab space
    sleep 1
    before=$(cpu_ticks "$pid")
    started=$(date +%s.%N)
    # The measuring loop yields to the program and the X server it measures.
    nice -n 10 "$sampler" 960 540 "$seconds" "${SAMPLER_PAUSE_US:-0}" > "$scratch/samples"
    ended=$(date +%s.%N)
    after=$(cpu_ticks "$pid")
    hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
    # Memory of its own, as opposed to pages of shared libraries.
    private=$(awk '/RssAnon|RssShmem/ { sum += $2 } END { print sum }' "/proc/$pid/status")
    xdotool key Escape
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""

    nominal=${nominals[$index]}
    # Black lasts one tick, white two (the tick that wraps shows nothing new).
    awk -v nominal="$nominal" '
        { t[NR] = $1 * 1000; c[NR] = $2 }
        END {
            for (i = 2; i < NR; i++) {
                k = (c[i] == "#ffffff") ? 2 : 1
                e = t[i + 1] - t[i] - k * nominal
                print (e < 0 ? -e : e) > "/dev/stderr"
                ticks += k
            }
            # Mean period over whole cycles, first black to last black.
            for (i = 2; i < NR && c[i] != "#000000"; i++) ;
            for (j = NR; j > i && c[j] != "#000000"; j--) ;
            n = 0
            for (m = i; m < j; m++) n += (c[m] == "#ffffff") ? 2 : 1
            if (n > 0) printf "%d %.4f\n", NR - 2, ((t[j] - t[i]) / n - nominal) / nominal * 100
        }' "$scratch/samples" > "$scratch/summary" 2> "$scratch/errors"
    read -r steps drift < "$scratch/summary"
    sort -g "$scratch/errors" > "$scratch/sorted"
    count=$(wc -l < "$scratch/sorted")
    median=$(sed -n "$(( (count + 1) / 2 ))p" "$scratch/sorted")
    p99=$(sed -n "$(( (count * 99 + 99) / 100 ))p" "$scratch/sorted")
    cpu=$(awk -v a="$before" -v b="$after" -v s="$started" -v e="$ended" -v hz="$ticks_per_second" \
        'BEGIN { printf "%.2f%%", (b - a) / hz / (e - s) * 100 }')
    printf '%-7s %6s ms %7s %8.3f ms %8.3f ms %12s%% %8s %6.1f MB %6.1f MB\n' "${speeds[$index]}" \
        "$nominal" "$steps" "$median" "$p99" "$drift" "$cpu" \
        "$(awk -v k="$hwm" 'BEGIN { print k / 1024 }')" "$(awk -v k="$private" 'BEGIN { print k / 1024 }')"
done
