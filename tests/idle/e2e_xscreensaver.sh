#!/usr/bin/env bash
# xscreensaver counts input itself, not the X server's idle time, and with no
# session bus its screen saver service is not there to take an inhibit. With
# xscreensaver set to blank after a minute (its shortest in its own settings)
# and no session bus, the strobe stays on screen, unblanked, past that
# minute without any input: the program tells xscreensaver to stay off.
#   e2e_xscreensaver.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec env -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR \
        xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
unset DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR

blank_after=60
printf '%s\n' 'timeout: 0:01:00' 'lock: False' 'mode: blank' 'fade: False' 'unfade: False' \
    'splash: False' 'dpmsEnabled: False' > "$HOME/.xscreensaver"
xscreensaver --no-splash > "$scratch/xscreensaver.log" 2>&1 &
helpers+=($!)
saver_time() { xscreensaver-command -time 2>/dev/null; }
e2e_until 100 saver_time > /dev/null || fail "xscreensaver did not start"

strobe_colours=" #ff0000 #00ff00 #0000ff #00ffff #ff00ff #ffff00 "
strobe_shows() { [[ "$strobe_colours" == *" $("$build/tools/pixelsampler" --once 512 384) "* ]]; }

e2e_home 1 2
e2e_start
# The last input xscreensaver sees: Tab Tab Space on "Start Strobing".
xdotool windowfocus --sync "$win"
xdotool key --delay 80 Tab Tab space
opened=$SECONDS
e2e_until 100 strobe_shows || fail "the strobe did not open"

# Past the timeout, with a margin for xscreensaver's own once-a-second check.
while ((SECONDS - opened < blank_after + 5)); do
    state=$(saver_time) || fail "xscreensaver ended: $(cat "$scratch/xscreensaver.log")"
    [[ $state == *non-blanked* ]] \
        || fail "xscreensaver blanked the strobe after $((SECONDS - opened)) s: $state"
    strobe_shows || fail "the strobe is not on screen after $((SECONDS - opened)) s"
    sleep 1
done
echo "the strobe stayed on screen, unblanked, for $((SECONDS - opened)) s"
xdotool key Escape
echo "PASS"
