#!/usr/bin/env bash
# Runs the built program on a virtual X display as a person would: the main
# window appears centred at its fixed size, "Help" opens a box titled with the
# application title, and closing the main window ends the program.
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
echo "main window end-to-end: ok"
