#!/usr/bin/env bash
# Two monitors of different scale on one X screen (QT_SCREEN_SCALE_FACTORS
# "L=1;R=2"): the main window keeps its layout size in each monitor's pixels
# as it moves between them, 536x192 on the left and 1072x384 on the right,
# with "Start Strobing" inside the window; the strobe started from the right
# covers that monitor. The right monitor taken away and given back at once
# leaves the window where it was.
#   e2e_mixedscale.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 2560x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

e2e_two_monitors

client_rect() {
    xwininfo -id "$win" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
                             /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}
is_at() { [[ $(client_rect) == "$1" ]]; }
main_on_top() { [[ $(xdotool getwindowfocus 2>/dev/null) == "$win" ]]; }
# "Start Strobing" is painted where the layout puts it: its face, not the
# black of the screen behind a window cut short.
button_inside() {
    local x y w h
    read -r x y w h < <(client_rect)
    [[ $("$build/tools/pixelsampler" --once $((x + w * 20 / 536)) $((y + h * 170 / 192))) != "#000000" ]]
}

e2e_home 1 0
e2e_start QT_SCREEN_SCALE_FACTORS="L=1;R=2"
for place in "1400 100 1072 384" "100 100 536 192" "1400 300 1072 384"; do
    read -r x y w h <<<"$place"
    xdotool windowmove "$win" "$x" "$y"
    e2e_until 50 is_at "$place" || fail "at $x,$y the main window is $(client_rect), not ${w}x$h"
    button_inside || fail "at $x,$y 'Start Strobing' lies outside the window"
    echo "${w}x$h at $x,$y: ok"
done

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
is_strobe() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once "$1" "$2") "* ]]; }
xdotool windowfocus --sync "$win"
xdotool key --delay 80 Tab Tab Return
e2e_until 50 is_strobe 1920 400 || fail "no strobe on the right monitor"
# H I D E takes the hint out of the corner.
xdotool key --delay 30 h i d e
for point in "1280 0" "2559 0" "1280 799" "2559 799" "1920 400"; do
    read -r x y <<<"$point"
    e2e_until 50 is_strobe "$x" "$y" || fail "the strobe does not reach $x,$y"
done
is_strobe 100 400 && fail "the strobe reaches the left monitor"
xdotool key Escape
e2e_until 50 main_on_top || fail "the strobe did not close"

# The right monitor goes and comes straight back: the window, on view all
# along on it, ends where it was, in the layout size of that monitor.
xdotool windowmove "$win" 1400 300
e2e_until 50 is_at "1400 300 1072 384" || fail "the main window is $(client_rect) on the right"
xrandr --delmonitor R >/dev/null
xrandr --setmonitor R 1280/340x800/212+1280+0 none >/dev/null
e2e_until 30 is_at "1400 300 1072 384" \
    || fail "its monitor back at once, the main window is $(client_rect)"
e2e_stays 10 is_at "1400 300 1072 384" || fail "the main window moved on to $(client_rect)"
echo "monitor gone and back at once: the main window stays"
kill -0 "$pid" || fail "the program ended"
e2e_stop
echo "mixed scale end-to-end: ok"
