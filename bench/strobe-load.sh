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
#   load            the 1-minute load average as the configuration began,
#                   from everything else on the machine
#
#   bench/strobe-load.sh [build dir] [seconds per configuration, default 20]
#   LOAD_CONFIGS="0:normal 4:normal 4:rt"   hogs:X server priority, in turn
#   LUMIVEX_BINARY=path   another build of the program to measure (the tools
#                         still come from the build dir)
#   LOAD_WAYLAND=1        the program as a native Wayland client of weston,
#                         which runs nested in the X display; the probe reads
#                         weston's output window, so the figures include
#                         weston's frame scheduling
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
pid="" tracer="" weston="" hogs=()
stop_hogs() {
    for hog in "${hogs[@]}"; do kill "$hog" 2>/dev/null || true; done
    for hog in "${hogs[@]}"; do wait "$hog" 2>/dev/null || true; done
    hogs=()
}
cleanup() {
    stop_hogs
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    [[ -n "$tracer" ]] && wait "$tracer" 2>/dev/null
    [[ -n "$weston" ]] && kill "$weston" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# shellcheck source=bench/scratch-home.sh
source "$here/scratch-home.sh"

# The X server's process: the one that holds the display's lock file.
display_number=${DISPLAY#*:}
display_number=${display_number%%.*}
server=$(tr -d ' ' < "/tmp/.X${display_number}-lock")

cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f", sum }'; }

# Random Colors at Fast.
printf '[Lumivex%%20Software]\nCombo1=1\nCombo2=2\n' > "$XDG_CONFIG_HOME/Quarnel.conf"
started() { grep -q TFD_TIMER_ABSTIME "$scratch/timer"; }
# Only the timer's arming stops the program under strace.
trace() { exec strace -f -qq --seccomp-bpf -e trace=timerfd_settime -o "$scratch/timer" "$@"; }
if [[ -n "${LOAD_WAYLAND:-}" ]]; then
    export XDG_RUNTIME_DIR=$scratch/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    weston --backend=x11-backend.so --use-pixman --width=1920 --height=1080 --socket=load \
        --idle-time=0 >"$scratch/weston.log" 2>&1 &
    weston=$!
    for _ in $(seq 150); do
        [[ -S $XDG_RUNTIME_DIR/load ]] && xdotool search --class weston >/dev/null && break
        sleep 0.1
    done
    output=$(xdotool search --class weston | head -n1)
    xdotool windowfocus --sync "$output"
    trace env -u DISPLAY XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=load "$program" &
    tracer=$!
    # Weston gives the new window the keyboard a moment after showing it.
    for _ in $(seq 10); do
        sleep 1
        xdotool key --delay 100 Tab Tab Return
        for _ in $(seq 20); do started && break 2; sleep 0.1; done
    done
    # The middle of weston's output on the X screen.
    eval "$(xdotool getwindowgeometry --shell "$output")"
    probe_x=$((X + WIDTH / 2)) probe_y=$((Y + HEIGHT / 2))
else
    trace "$program" &
    tracer=$!
    win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1)
    xdotool windowfocus --sync "$win"
    xdotool key --delay 80 Tab Tab space
    probe_x=960 probe_y=540
fi
pid=$(ps -o pid= --ppid "$tracer" | tr -d ' ')
for _ in $(seq 100); do started && break; sleep 0.1; done
started || { echo "the strobe did not start" >&2; cat "$scratch/weston.log" 2>/dev/null >&2; exit 1; }
read -r grid_s grid_ns < <(grep TFD_TIMER_ABSTIME "$scratch/timer" | tail -n1 \
    | sed -E 's/.*it_value=\{tv_sec=([0-9]+), tv_nsec=([0-9]+)\}.*/\1 \2/')
step_thread() { ps -L -o cls=,rtprio=,comm= -p "$pid" | awk '/strobe steps$/ { print $1, $2 }'; }
for _ in $(seq 20); do [[ -n $(step_thread) ]] && break; sleep 0.1; done
echo "program: $program; step thread: $(step_thread)"

printf '%-5s %-9s %6s %28s %20s %8s %5s\n' hogs "X server" steps "step error p50/p99/max (ms)" \
    "to screen p50/p99" CPU load
for config in $configs; do
    count=${config%%:*} priority=${config#*:}
    if [[ "$priority" == rt ]]; then
        chrt -a -r -p 20 "$server" >/dev/null
    else
        chrt -a -o -p 0 "$server" >/dev/null
    fi
    load=$(cut -d ' ' -f 1 /proc/loadavg)
    for ((k = 0; k < count; k++)); do
        sh -c 'while :; do :; done' &
        hogs+=($!)
    done
    before=$(cpu_ns "$pid") begun=$(date +%s.%N)
    chrt -f 30 "$probe" "$probe_x" "$probe_y" "$seconds" > "$scratch/samples"
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
    printf '%-5s %-9s %6s %8.3f / %6.3f / %6.3f %9.3f / %6.3f %8s %5s\n' "$count" "$priority" \
        "$(wc -l < "$scratch/errors")" "$(pick "$scratch/errors" 50)" \
        "$(pick "$scratch/errors" 99)" "$(tail -n1 "$scratch/errors")" \
        "$(pick "$scratch/late" 50)" "$(pick "$scratch/late" 99)" "$cpu" "$load"
done
chrt -a -o -p 0 "$server" >/dev/null
