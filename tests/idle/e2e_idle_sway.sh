#!/usr/bin/env bash
# The strobe holds idle off under a Wayland compositor through its idle-inhibit
# protocol: sway's tree shows the strobe's window with "inhibit_idle": true,
# and no inhibitor after Escape. sway runs headless; wtype types through its
# virtual keyboard. sway refuses to run as root, so root runs it as nobody.
#   e2e_idle_sway.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ $(id -u) -eq 0 ]]; then
    exec setpriv --reuid=65534 --regid=65534 --clear-groups "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"
# Under the sanitizers: Qt's Wayland plugin leaves allocations at exit whose
# frames lie in plugins already unloaded, which no suppression can name, so
# the leak check is off for the program here; every other check stays on.
export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}detect_leaks=0

export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf 'output * resolution 1024x768\n' >"$scratch/sway.conf"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$scratch/sway.conf" >"$scratch/sway.log" 2>&1 &
helpers+=($!)
sway_ready() {
    compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*" >/dev/null && [[ -S $XDG_RUNTIME_DIR/wayland-1 ]]
}
e2e_until 100 sway_ready || fail "sway did not start: $(tail -5 "$scratch/sway.log")"
SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*" | head -n1)
export SWAYSOCK WAYLAND_DISPLAY=wayland-1

# How many of Lumivex's windows are in the tree, and how many of them inhibit.
windows() { swaymsg -t get_tree | grep -c '"app_id": "com.quarnel.Lumivex"' || true; }
inhibiting() { swaymsg -t get_tree | grep -c '"inhibit_idle": true' || true; }
count_is() { [[ $("$1") == "$2" ]]; }
focused() { swaymsg -q '[con_id=__focused__ app_id="^com\.quarnel\.Lumivex$"] nop' 2>/dev/null; }

e2e_home 1 2
QT_QPA_PLATFORM=wayland "$build/lumivex" &
pid=$!
e2e_until 100 count_is windows 1 || fail "the main window did not appear"
count_is inhibiting 0 || fail "idle is inhibited before the strobe opens"
e2e_until 100 focused || fail "the main window never got the keyboard"

# The style list has the focus: Tab, Tab, Space presses "Start Strobing".
# Each wtype brings a keyboard of its own, whose keymap the client takes in
# first; keys sent at once can be lost, hence the pause before them.
wtype -s 300 -k Tab -k Tab -k space
e2e_until 50 count_is windows 2 || fail "the strobe did not open"
e2e_until 50 count_is inhibiting 1 || fail "the strobe inhibits no idle: $(swaymsg -t get_tree)"

# Escape is pressed again until the strobe has the keyboard and closes.
escape_closes() { wtype -s 300 -k Escape && e2e_until 20 count_is windows 1; }
e2e_until 5 escape_closes || fail "Escape did not close the strobe"
count_is inhibiting 0 || fail "an inhibitor stayed after Escape"
echo "PASS"
