# shellcheck shell=bash
# Wine for the Windows tests. Source it, then call wine_env <build dir>: every
# test run has a prefix of its own in the build folder (made by the wine_prefix
# test, removed at the end of the run), its own home folder, no debug output,
# no menu entries or crash dialogs on the host, and the build folder's DLLs
# and Qt plugins in reach.
#   wine_env <build dir> [name]  sets WINEPREFIX (<build dir>/wine/<name>, default
#                             "prefix") and the rest; $wine runs a program
#   wine_stop                 ends every Wine process of the prefix
#   winpath <unix path>       the same path as Windows programs see it (drive Z:)
#   wine_reg <reg.exe args>   runs Wine's reg.exe, its output in plain text
# and the waits of ../support/wait-lib.sh.

# shellcheck source=../support/wait-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/wait-lib.sh"

wine=${WINE:-}
if [[ -z "$wine" ]]; then
    for candidate in wine64 /usr/lib/wine/wine64 wine; do
        if command -v "$candidate" > /dev/null; then
            wine=$(command -v "$candidate")
            break
        fi
    done
fi
wineserver=${WINESERVER:-}
if [[ -z "$wineserver" ]]; then
    for candidate in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
        if command -v "$candidate" > /dev/null; then
            wineserver=$(command -v "$candidate")
            break
        fi
    done
fi

fail() { echo "FAIL: $*" >&2; exit 1; }

winpath() { printf 'Z:%s' "${1//\//\\}"; }

wine_env() {
    [[ -n "$wine" && -n "$wineserver" ]] || fail "Wine is not installed (Debian: wine64)"
    local build
    build=$(cd "$1" && pwd)
    export WINEPREFIX=$build/wine/${2:-prefix}
    export WINEDEBUG=-all
    # No menu entries for the host's desktop, no .NET or Gecko installers.
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
    export HOME=$build/wine/${2:-prefix}-home
    export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
    export WINEPATH
    WINEPATH=$(winpath "$build")
    # Wine keeps the host's QT_ variables from Windows programs; a WINE in
    # front passes one on.
    export WINEQT_PLUGIN_PATH
    WINEQT_PLUGIN_PATH=$(winpath "$build/plugins")
    local name
    for name in $(compgen -e | grep '^QT_'); do
        export "WINE$name=${!name}"
    done
    # shellcheck disable=SC2034 # exported by the loop above
    [[ -z "${QT_QPA_FONTDIR:-}" ]] || WINEQT_QPA_FONTDIR=$(winpath "$QT_QPA_FONTDIR")
    mkdir -p "$HOME/bin"
    # The occasional home page goes through Wine's browser launcher to the
    # host's xdg-open: record it instead of starting a real browser.
    printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$HOME" > "$HOME/bin/xdg-open"
    chmod +x "$HOME/bin/xdg-open"
    export PATH=$HOME/bin:$PATH
}

wine_stop() {
    [[ -n "${WINEPREFIX:-}" ]] || return 0
    timeout 20 "$wineserver" -k 2> /dev/null || true
    timeout 20 "$wineserver" -w 2> /dev/null || true
}

# reg.exe writes UTF-16 line ends as CR LF; strip the CRs.
wine_reg() { timeout 60 "$wine" reg "$@" 2> /dev/null | tr -d '\r'; }

# The visible window titled exactly $1, if any.
window_named() { xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n1; }
