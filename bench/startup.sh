#!/usr/bin/env bash
# Start-up and memory of the program against the toolkit's floor (not a test):
# the smallest Qt Widgets window of the main window's shape (bench/minimalwindow)
# and the program, started one after the other on one Xvfb display, round after
# round, the order swapped every round.
#
#   bench/startup.sh [build dir] [rounds]      default: build, 20 rounds
#   LUMIVEX_PROGRAM=path                       another build of the program
#   STARTUP_CYCLES="5 200"                     Start/Escape cycles after which
#                                              the program's RSS is read ("" for
#                                              none)
#   STARTUP_SETTLE=0.5                         seconds after the window is drawn
#                                              before memory is read
#   STARTUP_KEEP=folder                        keeps the rounds there
#   STARTUP_BUS=session                        both start with a private
#                                              dbus-daemon as their session bus
#                                              (default: none, as on a bare
#                                              display)
#
# Per round and program: exec to MapNotify and to the window drawn (the first
# drawing the X server reports inside it), processor time of all its threads
# when drawn, RSS, private memory and PSS (smaps_rollup), threads, shared
# libraries mapped, the bytes of its window icon the X server keeps, and for
# the program RSS after the Start/Escape cycles, then with that copy still
# running a second launch's time to end (it hands over to the first) and its
# peak RSS. Then medians, the program against the floor, and the median of the
# paired differences of the rounds.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rounds=${2:-20}
if [[ -z "${STARTUP_IN_XVFB:-}" ]]; then
    cmake --build "$build" --target lumivex minimalwindow startprobe >/dev/null
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" env STARTUP_IN_XVFB=1 "$0" "$@"
fi
program=$(realpath "${LUMIVEX_PROGRAM:-$build/lumivex}")
floor=$build/bench/minimalwindow
probe=$build/tools/startprobe
read -r -a cycle_counts <<< "${STARTUP_CYCLES-5 200}"
settle=${STARTUP_SETTLE:-0.5}

scratch=$(mktemp -d)
pid=""
bus=""
cleanup() {
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    [[ -n "$bus" ]] && kill "$bus" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
# shellcheck source=scratch-home.sh
source "$(dirname "$0")/scratch-home.sh"
export QT_QPA_PLATFORM=xcb

unset DBUS_SESSION_BUS_ADDRESS
case ${STARTUP_BUS:-none} in
none) ;;
session)
    # Its complaint that root may not raise its file limit is left out.
    dbus-daemon --session --nofork --print-address=3 3>"$scratch/bus-address" 2>/dev/null &
    bus=$!
    for _ in $(seq 50); do
        [[ -s "$scratch/bus-address" ]] && break
        sleep 0.1
    done
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$scratch/bus-address")
    [[ -n "$DBUS_SESSION_BUS_ADDRESS" ]] || { echo "dbus-daemon gave no address" >&2; exit 1; }
    export DBUS_SESSION_BUS_ADDRESS
    ;;
*) echo "STARTUP_BUS is none or session" >&2; exit 2 ;;
esac
echo "# session bus: ${DBUS_SESSION_BUS_ADDRESS:-none}"

# With the copy $pid running, a second launch of it hands over and ends:
# prints the milliseconds it took and its peak RSS in kB ("- -" when it did not
# end within 5 s, as a build without the hand-over does).
second_launch() {
    local exe=$1 started ended
    started=$(date +%s%N)
    if /usr/bin/time -f %M -o "$scratch/second-peak" timeout 5 "$exe" >/dev/null 2>&1; then
        ended=$(date +%s%N)
        echo "$(((ended - started) / 1000))" "$(tail -n1 "$scratch/second-peak")" |
            awk '{ printf "%.1f %s\n", $1 / 1000, $2 }'
    else
        echo "- -"
    fi
}

smaps() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$pid/smaps_rollup"; }
rss_kb() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$pid/status"; }

stop() {
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.02
    done
    pid=""
}

# Runs one program once and prints its row.
measure() {
    local name=$1 exe=$2 line window map drawn cpu icon rss pss private threads libs
    local -a after=() second=(- -)
    printf '[Lumivex%%20Software]\nCombo1=0\nCombo2=2\n' > "$XDG_CONFIG_HOME/Quarnel.conf"
    line=$("$probe" run "$exe")
    pid=$(sed -E 's/.*pid=([0-9]+).*/\1/' <<< "$line")
    window=$(sed -E 's/.*window=([0-9]+).*/\1/' <<< "$line")
    map=$(sed -E 's/.*map_ms=([0-9.]+).*/\1/' <<< "$line")
    drawn=$(sed -E 's/.*drawn_ms=([0-9.]+).*/\1/' <<< "$line")
    cpu=$(sed -E 's/.*cpu_ms=([0-9.]+).*/\1/' <<< "$line")
    icon=$(sed -E 's/.*icon_bytes=(-?[0-9]+).*/\1/' <<< "$line")
    sleep "$settle"
    rss=$(smaps Rss)
    pss=$(smaps Pss)
    private=$(($(smaps Private_Clean) + $(smaps Private_Dirty)))
    threads=$(awk '$1 == "Threads:" { print $2 }' "/proc/$pid/status")
    libs=$(awk '$6 ~ /\.so($|\.)/ { print $6 }' "/proc/$pid/maps" | sort -u | wc -l)
    if [[ $name == lumivex && ${#cycle_counts[@]} -gt 0 ]]; then
        # The style list has the focus: Tab, Tab reaches "Start Strobing".
        xdotool windowfocus --sync "$window" key --delay 20 Tab Tab
        local done_cycles=0 count
        for count in "${cycle_counts[@]}"; do
            "$probe" cycles $((count - done_cycles)) "$window" >/dev/null
            done_cycles=$count
            sleep "$settle"
            after+=("$(rss_kb)")
        done
    fi
    [[ $name == lumivex ]] && read -r -a second <<< "$(second_launch "$exe")"
    printf '%s %s %s %s %s %s %s %s %s %s %s %s %s %s\n' "$name" "$map" "$drawn" "$cpu" "$rss" \
        "$private" "$pss" "$threads" "$libs" "$icon" "${after[0]:--}" "${after[1]:--}" \
        "${second[0]}" "${second[1]}"
    stop
}

rows=$scratch/rows
: > "$rows"
columns="round program map_ms drawn_ms cpu_ms rss_kb private_kb pss_kb threads libs icon_bytes"
columns+=" rss_after_${cycle_counts[0]:-x}_kb rss_after_${cycle_counts[1]:-y}_kb second_launch_ms second_peak_kb"
echo "$columns"
for ((round = 1; round <= rounds; round++)); do
    if ((round % 2)); then order=(floor lumivex); else order=(lumivex floor); fi
    for name in "${order[@]}"; do
        exe=$floor
        [[ $name == lumivex ]] && exe=$program
        echo "$round $(measure "$name" "$exe")" | tee -a "$rows"
    done
done
[[ -n "${STARTUP_KEEP:-}" ]] && cp "$rows" "$STARTUP_KEEP/startup-rows"

# Medians per program, the ratio of the program to the floor, and the median
# (with the quartiles) of the program minus the floor in each round.
awk -v columns="$columns" '
function sorted_copy(values, n, sorted,   i, j, v) {
    for (i = 1; i <= n; i++) {
        v = values[i] + 0
        for (j = i - 1; j >= 1 && sorted[j] > v; j--) sorted[j + 1] = sorted[j]
        sorted[j + 1] = v
    }
}
function median(values, n,   sorted) {
    sorted_copy(values, n, sorted)
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
function quartile(values, n, q,   sorted) {
    sorted_copy(values, n, sorted)
    return sorted[int(q * (n - 1)) + 1]
}
BEGIN { split(columns, name) }
{
    program = $2
    n[program]++
    for (c = 3; c <= 15; c++) value[program, c, n[program]] = $c
    for (c = 3; c <= 15; c++) if ($c != "-") round_value[$1, program, c] = $c
    rounds[$1] = 1
}
END {
    printf "\n%-22s %12s %12s %8s %18s\n", "median", "floor", "lumivex", "ratio", "paired diff (IQR)"
    for (c = 3; c <= 15; c++) {
        for (p = 1; p <= 2; p++) {
            prog = p == 1 ? "floor" : "lumivex"
            k = 0
            for (i = 1; i <= n[prog]; i++) if (value[prog, c, i] != "-") list[++k] = value[prog, c, i]
            med[prog] = k ? median(list, k) : "-"
            delete list
        }
        k = 0
        for (r in rounds)
            if ((r, "floor", c) in round_value && (r, "lumivex", c) in round_value)
                diff[++k] = round_value[r, "lumivex", c] - round_value[r, "floor", c]
        paired = k ? sprintf("%+.2f (%+.2f to %+.2f)", median(diff, k), quartile(diff, k, 0.25),
                             quartile(diff, k, 0.75)) : "-"
        delete diff
        ratio = (med["floor"] != "-" && med["lumivex"] != "-" && med["floor"] + 0 != 0) \
            ? sprintf("%.3f", med["lumivex"] / med["floor"]) : "-"
        printf "%-22s %12s %12s %8s %18s\n", name[c], med["floor"], med["lumivex"], ratio, paired
    }
    # RSS after the most cycles against after the fewest, per round.
    k = 0
    for (r in rounds)
        if ((r, "lumivex", 13) in round_value && (r, "lumivex", 12) in round_value)
            growth[++k] = round_value[r, "lumivex", 13] - round_value[r, "lumivex", 12]
    if (k)
        printf "\nRSS growth between the two cycle counts, median of rounds: %+d kB\n", median(growth, k)
}' "$rows"
