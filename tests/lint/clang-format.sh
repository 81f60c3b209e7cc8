#!/usr/bin/env bash
# Checks that the C++ sources are formatted as the source's .clang-format says:
#   tests/lint/clang-format.sh <clang-format> <source dir>
# Every C and C++ file below the folders that hold code, except what a build
# writes (Qt's generated moc_, ui_ and qrc_ files, wayland-scanner's protocol
# code, anything inside a build folder), must come out of clang-format as it
# is. The clang-format of Debian 12 (version 14) is the judge: other versions
# break some lines differently.
set -euo pipefail
format=$1
cd "$2"
[[ -f .clang-format ]] || { echo "FAIL: no .clang-format in $PWD" >&2; exit 1; }
files=()
while IFS= read -r -d '' file; do
    files+=("$file")
done < <(find src tests tools bench fuzz \
    -type d -exec test -f '{}/CMakeCache.txt' ';' -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) \
    ! -name 'moc_*' ! -name 'ui_*' ! -name 'qrc_*' ! -name '*-protocol.[ch]' -print0 | sort -z)
[[ ${#files[@]} -gt 0 ]] || { echo "FAIL: no C++ sources found" >&2; exit 1; }
echo "$("$format" --version): ${#files[@]} files"
if ! "$format" --style=file --dry-run -Werror "${files[@]}"; then
    echo "FAIL: the files named above are not formatted; run: $format -i <file>" >&2
    exit 1
fi
