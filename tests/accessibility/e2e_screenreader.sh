#!/usr/bin/env bash
# The program as a screen reader sees it: a session bus with the
# accessibility bus switched on, as a desktop does when a screen reader
# runs, and screenreader.py reading the tree and its events over AT-SPI.
#   e2e_screenreader.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" dbus-run-session -- "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress >/dev/null || fail "no accessibility bus"
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
    variant:boolean:true >/dev/null || fail "cannot switch accessibility on"

e2e_home 1 0
e2e_start
# Debian's Python, which has the AT-SPI bindings, whatever python3 is first on PATH.
/usr/bin/python3 "$(dirname "$0")/screenreader.py" "$win" || fail "see above"
e2e_stop
echo "screen reader end-to-end: ok"
