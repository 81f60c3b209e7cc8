# Shared pieces of the end-to-end scripts that run the built program on a
# virtual X display. Source it after setting $build; it sets up a scratch
# home with stored choices, a fake xdg-open and clean-up on exit.
#   e2e_home <style index> <speed index>   scratch home with those choices
#   e2e_start [env assignments...]         starts the program, sets $pid, $win
#   e2e_stop                               ends the program if still running

scratch=$(mktemp -d)
pid=""
e2e_cleanup() { [[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$scratch"; }
trap e2e_cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME=$scratch XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME" "$scratch/bin"
# The occasional home page must never start a real browser.
printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$scratch" > "$scratch/bin/xdg-open"
chmod +x "$scratch/bin/xdg-open"
export PATH=$scratch/bin:$PATH

e2e_home() {
    printf '[Lumivex%%20Software]\nCombo1=%s\nCombo2=%s\n' "$1" "$2" \
        > "$XDG_CONFIG_HOME/Quarnel.conf"
}

e2e_start() {
    env "$@" "$build/lumivex" &
    pid=$!
    win=$(timeout 15 xdotool search --sync --onlyvisible --name '^Lumivex Software$' | head -n1) \
        || fail "main window did not appear"
}

# Waits up to $1 tenths of a second for the command after it to succeed.
e2e_until() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

e2e_stop() {
    [[ -z "$pid" ]] && return 0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}
