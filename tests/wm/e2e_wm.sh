#!/usr/bin/env bash
# The real program under a real window manager, with a panel and another
# program's always-on-top window on screen, driven from the keyboard:
# the main window is titled, carries the desktop entry's class, offers no
# maximise action and its frame sits centred in the free area; the strobe
# covers every pixel of the monitor, panel and always-on-top window included;
# the window manager activating the other window neither uncovers it nor
# takes Escape from it; Escape gives the focus back to the unchanged main
# window; a second Start does it all again.
#   e2e_wm.sh <build dir> <openbox|mutter|xfwm4>
set -euo pipefail
build=$(cd "$1" && pwd)
wm=$2
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" dbus-run-session -- "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
desktop_entry=$(dirname "$0")/../../packaging/com.quarnel.Lumivex.desktop

helpers=()
trap 'e2e_cleanup; for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

# Openbox owns the screen well before it has started up, and a window mapped
# in between is never managed; it runs --startup once it is ready.
case $wm in
    openbox) openbox --sm-disable --startup "touch $scratch/wm-ready" >"$scratch/wm.log" 2>&1 & ;;
    mutter) mutter --x11 --replace --sm-disable >"$scratch/wm.log" 2>&1 & ;;
    xfwm4) xfwm4 >"$scratch/wm.log" 2>&1 & ;;
    *) fail "unknown window manager $wm" ;;
esac
helpers+=($!)
wm_ready() { wmctrl -m >/dev/null 2>&1 && [[ $wm != openbox || -e $scratch/wm-ready ]]; }
e2e_until 200 wm_ready || fail "$wm did not start: $(tail -5 "$scratch/wm.log")"

# A 40-pixel panel along the bottom and an always-on-top window over the middle.
"$build/tools/xdock" 40 808080 >/dev/null &
helpers+=($!)
workarea() { xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g' | cut -d' ' -f1-4; }
panel_reserved() { [[ $(workarea) == "0 0 1280 760" ]]; }
e2e_until 100 panel_reserved || fail "$wm: the panel reserves nothing: $(workarea)"
xmessage -geometry 320x90+560+420 "Always on top" >/dev/null 2>&1 &
helpers+=($!)
on_top() {
    wmctrl -r xmessage -b add,above 2>/dev/null
    local id
    id=$(xdotool search --class xmessage | head -n1) && [[ -n "$id" ]] && xprop -id "$id" _NET_WM_STATE | grep -q ABOVE
}
e2e_until 100 on_top || fail "$wm: the other window is not always on top"

e2e_home 1 2
e2e_start

# Client rectangle from the X server; xdotool's own figure counts the frame twice.
client_rect() {
    xwininfo -id "$win" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
                             /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}
frame_centred() {
    local x y w h l r t b
    read -r x y w h < <(client_rect)
    read -r l r t b < <(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    [[ -n "$b" ]] || return 1
    # Twice the centres, so an odd size may be half a pixel off.
    local dx=$((2 * (x - l) + w + l + r - 1280)) dy=$((2 * (y - t) + h + t + b - 760))
    ((dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1))
}
e2e_until 50 frame_centred \
    || fail "$wm: frame not centred: client $(client_rect), $(xprop -id "$win" _NET_FRAME_EXTENTS)"
[[ $(xprop -id "$win" _NET_WM_NAME) == *'"Lumivex Software"' ]] || fail "$wm: title"
class=$(sed -n 's/^StartupWMClass=//p' "$desktop_entry")
[[ -n "$class" && $(xprop -id "$win" WM_CLASS) == *"\"$class\"" ]] \
    || fail "$wm: WM_CLASS $(xprop -id "$win" WM_CLASS) does not match StartupWMClass=$class"
actions=$(xprop -id "$win" _NET_WM_ALLOWED_ACTIONS)
[[ $actions != *MAXIMIZE* && $actions != *RESIZE* ]] || fail "$wm: the window can be resized: $actions"
before=$(client_rect)

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
is_strobe() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once "$1" "$2") "* ]]; }
# Every pixel of the screen shows a strobe colour (two at most, mid-step).
all_strobe() {
    "$build/tools/screengrab" --colours >"$scratch/colours"
    while read -r colour _; do
        [[ "$strobe_colours" == *" $colour "* ]] || return 1
    done <"$scratch/colours"
}
strobe_id() { xdotool search --onlyvisible --class lumivex | grep -vx "$win" | head -n1; }
strobe_gone() { [[ -z $(strobe_id) ]]; }
strobe_focused() { local id; id=$(strobe_id) && [[ -n $id && $(xdotool getwindowfocus) == "$id" ]]; }
focus_back() { [[ $(xdotool getwindowfocus) == "$win" ]]; }

check_strobe() {
    local round=$1
    e2e_until 100 is_strobe 640 400 || fail "$wm, $round: no strobe"
    # Keys typed before the strobe has the keyboard would go to the main window.
    e2e_until 50 strobe_focused || fail "$wm, $round: the strobe has no keyboard focus"
    # H I D E takes the hint out of the top-left corner.
    xdotool key --delay 30 h i d e
    e2e_until 30 all_strobe \
        || fail "$wm, $round: not every pixel is strobe: $(sort -k2 -n -r "$scratch/colours" | head -5 | tr '\n' ' ')"
    if [[ $round == "first start" ]]; then
        # The window manager hands the focus to the other window: it stays
        # covered, and Escape still reaches the strobe.
        wmctrl -a xmessage
        # Time for the window manager to act; the strobe then takes the
        # keyboard back, on a loaded machine possibly later than that.
        sleep 0.5
        e2e_until 50 strobe_focused \
            || fail "$wm: the focus stayed on $(xdotool getwindowfocus -f), not the strobe"
        all_strobe || fail "$wm: the other window came over the strobe"
    fi
    xdotool key Escape
    e2e_until 50 strobe_gone || fail "$wm, $round: the strobe stayed after Escape"
    e2e_until 50 focus_back || fail "$wm, $round: focus went to $(xdotool getwindowfocus), not $win"
    [[ $(client_rect) == "$before" ]] || fail "$wm, $round: main window moved to $(client_rect)"
    echo "$wm, $round: ok"
}

# Style list, speed list, "Start Strobing": Return presses it.
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
xdotool key --delay 80 Tab Tab Return
check_strobe "first start"
# "Start Strobing" kept the focus.
xdotool key Return
check_strobe "second start"
kill -0 "$pid" || fail "$wm: the program ended"
e2e_stop
echo "window manager end-to-end ($wm): ok"
