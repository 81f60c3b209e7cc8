#!/usr/bin/env bash
# Runs the built program on a virtual X display as a person would: starts the
# strobe from the main window with the keyboard, reads the colour of the
# middle of the screen over time, checks the sequence and its step lengths,
# uncovers patches of the strobe at random moments and checks that they show
# the colour around them, presses Escape and checks that the main window is
# back.
#   e2e_strobe.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
e2e_home 0 2

sampler=$build/tools/pixelsampler
read -r width height < <(xdpyinfo 2>/dev/null | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }' \
                         || echo "1280 800")
cx=$((width / 2)) cy=$((height / 2))

e2e_start

# Starts the strobe at "Fast" with the keys in $1 to reach the style list and
# pick the style. The tab order is style list, speed list, "Start Strobing",
# "Help"; the style list has the focus at start.
start_strobe() {
    xdotool windowfocus --sync "$win"
    # shellcheck disable=SC2086 # one key per word
    xdotool key --delay 80 $1 Tab End Tab space
}

# Prints the colour changes at the screen's middle for $1 seconds.
sample() { "$sampler" "$cx" "$cy" "$1" 200; }

# Whether the hint's corner shows the strobe's colours, not the hint.
corner_flashes() { [[ " #000000 #ffffff " == *" $("$sampler" --once 60 0) "* ]]; }

# The scheduling class and real-time priority of the program's step thread.
step_thread() { ps -L -o cls=,rtprio=,comm= -p "$pid" | awk '/strobe steps$/ { print $1, $2 }'; }

for style in classic random; do
    if [[ $style == classic ]]; then
        start_strobe Home
        wait_for_colour "#000000" "#ffffff"
        pattern="#000000:1 #ffffff:2"
    else
        # "Start Strobing" kept the focus: Tab, Tab goes round to the style list.
        start_strobe "Tab Tab Home Down"
        wait_for_colour "#ff0000" "#00ff00" "#0000ff" "#00ffff" "#ff00ff" "#ffff00"
        pattern="#ff0000:1 #00ff00:1 #0000ff:1 #00ffff:1 #ff00ff:1 #ffff00:2"
    fi
    # The steps come from a thread of real-time priority while the strobe is
    # open (the tests run as root, which may ask for it directly), and only
    # then.
    step_thread_raised() { [[ $(step_thread) == "RR 10" ]]; }
    e2e_until 20 step_thread_raised || fail "$style: the step thread is '$(step_thread)', not RR 10"
    sample 3 > "$scratch/samples"
    # Every whole step lasts about 100 ms.
    check_steps "$scratch/samples" "$pattern" 100 || fail "$style: $(head -20 "$scratch/samples")"

    if [[ $style == classic ]]; then
        # The hint keeps its own box while the screen flashes around it, and
        # H I D E takes it away for good: from then on that corner flashes too.
        # The top row of the hint lies above its letters.
        "$sampler" 60 0 1 200 > "$scratch/hint"
        grep -q -E '#000000|#ffffff' "$scratch/hint" && fail "the hint was painted over: $(cat "$scratch/hint")"
        xdotool key --delay 30 h i d e
        # xdotool returns before the program has read the keys.
        e2e_until 30 corner_flashes || fail "the hint stayed after H I D E"
        "$sampler" 60 0 1 200 > "$scratch/hint"
        grep -v -q -E '#000000|#ffffff' "$scratch/hint" && fail "the hint stayed after H I D E: $(cat "$scratch/hint")"
        [[ $(wc -l < "$scratch/hint") -ge 3 ]] || fail "the hint's corner does not flash after H I D E"
    else
        # Without H I D E the hint goes by itself at the 46th tick, although
        # the steps come from the other thread.
        corner_strobes() { [[ " ${pattern//:[0-9]/ } " == *" $("$sampler" --once 60 0) "* ]]; }
        e2e_until 60 corner_strobes || fail "$style: the hint stayed past its 46th tick"
    fi

    # A window of another program that goes away uncovers part of the strobe,
    # which must then show the colour of the rest, whenever in a step it is.
    if ! "$build/tools/uncover" $((width / 3)) $((height / 3)) 80 25 > "$scratch/uncovered"; then
        fail "$style: an uncovered patch showed another colour than the rest" \
             "(round, ms, inside, outside): $(sort -u -k1,1n "$scratch/uncovered" | head -5)"
    fi

    strobe=$(xdotool getwindowfocus -f 2>/dev/null || true)
    [[ -n "$strobe" && "$strobe" != "$win" ]] || fail "$style: the strobe window has no focus"
    # No title bar, but a name for window lists.
    caption=$(xdotool getwindowname "$strobe")
    [[ $caption == "Lumivex strobe light, press Escape to exit" ]] \
        || fail "$style: the strobe window is listed as '$caption'"
    eval "$(xdotool getwindowgeometry --shell "$strobe")"
    # shellcheck disable=SC2153 # WIDTH and HEIGHT come from xdotool
    [[ "$WIDTH" == "$width" && "$HEIGHT" == "$height" ]] \
        || fail "$style: strobe window is ${WIDTH}x${HEIGHT}, not ${width}x${height}"

    xdotool key Escape
    # The screen must come to rest: the strobe is gone, nothing flashes.
    still=""
    for _ in $(seq 20); do
        sample 0.6 > "$scratch/after"
        [[ $(wc -l < "$scratch/after") == 1 ]] && still=yes && break
    done
    [[ -n "$still" ]] || fail "$style: the screen still changes after Escape"
    xdotool search --onlyvisible --name '^Lumivex Software$' >/dev/null \
        || fail "$style: main window not visible after Escape"
    kill -0 "$pid" || fail "$style: the program ended"
    [[ -z $(step_thread) ]] || fail "$style: the step thread outlived the strobe"
    ps -L -o cls= -p "$pid" | grep -q -v TS && fail "$style: a thread kept its priority"
    e2e_no_image_plugins "$style, after the strobe"
    echo "$style: ok"
done

# H I D E and Escape name keys, not the letters typed: on layouts without Latin
# letters the keys that carry H, I, D, E on a US keyboard (pressed by keycode)
# hide the hint, or with a Latin layout beside them the keys that carry those
# letters there; on Latin layouts the letters do wherever they sit.
# Each row: layouts, variants, the keys of H I D E.
layout_cases=(
    "ru||43 31 40 26"
    "gr||43 31 40 26"
    "il,us|,dvorak|44 42 43 40"
    "fr||h i d e"
    "us|dvorak|h i d e"
)
screen_still() { sample 0.6 > "$scratch/after" && [[ $(wc -l < "$scratch/after") == 1 ]]; }
for row in "${layout_cases[@]}"; do
    IFS='|' read -r layouts variants keys <<< "$row"
    setxkbmap -layout "$layouts" -variant "$variants" || fail "setxkbmap $layouts($variants)"
    # "Slow" gives 9 s before the hint goes by itself; the focus is on
    # "Start Strobing", two Tabs from the style list.
    xdotool windowfocus --sync "$win"
    xdotool key --delay 80 Tab Tab Home Tab Home Tab space
    wait_for_colour "#000000" "#ffffff"
    corner_flashes && fail "$layouts: the hint was gone before H I D E"
    # shellcheck disable=SC2086 # one key per word
    xdotool key --delay 30 $keys
    e2e_until 30 corner_flashes || fail "$layouts($variants): the hint stayed after $keys"
    xdotool key Escape
    e2e_until 10 screen_still || fail "$layouts($variants): the strobe stayed after Escape"
    echo "layout $layouts($variants): ok"
done
setxkbmap -layout us

[[ ! -e "$scratch/opened" ]] || echo "note: the home page was opened (recorded only)"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""
echo "strobe end-to-end: ok"
