#!/usr/bin/env bash
# The program as a native Wayland client of weston. Weston runs nested in a
# virtual X display (its headless back end has no keyboard to press Escape
# with), the program sees only the Wayland socket, and weston's own scene
# graph tells where each window is: the main window comes up with the app id
# of the desktop entry; "Start Strobing" puts the strobe in weston's
# full-screen layer over the whole output, panel included, and every pixel
# but weston's pointer flashes; Escape takes it away, weston gives the focus
# back to the main window, and Return there starts the strobe again.
#   e2e_wayland.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
app_id=com.quarnel.Lumivex

export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
socket=lumivex-$$
weston_pid=""
trap 'e2e_cleanup; [[ -n "$weston_pid" ]] && kill "$weston_pid" 2>/dev/null || true' EXIT
weston --backend=x11-backend.so --use-pixman --width=1024 --height=768 --socket="$socket" \
    --debug --idle-time=0 >"$scratch/weston.log" 2>&1 &
weston_pid=$!
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
env -u DISPLAY XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" "$build/lumivex" \
    >"$scratch/lumivex.log" 2>&1 &
pid=$!
e2e_until 150 main_up || fail "no main window with app id $app_id: $(scene | grep -i top-level)"

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
# Every pixel of the output but weston's own pointer shows a strobe colour.
all_strobe() {
    local x1 y1 x2 y2
    read -r x1 y1 x2 y2 < <(layer 0xfffffffe | grep -m1 'position:' \
        | sed -E 's/.*\((-?[0-9]+), (-?[0-9]+)\) -> \((-?[0-9]+), (-?[0-9]+)\).*/\1 \2 \3 \4/')
    x1=$((x1 < 0 ? 0 : x1)) y1=$((y1 < 0 ? 0 : y1))
    x2=$((x2 > 1024 ? 1024 : x2)) y2=$((y2 > 768 ? 768 : y2))
    : >"$scratch/colours"
    for area in "0 0 1024 $y1" "0 $y2 1024 $((768 - y2))" "0 $y1 $x1 $((y2 - y1))" \
                "$x2 $y1 $((1024 - x2)) $((y2 - y1))"; do
        set -- $area
        (($3 > 0 && $4 > 0)) && "$build/tools/screengrab" --colours "$@" >>"$scratch/colours"
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
kill -0 "$pid" || fail "the program ended: $(cat "$scratch/lumivex.log")"
e2e_stop
echo "Wayland end-to-end: ok"
