# shellcheck shell=bash
# Shared pieces of the end-to-end scripts that run the built program on a
# virtual X display. Source it after setting $build; it sets up a scratch
# home with stored choices, a fake xdg-open and clean-up on exit, and brings
# the waits of wait-lib.sh.
#   e2e_home <style index> <speed index>   scratch home with those choices
#   e2e_start [env assignments...]         starts the program, sets $pid, $win
#   e2e_launch [env assignments...]        starts it without waiting, sets $pid
#                                          (the program is $build/lumivex, or
#                                          $program when a script sets it)
#   e2e_report_box                         whether an "Application Error" box
#                                          is up; sets $box
#   e2e_stop                               ends the program if still running
#   helpers+=($!)                          a helper process to end on exit
#   e2e_two_monitors                       splits a 2560x800 screen into two
#                                          monitors, L and R, of 1280x800
#   fail_shown <message...>                fails, keeping a picture of the
#                                          screen in $SHOT when that is set
#   e2e_no_image_plugins <when>            fails if the program has loaded an
#                                          image format plugin
#   e2e_strobe_up <step>, e2e_main_back <step>
#                                          the strobe opens over the screen
#                                          with the keyboard; it closes and the
#                                          main window has the keyboard again

# shellcheck source=wait-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wait-lib.sh"

scratch=$(mktemp -d)
pid=""
helpers=()
e2e_cleanup() {
    # A helper forked but not yet running its own program holds this trap too.
    [[ $BASHPID == "$$" ]] || return 0
    local helper tries alive
    local -a ending=()
    for helper in "$pid" "${helpers[@]}"; do
        if [[ -n "$helper" ]] && kill "$helper" 2>/dev/null; then
            # A stopped process acts on the signal only once it runs again.
            kill -CONT "$helper" 2>/dev/null || true
            ending+=("$helper")
        fi
    done
    # A window manager may still be writing into the scratch home as it
    # ends; removing the home under it fails the run after it passed. All
    # of them share one deadline.
    for ((tries = 0; tries < 50; tries++)); do
        alive=0
        for helper in "${ending[@]}"; do
            if kill -0 "$helper" 2>/dev/null; then alive=1; fi
        done
        ((alive)) || break
        sleep 0.1
    done
    for helper in "${ending[@]}"; do
        if kill -0 "$helper" 2>/dev/null; then kill -KILL "$helper" 2>/dev/null || true; fi
    done
    for ((tries = 0; tries < 5; tries++)); do
        rm -rf "$scratch" 2>/dev/null && return 0
        sleep 0.2
    done
    echo "could not remove the scratch home $scratch" >&2
}
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

# shellcheck disable=SC2120 # with or without assignments
e2e_launch() {
    env "$@" "${program:-${build:?}/lumivex}" &
    pid=$!
}

# shellcheck disable=SC2120 # with or without assignments
e2e_start() {
    e2e_launch "$@"
    e2e_until 150 e2e_main_window || fail "main window did not appear"
}

# A window that goes while xdotool walks the tree (a copy just killed, a
# window manager's own) ends the search with an X error: it is only tried again.
e2e_main_window() {
    # shellcheck disable=SC2034 # for the script that sourced this
    win=$(xdotool search --onlyvisible --name '^Lumivex Software$' 2>/dev/null | head -n1)
    [[ -n $win ]]
}

e2e_report_box() {
    box=$(xdotool search --onlyvisible --name '^Application Error$' 2>/dev/null | head -n1)
    [[ -n $box ]]
}

e2e_two_monitors() {
    xrandr --setmonitor L 1280/340x800/212+0+0 screen >/dev/null
    xrandr --setmonitor R 1280/340x800/212+1280+0 none >/dev/null
    [[ $(xrandr --listmonitors | head -n1) == "Monitors: 2" ]] || fail "no two monitors"
}

e2e_stop() {
    [[ -z "$pid" ]] && return 0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}

fail_shown() {
    [[ -z ${SHOT:-} ]] || "$build/tools/screengrab" "$SHOT"
    fail "$@"
}

# Nothing the windows draw needs an image format plugin (JPEG, GIF, ICO...):
# loading one, and the libraries behind it, costs start-up time and memory.
e2e_no_image_plugins() {
    local loaded
    loaded=$(grep -o '[^ ]*/imageformats/[^ ]*' "/proc/$pid/maps" | sort -u | tr '\n' ' ') || true
    [[ -z "$loaded" ]] || fail "$1: image plugins loaded: $loaded"
}

# The script says how to tell the state of its display, and sets $where (the
# window manager or compositor, for the messages):
#   strobe_focused  the strobe is up, full screen where that can be told, and
#                   has the keyboard
#   all_strobe      every pixel of the screen shows a strobe colour; leaves
#                   the colours seen in $scratch/colours
#   strobe_gone     the strobe is closed
#   main_focused    the main window has the keyboard
#   focus_name      names the window that has the keyboard
# H I D E, which only the strobe understands, takes the hint out of the
# corner.
e2e_strobe_up() {
    local step=$1 where=${where:?}
    e2e_until 100 strobe_focused \
        || fail "$where, $step: the strobe is not up with the keyboard, $(focus_name) has it"
    xdotool key --delay 30 h i d e
    e2e_until 30 all_strobe || fail_shown "$where, $step: not every pixel is strobe:" \
        "$(sort -k2 -n -r "$scratch/colours" | head -5 | tr '\n' ' ')"
    echo "$where, $step: the strobe covers the screen and has the keyboard"
}

e2e_main_back() {
    local step=$1 where=${where:?}
    e2e_until 50 strobe_gone || fail "$where, $step: the strobe stayed"
    kill -0 "$pid" 2>/dev/null || fail "$where: the program ended"
    e2e_until 50 main_focused \
        || fail "$where, $step: the keyboard went to $(focus_name), not the main window"
    echo "$where, $step: the strobe closed, the main window has the keyboard"
}
