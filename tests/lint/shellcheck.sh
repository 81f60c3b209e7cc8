#!/usr/bin/env bash
# Checks the shell scripts of the source:
#   tests/lint/shellcheck.sh <source dir>
# Runs shellcheck, with the settings of the source's .shellcheckrc, on every file
# ending in .sh and every file whose first line starts a shell, below the
# folders that hold scripts.
set -euo pipefail
cd "$1"
scripts=()
while IFS= read -r -d '' file; do
    if [[ $file == *.sh ]] || head -n1 "$file" | grep -Eq '^#! ?(/usr)?/bin/(env )?(ba)?sh\b'; then
        scripts+=("$file")
    fi
done < <(find .ci bench packaging scripts tests tools -type f ! -name '*.cpp' ! -name '*.h' -print0)
[[ ${#scripts[@]} -gt 0 ]] || { echo "FAIL: no shell scripts found" >&2; exit 1; }
echo "shellcheck: ${#scripts[@]} scripts"
shellcheck "${scripts[@]}"
