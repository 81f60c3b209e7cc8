#!/usr/bin/env bash
# The strobe covers exactly the monitor the main window is on. One virtual
# 2560x800 screen is split into two RandR monitors side by side; the main
# window is moved onto each in turn, the strobe ("Random Colors") started, and
# the pixels of both monitors read: every corner and the centre of the main
# window's monitor show a strobe colour, none of the other monitor's do. A main
# window across the border belongs to the monitor that holds its centre.
# Then the strobe's monitor is taken away while the main window sits on the
# other one: the strobe moves over the main window's monitor. Last, the main
# window's own monitor goes: off every monitor it comes back onto the other.
#   e2e_screens.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 2560x800x24 -noreset -br" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

e2e_two_monitors

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
is_strobe() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once "$1" "$2") "* ]]; }
is_not_strobe() { ! is_strobe "$@"; }
at_left() { eval "$(xdotool getwindowgeometry --shell "$win")"; [[ $X == "$1" ]]; }
strobe_window() {
    strobe=$(xdotool getwindowfocus -f 2>/dev/null) && [[ -n $strobe && $strobe != "$win" ]]
}
strobe_gone() { ! xdotool search --onlyvisible --class lumivex | grep -qvx "$win"; }

# Points of the monitor whose left edge is $1: the four corners and the centre,
# as x y pairs in $points.
monitor_points() { points=("$1" 0 $(($1 + 1279)) 0 "$1" 799 $(($1 + 1279)) 799 $(($1 + 640)) 400); }

check_monitor() {
    local left=$1 other=$2 name=$3 x=$4
    xdotool windowmove "$win" "$x" 304
    e2e_until 50 at_left "$x" || fail "$name: main window did not move"
    xdotool mousemove --window "$win" 268 171 click 1
    e2e_until 100 strobe_window || fail "$name: no strobe window"
    # H-I-D-E shrinks the hint away from the top-left corner.
    xdotool key --delay 30 h i d e
    eval "$(xdotool getwindowgeometry --shell "$strobe")"
    [[ "$X,$Y ${WIDTH}x$HEIGHT" == "$left,0 1280x800" ]] \
        || fail "$name: strobe window at $X,$Y ${WIDTH}x$HEIGHT"
    monitor_points "$left"
    set -- "${points[@]}"
    while (($#)); do
        e2e_until 50 is_strobe "$1" "$2" || fail "$name: $1,$2 does not show the strobe"
        shift 2
    done
    monitor_points "$other"
    set -- "${points[@]}"
    while (($#)); do
        is_not_strobe "$1" "$2" || fail "$name: the strobe reaches $1,$2"
        shift 2
    done
    xdotool key Escape
    e2e_until 50 strobe_gone || fail "$name: strobe still there after Escape"
    echo "$name monitor: ok"
}

e2e_home 1 0
e2e_start
check_monitor 1280 0 right $((1280 + 372))
check_monitor 0 1280 left 372
check_monitor 1280 0 "across, mostly right" $((1280 - 200))
check_monitor 0 1280 "across, mostly left" $((1280 - 336))

xdotool windowmove "$win" $((1280 + 372)) 304
e2e_until 50 at_left $((1280 + 372)) || fail "main window did not move right"
xdotool mousemove --window "$win" 268 171 click 1
e2e_until 100 strobe_window || fail "no strobe on the right"
e2e_until 50 is_strobe 1920 400 || fail "the strobe is not on the right"
xdotool windowmove "$win" 372 304
e2e_until 50 at_left 372 || fail "main window did not move left"
xrandr --delmonitor R >/dev/null
on_left() {
    eval "$(xdotool getwindowgeometry --shell "$strobe")"
    [[ "$X,$Y ${WIDTH}x$HEIGHT" == "0,0 1280x800" ]] && is_strobe 100 700 && is_strobe 1279 799
}
e2e_until 50 on_left || fail "the strobe stayed at $X,$Y ${WIDTH}x$HEIGHT when its monitor went"
echo "monitor removed: ok"
xdotool key Escape
e2e_until 50 strobe_gone || fail "strobe still there after Escape"

# The main window's monitor goes away, and no window manager moves it: left
# where no monitor is, it comes onto the nearest one, keeping its size, as
# far as the monitor's edge; partly on the other monitor it stays where it is.
at() {
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [[ "$X,$Y ${WIDTH}x$HEIGHT" == "$1" ]]
}
eval "$(xdotool getwindowgeometry --shell "$win")"
size="${WIDTH}x$HEIGHT"
monitor_goes() {
    xrandr --setmonitor R 1280/340x800/212+1280+0 none >/dev/null
    xdotool windowmove "$win" "$1" 500
    e2e_until 50 at "$1,500 $size" || fail "main window did not move to $1,500"
    xrandr --delmonitor R >/dev/null
}
monitor_goes 2000
e2e_until 50 at "$((1280 - ${size%x*})),500 $size" \
    || fail "the main window stayed at $X,$Y ${WIDTH}x$HEIGHT, off every monitor"
echo "main window off every monitor comes back: ok"
monitor_goes 1100
e2e_stays 10 at "1100,500 $size" || fail "the main window, partly on view, moved to $X,$Y"
echo "main window partly on view stays: ok"
kill -0 "$pid" || fail "the program ended"
e2e_stop
echo "screens end-to-end: ok"
