#!/usr/bin/env python3
"""Reads what frameprobe printed while the strobe ran and says how many
refreshes each step lasted and how long after its refresh each change came.

    framecounts.py STEP_MS [--colours '#000000 #ffffff'] [--each] < probe output

The refreshes are fitted to one line (period and phase; reports more than a
millisecond off it are left out) and each change is put on the refresh whose
fitted start is the last one before it, or at most a quarter of a refresh
after it: a virtual display stamps its made-up refreshes with timers of whole
milliseconds, so a change right after a report can come slightly before the
refresh's ideal time.

Prints key=value pairs on one line:
  changes        colour changes among the given colours, the first two left out
  ratio          refreshes per step at the fitted rate
  rate           the fitted rate in Hz
  counts         how often each number of refreshes per step was seen
  deviations     steps that lasted neither the floor nor the ceiling of the
                 ratio (a change that spans n steps: of n times the ratio). A
                 ratio just above a whole number (12.0005 on a made-up clock
                 of whole microseconds) allows the ceiling too: the steps keep
                 to the time, so now and then one lasts a refresh longer; the
                 drift below says whether there were more of those than the
                 time needs
  drift          the spread of the changes' refreshes around the ideal ones,
                 in refreshes; more than 1 means they drifted by more than
                 half a refresh either way
  after_p50/p99/max  ms from the reported start of a change's refresh to the
                 change (DAMAGE time minus UST)
  within_2ms     the share of changes from 1 ms before to 2 ms after their
                 refresh
  beyond_3ms     the share of changes more than 3 ms after their refresh
  phase          where in the refresh the changes land, as a fraction of it
With --each, a line for each change first: its time, refresh, ms after it,
the steps since the change before and the refreshes they lasted.
"""
import bisect
import math
import statistics
import sys


def fit(refreshes):
    """Least squares of time on count over the reports less than a millisecond
    off a first guess that a few stray reports cannot pull: the median period
    between reports half the list apart, and the median phase with it. (At a
    refresh or two a second, one stray report pulls a plain least-squares line
    more than a millisecond away from all the others.)"""
    def line(points):
        n = len(points)
        mm = sum(m for m, _ in points) / n
        mu = sum(u for _, u in points) / n
        var = sum((m - mm) ** 2 for m, _ in points)
        period = sum((m - mm) * (u - mu) for m, u in points) / var
        return period, mu - period * mm

    base = refreshes[0][0]
    points = [(m - base, u) for m, u in refreshes]
    half = len(points) // 2
    period = statistics.median(
        (points[i + half][1] - points[i][1]) / (points[i + half][0] - points[i][0])
        for i in range(len(points) - half)
        if points[i + half][0] != points[i][0])
    origin = statistics.median(u - period * m for m, u in points)
    kept = [(m, u) for m, u in points if abs(u - (origin + period * m)) < 1000]
    if len({m for m, _ in kept}) >= 2:
        period, origin = line(kept)
    return period, origin - period * base


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, math.ceil(share * len(ordered)) - 1))]


def main():
    step_us = float(sys.argv[1]) * 1000
    colours = set("#000000 #ffffff".split())
    if "--colours" in sys.argv[2:-1]:
        colours = set(sys.argv[sys.argv.index("--colours") + 1].split())
    each = "--each" in sys.argv[2:]
    refreshes, changes = [], []
    for line in sys.stdin:
        words = line.split()
        if len(words) == 3 and words[0] == "refresh":
            refreshes.append((int(words[1]), int(words[2])))
        elif len(words) == 3 and words[0] == "change" and words[2] in colours:
            changes.append(int(words[1]))
    changes = changes[2:]
    if len(refreshes) < 10 or len(changes) < 3:
        print("changes=%d refreshes=%d too-few" % (len(changes), len(refreshes)))
        return 1
    period, origin = fit(refreshes)
    reported = dict(refreshes)
    ratio = step_us / period

    mscs, after, phases = [], [], []
    for t in changes:
        x = (t - origin) / period
        msc = math.floor(x + 0.25)
        mscs.append(msc)
        phases.append(x - math.floor(x))
        ust = reported.get(msc)
        if ust is None:
            # No report of that refresh reached the probe: its fitted time.
            ust = origin + period * msc
        after.append((t - ust) / 1000)

    counts, deviations, steps = {}, 0, [0]
    for i in range(1, len(changes)):
        n = max(1, round((changes[i] - changes[i - 1]) / step_us))
        steps.append(steps[-1] + n)
        frames = mscs[i] - mscs[i - 1]
        if n == 1:
            counts[frames] = counts.get(frames, 0) + 1
        off = frames not in (math.floor(n * ratio), math.ceil(n * ratio))
        if off:
            deviations += 1
        if each:
            print("change %d refresh %d after %.3f steps %d refreshes %d%s"
                  % (changes[i], mscs[i], after[i], n, frames, " off" if off else ""))
    drifts = [(mscs[i] - mscs[0]) - steps[i] * ratio for i in range(len(changes))]
    within = sum(1 for a in after if -1.0 <= a <= 2.0) / len(after)
    beyond = sum(1 for a in after if a > 3.0) / len(after)
    print(
        "changes=%d rate=%.3f ratio=%.4f counts=%s deviations=%d drift=%.3f "
        "after_p50=%.3f after_p99=%.3f after_max=%.3f within_2ms=%.3f beyond_3ms=%.3f "
        "phase=%.2f"
        % (
            len(changes), 1e6 / period, ratio,
            ",".join("%d:%d" % (k, counts[k]) for k in sorted(counts)),
            deviations, max(drifts) - min(drifts),
            statistics.median(after), percentile(after, 0.99), max(after), within, beyond,
            statistics.median(phases),
        )
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
