#!/usr/bin/env bash
# A skin beside the program, on screen: the program is run from a folder of its
# own plain, with the example skin (x/o.cjs) beside it and with a skin that does
# not parse, and the main window's colours are read off the screen. The skin
# recolours the window, the frames and the push buttons; the broken one gives
# one "Application Error" report, then the window shows the button face.
#   e2e_skin.sh <build dir> [picture folder]
# With a picture folder, the plain and the skinned main windows are saved there
# as main-window-plain.png and main-window-skinned.png.
set -euo pipefail
build=$(cd "$1" && pwd)
pictures=${2:-}
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi

source "$(dirname "$0")/../support/e2e-lib.sh"
skin=$(cd "$(dirname "$0")/../../skins/example" && pwd)

# Window background left of the frames, inside a frame, inside the Help button,
# from the main window's corner.
probe=(2 100 20 88 20 21)

# The colours at the probe points once the window has painted: two reads in a
# row alike, none of them black. Leaves them in $seen.
seen=
painted() {
    local points=() i now
    for ((i = 0; i < ${#probe[@]}; i += 2)); do
        points+=($((X + probe[i])) $((Y + probe[i + 1])))
    done
    now=$("$build/tools/screengrab" --pixel "${points[@]}" | tr '\n' ' ')
    [[ $now == "$seen" && $now != *"#000000"* ]] && return 0
    seen=$now
    return 1
}
no_report() { ! e2e_report_box; }

# run <name> [report]: starts the copy in $scratch/<name> and keeps the colours
# in $scratch/<name>.colours; with "report" a start-up report is expected and
# answered with Enter first.
run() {
    local name=$1 expect=${2:-}
    program=$scratch/$name/lumivex
    if [[ $expect == report ]]; then
        e2e_launch
        e2e_until 150 e2e_report_box || fail "$name: no error report appeared"
        xdotool windowfocus --sync "$box" key Return
        e2e_until 50 no_report || fail "$name: the report stayed after Enter"
        e2e_until 150 e2e_main_window || fail "$name: the main window did not appear"
    else
        e2e_start
    fi
    no_report || fail "$name: the program reported an error at start-up"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    seen=
    e2e_until 100 painted || fail "$name: the main window's colours did not settle: $seen"
    echo "$seen" >"$scratch/$name.colours"
    if [[ -n $pictures && $name != broken ]]; then
        mkdir -p "$pictures"
        "$build/tools/screengrab" "$pictures/main-window-$name.png" "$X" "$Y" "$WIDTH" "$HEIGHT"
    fi
    e2e_stop
}

for name in plain skinned broken; do
    mkdir -p "$scratch/$name"
    cp "$build/lumivex" "$scratch/$name/lumivex"
done
cp -r "$skin/x" "$scratch/skinned/x"
mkdir -p "$scratch/broken/x"
echo 'QWidget { color: red; ' >"$scratch/broken/x/o.cjs"

run plain
run skinned
run broken report

read -r plainBack plainFrame plainButton <"$scratch/plain.colours"
read -r skinBack skinFrame skinButton <"$scratch/skinned.colours"
read -r brokenBack _ _ <"$scratch/broken.colours"
echo "plain:   window $plainBack frame $plainFrame button $plainButton"
echo "skinned: window $skinBack frame $skinFrame button $skinButton"
echo "broken:  window $brokenBack"

[[ $plainBack == "#ffffff" ]] || fail "the plain window background is $plainBack, not white"
[[ $skinBack != "$plainBack" ]] || fail "the skin did not change the window background"
# A skin takes the frames to the button face by itself; the example skin's own
# colours, QGroupBox's and QPushButton's background, must show.
[[ $skinFrame == "#2b3a4d" ]] || fail "the frames are $skinFrame, not the skin's #2b3a4d"
[[ $skinButton == "#f2c14e" ]] || fail "the push buttons are $skinButton, not the skin's #f2c14e"
[[ $brokenBack != "$plainBack" && $brokenBack != "$skinBack" ]] \
    || fail "with a broken skin the window should be button face, not $brokenBack"
echo "PASS"
