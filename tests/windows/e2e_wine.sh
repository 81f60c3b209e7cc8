#!/usr/bin/env bash
# Runs lumivex.exe under Wine on a virtual X display, driven from outside as a
# person would: the main window and its title, choices kept in the registry
# across a restart, the strobe's colours and step lengths read off the screen,
# H I D E and Escape, the help box, bad stored values, and a cursor and a skin
# beside the program. The program runs from a copy of its folder holding only
# what the packages ship.
#   e2e_wine.sh <Windows build dir> <Linux build's tools dir>
set -euo pipefail
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-lib.sh"
wine_env "$1"
tools=$(cd "$2" && pwd)
build=$(cd "$1" && pwd)
sampler=$tools/pixelsampler
[[ -d "$WINEPREFIX" ]] || fail "no Wine prefix at $WINEPREFIX (the wine_prefix test makes it)"
# Only the program's own folder: nothing from the build folder may stand in.
unset WINEPATH WINEQT_PLUGIN_PATH

work=$build/wine/e2e
pid=""
cleanup() {
    [[ -n "$pid" ]] && kill "$pid" 2> /dev/null
    wine_stop
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/program"
cp "$build/lumivex.exe" "$build"/*.dll "$work/program/"
cp -r "$build/plugins" "$work/program/"
rm -f "$work/program/plugins/platforms/qoffscreen.dll"

key='HKCU\Software\Quarnel\Lumivex Software'
wine_reg delete 'HKCU\Software\Quarnel' /f > /dev/null || true

read -r width height < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
cx=$((width / 2)) cy=$((height / 2))


# Waits up to $1 seconds for a visible window named $2 and prints its id.
wait_window() {
    local id=""
    for _ in $(seq $(($1 * 10))); do
        id=$(window_named "$2") && [[ -n "$id" ]] && break
        sleep 0.1
    done
    [[ -n "$id" ]] && echo "$id"
}

# Starts the program; with "reports N" expects N error reports first and
# dismisses them. Sets $pid and $win.
start() {
    local reports=0
    [[ "${1:-}" == reports ]] && reports=$2
    "$wine" "$work/program/lumivex.exe" > "$work/out.log" 2>&1 &
    pid=$!
    for ((r = 0; r < reports; r++)); do
        local box
        box=$(wait_window 60 'Application Error') || fail "report $((r + 1)) did not appear"
        xdotool windowfocus --sync "$box" key Return
        e2e_until 50 window_gone "$box" || fail "report $((r + 1)) stayed open"
    done
    win=$(wait_window 60 'Lumivex Software') || fail "the main window did not appear"
    [[ -z "$(window_named 'Application Error')" ]] || fail "an unexpected error report"
}

window_gone() { ! xdotool getwindowname "$1" > /dev/null 2>&1 || [[ -z "$(window_named "$(xdotool getwindowname "$1")")" ]]; }
program_ended() { ! kill -0 "$pid" 2> /dev/null; }

# Closes the main window as a window manager would and waits for the end.
stop() {
    "$tools/xclose" "$win"
    e2e_until 150 program_ended || fail "the program did not end when its window closed"
    wait "$pid" || fail "the program ended with status $?"
    pid=""
}

# The stored value of $1 as "TYPE DATA".
stored() { wine_reg query "$key" /v "$1" | awk -v name="$1" '$1 == name { print $2, $3 }'; }

# Checks a run sampled at the screen's middle: the colours cycle as given
# (colour:steps), and about every whole step lasts the nominal ms given.
# Prints the number of steps, their median length and the extremes.
check_run() {
    local samples=$1 pattern=$2 nominal=$3
    check_steps "$samples" "$pattern" "$nominal" "$samples.lengths" || return 1
    sort -g "$samples.lengths" | awk '{ l[NR] = $1 }
        END { printf "%d steps, median %.2f ms, shortest %.2f ms, longest %.2f ms\n",
                     NR, l[int((NR + 1) / 2)], l[1], l[NR] }'
}

# --- First start: the window, the first entries stored as text. ---
start
[[ "$(xdotool getwindowname "$win")" == "Lumivex Software" ]] || fail "title"
eval "$(xdotool getwindowgeometry --shell "$win")"
# shellcheck disable=SC2153 # WIDTH and HEIGHT come from xdotool
echo "main window ${WIDTH}x${HEIGHT} at $X,$Y"
[[ "$WIDTH" == 536 && "$HEIGHT" == 192 ]] || fail "main window is ${WIDTH}x${HEIGHT}, not 536x192"
# shellcheck disable=SC2016 # eval expands it at each try
e2e_until 100 eval '[[ "$(stored Combo2)" == "REG_SZ 0" ]]' \
    || fail "first start stored Combo2 as '$(stored Combo2)'"
[[ "$(stored Combo1)" == "REG_SZ 0" ]] || fail "first start stored Combo1 as '$(stored Combo1)'"

# Random Colors and Fast: the style list has the focus.
xdotool windowfocus --sync "$win"
xdotool key --delay 100 End Tab End
# shellcheck disable=SC2016 # eval expands it at each try
e2e_until 100 eval '[[ "$(stored Combo1) $(stored Combo2)" == "REG_SZ 1 REG_SZ 2" ]]' \
    || fail "choices stored as '$(stored Combo1)' '$(stored Combo2)'"

# The help box, titled with the application title, and back.
xdotool key --delay 100 Tab Tab Tab Tab space
box=$(wait_window 20 Lumivex) || fail "the help box did not appear"
xdotool windowfocus --sync "$box" key Return
e2e_until 100 window_gone "$box" || fail "the help box stayed open"
stop
echo "main window, registry, help: ok"

# --- Restart: the stored choices drive the strobe. ---
start
xdotool windowfocus --sync "$win"
xdotool key --delay 100 Tab Tab space
wait_for_colour "#ff0000" "#00ff00" "#0000ff" "#00ffff" "#ff00ff" "#ffff00"
"$sampler" "$cx" "$cy" 3 200 > "$work/random"
check_run "$work/random" "#ff0000:1 #00ff00:1 #0000ff:1 #00ffff:1 #ff00ff:1 #ffff00:2" 100 \
    || fail "Random Colors, Fast: $(head -20 "$work/random")"
# Without a window manager Wine keeps the keyboard focus to itself; what can
# be seen from outside is one of the program's windows covering the screen.
covering=""
for id in $(xdotool search --onlyvisible --classname '^lumivex\.exe$'); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [[ "$X,$Y,$WIDTH,$HEIGHT" == "0,0,$width,$height" ]] && covering=$id
done
[[ -n "$covering" ]] || fail "no window of the program covers the ${width}x${height} screen"

# The hint keeps its corner until H I D E; then that corner flashes too.
"$sampler" 60 0 1 200 > "$work/hint"
grep -q -E '#ff0000|#00ff00|#0000ff' "$work/hint" && fail "the hint was painted over"
xdotool key --delay 50 h i d e
# xdotool returns before the program has read the keys.
corner_flashes() {
    "$sampler" 60 0 1 200 > "$work/hint"
    [[ $(wc -l < "$work/hint") -ge 3 ]]
}
e2e_until 10 corner_flashes || fail "the hint's corner does not flash after H I D E"

xdotool key Escape
still() { [[ $("$sampler" "$cx" "$cy" 0.6 200 | wc -l) == 1 ]]; }
e2e_until 20 still || fail "the screen still changes after Escape"
[[ -n "$(window_named 'Lumivex Software')" ]] || fail "main window gone after Escape"
kill -0 "$pid" || fail "the program ended at Escape"

# Classic at Slow, from the main window again.
xdotool windowfocus --sync "$win"
xdotool key --delay 100 Tab Tab Home Tab Home Tab space
wait_for_colour "#000000" "#ffffff"
"$sampler" "$cx" "$cy" 4 200 > "$work/classic"
check_run "$work/classic" "#000000:1 #ffffff:2" 200 \
    || fail "Classic, Slow: $(head -20 "$work/classic")"
xdotool key Escape
e2e_until 20 still || fail "the screen still changes after the second Escape"
stop
echo "strobe: ok"

# --- Values that cannot be used: one report each, nothing rewritten. ---
wine_reg add "$key" /v Combo1 /t REG_DWORD /d 1 /f > /dev/null
wine_reg add "$key" /v Combo2 /t REG_SZ /d abc /f > /dev/null
start reports 2
stop
[[ "$(stored Combo1) $(stored Combo2)" == "REG_DWORD 0x1 REG_SZ abc" ]] \
    || fail "bad values were rewritten: '$(stored Combo1)' '$(stored Combo2)'"
echo "bad stored values: ok"

# --- A skin and a cursor beside the program. ---
wine_reg delete 'HKCU\Software\Quarnel' /f > /dev/null
cp -r "$here/../../skins/example/x" "$work/program/x"
cp "$here/../../fuzz/corpus/cursorfile/bitmap.cur" "$work/program/HAND-M.CUR"
start
eval "$(xdotool getwindowgeometry --shell "$win")"
skinned_frame() { [[ "$("$tools/screengrab" --pixel $((X + 20)) $((Y + 88)))" == "#2b3a4d" ]]; }
e2e_until 100 skinned_frame || fail "the skin's frame colour is not on screen"
# Over the push buttons the pointer is the cursor file's (32x32, hot spot 5,3).
pointer() { "$tools/cursorgrab" | cut -d' ' -f1-3; }
xdotool mousemove $((X + 268)) $((Y + 171))
# shellcheck disable=SC2016 # eval expands it at each try
e2e_until 50 eval '[[ "$(pointer)" == "32x32 hot 5,3" ]]' \
    || fail "over Start Strobing the pointer is $(pointer), not HAND-M.CUR"
xdotool mousemove $((X + 3)) $((Y + 100))
# shellcheck disable=SC2016 # eval expands it at each try
e2e_until 50 eval '[[ "$(pointer)" != "32x32 hot 5,3" ]]' \
    || fail "over the window's background the pointer stayed HAND-M.CUR"
stop
# A cursor file that is no picture: one report at start-up.
: > "$work/program/HAND-M.CUR"
start reports 1
stop
echo "skin and cursor beside the program: ok"
echo "Wine end-to-end: ok"
