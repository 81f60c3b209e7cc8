#!/bin/bash
# Runs the program under the current X display, plain, with a skin beside it and
# with a broken skin, and checks on screen what each does to the main window.
#
#   xvfb-run -a -s "-screen 0 1024x768x24 -noreset" \
#       skin-e2e.sh <lumivex> <screengrab> <skin folder holding x/o.cjs> [picture folder]
#
# With a picture folder, the two main windows are also saved there as
# main-window-plain.png and main-window-skinned.png.
set -euo pipefail

program=$1 screengrab=$2 skin=$3 pictures=${4:-}
work=$(mktemp -d)
pid=
cleanup() {
    if [[ -n $pid ]]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The occasional home page must not reach a real browser.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<SCRIPT
#!/bin/sh
echo "\$@" >>"$work/opened"
SCRIPT
chmod +x "$work/bin/xdg-open"

fail() { echo "FAIL: $*" >&2; exit 1; }
geometry=

# Dismisses the "Application Error" box with Enter once it shows.
dismissReport() {
    local box=
    for _ in $(seq 200); do
        box=$(xdotool search --onlyvisible --name '^Application Error$' 2>/dev/null | head -n1) || true
        [[ -n $box ]] && break
        sleep 0.1
    done
    [[ -n $box ]] || { cat "$work/out.log" >&2; fail "no error report appeared"; }
    xdotool windowfocus --sync "$box" key Return
}

# Starts the program from folder and sets geometry to its main window's x y w h.
# With "report" as second argument a start-up error report is expected first.
start() {
    local folder=$1 expect=${2:-} wid=
    HOME="$work/home" XDG_CONFIG_HOME="$work/config" PATH="$work/bin:$PATH" \
        QT_QPA_PLATFORM=xcb "$folder/lumivex" >"$work/out.log" 2>&1 &
    pid=$!
    [[ $expect == report ]] && dismissReport
    for _ in $(seq 200); do
        if xdotool search --onlyvisible --name '^Application Error$' >/dev/null 2>&1; then
            fail "the program reported an error at start-up"
        fi
        wid=$(xdotool search --onlyvisible --name '^Lumivex Software$' 2>/dev/null | head -n1) || true
        [[ -n $wid ]] && break
        sleep 0.1
    done
    [[ -n $wid ]] || { cat "$work/out.log" >&2; fail "the main window did not appear"; }
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    geometry="$X $Y $WIDTH $HEIGHT"
}

stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}

# Colours at points given relative to the window, once the window has painted.
colours() {
    local x=$1 y=$2 points=() out='' previous=''
    shift 2
    while (($#)); do points+=($((x + $1)) $((y + $2))); shift 2; done
    for _ in $(seq 100); do
        out=$("$screengrab" --pixel "${points[@]}" | tr '\n' ' ')
        [[ $out == "$previous" && $out != *"#000000"* ]] && break
        previous=$out
        sleep 0.1
    done
    echo "$out"
}

# Window background left of the frames, inside a frame, inside the Help button.
probe=(2 100 20 88 20 21)

run() {
    local folder=$1 name=$2 expect=${3:-}
    start "$folder" "$expect"
    read -r x y w h <<<"$geometry"
    colours "$x" "$y" "${probe[@]}" >"$work/$name.colours"
    if [[ -n $pictures && $name != broken ]]; then
        mkdir -p "$pictures"
        "$screengrab" "$pictures/main-window-$name.png" "$x" "$y" "$w" "$h"
    fi
    stop
}

mkdir -p "$work/plain" "$work/skinned"
cp "$program" "$work/plain/lumivex"
cp "$program" "$work/skinned/lumivex"
cp -r "$skin/x" "$work/skinned/x"

# A skin that does not parse: one report, then the window without the skin.
mkdir -p "$work/broken/x"
cp "$program" "$work/broken/lumivex"
echo 'QWidget { color: red; ' >"$work/broken/x/o.cjs"

run "$work/plain" plain
run "$work/skinned" skinned
run "$work/broken" broken report

read -r plainBack plainFrame plainButton <"$work/plain.colours"
read -r skinBack skinFrame skinButton <"$work/skinned.colours"
echo "plain:   window $plainBack frame $plainFrame button $plainButton"
echo "skinned: window $skinBack frame $skinFrame button $skinButton"

[[ $plainBack == "#ffffff" ]] || fail "the plain window background is $plainBack, not white"
[[ $skinBack != "$plainBack" ]] || fail "the skin did not change the window background"
[[ $skinFrame != "$plainFrame" ]] || fail "the skin did not change the frames"
[[ $skinButton != "$plainButton" ]] || fail "the skin did not change the push buttons"
read -r brokenBack _ _ <"$work/broken.colours"
echo "broken:  window $brokenBack"
[[ $brokenBack != "$plainBack" && $brokenBack != "$skinBack" ]] \
    || fail "with a broken skin the window should be button face, not $brokenBack"
echo "PASS"
