#!/usr/bin/env bash
# Start-up time and memory of one or more builds of the program, on a 1280x800
# Xvfb display, the builds taken in turn so that the machine's load falls on
# each alike. For each start: the time from launch to the main window on
# screen, then its resident memory (VmRSS) and peak (VmHWM) once it is up.
# With a copy running, a second launch of the same build hands over to it: its
# time to end and its peak memory (from /usr/bin/time).
#   bench/second-launch.sh [runs] <program>...      (runs: default 25)
set -euo pipefail
runs=25
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
    runs=$1
    shift
fi
(($# > 0)) || { echo "usage: $0 [runs] <program>..." >&2; exit 2; }
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$runs" "$@"
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/scratch-home.sh"
printf '[Lumivex%%20Software]\nCombo1=0\nCombo2=2\n' >"$XDG_CONFIG_HOME/Quarnel.conf"

now_us() { echo $(($(date +%s%N) / 1000)); }
kb() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$2/status"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

start() {
    started=$(now_us)
    "$1" &
    pid=$!
    until xdotool search --onlyvisible --pid "$pid" --name '^Lumivex Software$' >/dev/null 2>&1; do
        :
    done
}
stop() {
    kill "$pid"
    wait "$pid" || true
}

for ((run = 0; run < runs; run++)); do
    for ((i = 1; i <= $#; i++)); do
        start "${!i}"
        echo $(($(now_us) - started)) >>"$scratch/up.$i"
        sleep 0.5
        kb VmRSS "$pid" >>"$scratch/rss.$i"
        kb VmHWM "$pid" >>"$scratch/hwm.$i"
        stop
    done
done
# Second launches, apart: a build without the hand-over opens a second
# window, which is ended after 5 s.
for ((i = 1; i <= $#; i++)); do
    start "${!i}"
    for ((run = 0; run < runs; run++)); do
        started=$(now_us)
        if /usr/bin/time -f %M -o "$scratch/second" timeout 5 "${!i}" 2>/dev/null; then
            echo $(($(now_us) - started)) >>"$scratch/again.$i"
            cat "$scratch/second" >>"$scratch/againkb.$i"
        else
            break
        fi
    done
    stop
done

printf '| Build | Starts | To the main window, median | RSS, median | Peak RSS, median | Second launch ends after, median | its peak RSS |\n'
printf '|---|---|---|---|---|---|---|\n'
for ((i = 1; i <= $#; i++)); do
    again="stays running"
    again_kb="-"
    if [[ -s $scratch/again.$i ]]; then
        again="$(median <"$scratch/again.$i" | awk '{ printf "%.1f ms", $1 / 1000 }') ($(wc -l <"$scratch/again.$i") runs)"
        again_kb=$(median <"$scratch/againkb.$i" | awk '{ printf "%.1f MB", $1 / 1024 }')
    fi
    printf '| %s | %d | %s | %s | %s | %s | %s |\n' "${!i}" "$runs" \
        "$(median <"$scratch/up.$i" | awk '{ printf "%.1f ms", $1 / 1000 }')" \
        "$(median <"$scratch/rss.$i" | awk '{ printf "%.1f MB", $1 / 1024 }')" \
        "$(median <"$scratch/hwm.$i" | awk '{ printf "%.1f MB", $1 / 1024 }')" \
        "$again" "$again_kb"
done
