#!/usr/bin/env bash
# The real program under a storm of real key presses, then Start and Escape
# round after round, then its main window closed while the strobe runs: the
# program survives the storm, leaves no X window behind after each round, and
# at the close ends with status 0 within seconds, taking every window along.
#   [ROUNDS=n] e2e_stress.sh <build dir>     (30 rounds unless told)
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

strobe_window() {
    strobe=$(xdotool getwindowfocus -f 2>/dev/null) && [[ -n $strobe && $strobe != "$win" ]]
}
strobe_gone() { ! xdotool search --onlyvisible --class lumivex | grep -qvx "$win"; }
x_windows() { xdotool search --class lumivex | wc -l; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
start_strobe() {
    xdotool mousemove --window "$win" 268 171 click 1
    e2e_until 100 strobe_window || fail "$1: no strobe window"
}
stop_strobe() {
    xdotool key Escape
    e2e_until 50 strobe_gone || fail "$1: strobe still there after Escape"
}

e2e_home 1 2
e2e_start
baseline=$(x_windows)

# Every key but Escape, H-I-D-E letters most of all.
keys=(h i d e h i d e h i d e a b x z 1 9 Tab space Return Shift_L Control_L Alt_L Left F5
      BackSpace Delete Caps_Lock Super_L comma H I D E)
start_strobe storm
for burst in $(seq 8); do
    batch=()
    for _ in $(seq 60); do batch+=("${keys[RANDOM % ${#keys[@]}]}"); done
    xdotool key --delay 2 "${batch[@]}"
    kill -0 "$pid" 2>/dev/null || fail "storm: the program ended in burst $burst"
done
strobe_window || fail "storm: the strobe lost the focus or closed"
stop_strobe storm
echo "storm of 480 keys: ok"

rss_before=$(rss_kb)
rounds=${ROUNDS:-30}
for round in $(seq "$rounds"); do
    start_strobe "round $round"
    stop_strobe "round $round"
    e2e_until 50 test "$(x_windows)" -le "$baseline" || fail "round $round: X windows left behind"
done
echo "$rounds rounds of Start and Escape: ok (resident memory ${rss_before} kB before, $(rss_kb) kB after)"

start_strobe close
"$build/tools/xclose" "$win"
program_ended() { ! kill -0 "$pid" 2>/dev/null; }
e2e_until 50 program_ended || fail "close: program still running"
status=0
wait "$pid" || status=$?
pid=""
[[ $status == 0 ]] || fail "close: program exited with status $status"
! xdotool search --onlyvisible --name . >/dev/null || fail "close: a window remains"
echo "closing the main window mid-strobe: ok"
