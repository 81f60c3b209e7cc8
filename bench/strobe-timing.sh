#!/usr/bin/env bash
# Measures the strobe as it shows on screen: runs the program on a virtual
# 1920x1080 X display and, at each speed, first lets it run untouched while
# counting the processor time of the program and of the X server, then samples
# the middle of the screen as fast as the server answers. Prints, per speed:
#   tick to screen  how long after each timer deadline the new colour was on
#                   screen (median and 99th percentile). The deadlines are the
#                   kernel timer's grid, read off its timerfd_settime call
#                   (strace), so this includes the timer's own wake-up.
#   period drift    the mean step length against the nominal one
#   CPU             the program's and the X server's share of one core
#   peak RSS, own   the program's peak resident memory and its own part
#   bench/strobe-timing.sh [build dir] [seconds sampled per speed, default 25]
#   QUIET_SECONDS=10    seconds of CPU counting per speed
# LUMIVEX_PROGRAM names another program to measure and LUMIVEX_LAUNCHER what
# starts it (bench/strobe-timing-wine.sh: lumivex.exe under Wine); the build
# dir then only provides the tools, and tick to screen is not measured, since
# the timer's grid cannot be read off that program.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-25}
quiet=${QUIET_SECONDS:-10}
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$build" "$seconds"
fi

scratch=$(mktemp -d)
pid=""
cleanup() { [[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$scratch"; }
trap cleanup EXIT

# shellcheck source=bench/scratch-home.sh
source "$here/scratch-home.sh"
sampler=$build/tools/pixelsampler

# The X server's process: the one that holds the display's lock file.
display_number=${DISPLAY#*:}
display_number=${display_number%%.*}
server=$(tr -d ' ' < "/tmp/.X${display_number}-lock" 2>/dev/null || true)
[[ -n "$server" && -r "/proc/$server/stat" ]] || server=""

# Processor time of all threads of a process so far, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f", sum }'; }
share() {
    awk -v a="$1" -v b="$2" -v s="$3" -v e="$4" 'BEGIN { printf "%.3f%%", (b - a) / 1e9 / (e - s) * 100 }'
}

printf '%-7s %8s %6s %10s %10s %12s %8s %9s %9s %8s\n' speed nominal steps "to screen" \
    "p99" "period drift" "CPU" "X server" "peak RSS" "own"
speeds=(Slow Medium Fast)
nominals=(200 150 100)
for index in 0 1 2; do
    : > "$scratch/timer"
    if [[ -n "${LUMIVEX_LAUNCHER:-}" ]]; then
        "$LUMIVEX_LAUNCHER" "$LUMIVEX_PROGRAM" &
        tracer=$!
        win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1)
        pid=$(xdotool getwindowpid "$win")
    else
        # Only the timer's arming stops the program under strace.
        strace -f -qq --seccomp-bpf -e trace=timerfd_settime -o "$scratch/timer" \
            "$build/lumivex" &
        tracer=$!
        win=$(timeout 20 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1)
        pid=$(ps -o pid= --ppid "$tracer" | tr -d ' ')
    fi
    downs=""
    for ((k = 0; k < index; k++)); do downs+="Down "; done
    xdotool windowfocus --sync "$win"
    # shellcheck disable=SC2086 # one key per word
    xdotool key --delay 80 Home Tab Home $downs Tab space
    sleep 1

    started=$(date +%s.%N)
    before=$(cpu_ns "$pid")
    server_before=$([[ -n "$server" ]] && cpu_ns "$server" || echo 0)
    sleep "$quiet"
    after=$(cpu_ns "$pid")
    server_after=$([[ -n "$server" ]] && cpu_ns "$server" || echo 0)
    ended=$(date +%s.%N)

    # The measuring loop yields to the program and the X server it measures.
    PIXELSAMPLER_ABSOLUTE=1 nice -n 10 "$sampler" 960 540 "$seconds" "${SAMPLER_PAUSE_US:-0}" \
        > "$scratch/samples"
    hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
    # Memory of its own, as opposed to pages of shared libraries.
    private=$(awk '/RssAnon|RssShmem/ { sum += $2 } END { print sum }' "/proc/$pid/status")
    xdotool key Escape
    kill "$pid"
    wait "$tracer" 2>/dev/null || true
    pid=""

    nominal=${nominals[$index]}
    # The grid of the strobe's timer: its first deadline and its interval.
    grid_s=0 grid_ns=0
    if grep -q TFD_TIMER_ABSTIME "$scratch/timer"; then
        read -r grid_s grid_ns < <(grep TFD_TIMER_ABSTIME "$scratch/timer" | tail -n1 \
            | sed -E 's/.*it_value=\{tv_sec=([0-9]+), tv_nsec=([0-9]+)\}.*/\1 \2/')
    fi
    # Black lasts one tick, white two (the tick that wraps shows nothing new).
    awk -v nominal="$nominal" -v gs="$grid_s" -v gns="$grid_ns" '
        { t[NR] = $1; c[NR] = $2 }
        END {
            grid = gs + gns / 1e9
            for (i = 2; i <= NR; i++) {
                since = (t[i] - grid) * 1000
                print since - int(since / nominal) * nominal > "/dev/stderr"
            }
            # Mean period over whole cycles, first black to last black.
            for (i = 2; i < NR && c[i] != "#000000"; i++) ;
            for (j = NR; j > i && c[j] != "#000000"; j--) ;
            n = 0
            for (m = i; m < j; m++) n += (c[m] == "#ffffff") ? 2 : 1
            if (n > 0) printf "%d %.4f\n", NR - 1, ((t[j] - t[i]) * 1000 / n - nominal) / nominal * 100
        }' "$scratch/samples" > "$scratch/summary" 2> "$scratch/latencies"
    read -r steps drift < "$scratch/summary"
    sort -g "$scratch/latencies" > "$scratch/sorted"
    count=$(wc -l < "$scratch/sorted")
    median=$(sed -n "$(( (count + 1) / 2 ))p" "$scratch/sorted")
    p99=$(sed -n "$(( (count * 99 + 99) / 100 ))p" "$scratch/sorted")
    if [[ "$grid_s" == 0 ]]; then median=nan p99=nan; fi
    cpu=$(share "$before" "$after" "$started" "$ended")
    server_cpu=$([[ -n "$server" ]] && share "$server_before" "$server_after" "$started" "$ended" \
        || echo "-")
    printf '%-7s %5s ms %6s %7.3f ms %7.3f ms %11s%% %8s %9s %6.1f MB %5.1f MB\n' \
        "${speeds[$index]}" "$nominal" "$steps" "$median" "$p99" "$drift" "$cpu" "$server_cpu" \
        "$(awk -v k="$hwm" 'BEGIN { print k / 1024 }')" "$(awk -v k="$private" 'BEGIN { print k / 1024 }')"
done
