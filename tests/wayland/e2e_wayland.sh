#!/usr/bin/env bash
# The program as a native Wayland client of a compositor nested in a virtual
# X display (their headless back ends have no keyboard to press Escape with);
# the program sees only the Wayland socket.
#
# Weston: its own scene graph tells where each window is: the main window
# comes up with the app id of the desktop entry; "Start Strobing" puts the
# strobe in weston's full-screen layer over the whole output, panel included,
# and every pixel but weston's pointer flashes; Escape takes it away, weston
# gives the focus back to the main window, and Return there starts the strobe
# again. Each opening says that its steps follow the timer.
#
# Sway: its tree tells which window has the keyboard and which is full screen:
# the strobe full screen over every pixel of the output with the keyboard;
# another program focused through sway shows above the strobe and keeps the
# keyboard; a second Start brings the strobe forward; sway's close key closes
# the strobe alone; the output growing is followed; Escape gives the keyboard
# back to the main window.
#   e2e_wayland.sh <build dir> <weston|sway>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset -ac" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
# Under the sanitizers: Qt's Wayland plugin leaves allocations at exit whose
# frames lie in plugins already unloaded, which no suppression can name, so
# the leak check is off for the program here; every other check stays on.
export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}detect_leaks=0
compositor=${2:-weston}
app_id=com.quarnel.Lumivex

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
strobe_name="Lumivex strobe light, press Escape to exit"

# shellcheck disable=SC2317 # functions called through e2e_until
if [[ $compositor == sway ]]; then
    # Sway refuses to run as root; it then runs as nobody, in a runtime folder
    # of nobody's that the program, as root, can reach too.
    export XDG_RUNTIME_DIR=$scratch/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    as_user=()
    if [[ $(id -u) == 0 ]]; then
        chmod 755 "$scratch"
        chown nobody "$XDG_RUNTIME_DIR"
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    fi
    printf '%s\n' 'output * bg #808080 solid_color' 'bindsym Mod1+Shift+q kill' \
        'default_border none' >"$scratch/sway.conf"
    env -u XAUTHORITY HOME="$XDG_RUNTIME_DIR" WLR_BACKENDS=x11 WLR_RENDERER=pixman \
        WLR_X11_OUTPUTS=1 "${as_user[@]}" sway -c "$scratch/sway.conf" >"$scratch/sway.log" 2>&1 &
    helpers+=($!)
    # Sway's output is the one nameless window on the X display.
    output_window() { xwininfo -root -children | awk '/^ +0x/ { print $1; exit }'; }
    sway_up() { compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*" >/dev/null && [[ -n $(output_window) ]]; }
    e2e_until 150 sway_up || fail "sway did not start: $(tail -5 "$scratch/sway.log")"
    SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*" | head -n1)
    export SWAYSOCK
    socket=$(cd "$XDG_RUNTIME_DIR" && compgen -G 'wayland-*' | grep -v lock | head -n1)
    # Keys typed into sway's output window reach the focused Wayland window.
    xdotool windowfocus --sync "$(output_window)"

    # One line per window: focused, full screen, pid, x y w h, name.
    windows() {
        swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node):
    if node.get("pid"):
        r = node["rect"]
        print(int(node["focused"]), node.get("fullscreen_mode", 0), node["pid"],
              r["x"], r["y"], r["width"], r["height"], node.get("name"))
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))'
    }
    focused_name() { windows | awk '$1 == 1 { $1 = $2 = $3 = $4 = $5 = $6 = $7 = ""; print }' | sed 's/^ *//'; }
    focused() { [[ $(focused_name) == "$1" ]]; }
    output_size() { swaymsg -t get_outputs | python3 -c '
import json, sys
r = json.load(sys.stdin)[0]["rect"]
print(r["width"], r["height"])'; }
    all_strobe() {
        local w h
        read -r w h < <(output_size)
        "$build/tools/screengrab" --colours 0 0 "$w" "$h" >"$scratch/colours"
        while read -r colour _; do
            [[ "$strobe_colours" == *" $colour "* ]] || return 1
        done <"$scratch/colours"
    }
    strobe_gone() { ! windows | grep -q "$strobe_name"; }
    strobe_focused() {
        focused "$strobe_name" && windows | grep "$strobe_name" | grep -q '^1 1 '
    }
    main_focused() { focused "Lumivex Software"; }
    focus_name() { echo "'$(focused_name)'"; }
    where=sway

    WAYLAND_DISPLAY=$socket weston-terminal >/dev/null 2>&1 &
    other_pid=$!
    helpers+=("$other_pid")
    other_up() { windows | awk -v p="$other_pid" '$3 == p' | grep -q .; }
    e2e_until 100 other_up || fail "sway: no other window"
    e2e_home 1 2
    env -u DISPLAY XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" "$build/lumivex" \
        >"$scratch/lumivex.log" 2>&1 &
    pid=$!
    e2e_until 150 focused "Lumivex Software" || fail "sway: the main window has no keyboard: $(windows)"
    xdotool key --delay 100 Tab Tab Return
    e2e_strobe_up "first start"
    # A second launch hands over to this copy and ends.
    env -u DISPLAY XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" timeout 10 "$build/lumivex" \
        2>/dev/null || fail "sway: a second launch ended with status $?"
    [[ $(windows | grep -c ' Lumivex Software$') == 1 ]] || fail "sway: not one main window: $(windows)"
    strobe_focused || fail "sway: the strobe lost the keyboard to a second launch"
    echo "sway, second launch: handed over"

    swaymsg "[pid=$other_pid] focus" >/dev/null
    other_name=$(windows | awk -v p="$other_pid" '$3 == p { $1 = $2 = $3 = $4 = $5 = $6 = $7 = ""; print }' | sed 's/^ *//')
    e2e_until 50 focused "$other_name" || fail "sway: the other window has no keyboard"
    # The middle of the window of process $1 (named $2, if given) does not
    # show the strobe.
    shows() {
        local x y w h
        read -r x y w h < <(windows | grep -F -- "${2:-}" \
            | awk -v p="$1" '$3 == p { print $4, $5, $6, $7; exit }')
        [[ "$strobe_colours" != *" $("$build/tools/pixelsampler" --once $((x + w / 2)) $((y + h / 2))) "* ]]
    }
    e2e_until 50 shows "$other_pid" || fail "sway: the other window stays under the strobe"
    e2e_stays 5 focused "$other_name" || fail "sway: the strobe took the keyboard back"
    echo "sway, other window: above the strobe, with the keyboard"

    swaymsg '[title="^Lumivex Software$"] focus' >/dev/null
    e2e_until 50 focused "Lumivex Software" || fail "sway: the main window did not get the keyboard"
    e2e_until 50 shows "$pid" "Lumivex Software" || fail "sway: the main window has the keyboard under the strobe"
    xdotool key Return
    e2e_strobe_up "second start"

    xdotool key alt+shift+q
    e2e_main_back "close key"
    xdotool key Return
    e2e_strobe_up "start after close"

    swaymsg output X11-1 mode 1280x800 >/dev/null
    grown() { [[ $(output_size) == "1280 800" ]] && all_strobe; }
    e2e_until 50 grown || fail "sway: the strobe did not follow the output's growth:" \
        "$(sort -k2 -n -r "$scratch/colours" | head -5 | tr '\n' ' ')"
    echo "sway, growth: the strobe covers the grown output"

    xdotool key Escape
    e2e_main_back "Escape"
    e2e_stop
    echo "Wayland end-to-end (sway): ok"
    exit 0
fi

export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
socket=lumivex-$$
weston --backend=x11-backend.so --use-pixman --width=1024 --height=768 --socket="$socket" \
    --debug --idle-time=0 >"$scratch/weston.log" 2>&1 &
helpers+=($!)
weston_up() { [[ -S $XDG_RUNTIME_DIR/$socket ]] && xdotool search --class weston >/dev/null; }
e2e_until 150 weston_up || fail "weston did not start: $(tail -5 "$scratch/weston.log")"
output=$(xdotool search --class weston | head -n1)
# Keys typed into weston's output window reach the focused Wayland window.
# Weston gives a new window the keyboard only once its output has the X
# focus; a window that opens before then now and again never gets it.
xdotool windowfocus --sync "$output"

scene() { WAYLAND_DISPLAY=$socket timeout 5 weston-debug scene-graph 2>/dev/null; }
# The views of one layer of the scene graph, by the layer's position.
layer() { scene | awk -v pos="$1" '/^Layer/ { on = index($0, "(pos " pos ")") > 0; next } on'; }
main_up() { scene | grep -q "top-level window 'Lumivex Software' of $app_id"; }
strobe_full_screen() {
    layer 0xb0000000 | grep -A1 "top-level window .* of $app_id," | grep -q 'position: (0, 0) -> (1024, 768)'
}
strobe_gone() { ! layer 0xb0000000 | grep -q "of $app_id,"; }
panel_shows() { [[ "$strobe_colours" != *" $("$build/tools/pixelsampler" --once 512 16) "* ]]; }

e2e_home 1 0
env -u DISPLAY XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" \
    QT_LOGGING_RULES="lumivex.strobe.frames.info=true" "$build/lumivex" \
    >"$scratch/lumivex.log" 2>&1 &
pid=$!
e2e_until 150 main_up || fail "no main window with app id $app_id: $(scene | grep -i top-level)"
# A second launch hands over to this copy and ends.
env -u DISPLAY XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" timeout 10 "$build/lumivex" \
    2>/dev/null || fail "a second launch ended with status $?"
[[ $(scene | grep -c "top-level window 'Lumivex Software' of $app_id") == 1 ]] \
    || fail "not one main window: $(scene | grep -i top-level)"
echo "second launch: handed over"

# Every pixel of the output but weston's own pointer shows a strobe colour.
all_strobe() {
    local x1 y1 x2 y2 area box
    read -r x1 y1 x2 y2 < <(layer 0xfffffffe | grep -m1 'position:' \
        | sed -E 's/.*\((-?[0-9]+), (-?[0-9]+)\) -> \((-?[0-9]+), (-?[0-9]+)\).*/\1 \2 \3 \4/')
    x1=$((x1 < 0 ? 0 : x1)) y1=$((y1 < 0 ? 0 : y1))
    x2=$((x2 > 1024 ? 1024 : x2)) y2=$((y2 > 768 ? 768 : y2))
    : >"$scratch/colours"
    for area in "0 0 1024 $y1" "0 $y2 1024 $((768 - y2))" "0 $y1 $x1 $((y2 - y1))" \
                "$x2 $y1 $((1024 - x2)) $((y2 - y1))"; do
        read -r -a box <<<"$area"
        ((box[2] > 0 && box[3] > 0)) && "$build/tools/screengrab" --colours "${box[@]}" >>"$scratch/colours"
    done
    while read -r colour _; do
        [[ "$strobe_colours" == *" $colour "* ]] || return 1
    done <"$scratch/colours"
}
check_strobe() {
    local round=$1
    e2e_until 100 strobe_full_screen || fail "$round: no full-screen strobe: $(scene | grep -E 'Layer|top-level|position')"
    # Weston hands the keyboard to a new window a moment after showing it.
    hidden() { xdotool key --delay 30 h i d e; e2e_until 10 all_strobe; }
    e2e_until 5 hidden || fail "$round: not every pixel is strobe: $(sort -k2 -n -r "$scratch/colours" | head -5 | tr '\n' ' ')"
    xdotool key Escape
    e2e_until 50 strobe_gone || fail "$round: the strobe stayed after Escape"
    e2e_until 50 panel_shows || fail "$round: the screen still shows the strobe after Escape"
    main_up || fail "$round: the main window is gone"
    echo "$round: ok"
}

# Qt draws the main window's title in black while the window has the focus
# (grey otherwise); the title's middle is 30 pixels below the view's top.
main_active() {
    local x y
    read -r x y < <(scene | grep -A1 "top-level window 'Lumivex Software'" \
        | sed -n -E 's/.*position: \((-?[0-9]+), (-?[0-9]+)\).*/\1 \2/p')
    "$build/tools/screengrab" --colours $((x + 150)) $((y + 5)) 240 20 | grep -q '^#000000 '
}

e2e_until 50 main_active || fail "the main window never got the focus"
xdotool key --delay 100 Tab Tab Return
check_strobe "first start"
# Weston hands the focus back to the main window ("Start Strobing" kept it).
e2e_until 50 main_active || fail "the main window did not get the focus back"
xdotool key Return
check_strobe "second start"
# With no display clock on Wayland the steps follow the timer, and each
# opening says so.
timer_said=$(grep -c "Strobe steps follow the timer$" "$scratch/lumivex.log" || true)
[[ $timer_said == 2 ]] \
    || fail "the timer was named $timer_said times for two openings: $(cat "$scratch/lumivex.log")"
kill -0 "$pid" || fail "the program ended: $(cat "$scratch/lumivex.log")"
e2e_stop
echo "Wayland end-to-end: ok"
