#!/usr/bin/env bash
# Measures the strobe against the display's refreshes. Xvfb makes up a display
# clock at the rate -fakescreenfps sets; for each rate, speed and start (each
# start lands somewhere else in a refresh), frameprobe records every refresh and
# every colour change of the middle of the screen, and tools/framecounts.py
# says how many refreshes each step lasted and how long after its refresh each
# change came. Prints one line per run:
#   rate speed start  the run
#   counts        refreshes per step, and how often
#   dev           steps that lasted neither the floor nor the ceiling of
#                 step / period refreshes
#   drift         spread of the changes around the ideal refreshes (refreshes;
#                 above 1 the steps drifted more than half a refresh)
#   after p50/p99/max  ms from the refresh's reported start (UST) to the change
#                 as DAMAGE reported it
#   <=2ms         share of changes from 1 ms before to 2 ms after their refresh
#   CPU           the program's share of one core
#   X RSS         the X server's resident memory at the end
# The X server runs at real-time priority (FIFO 10) and the probe above it (FIFO
# 20), where the system allows: the machine may be busy with other work.
#   bench/strobe-frames.sh [build dir] [seconds per run, default 20]
#   RATES="60 75 120 144"   display rates
#   SPEEDS="Slow Medium Fast"
#   STARTS=2                runs per rate and speed
#   LUMIVEX_PROGRAM=path    another build of the program (for before and after);
#                           the build dir then only gives the probe
#   FRAMES_KEEP=dir         keeps each run's probe output there
#   FRAMES_SCREEN=640x480   the virtual screen (default 1920x1080); a small one
#                           keeps the X server's fills short when several run at once
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-20}
program=${LUMIVEX_PROGRAM:-$build/lumivex}

if [[ "${FRAMES_RATE:-}" == "" ]]; then
    printf '%-4s %-6s %-5s %-22s %4s %6s %7s %7s %7s %6s %7s %8s\n' rate speed start counts dev \
        drift "p50" "p99" "max" "<=2ms" CPU "X RSS"
    for rate in ${RATES:-60 75 120 144}; do
        FRAMES_RATE=$rate xvfb-run -a -s "-screen 0 ${FRAMES_SCREEN:-1920x1080}x24 -fakescreenfps $rate" \
            "$0" "$build" "$seconds"
    done
    exit 0
fi

scratch=$(mktemp -d)
pid=""
cleanup() { [[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$scratch"; }
trap cleanup EXIT
# shellcheck source=bench/scratch-home.sh
source "$here/scratch-home.sh"
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

display_number=${DISPLAY#*:}
display_number=${display_number%%.*}
server=$(tr -d ' ' < "/tmp/.X${display_number}-lock" 2>/dev/null || true)
# The display server is served first, as desktops run their compositors.
if [[ -n "$server" ]]; then chrt -f -p 10 "$server" > /dev/null 2>&1 || true; fi
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f", sum }'; }

# The probe watches the middle of the screen.
screen=${FRAMES_SCREEN:-1920x1080}
middle_x=$((${screen%x*} / 2))
middle_y=$((${screen#*x} / 2))

speeds=(Slow Medium Fast)
steps_ms=(200 150 100)
for index in 0 1 2; do
    speed=${speeds[$index]}
    [[ " ${SPEEDS:-Slow Medium Fast} " == *" $speed "* ]] || continue
    for ((start = 1; start <= ${STARTS:-2}; start++)); do
        "$program" &
        pid=$!
        win=$(timeout 20 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1)
        downs=""
        for ((k = 0; k < index; k++)); do downs+="Down "; done
        xdotool windowfocus --sync "$win"
        # shellcheck disable=SC2086 # one key name per word
        xdotool key --delay 80 Home Tab Home $downs Tab space
        # The strobe is up once the middle of the screen is black or white.
        for _ in $(seq 100); do
            colour=$("$build/tools/pixelsampler" --once "$middle_x" "$middle_y")
            [[ "$colour" == "#000000" || "$colour" == "#ffffff" ]] && break
            sleep 0.05
        done
        before=$(cpu_ns "$pid")
        began=$(date +%s.%N)
        # The probe sleeps between reports and is served first when it wakes, so that a
        # change is stamped when it happened even on a busy machine.
        chrt -f 20 "$build/tools/frameprobe" "$middle_x" "$middle_y" "$seconds" > "$scratch/probe"
        after=$(cpu_ns "$pid")
        ended=$(date +%s.%N)
        server_rss=$(awk '/VmRSS/ { printf "%.0f MB", $2 / 1024 }' "/proc/$server/status" \
            2>/dev/null || echo "-")
        xdotool key Escape
        kill "$pid"
        wait "$pid" 2>/dev/null || true
        pid=""
        cpu=$(awk -v a="$before" -v b="$after" -v s="$began" -v e="$ended" \
            'BEGIN { printf "%.3f%%", (b - a) / 1e9 / (e - s) * 100 }')
        if [[ -n "${FRAMES_KEEP:-}" ]]; then
            cp "$scratch/probe" "$FRAMES_KEEP/probe-$FRAMES_RATE-$speed-$start"
        fi
        summary=$(python3 "$here/../tools/framecounts.py" "${steps_ms[$index]}" < "$scratch/probe" \
            || true)
        field() { tr ' ' '\n' <<< "$summary" | awk -F= -v k="$1" '$1 == k { print $2 }'; }
        printf '%-4s %-6s %-5s %-22s %4s %6s %7s %7s %7s %6s %7s %8s\n' "$FRAMES_RATE" "$speed" \
            "$start" "$(field counts)" "$(field deviations)" "$(field drift)" \
            "$(field after_p50)" "$(field after_p99)" "$(field after_max)" \
            "$(field within_2ms)" "$cpu" "$server_rss"
    done
done
