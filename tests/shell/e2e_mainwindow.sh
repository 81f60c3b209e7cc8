#!/usr/bin/env bash
# Runs the built program on a virtual X display as a person would: the main
# window appears centred at its fixed size, "Help" opens a box titled with the
# application title, and closing the main window ends the program. Requests to
# end (SIGTERM, SIGINT, SIGHUP) at any moment of the start end it with status
# 0, and a session bus that never answers does not hold the window.
#   e2e_mainwindow.sh <build dir> [screenshot.png]
set -euo pipefail
build=$(cd "$1" && pwd)
shot=${2:-}
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi

source "$(dirname "$0")/../support/e2e-lib.sh"
e2e_home 1 2
e2e_start

eval "$(xdotool getwindowgeometry --shell "$win")"
[[ "$WIDTH" == 536 && "$HEIGHT" == 192 ]] || fail "main window is ${WIDTH}x${HEIGHT}"
[[ "$X" == 372 && "$Y" == 304 ]] || fail "main window at $X,$Y, not centred"

colours=$("$build/tools/screengrab" --pixel $((X + 2)) $((Y + 2)) $((X + 300)) $((Y + 92)))
[[ "$colours" == $'#ffffff\n#ffffff' ]] || fail "background is not white: $colours"
[[ -n "$shot" ]] && "$build/tools/screengrab" "$shot" "$X" "$Y" 536 192
e2e_no_image_plugins "at start-up"

# Combo1 has the focus; Tab three times reaches "Help".
xdotool windowfocus --sync "$win"
xdotool key --delay 50 Tab Tab Tab space
box=$(timeout 10 xdotool search --sync --onlyvisible --name '^Lumivex$' | head -n1) \
    || fail "the help box did not appear with the title Lumivex"
xdotool windowfocus --sync "$box" key Return
box_closed() { ! xdotool search --onlyvisible --name '^Lumivex$' >/dev/null; }
e2e_until 50 box_closed || fail "the help box stayed open"

grep -q '^Combo1=1$' "$XDG_CONFIG_HOME/Quarnel.conf" || fail "stored style changed"
grep -q '^Combo2=2$' "$XDG_CONFIG_HOME/Quarnel.conf" || fail "stored speed changed"

"$build/tools/xclose" "$win"
ended() { ! kill -0 "$pid" 2>/dev/null; }
e2e_until 50 ended || fail "program still running after its main window closed"
wait "$pid" || fail "program exited with status $?"
pid=""

# A choice followed at once by SIGTERM (a logout) is kept, on a file big
# enough that its save is still under way when the signal comes.
store=$XDG_CONFIG_HOME/Quarnel.conf
{
    echo '[Other]'
    awk 'BEGIN { for (i = 0; i < 700000; i++) print "key" i "=0123456789012345678901234567" }'
    printf 'last=1\n[Lumivex%%20Software]\nCombo1=0\nCombo2=2\n'
} >"$store"
e2e_start
xdotool windowfocus --sync "$win" key Down
# The save holds the file open from its reading to its replacement.
saving() {
    find "/proc/$pid/fd" -lname "$store" 2>/dev/null | grep -q . \
        || grep -q '^Combo1=1$' "$store"
}
for _ in $(seq 1000); do saving && break; sleep 0.01; done
kill -TERM "$pid"
wait "$pid" || fail "program ended with status $? on SIGTERM"
pid=""
grep -q '^Combo1=1$' "$store" || fail "the choice before SIGTERM was lost"
grep -q '^last=1$' "$store" || fail "other keys lost"

# SIGTERM ends the program at once, with status 0: $1 says when.
term_ends() {
    kill -TERM "$pid"
    e2e_until 50 ended || fail "program still running after SIGTERM $1"
    wait "$pid" || fail "program ended with status $? on SIGTERM $1"
    pid=""
}

# SIGTERM while a start-up box waits (a settings file too big to read) ends
# the program, instead of going on to the main window once the box is gone.
rm -f "$store"
truncate -s 300M "$store"
"$build/lumivex" &
pid=$!
box_open() { xdotool search --onlyvisible --name '^Lumivex$' >/dev/null; }
e2e_until 150 box_open || fail "no box for a settings file of 300 MiB"
term_ends "with a start-up box open"
rm -f "$store"

# SIGTERM with the strobe open ends the program too.
e2e_start
# "Start Strobing" is two Tabs from the style list.
xdotool windowfocus --sync "$win" key --delay 50 Tab Tab space
strobe_open() { xdotool search --onlyvisible --name '^Lumivex strobe light' >/dev/null; }
e2e_until 100 strobe_open || fail "Start Strobing did not open the strobe"
term_ends "with the strobe open"
e2e_stop

# SIGTERM during the first start-up box (a style that is no number, no speed
# stored) ends the program before any later step: the speed is not stored.
printf '[Lumivex%%20Software]\nCombo1=abc\n' >"$store"
"$build/lumivex" &
pid=$!
error_box() { xdotool search --onlyvisible --name '^Application Error$' >/dev/null; }
e2e_until 150 error_box || fail "no report for a style that is no number"
term_ends "with the first start-up box open"
[[ $(cat "$store") == $'[Lumivex%20Software]\nCombo1=abc' ]] \
    || fail "start-up went on after SIGTERM: $(cat "$store")"

# A burst of SIGTERM (a request repeated while the first is taken) before the
# window shows still ends the program with status 0.
printf '[Lumivex%%20Software]\nCombo1=abc\n' >"$store"
"$build/lumivex" &
pid=$!
e2e_until 150 error_box || fail "no report for a style that is no number"
# A short spin between them, so that they are not merged into one.
for _ in $(seq 100); do
    kill -TERM "$pid" 2>/dev/null || break
    for ((spin = 0; spin < 500; spin++)); do :; done
done
e2e_until 50 ended || fail "program still running after a burst of SIGTERM"
wait "$pid" || fail "program ended with status $? on a burst of SIGTERM before its window"
pid=""
e2e_home 1 2

# SIGTERM, SIGINT or SIGHUP at a random moment of the start: the program ends
# at once with status 0. "held": the program that starts it holds them, so
# they may come before it runs at all; otherwise they come once the program
# holds them itself (a thread of its own shows them blocked).
running() { [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == "$(readlink -f "$build/lumivex")" ]]; }
holding() {
    local mask
    while read -r mask; do
        (((16#$mask & 0x4003) == 0x4003)) && return 0
    done < <(sed -n 's/^SigBlk:[[:space:]]*//p' "/proc/$pid"/task/*/status 2>/dev/null)
    return 1
}
kinds=(TERM INT HUP)
for run in $(seq "${EARLY_RUNS:-24}"); do
    how=$([[ $((run % 2)) == 0 ]] && echo held || echo own)
    kind=${kinds[RANDOM % 3]}
    if [[ $how == held ]]; then
        env --block-signal=TERM,INT,HUP "$build/lumivex" 2>/dev/null &
        pid=$!
        e2e_until 50 running || fail "run $run: the program did not start"
    else
        "$build/lumivex" 2>/dev/null &
        pid=$!
        for _ in $(seq 3000); do holding && break; sleep 0.001; done
        holding || fail "run $run: the program does not hold requests to end while it starts"
    fi
    sleep "0.0$((RANDOM % 8))$((RANDOM % 10))"
    kill -"$kind" "$pid"
    e2e_until 50 ended || fail "run $run ($how): still running after SIG$kind"
    status=0
    wait "$pid" || status=$?
    [[ $status == 0 ]] || fail "run $run ($how): SIG$kind early ended it with status $status"
    pid=""
done
echo "early requests to end: status 0 in ${EARLY_RUNS:-24} runs"

# A session bus that takes connections and never answers, named by the
# environment or found in XDG_RUNTIME_DIR, or such an accessibility bus named
# by AT_SPI_BUS_ADDRESS: the window opens all the same, and standard error says
# so once.
mkdir -m 700 "$scratch/run"
python3 -c '
import socket, sys, threading
def hold(path):
    server = socket.socket(socket.AF_UNIX)
    server.bind(path)
    server.listen(16)
    taken = []
    while True:
        taken.append(server.accept()[0])
for path in sys.argv[1:]:
    threading.Thread(target=hold, args=(path,)).start()
' "$scratch/silent-bus" "$scratch/run/bus" &
helpers+=($!)
e2e_until 50 test -S "$scratch/run/bus" || fail "the silent bus did not start"
for where in environment runtime accessibility; do
    case $where in
        environment) vars=(DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/silent-bus") ;;
        runtime) vars=(-u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$scratch/run") ;;
        accessibility) vars=(AT_SPI_BUS_ADDRESS="unix:path=$scratch/silent-bus") ;;
    esac
    env "${vars[@]}" "$build/lumivex" 2>"$scratch/bus.err" &
    pid=$!
    win=$(timeout 15 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1) \
        || fail "silent bus in the $where: no window"
    [[ $(grep -c '^lumivex: the .* bus (.*) did not answer' "$scratch/bus.err") == 1 ]] \
        || fail "silent bus in the $where: not said once: $(cat "$scratch/bus.err")"
    term_ends "with a silent bus in the $where"
done
echo "main window end-to-end: ok"
