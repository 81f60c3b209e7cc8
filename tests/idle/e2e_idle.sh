#!/usr/bin/env bash
# The real program holds the screen saver off while the strobe runs: a
# stand-in org.freedesktop.ScreenSaver on a private session bus records an
# Inhibit at Start and the UnInhibit of that cookie at Escape, and loses the
# inhibit of a program that is killed; the X server's idle time, which its
# own screen saver and power saving count from, keeps being reset while the
# strobe runs without input and grows again once it has closed.
#   e2e_idle.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

log=$scratch/screensaver.log
"$build/tests/idle/fakescreensaver" >"$log" 2>&1 &
helpers+=($!)
e2e_until 100 grep -qx ready "$log" || fail "the stand-in screen saver did not start"

held() { [[ $(grep '^held ' "$log" | tail -n1) == "held $1" ]]; }
# The longest time without input the X server reports over $1 seconds.
longest_idle() { "$build/tools/saverstate" "$1" | cut -d' ' -f2; }
# "Start Strobing" from the style list (the focus at start), or with "again"
# from the button itself, where the focus is back after Escape.
start_strobe() {
    xdotool windowfocus --sync "$win"
    if [[ ${1:-} == again ]]; then xdotool key space; else xdotool key --delay 80 Tab Tab space; fi
}

e2e_home 1 2
e2e_start
held 0 || fail "something is inhibited before the strobe opens: $(cat "$log")"

start_strobe
e2e_until 50 held 1 || fail "no Inhibit at Start: $(cat "$log")"
read -r _ cookie app _ < <(grep '^inhibit ' "$log" | tail -n1)
[[ $app == Lumivex* ]] || fail "inhibited as '$app'"
idle=$(longest_idle 3)
((idle < 1500)) || fail "the X server went ${idle} ms without a reset while the strobe ran"

xdotool key Escape
e2e_until 50 held 0 || fail "no UnInhibit at Escape: $(cat "$log")"
grep -qx "uninhibit $cookie known" "$log" || fail "UnInhibit of another cookie: $(cat "$log")"
idle=$(longest_idle 2.5)
((idle >= 2000)) || fail "the X server's idle time was still reset after Escape (${idle} ms)"
kill -0 "$pid" || fail "the program ended at Escape"

# A second opening holds again; a killed program holds nothing.
start_strobe again
e2e_until 50 held 1 || fail "no Inhibit at the second Start: $(cat "$log")"
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
pid=""
e2e_until 50 held 0 || fail "the killed program's inhibit stayed: $(cat "$log")"
grep -q '^gone ' "$log" || fail "the inhibit went without its client leaving: $(cat "$log")"
echo "PASS"
