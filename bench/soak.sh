#!/bin/bash
# Soak benchmark (not a test): the strobe at "Fast" under Xvfb for a while,
# sampling the program's resident memory from /proc.
#
#   bench/soak.sh [program]            default: build/lumivex
#   SOAK_SECONDS=600                   how long the strobe runs
#   SOAK_INTERVAL=5                    seconds between samples
#
# Prints the samples, then RSS at start, end and peak, CPU time used, and
# whether the end is within 1 MB of the start.
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/lumivex}")
seconds=${SOAK_SECONDS:-600}
interval=${SOAK_INTERVAL:-5}

if [ -z "${SOAK_IN_XVFB:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" env SOAK_IN_XVFB=1 "$0" "$@"
fi

scratch=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
mkdir -p "$scratch/config" "$scratch/bin"
printf '[Lumivex%%20Software]\nCombo1=0\nCombo2=2\n' >"$scratch/config/Quarnel.conf"
printf '#!/bin/sh\necho "$@" >>"%s/opened"\n' "$scratch" >"$scratch/bin/xdg-open"
chmod +x "$scratch/bin/xdg-open"

PATH="$scratch/bin:$PATH" XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=xcb \
    "$program" >"$scratch/program.log" 2>&1 &
pid=$!

windows() { xdotool search --all --onlyvisible --pid "$pid" 2>/dev/null || true; }
main=
for _ in $(seq 1 100); do
    main=$(xdotool search --all --onlyvisible --pid "$pid" --name '^Lumivex Software$' 2>/dev/null \
        | head -n1 || true)
    [ -n "$main" ] && break
    sleep 0.1
done
[ -n "$main" ] || { echo "the main window did not appear" >&2; cat "$scratch/program.log" >&2; exit 1; }
before=$(windows | wc -l)

# The style list has the focus: Tab, Tab reaches "Start Strobing".
xdotool windowfocus --sync "$main" key --delay 50 Tab Tab space
sleep 1
after=$(windows | wc -l)
if [ "$after" -gt "$before" ]; then
    echo "strobe window: open"
else
    echo "strobe window: not seen (the figures below are for the idle main window)"
fi

# Black onsets seen in a few seconds of sampling the middle of the screen, on
# the monotonic clock.
sampler=$(dirname "$program")/tools/pixelsampler
onsets() {
    PIXELSAMPLER_ABSOLUTE=1 nice -n 10 "$sampler" 640 512 6 \
        | awk 'prev != "" && $2 == "#000000" && prev != "#000000" { print $1 } { prev = $2 }'
}
[ -x "$sampler" ] && onsets >"$scratch/onsets-start"

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
ticks=$(getconf CLK_TCK)
start=$(rss)
peak=$start
cpu_start=$(cpu)
echo "t(s)  RSS(kB)"
printf '%5d  %d\n' 0 "$start"
elapsed=0
while [ "$elapsed" -lt "$seconds" ]; do
    sleep "$interval"
    elapsed=$((elapsed + interval))
    kill -0 "$pid" 2>/dev/null || { echo "the program ended during the soak" >&2; exit 1; }
    now=$(rss)
    [ "$now" -gt "$peak" ] && peak=$now
    printf '%5d  %d\n' "$elapsed" "$now"
done
end=$now
[ -x "$sampler" ] && onsets >"$scratch/onsets-end"
cpu_used=$(( $(cpu) - cpu_start ))

echo "duration: ${seconds} s"
echo "RSS start: ${start} kB"
echo "RSS end:   ${end} kB"
echo "RSS peak:  ${peak} kB"
echo "CPU time:  $(awk -v t="$cpu_used" -v hz="$ticks" -v s="$seconds" \
    'BEGIN { printf "%.2f s (%.1f %% of one core)", t / hz, 100 * t / hz / s }')"
# Classic at Fast shows black once every 300 ms. On a fixed grid the onsets at
# the end are still a whole number of cycles after those at the start.
if [ -s "$scratch/onsets-start" ] && [ -s "$scratch/onsets-end" ]; then
    awk -v cycle=0.3 '
        NR == FNR { first[++n] = $1; next }
        { last = $1 }
        END {
            span = last - first[1]
            cycles = int(span / cycle + 0.5)
            offset = span - cycles * cycle
            printf "step grid: %d cycles in %.3f s, phase moved by %+.2f ms (%+.5f %%)\n",
                cycles, span, offset * 1000, offset / span * 100
        }' "$scratch/onsets-start" "$scratch/onsets-end"
else
    echo "step grid: no black onsets seen (is the strobe running?)"
fi
drift=$((end - start))
if [ "${drift#-}" -le 1024 ]; then
    echo "end within 1 MB of start: yes (${drift} kB)"
else
    echo "end within 1 MB of start: NO (${drift} kB)"
fi
