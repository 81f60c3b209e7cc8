#!/usr/bin/env bash
# Two monitors under openbox, the strobe on the left one: working in a window
# on the right monitor keeps the keyboard there (Escape does not reach the
# strobe), a click on the strobe brings the keyboard back, and Escape then
# closes it and gives the focus back to the main window.
#   e2e_othermonitor.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 2560x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

e2e_two_monitors
# A window mapped before openbox has started up is never managed; it runs
# --startup once it is ready.
openbox --sm-disable --startup "touch $scratch/wm-ready" >"$scratch/wm.log" 2>&1 &
helpers+=($!)
wm_ready() { [[ -e $scratch/wm-ready ]]; }
e2e_until 200 wm_ready || fail "openbox did not start"
xmessage -geometry 300x90+1700+300 "Other monitor" >/dev/null 2>&1 &
helpers+=($!)
other() { xdotool search --class xmessage | head -n1; }
e2e_until 100 other >/dev/null || fail "no window on the other monitor"

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
is_strobe() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once 640 400) "* ]]; }
focused() { [[ $(xdotool getwindowfocus) == "$1" ]]; }

e2e_home 1 0
e2e_start
xdotool windowactivate --sync "$win" 2>/dev/null || true
xdotool key --delay 80 Tab Tab Return
e2e_until 100 is_strobe || fail "no strobe"
xdotool mousemove 1750 330 click 1
e2e_until 50 focused "$(other)" || fail "the click on the other monitor did not focus its window"
e2e_stays 5 focused "$(other)" || fail "the strobe took the keyboard back from the other monitor"
xdotool key Escape
e2e_stays 3 is_strobe || fail "Escape in the other window closed the strobe"
xdotool mousemove 640 400 click 1
strobe_focused() { ! focused "$(other)" && ! focused "$win"; }
e2e_until 50 strobe_focused || fail "a click on the strobe did not give it the keyboard"
xdotool key Escape
e2e_until 50 focused "$win" || fail "the focus did not go back to the main window"
is_strobe && fail "the strobe is still there"
e2e_stop
echo "other monitor end-to-end: ok"
