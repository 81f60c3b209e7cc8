#!/usr/bin/env bash
# The built program from a terminal: --help and --version answer on standard
# output without a display; with no display at all, or one that cannot be
# opened, it says so in one line and ends with status 1 instead of aborting;
# plain arguments leave the window as it is, and Qt's options that would read
# a file or open the network are refused.
#   e2e_commandline.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/../support/e2e-lib.sh"
program=$build/lumivex

# run <name> <env...> -- <args...>: runs the program without a display,
# keeping its output in $scratch/<name>.out and .err; sets $status.
run() {
    local name=$1
    shift
    local vars=()
    while [[ $1 != -- ]]; do vars+=("$1"); shift; done
    shift
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${vars[@]}" HOME="$HOME" \
        XDG_RUNTIME_DIR="$scratch" timeout 20 "$program" "$@" \
        >"$scratch/$name.out" 2>"$scratch/$name.err" || status=$?
}

for option in --help -h; do
    run help -- "$option"
    [[ $status == 0 ]] || fail "$option: status $status"
    head -n1 "$scratch/help.out" | grep -q '^Usage: lumivex' || fail "$option: $(head -n3 "$scratch/help.out")"
    grep -q -- '--version' "$scratch/help.out" || fail "$option does not name --version"
    [[ ! -s "$scratch/help.err" ]] || fail "$option wrote to stderr: $(cat "$scratch/help.err")"
done
for option in --version -v; do
    run version -- "$option" ignored
    [[ $status == 0 ]] || fail "$option: status $status"
    grep -qx 'Lumivex [0-9][0-9.]*' "$scratch/version.out" || fail "$option: $(cat "$scratch/version.out")"
done

# No display, a display that is not there, a platform that cannot start.
cases=(
    "no display|--"
    "dead X display|DISPLAY=:7391 --"
    "dead Wayland display|WAYLAND_DISPLAY=lumivex-none QT_QPA_PLATFORM=wayland --"
)
for entry in "${cases[@]}"; do
    name=${entry%%|*}
    read -r -a vars <<<"${entry#*|}"
    run nodisplay "${vars[@]}" some-argument
    [[ $status == 1 ]] || fail "$name: status $status: $(cat "$scratch/nodisplay.err")"
    [[ $(wc -l <"$scratch/nodisplay.err") == 1 ]] \
        || fail "$name: not one line: $(cat "$scratch/nodisplay.err")"
    grep -q '^lumivex: Lumivex needs a graphical display' "$scratch/nodisplay.err" \
        || fail "$name: $(cat "$scratch/nodisplay.err")"
    [[ ! -s "$scratch/nodisplay.out" ]] || fail "$name wrote to stdout"
    echo "$name: $(cat "$scratch/nodisplay.err")"
done

# A Wayland-only session without Qt's Wayland plugin (a copy of the program
# whose qt.conf points at plugins without it) names the missing package.
mkdir -p "$scratch/noway/plugins/platforms"
cp "$program" "$scratch/noway/lumivex"
printf '[Paths]\nPlugins=%s\n' "$scratch/noway/plugins" >"$scratch/noway/qt.conf"
program=$scratch/noway/lumivex
run noway XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=wayland-0 --
if [[ $status != 1 ]] || ! grep -q 'qt6-wayland' "$scratch/noway.err"; then
    fail "without the Wayland plugin: status $status: $(cat "$scratch/noway.err")"
fi
echo "no Wayland plugin: $(cat "$scratch/noway.err")"
program=$build/lumivex

# With a display, plain arguments change nothing and unknown options are named;
# Qt's options that read files are refused in one line, so a pipe given to
# them cannot hold start-up and a style sheet cannot set the window's title.
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
    cat >"$scratch/window.sh" <<SH
#!/bin/sh
"$program" "\$@" >"$scratch/window.out" 2>"$scratch/window.err" &
p=\$!
timeout 15 xdotool search --sync --onlyvisible --name '^Lumivex Software\$' >/dev/null
found=\$?
kill \$p
exit \$found
SH
    chmod +x "$scratch/window.sh"
    xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$scratch/window.sh" party -x \
        || fail "with arguments the window did not open"
    grep -q 'ignoring -x' "$scratch/window.err" || fail "the unknown option was not named"

    mkfifo "$scratch/pipe"
    printf 'QWidget { qproperty-windowTitle: "Taken"; }\n' >"$scratch/title.qss"
    refused=(
        "-stylesheet $scratch/pipe"
        "-stylesheet=$scratch/title.qss"
        "--stylesheet $scratch/title.qss"
        "-qwindowicon $scratch/pipe"
        "-platformpluginpath $scratch"
        "-platform vnc"
        "--platform VNC"
        "-platform xcb;vnc:size=64x64"
        "-platform eglfs"
        "-plugin tuiotouch"
        "--plugin evdevmouse"
        "-testability"
    )
    for entry in "${refused[@]}"; do
        read -r -a args <<<"$entry"
        xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$scratch/window.sh" "${args[@]}" \
            || fail "$entry: the window did not open as it is: $(cat "$scratch/window.err")"
        [[ $(grep -c '^lumivex: refusing ' "$scratch/window.err") == 1 ]] \
            || fail "$entry: not refused in one line: $(cat "$scratch/window.err")"
        grep -qF -- "refusing $entry (" "$scratch/window.err" \
            || fail "$entry: $(cat "$scratch/window.err")"
    done
    # The environment's platform and generic plugins are refused alike.
    for entry in QT_QPA_PLATFORM=vnc QT_QPA_GENERIC_PLUGINS=tuiotouch; do
        env "$entry" xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$scratch/window.sh" \
            || fail "$entry: the window did not open: $(cat "$scratch/window.err")"
        grep -qF -- "refusing $entry (" "$scratch/window.err" \
            || fail "$entry: $(cat "$scratch/window.err")"
    done
    # Qt reads -qwindowicon in a pass before -style's: it is no value of -style.
    xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$scratch/window.sh" \
        -style -qwindowicon "$scratch/pipe" \
        || fail "-style -qwindowicon: the window did not open: $(cat "$scratch/window.err")"
    grep -qF -- "refusing -qwindowicon $scratch/pipe (" "$scratch/window.err" \
        || fail "-style -qwindowicon: $(cat "$scratch/window.err")"
fi
echo "command line end-to-end: ok"
