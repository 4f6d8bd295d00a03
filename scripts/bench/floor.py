"""The program against its floor: the targets, when the machine is quiet enough to time
anything, and the percentiles the figures are given in."""
import statistics

# One popup's own sequence with no delay: 40 opening ticks, the 2 s hold, 38
# collapsing ticks, at about 11 ms a tick under Wine.
SEQUENCE_S = 2.9

# Times and CPU are compared only when the 1-minute load average at the start of the
# run was under this; then each is the median of this many bursts of each.
QUIET_LOAD = 0.5
TIMED_REPEATS = 3
# The most the program may take of each against the floor.
COUNT_TARGET = 1.03  # wineserver requests and X11 requests per popup
TIME_TARGET = 1.15   # all gone, and CPU (the program's or the floor's, with wineserver)


def why_untimed(load, traced):
    """Why times and CPU are not compared in this run, or None when they are."""
    if traced:
        return "the run is traced (--trace-requests), which slows everything"
    if load is None or load >= QUIET_LOAD:
        shown = "not known" if load is None else f"{load:.2f}"
        return f"the 1-minute load average was {shown} as the run began, not under {QUIET_LOAD}"
    return None


def judged(program, floor, target):
    """(program / floor, "PASS" or "MISS" against target); (None, "-") without figures."""
    if program is None or not floor:
        return None, "-"
    ratio = program / floor
    return ratio, "PASS" if ratio <= target else "MISS"


def median(values):
    return percentile(values, 50)


def percentile(values, p):
    """The p-th percentile (a whole number from 1 to 99) of `values`, between the two
    nearest of them; None without values."""
    if len(values) < 2:
        return values[0] if values else None
    return statistics.quantiles(values, n=100, method="inclusive")[p - 1]
