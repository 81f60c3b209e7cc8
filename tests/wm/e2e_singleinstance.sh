#!/usr/bin/env bash
# One running copy per display, as a person meets it, on a bare X server or
# under a window manager:
#   - a second launch ends at once with status 0, and there is still one main
#     window, of the first copy; --help and --version still answer;
#   - with the first copy's strobe open, a second launch brings the strobe
#     forward with the keyboard, also when the main window had been put above
#     it; one Escape then closes it, and nothing is left flashing;
#   - under a window manager, a minimised main window comes back, active;
#   - a copy killed with SIGKILL does not stop the next start, which then
#     answers later launches itself.
#   e2e_singleinstance.sh <build dir> <none|openbox|mutter|kwin_x11>
set -euo pipefail
build=$(cd "$1" && pwd)
wm=$2
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" dbus-run-session -- "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

case $wm in
    none) ;;
    openbox)
        openbox --sm-disable --startup "touch $scratch/wm-ready" >"$scratch/wm.log" 2>&1 &
        helpers+=($!)
        wm_ready() { [[ -e $scratch/wm-ready ]]; }
        e2e_until 200 wm_ready || fail "openbox did not start: $(tail -5 "$scratch/wm.log")"
        ;;
    # Both hold back windows that open or ask for the keyboard on their own
    # (focus-stealing prevention).
    mutter | kwin_x11)
        if [[ $wm == mutter ]]; then
            mutter --x11 --replace --sm-disable >"$scratch/wm.log" 2>&1 &
        else
            kwin_x11 --replace >"$scratch/wm.log" 2>&1 &
        fi
        helpers+=($!)
        wm_ready() { wmctrl -m >/dev/null 2>&1; }
        e2e_until 200 wm_ready || fail "$wm did not start: $(tail -5 "$scratch/wm.log")"
        ;;
    *) fail "unknown window manager $wm" ;;
esac
where=$wm

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
all_strobe() {
    "$build/tools/screengrab" --colours 0 0 1280 800 >"$scratch/colours"
    while read -r colour _; do
        [[ "$strobe_colours" == *" $colour "* ]] || return 1
    done <"$scratch/colours"
}
# Not one pixel of the screen shows a strobe colour.
no_strobe_colour() {
    local colour
    while read -r colour _; do
        [[ "$strobe_colours" != *" $colour "* ]] || return 1
    done < <("$build/tools/screengrab" --colours 0 0 1280 800)
}
# A compositing window manager may show the closed strobe for a moment.
none_flashing() { e2e_until 30 no_strobe_colour && e2e_stays 10 no_strobe_colour; }
strobe_id() { xdotool search --onlyvisible --name '^Lumivex strobe light' | head -n1; }
strobe_gone() { [[ -z $(strobe_id) ]]; }
focused() { [[ $(xdotool getwindowfocus) == "$1" ]]; }
strobe_focused() { local id; id=$(strobe_id) && [[ -n $id ]] && focused "$id"; }
main_focused() { focused "$win"; }
focus_name() { xdotool getwindowfocus getwindowname 2>/dev/null || xdotool getwindowfocus; }
main_windows() { xdotool search --onlyvisible --name '^Lumivex Software$' 2>/dev/null | wc -l; }
# The middle of the main window shows the strobe: the strobe is above it.
main_covered() {
    local X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once $((X + WIDTH / 2)) \
        $((Y + HEIGHT / 2))) "* ]]
}

# A later launch: it must end by itself, at once, with status 0, leaving one
# main window, the first copy's.
launch_again() {
    local step=$1 started status=0
    started=$(date +%s%N)
    timeout 10 "$build/lumivex" || status=$?
    ((status == 0)) || fail "$where, $step: the second launch ended with status $status"
    echo "$where, $step: the second launch ended after $((($(date +%s%N) - started) / 1000000)) ms"
    kill -0 "$pid" 2>/dev/null || fail "$where, $step: the first copy ended"
    [[ $(main_windows) == 1 ]] || fail "$where, $step: $(main_windows) main windows"
}

e2e_home 1 2
# shellcheck disable=SC2119 # no environment of its own
e2e_start
launch_again "main window"
# The information options still answer with a copy running.
"$build/lumivex" --help | grep -q '^Usage: lumivex' || fail "$where: --help with a copy running"
"$build/lumivex" --version | grep -q '^Lumivex' || fail "$where: --version with a copy running"
e2e_until 50 main_focused || fail "$where: the main window lost the keyboard to $(focus_name)"

# Style list, speed list, "Start Strobing": Return presses it.
xdotool windowfocus --sync "$win" key --delay 80 Tab Tab Return
e2e_strobe_up "strobe open"
launch_again "strobe open"
e2e_until 50 strobe_focused || fail "$where: the strobe lost the keyboard to $(focus_name)"
e2e_until 30 all_strobe || fail_shown "$where: the strobe no longer covers the screen"
xdotool key Escape
e2e_main_back "Escape"
none_flashing || fail_shown "$where: something still flashes after Escape"

# The main window put above the open strobe with the keyboard, then a launch.
xdotool key Return
e2e_strobe_up "strobe open again"
if [[ $wm == none ]]; then
    # The pointer moved over it, as a person's would be: the X server ignores
    # a focus change older than the last one, and without an event since this
    # focus change the program's latest time would be older.
    xdotool windowraise "$win" windowfocus --sync "$win" mousemove --window "$win" 20 20
else
    xdotool windowactivate --sync "$win"
fi
e2e_until 50 main_focused || fail "$where: the main window did not get the keyboard"
launch_again "main window above the strobe"
e2e_until 50 strobe_focused || fail "$where: the strobe did not get the keyboard, $(focus_name) has it"
e2e_until 50 main_covered || fail_shown "$where: the main window stays above the strobe"
e2e_until 30 all_strobe || fail_shown "$where: the strobe does not cover the screen"
echo "$where: the strobe came forward over the main window"
xdotool key Escape
e2e_main_back "Escape over the main window"
none_flashing || fail_shown "$where: something still flashes after Escape"

if [[ $wm != none ]]; then
    xdotool windowminimize --sync "$win"
    launch_again "minimised"
    e2e_until 50 main_focused || fail "$where: the minimised main window did not come back"
    echo "$where: the minimised main window came back with the keyboard"
fi

# Killed outright, the first copy leaves nothing that stops the next start.
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
pid=""
e2e_start
launch_again "after SIGKILL"
e2e_stop
echo "one copy per display ($wm): ok"
