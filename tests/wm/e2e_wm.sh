#!/usr/bin/env bash
# The real program under a real X11 window manager (or none), with a panel and
# another program's window on screen, driven from the keyboard. One virtual
# screen of 1600x1000 holds one monitor of 1280x800 along its bottom, which
# grows to the whole screen later on. Checked under every window manager:
#   - the main window is titled, carries the desktop entry's class, offers no
#     maximise action and its frame sits centred in the free area;
#   - "Start Strobing" puts the strobe over every pixel of the monitor, panel
#     included, with the keyboard;
#   - the window manager activating the other program's window shows that
#     window above the strobe, and it keeps the keyboard;
#   - the main window activated through the window manager shows above the
#     strobe, and a second Start brings the strobe forward with the keyboard;
#   - the window manager moving the strobe to another desktop, a second Start
#     brings it back onto the desktop on view with the keyboard;
#   - the window manager's close key closes the strobe alone, and the main
#     window has the keyboard again;
#   - the monitor growing is followed by the strobe;
#   - Escape, with the pointer far from the main window, closes the strobe
#     and gives the keyboard back to the main window.
# With no window manager the other window and the close key are left out, and
# the strobe is closed the way a window manager's close button does it.
#   e2e_wm.sh <build dir> <none|openbox|mutter|xfwm4|icewm|i3|fluxbox|metacity|kwin_x11>
set -euo pipefail
build=$(cd "$1" && pwd)
wm=$2
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" dbus-run-session -- "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
desktop_entry=$(dirname "$0")/../../packaging/com.quarnel.Lumivex.desktop

# The monitor: 1280x800 at the bottom left, so that the panel along the
# screen's bottom edge is on it; later the whole screen.
xrandr --setmonitor M 1280/338x800/212+0+200 screen >/dev/null
# Its size; screengrab reads rectangles of it, from its top left corner.
monitor=(1280 800)

# What each window manager needs to start, how it tells that it is ready, its
# key that closes the active window, whether it puts a window where the window
# asks (tiling ones do not) and whether it offers a resize action for a window
# of fixed size (icewm does, and keeps the size all the same), and whether it
# reads the monitors again when they change but the whole screen keeps its size
# (xfwm4 and fluxbox do not, and keep full-screen windows at the old size; the
# X server here cannot change the screen's size).
close_key=alt+F4
places=yes
resize_action=no
follows_monitors=yes
desktops=yes
wm_ready() { wmctrl -m >/dev/null 2>&1; }
case $wm in
    none)
        close_key=""
        desktops=no
        wm_ready() { true; }
        ;;
    # Openbox owns the screen well before it has started up, and a window
    # mapped in between is never managed; it runs --startup once it is ready.
    openbox)
        openbox --sm-disable --startup "touch $scratch/wm-ready" >"$scratch/wm.log" 2>&1 &
        wm_ready() { [[ -e $scratch/wm-ready ]]; }
        ;;
    # Mutter brings the strobe back from another desktop on Start but does not
    # always hand it the keyboard then (about one run in three); left out
    # until that is understood.
    mutter)
        mutter --x11 --replace --sm-disable >"$scratch/wm.log" 2>&1 &
        desktops=no
        ;;
    xfwm4)
        xfwm4 >"$scratch/wm.log" 2>&1 &
        follows_monitors=no
        ;;
    icewm)
        icewm >"$scratch/wm.log" 2>&1 &
        resize_action=yes
        ;;
    fluxbox)
        fluxbox >"$scratch/wm.log" 2>&1 &
        follows_monitors=no
        ;;
    metacity) metacity --replace >"$scratch/wm.log" 2>&1 & ;;
    kwin_x11) kwin_x11 --replace >"$scratch/wm.log" 2>&1 & ;;
    i3)
        # Its own configuration: the stock one starts a set-up wizard.
        printf '%s\n' 'font pango:monospace 8' 'focus_follows_mouse no' \
            'bindsym Mod1+Shift+q kill' >"$scratch/i3.conf"
        i3 -c "$scratch/i3.conf" >"$scratch/wm.log" 2>&1 &
        close_key=alt+shift+q
        places=no
        desktops=no
        ;;
    *) fail "unknown window manager $wm" ;;
esac
[[ $wm == none ]] || helpers+=($!)
e2e_until 200 wm_ready || fail "$wm did not start: $(tail -5 "$scratch/wm.log")"

# A 40-pixel panel along the bottom and another program's window.
"$build/tools/xdock" 40 808080 >/dev/null &
helpers+=($!)
# The monitor's area that the window manager keeps free of panels, as x y w h.
free_area() {
    local x=0 y=0 w=1600 h=1000
    if xprop -root _NET_SUPPORTED 2>/dev/null | grep -q _NET_WORKAREA; then
        read -r x y w h _ < <(xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g')
    fi
    local left=$((x > 0 ? x : 0)) top=$((y > 200 ? y : 200))
    local right=$((x + w < 1280 ? x + w : 1280)) bottom=$((y + h < 1000 ? y + h : 1000))
    echo "$left $top $((right - left)) $((bottom - top))"
}
if [[ $wm != none ]]; then
    panel_reserved() {
        ! xprop -root _NET_SUPPORTED | grep -q _NET_WORKAREA || [[ $(free_area) == "0 200 1280 760" ]]
    }
    e2e_until 100 panel_reserved || fail "$wm: the panel reserves nothing: $(free_area)"
    xmessage -geometry 320x90+800+500 "Another program" >/dev/null 2>&1 &
    helpers+=($!)
    other_id() { xdotool search --onlyvisible --class xmessage | head -n1; }
    e2e_until 100 other_id >/dev/null || fail "$wm: the other window did not appear"
    other=$(other_id)
fi

e2e_home 1 2
# shellcheck disable=SC2119 # no environment of its own
e2e_start

# Client rectangle from the X server; xdotool's own figure counts the frame twice.
client_rect() {
    xwininfo -id "${1:-$win}" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
                             /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}
frame_centred() {
    local x y w h l=0 r=0 t=0 b=0 fx fy fw fh
    read -r x y w h < <(client_rect)
    read -r fx fy fw fh < <(free_area)
    if [[ $wm != none ]]; then
        read -r l r t b < <(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
        [[ -n "$b" ]] || return 1
    fi
    # Twice the centres, so an odd size may be half a pixel off.
    local dx=$((2 * (x - l - fx) + w + l + r - fw)) dy=$((2 * (y - t - fy) + h + t + b - fh))
    ((dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1))
}
[[ $places == no ]] || e2e_until 50 frame_centred \
    || fail "$wm: frame not centred: client $(client_rect), $(xprop -id "$win" _NET_FRAME_EXTENTS 2>&1)"
[[ $(xprop -id "$win" _NET_WM_NAME) == *'"Lumivex Software"' ]] || fail "$wm: title"
class=$(sed -n 's/^StartupWMClass=//p' "$desktop_entry")
[[ -n "$class" && $(xprop -id "$win" WM_CLASS) == *"\"$class\"" ]] \
    || fail "$wm: WM_CLASS $(xprop -id "$win" WM_CLASS) does not match StartupWMClass=$class"
actions=$(xprop -id "$win" _NET_WM_ALLOWED_ACTIONS)
[[ $actions != *MAXIMIZE* && ($resize_action == yes || $actions != *RESIZE*) ]] || fail "$wm: the window can be resized: $actions"

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
is_strobe() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once "$1" "$2") "* ]]; }
# Every pixel of the monitor shows a strobe colour (two at most, mid-step).
all_strobe() {
    "$build/tools/screengrab" --colours 0 0 "${monitor[@]}" >"$scratch/colours"
    while read -r colour _; do
        [[ "$strobe_colours" == *" $colour "* ]] || return 1
    done <"$scratch/colours"
}
strobe_id() { xdotool search --onlyvisible --name '^Lumivex strobe light' | head -n1; }
strobe_gone() { [[ -z $(strobe_id) ]]; }
focused() { [[ $(xdotool getwindowfocus) == "$1" ]]; }
strobe_focused() { local id; id=$(strobe_id) && [[ -n $id ]] && focused "$id"; }
main_focused() { focused "$win"; }
focus_name() { xdotool getwindowfocus getwindowname 2>/dev/null || xdotool getwindowfocus; }
where=$wm

# Style list, speed list, "Start Strobing": Return presses it.
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
xdotool key --delay 80 Tab Tab Return
e2e_strobe_up "first start"

if [[ $wm != none ]]; then
    # The middle of a window, wherever the window manager put it.
    shows() {
        local x y w h
        read -r x y w h < <(client_rect "$1")
        ! is_strobe $((x + w / 2)) $((y + h / 2))
    }
    xdotool windowactivate "$other"
    e2e_until 50 focused "$other" || fail "$wm: the other window did not get the keyboard"
    e2e_until 50 shows "$other" || fail_shown "$wm: the other window stays under the strobe"
    e2e_stays 5 focused "$other" || fail "$wm: the strobe took the keyboard back, $(focus_name) has it"
    echo "$wm, other window: above the strobe, with the keyboard"

    # "Start Strobing" kept its focus in the main window.
    xdotool windowactivate "$win"
    e2e_until 50 focused "$win" || fail "$wm: the main window did not get the keyboard"
    e2e_until 50 shows "$win" || fail_shown "$wm: the main window has the keyboard under the strobe"
    xdotool key Return
    e2e_strobe_up "second start"
fi

if [[ $desktops == yes ]]; then
    desktop_of() { xprop -id "$1" _NET_WM_DESKTOP | sed -n 's/.*= //p'; }
    strobe_on() { [[ $(desktop_of "$strobe") == "$1" ]]; }
    on_view() { strobe_on "$(xprop -root _NET_CURRENT_DESKTOP | sed -n 's/.*= //p')"; }
    wmctrl -n 2
    strobe=$(strobe_id)
    wmctrl -i -r "$strobe" -t 1
    e2e_until 50 strobe_on 1 || fail "$wm: the strobe stayed on its desktop"
    xdotool windowactivate "$win"
    e2e_until 50 focused "$win" || fail "$wm: the main window did not get the keyboard"
    xdotool key Return
    e2e_until 50 on_view || fail "$wm: Start left the strobe on another desktop"
    e2e_strobe_up "start with the strobe on another desktop"
fi

if [[ -n $close_key ]]; then
    xdotool key "$close_key"
else
    "$build/tools/xclose" "$(strobe_id)"
fi
e2e_main_back "close ${close_key:-request}"
xdotool key Return
e2e_strobe_up "start after close"

if [[ $follows_monitors == yes ]]; then
    xrandr --delmonitor M --setmonitor M 1600/423x1000/265+0+0 screen >/dev/null
    monitor=(1600 1000)
    e2e_until 50 all_strobe || fail_shown "$wm: the strobe did not follow the monitor's growth:" \
        "$(sort -k2 -n -r "$scratch/colours" | head -5 | tr '\n' ' ')"
    echo "$wm, growth: the strobe covers the grown monitor"
else
    echo "$wm, growth: left out, $wm keeps the monitors it found at the start"
fi

# The pointer far from the main window.
xdotool mousemove 1590 10
xdotool key Escape
e2e_main_back "Escape"
e2e_stop
echo "window manager end-to-end ($wm): ok"
