#!/usr/bin/env bash
# Checks where system code may live:
#   tests/lint/layers.sh <source dir>
# - timing links Qt Core and the program's own errors and handles only, and no
#   source of it includes a window system's headers;
# - system headers are included only under a folder named for the system
#   (timing/linux, timing/windows, strobe/x11);
# - no source at the top of src/strobe includes xcb, Xlib or Windows headers;
# - no source file is over 500 lines.
set -euo pipefail
cd "$1"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

links=$(tr '\n' ' ' < src/timing/CMakeLists.txt | grep -o 'target_link_libraries([^)]*)' || true)
if grep -Eq 'Widgets|Gui|X11|xcb|[Ww]ayland' <<< "$links"; then
    fail "src/timing links more than Qt Core: $links"
fi

window_system='#include *<(xcb/|X11/|wayland-|xkbcommon|QtGui|QtWidgets|QGuiApplication|QWidget|QWindow|QScreen|QColor|QImage|QPainter)'
operating_system='#include *<(sys/|unistd\.h|poll\.h|pthread\.h|dbus/|qt_windows\.h|windows\.h|mmsystem\.h)'
while IFS= read -r file; do
    fail "$file includes a window system's headers"
done < <(grep -ElE "$window_system" -r src/timing || true)
while IFS= read -r file; do
    fail "$file includes an operating system's headers outside src/timing/<system>/"
done < <(grep -ElE "$operating_system" src/timing/*.h src/timing/*.cpp || true)
while IFS= read -r file; do
    fail "$file includes X11 or Windows headers outside src/strobe/x11/"
done < <(grep -ElE '#include *<(xcb/|X11/|xkbcommon/xkbcommon-x11|qt_windows\.h|windows\.h)' \
    src/strobe/*.h src/strobe/*.cpp || true)

while IFS= read -r -d '' file; do
    lines=$(wc -l < "$file")
    if (( lines > 500 )); then
        fail "$file has $lines lines (at most 500)"
    fi
done < <(find src tests tools bench fuzz scripts -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \) -print0)

[[ $failed -eq 0 ]] && echo "layers: ok"
exit "$failed"
