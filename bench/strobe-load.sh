#!/usr/bin/env bash
# Measures how exact the strobe's steps are on a busy machine: runs the program
# on a virtual 1920x1080 X display with "Random Colors" at "Fast" and, per
# configuration, keeps N processes spinning on the processors, puts the X
# server at normal or real-time priority and watches the middle of the screen
# with an event-driven probe (tools/damageprobe: it sleeps until the server
# reports drawing, then reads the pixel) that itself runs at SCHED_FIFO. Prints
# per configuration:
#   step error      how far each step's length on screen is from its nominal
#                   length (one or two ticks of 100 ms): p50, p99, max
#   to screen       how long after its deadline each step was on screen (p50,
#                   p99); the deadlines are the strobe timer's grid, read off
#                   its timerfd_settime call (strace)
#   CPU             the program's share of one core meanwhile
#
#   bench/strobe-load.sh [build dir] [seconds per configuration, default 20]
#   LOAD_CONFIGS="0:normal 4:normal 4:rt"   hogs:X server priority, in turn
#   LUMIVEX_BINARY=path   another build of the program to measure (the tools
#                         still come from the build dir)
# Needs root or CAP_SYS_NICE for chrt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-20}
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$build" "$seconds"
fi
program=${LUMIVEX_BINARY:-$build/lumivex}
configs=${LOAD_CONFIGS:-0:normal 2:normal 4:normal 4:rt}
probe=$build/tools/damageprobe
nominal=100

scratch=$(mktemp -d)
pid="" tracer="" hogs=()
stop_hogs() {
    for hog in "${hogs[@]}"; do kill "$hog" 2>/dev/null || true; done
    for hog in "${hogs[@]}"; do wait "$hog" 2>/dev/null || true; done
    hogs=()
}
cleanup() {
    stop_hogs
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    [[ -n "$tracer" ]] && wait "$tracer" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

export HOME=$scratch XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME" "$scratch/bin"
printf '#!/bin/sh\n' > "$scratch/bin/xdg-open"
chmod +x "$scratch/bin/xdg-open"
export PATH=$scratch/bin:$PATH

# The X server's process: the one that holds the display's lock file.
display_number=${DISPLAY#*:}
display_number=${display_number%%.*}
server=$(tr -d ' ' < "/tmp/.X${display_number}-lock")

cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f", sum }'; }

# Only the timer's arming stops the program under strace.
strace -f -qq --seccomp-bpf -e trace=timerfd_settime -o "$scratch/timer" "$program" &
tracer=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1)
pid=$(ps -o pid= --ppid "$tracer" | tr -d ' ')
xdotool windowfocus --sync "$win"
# Random Colors, Fast, Start Strobing.
xdotool key --delay 80 Home Down Tab End Tab space
started() { grep -q TFD_TIMER_ABSTIME "$scratch/timer"; }
for _ in $(seq 100); do started && break; sleep 0.1; done
started || { echo "the strobe did not start" >&2; exit 1; }
read -r grid_s grid_ns < <(grep TFD_TIMER_ABSTIME "$scratch/timer" | tail -n1 \
    | sed -E 's/.*it_value=\{tv_sec=([0-9]+), tv_nsec=([0-9]+)\}.*/\1 \2/')
echo "program: $program; step thread: $(ps -L -o cls=,rtprio=,comm= -p "$pid" \
    | awk '/strobe steps$/ { print $1, $2 }')"

printf '%-5s %-9s %6s %28s %20s %8s\n' hogs "X server" steps "step error p50/p99/max (ms)" \
    "to screen p50/p99" CPU
for config in $configs; do
    count=${config%%:*} priority=${config#*:}
    if [[ "$priority" == rt ]]; then
        chrt -a -r -p 20 "$server" >/dev/null
    else
        chrt -a -o -p 0 "$server" >/dev/null
    fi
    for ((k = 0; k < count; k++)); do
        sh -c 'while :; do :; done' &
        hogs+=($!)
    done
    before=$(cpu_ns "$pid") begun=$(date +%s.%N)
    chrt -f 30 "$probe" 960 540 "$seconds" > "$scratch/samples"
    after=$(cpu_ns "$pid") ended=$(date +%s.%N)
    stop_hogs
    cpu=$(awk -v a="$before" -v b="$after" -v s="$begun" -v e="$ended" \
        'BEGIN { printf "%.3f%%", (b - a) / 1e9 / (e - s) * 100 }')
    # Each change after the first against the deadline it belongs to, and
    # each step between two changes against its nominal length.
    awk -v nominal="$nominal" -v gs="$grid_s" -v gns="$grid_ns" \
        -v late="$scratch/late" -v steps="$scratch/errors" '
        NR > 1 {
            since = ($1 - (gs + gns / 1e9)) * 1000
            print since - int(since / nominal) * nominal > late
        }
        NR > 2 {
            length_ms = ($1 - previous) * 1000
            ticks = int(length_ms / nominal + 0.5)
            error = length_ms - ticks * nominal
            print (error < 0 ? -error : error) > steps
        }
        { previous = $1 }' "$scratch/samples"
    sort -g -o "$scratch/errors" "$scratch/errors"
    sort -g -o "$scratch/late" "$scratch/late"
    pick() {
        local n
        n=$(wc -l < "$1")
        sed -n "$(( (n * $2 + 99) / 100 ))p" "$1"
    }
    printf '%-5s %-9s %6s %8.3f / %6.3f / %6.3f %9.3f / %6.3f %8s\n' "$count" "$priority" \
        "$(wc -l < "$scratch/errors")" "$(pick "$scratch/errors" 50)" \
        "$(pick "$scratch/errors" 99)" "$(tail -n1 "$scratch/errors")" \
        "$(pick "$scratch/late" 50)" "$(pick "$scratch/late" 99)" "$cpu"
done
chrt -a -o -p 0 "$server" >/dev/null
