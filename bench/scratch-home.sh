# shellcheck shell=bash
# Sourced by the benchmarks: a throwaway home for the program under test, so
# that it never reads or writes the user's settings, and an xdg-open that
# opens nothing. Expects $scratch to name an empty folder.
: "${scratch:?the benchmark names its scratch folder first}"
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME" "$scratch/bin"
printf '#!/bin/sh\n' > "$scratch/bin/xdg-open"
chmod +x "$scratch/bin/xdg-open"
export PATH=$scratch/bin:$PATH
