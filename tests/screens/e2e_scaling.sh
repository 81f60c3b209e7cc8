#!/usr/bin/env bash
# The program at device-pixel ratios 1, 1.5 and 2 (QT_SCALE_FACTOR) on a
# 1920x1080 screen: the main window keeps its layout, scaled (536x192 times the
# factor, within a pixel or two), and the strobe covers every physical pixel
# of the screen, corners included. A last round splits the screen into two
# monitors at ratios 1.5 and 2, where a monitor's size in device-independent pixels
# is not whole, and checks the second one, which starts at an odd pixel.
#   e2e_scaling.sh <build dir> [folder for screenshots]
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset -br" "$0" "$@"
fi
shots=${2:-}
source "$(dirname "$0")/../support/e2e-lib.sh"

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
is_strobe() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once "$1" "$2") "* ]]; }
strobe_window() {
    strobe=$(xdotool getwindowfocus -f 2>/dev/null) && [[ -n $strobe && $strobe != "$win" ]]
}
strobe_gone() { ! xdotool search --onlyvisible --class lumivex | grep -qvx "$win"; }
near() { (( $1 - $2 <= 2 && $2 - $1 <= 2 )); }
scaled() { awk -v v="$1" -v f="$2" 'BEGIN { printf "%d", v * f + 0.5 }'; }

at() { eval "$(xdotool getwindowgeometry --shell "$win")"; [[ $X,$Y == "$1,$2" ]]; }

# check_factor <factor> <monitor left> <top> <width> <height>
check_factor() {
    local f=$1 left=$2 top=$3 mw=$4 mh=$5 name="factor $1"
    e2e_start QT_SCALE_FACTOR="$f"
    xdotool windowmove "$win" $((left + 100)) $((top + 100))
    e2e_until 50 at $((left + 100)) $((top + 100)) || fail "$name: main window did not move"
    { near "$WIDTH" "$(scaled 536 "$f")" && near "$HEIGHT" "$(scaled 192 "$f")"; } \
        || fail "$name: main window is ${WIDTH}x$HEIGHT"
    if [[ -n "$shots" ]]; then
        "$build/tools/screengrab" "$shots/main-$f-$left.png" "$X" "$Y" "$WIDTH" "$HEIGHT"
    fi

    xdotool mousemove --window "$win" "$(scaled 268 "$f")" "$(scaled 171 "$f")" click 1
    e2e_until 100 strobe_window || fail "$name: no strobe window"
    xdotool key --delay 30 h i d e
    eval "$(xdotool getwindowgeometry --shell "$strobe")"
    [[ "$X,$Y ${WIDTH}x$HEIGHT" == "$left,$top ${mw}x$mh" ]] \
        || fail "$name: strobe window at $X,$Y ${WIDTH}x$HEIGHT"
    local right=$((left + mw - 1)) bottom=$((top + mh - 1))
    set -- "$left" "$top" "$right" "$top" "$left" "$bottom" "$right" "$bottom" \
        $((left + mw / 2)) $((top + mh / 2))
    while (($#)); do
        e2e_until 50 is_strobe "$1" "$2" || fail "$name: $1,$2 does not show the strobe"
        shift 2
    done
    xdotool key Escape
    e2e_until 50 strobe_gone || fail "$name: strobe still there after Escape"
    e2e_stop
    echo "$name, monitor at $left: ok"
}

e2e_home 1 0
for factor in 1 1.5 2; do
    check_factor "$factor" 0 0 1920 1080
done
xrandr --setmonitor A 1001/265x1080/286+0+0 screen >/dev/null
xrandr --setmonitor B 919/243x1079/286+1001+1 none >/dev/null
for factor in 1.5 2; do
    check_factor "$factor" 1001 1 919 1079
done
echo "scaling end-to-end: ok"
