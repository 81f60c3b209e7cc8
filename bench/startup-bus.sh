#!/usr/bin/env bash
# What the session bus check costs a normal start: the program started RUNS
# times on a virtual X display with a real session bus (a private
# dbus-daemon), from just before exec to the map of its window, in turn with
# the other builds named; prints each one's median and quartiles.
#
#   bench/startup-bus.sh [build dir] [other build of lumivex...]
#   RUNS=n   starts of each program (default 40)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
shift || true
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$build" "$@"
fi
scratch=$(mktemp -d)
bus=""
cleanup() {
    [[ -z "$bus" ]] || kill "$bus" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
# shellcheck source=scratch-home.sh
source "$here/scratch-home.sh"
printf '[Lumivex%%20Software]\nCombo1=0\nCombo2=0\n' >"$XDG_CONFIG_HOME/Quarnel.conf"

dbus-daemon --session --nofork --print-address=3 --print-pid=4 \
    3>"$scratch/address" 4>"$scratch/bus.pid" &
bus=$!
for _ in $(seq 50); do [[ -s "$scratch/address" ]] && break; sleep 0.1; done
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$scratch/address")
export DBUS_SESSION_BUS_ADDRESS
echo "session bus: $DBUS_SESSION_BUS_ADDRESS"
"$build/bench/startupbench" "${RUNS:-40}" "$build/lumivex" "$@"
