"""The floor model: when the popups of a burst would be gone if the user-interface
thread did nothing but what every popup's own window costs; and the percentiles the
figures are given in."""
import heapq
import statistics

# One popup's own sequence with no delay: 40 opening ticks, the 2 s hold, 38
# collapsing ticks, at about 11 ms a tick under Wine.
SEQUENCE_S = 2.9


def floor_gone_s(starts, opening, closing, move_s, expose_s=0.0, create_s=0.0, destroy_s=0.0,
                 stats=None):
    """When the last popup of a burst would be gone if the one user-interface thread
    did nothing but what every popup's own window costs: created and shown (create_s),
    one move per step (move_s; a growing step's exposure handled, expose_s more) and
    destroyed (destroy_s). Popup i starts at starts[i] with its first move and then
    follows a login popup's timers: a timer is next due its interval after its tick
    was handled, one tick at a time. `opening` counts the first move; the tick that
    starts the hold, the one that ends it and the last one move nothing. `stats`, a
    dict, gets the effect ticks and how late they came in all (`late_ticks`, `late_s`)."""
    tick, hold = 0.010, 2.0
    grow = move_s + expose_s
    # (cost, interval to the next step) of each step, the first move included
    steps = ([(create_s + grow, tick)] + [(grow, tick)] * (opening - 1) +
             [(0.0, hold), (0.0, tick)] + [(move_s, tick)] * closing + [(destroy_s, None)])
    due = [(t, i, 0) for i, t in enumerate(starts)]
    heapq.heapify(due)
    now = gone = late = 0.0
    ticks = 0
    while due:
        at, popup, step = heapq.heappop(due)
        start = max(now, at)
        if 0 < step and steps[step - 1][1] == tick:
            ticks += 1
            late += start - at
        cost, interval = steps[step]
        now = start + cost
        if interval is None:
            gone = max(gone, now)
        else:
            heapq.heappush(due, (start + interval, popup, step + 1))
    if stats is not None:
        stats.update(late_ticks=ticks, late_s=late)
    return gone


def median(values):
    return percentile(values, 50)


def percentile(values, p):
    """The p-th percentile (a whole number from 1 to 99) of `values`, between the two
    nearest of them; None without values."""
    if len(values) < 2:
        return values[0] if values else None
    return statistics.quantiles(values, n=100, method="inclusive")[p - 1]
