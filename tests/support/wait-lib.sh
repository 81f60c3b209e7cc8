# shellcheck shell=bash
# Waiting on conditions, for every test script: e2e-lib.sh, the Wine tests and
# the package test source it. Each polls every tenth of a second.
#   e2e_until <tenths> <command...>   waits up to $1 tenths of a second for the
#                                     command to succeed
#   e2e_stays <tenths> <command...>   whether the command keeps succeeding for
#                                     $1 tenths of a second (nothing takes it away)
#   wait_for_colour <colour...>       waits until the screen at $cx,$cy, read
#                                     with $sampler, shows one of the colours
#   check_steps <samples> <pattern> <ms> [lengths file]
#                                     checks the colour changes sampled at one
#                                     point (see check-steps.awk)

wait_lib=$(dirname "${BASH_SOURCE[0]}")

e2e_until() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

e2e_stays() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" || return 1
        sleep 0.1
    done
}

wait_for_colour() {
    local now colour
    for _ in $(seq 100); do
        now=$("${sampler:?}" --once "${cx:?}" "${cy:?}")
        for colour in "$@"; do [[ "$now" == "$colour" ]] && return 0; done
        sleep 0.1
    done
    fail "the screen never showed $*"
}

check_steps() {
    awk -v pattern="$2" -v nominal="$3" -v lengths="${4:-}" -f "$wait_lib/check-steps.awk" "$1"
}
