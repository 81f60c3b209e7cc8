# Checks the colour changes sampled at one point of the strobe, a line each:
# "<seconds> <colour>". The colours must cycle as -v pattern gives them
# ("colour:steps ..."), and about every whole step must last -v nominal
# milliseconds. The bounds are loose and a fifth of the steps may miss them:
# a busy machine is late now and then. With -v lengths=<file>, each step's
# length in milliseconds goes to that file.
BEGIN { n = split(pattern, want, " ") }
{ t[NR] = $1 * 1000; c[NR] = $2 }
END {
    if (NR < 12) { print "too few colour changes: " NR; exit 1 }
    # Find where the pattern starts among the first changes.
    for (s = 1; s <= n; s++) { split(want[s], p, ":"); if (c[2] == p[1]) break }
    if (s > n) { print "unexpected colour " c[2]; exit 1 }
    bad = 0; steps = 0
    for (i = 2; i < NR; i++) {
        split(want[s], p, ":")
        if (c[i] != p[1]) { print "change " i ": " c[i] " where " p[1] " was due"; exit 1 }
        len = (t[i + 1] - t[i]) / p[2]
        if (len < 0.7 * nominal || len > 1.3 * nominal) bad++
        if (lengths != "") print len > lengths
        steps++
        s = s % n + 1
    }
    if (bad > steps / 5) { print bad " of " steps " steps far from nominal"; exit 1 }
    printf "%d changes checked, %d off by more than 30%%\n", steps, bad
}
