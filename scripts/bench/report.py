"""The report: what each run measured and how loaded the machine was, the table of
figures of one or more runs, where a burst's time went, the program against its floor
with the targets, and the wineserver requests per popup by name."""

from bench.floor import COUNT_TARGET, QUIET_LOAD, TIME_TARGET, judged


def print_runs(runs):
    """Which build each run measured, and the load it saw before and after."""
    print()
    for run in runs:
        meta = run["meta"]
        label = meta.get("label") or "run"
        loads = [v[0] for v in (meta.get("load_average_before"), meta.get("load_average")) if v]
        # Judged by the load as the run began: the run's own work raises the later figure.
        before = meta.get("load_average_before")
        fit = ("" if before and before[0] < QUIET_LOAD else
               f"; not under {QUIET_LOAD} as it began: UNFIT FOR JUDGING times and CPU "
               "(the request counts stand)")
        print(f"{label}: {meta.get('exe', '?')} ({meta.get('architecture', 'architecture not recorded')}); "
              f"load average before / after: "
              f"{' / '.join(f'{v:.2f}' for v in loads) if loads else 'not recorded'}{fit}")


def rows(r):
    """(figure, unit, value) for one run."""
    def f(v, digits=2):
        return "-" if v is None else f"{v:.{digits}f}"
    out = []
    for mode, name in (("0", "login"), ("1", "logout"), ("2", "notice")) if "single" in r else ():
        s = r["single"][mode]
        out.append((f"single {name}: poke to mapped p50/p90/p99", "ms",
                    "/".join(f(s[f"mapped_ms_{k}"], 1) for k in ("p50", "p90", "p99"))))
        out.append((f"single {name}: poke to visible p50/p90/p99", "ms",
                    "/".join(f(s[f"visible_ms_{k}"], 1) for k in ("p50", "p90", "p99"))))
    for key in (k for k in ("burst50", "burst200") if k in r):
        b = r[key]
        n = b["pokes"]
        out.append((f"burst {n}: all acknowledged", "s", f(b["all_acked_s"])))
        out.append((f"burst {n}: all gone (ideal)", "s", f"{f(b['all_gone_s'])} ({f(b['ideal_s'])})"))
        floor_gone = (b.get("floor") or {}).get("all_gone_s")
        out.append((f"burst {n}: gone / ideal (the floor's)", "x",
                    f"{f(b['gone_ratio'])} ({f(floor_gone / b['ideal_s'] if floor_gone else None)})"))
        out.append((f"burst {n}: ack of the middle poke / slowest", "ms",
                    f"{f(b['mid_ack_ms'], 1)} / {f(b['max_ack_ms'], 1)}"))
        fl = b.get("floor")
        out.append((f"burst {n}: CPU Tindra.exe + wineserver (floor: tindra-bench + wineserver)", "s",
                    f"{f(b['tindra_cpu_s'], 1)} + {f(b['wineserver_cpu_s'], 1)} (" +
                    (f"{f(fl.get('client_cpu_s'), 1)} + {f(fl.get('wineserver_cpu_s'), 1)}" if fl else "-")
                    + ")"))
        out.append((f"burst {n}: CPU of the X server (floor)", "s",
                    f"{f(b.get('xserver_cpu_s'), 1)} ({f((fl or {}).get('xserver_cpu_s'), 1)})"))
        if fl:
            out.append((f"burst {n}: the floor: all gone; open at most; moves a popup", "s; n; n",
                        f"{f(fl['all_gone_s'])}; {fl['most_open']}; {fl['moves'] / n:.0f}"))
    m = r.get("many")
    if not m:
        return out + flood_rows(r, f) + idle_rows(r, f)
    out.append((f"{m['popups']} popups in 50s: gone / ideal, median", "x", f(m["batch_gone_ratio_p50"])))
    for key, unit in (("rss_kib", "KiB"), ("windows", ""), ("gdi_objects", "")):
        b, a = m["before"][key], m["after"][key]
        out.append((f"{m['popups']} popups: {key.replace('_kib', '').replace('_', ' ')} before -> after",
                    unit, f"{'-' if b is None else b} -> {'-' if a is None else a}"))
    return out + flood_rows(r, f) + idle_rows(r, f)


def flood_rows(r, f):
    fl = r.get("flood")
    if not fl:
        return []
    name = f"flood {fl['pokes']} x {fl['chars']}"
    return [(f"{name}: acknowledged / refused", "n", f"{fl['acknowledged']} / {fl['refused']}"),
            (f"{name}: slowest answer", "ms", f(fl["slowest_ack_ms"], 0)),
            (f"{name}: all gone", "s", f(fl["all_gone_s"], 1)),
            (f"{name}: resident memory before -> highest -> after", "KiB",
             f"{fl['rss_kib_before']} -> {fl['rss_kib_peak']} -> {fl['rss_kib_after']}")]


def idle_rows(r, f):
    i = r.get("idle")
    if not i:
        return []
    return [(f"idle {i['seconds']} s: CPU / context switches", "s / n",
             f"{f(i['tindra_cpu_s'])} / {i['context_switches']}")]


WORK_ROWS = (
    ("move", "window moves of the steps (and of Start)"),
    ("draw", "drawing the rows a step gains"),
    ("popup", "the popups' own tick logic"),
    ("create", "popup windows and resources created"),
    ("show", "popups shown topmost"),
    ("unload", "popups unloaded, windows destroyed"),
    ("paint", "WM_PAINT of the popups"),
    ("ticker", "the shared ticker: schedule and platform timer"),
    ("look", "looks for waiting pokes and clicks"),
    ("poke", "pokes taken (decoded, placed, popup started)"),
    ("waiting", "message loop: waiting, and the system's work inside it"),
)


def account_rows(r):
    """Where a burst's time went, from Tindra's own step counters, and when the floor's
    burst was gone against it: (burst, what, count, seconds, share of all gone)."""
    out = []
    for key in (k for k in ("burst50", "burst200") if k in r):
        b = r[key]
        work, gone = b.get("work"), b.get("all_gone_s")
        if not work or not work["move"][0] or not gone:
            continue
        n = b["pokes"]
        counted = 0.0
        for name, what in WORK_ROWS:
            count, seconds = work.get(name, (0, 0.0))
            counted += seconds
            out.append((n, what, str(count), seconds, seconds / gone))
        # The counters run from the first poke until the bench saw every popup gone.
        out.append((n, "not inside a counted span (DDE and window messages dispatched)", "",
                    gone - counted, (gone - counted) / gone))
        out.append((n, "all gone", "", gone, 1.0))
        late_ticks, late_s = work.get("late", (0, 0.0))
        if late_ticks:
            out.append((n, "effect ticks: late on average (ms)", str(late_ticks), None,
                        f"{1000 * late_s / late_ticks:.1f}"))
        floor_gone = (b.get("floor") or {}).get("all_gone_s")
        if floor_gone:
            out.append((n, "the floor: all gone, its burst right after", "", floor_gone,
                        floor_gone / gone))
    return out


def ratio_rows(run):
    """(burst, figure, Tindra.exe, floor, ratio, target, PASS/MISS) of one run: the
    counted requests per popup, and the medians of time and CPU when timed."""
    out = []
    req = run.get("requests") or {}
    for key in ("burst50", "burst200"):
        c = req.get(key)
        if c and "tindra" in c:
            for name, get in (("wineserver requests per popup", lambda p: sum(p["per_popup"].values())),
                              ("X11 requests per popup", lambda p: p.get("x11_per_popup"))):
                program, floor = get(c["tindra"]), get(c["floor"])
                out.append((c["popups"], name, program, floor, COUNT_TARGET,
                            *judged(program, floor, COUNT_TARGET)))
        t = (run.get(key) or {}).get("timed")
        if t:
            n = run[key]["pokes"]
            for name, program, floor in (
                    (f"all gone, median of {t['bursts']} (s)", t["gone_s"], t["floor_gone_s"]),
                    (f"CPU with wineserver, median of {t['bursts']} (s)", t["cpu_s"], t["floor_cpu_s"])):
                out.append((n, name, program, floor, TIME_TARGET, *judged(program, floor, TIME_TARGET)))
    return out


def print_ratios(runs):
    """The program against the floor, each figure beside its target (figures: a miss
    fails nothing); and why times were not compared where they were not."""
    lines = []
    for run in runs:
        label = run["meta"].get("label") or "run"
        lines += [(label, *row) for row in ratio_rows(run)]
        if run["meta"].get("untimed"):
            print(f"\n{label}: time and CPU against the floor skipped: {run['meta']['untimed']}")
    if not lines:
        return
    print("\n| run | burst | figure | Tindra.exe | floor | ratio | target | |")
    print("|---|---|---|---|---|---|---|---|")
    for label, n, name, program, floor, target, ratio, verdict in lines:
        digits = 0 if "requests" in name else 2
        value = (lambda v: "-" if v is None else f"{v:.{digits}f}")
        print(f"| {label} | {n} | {name} | {value(program)} | {value(floor)} | "
              f"{'-' if ratio is None else f'{ratio:.3f}'} | <= {target} | {verdict} |")


def print_requests(runs):
    """wineserver requests per popup by name, from runs that counted them."""
    cols = []
    for run in runs:
        req = run.get("requests")
        if not req:
            continue
        label = run["meta"].get("label") or "run"
        for key in ("burst50", "burst200"):
            c = req.get(key)
            if c and "tindra" in c:
                cols.append((f"{label} burst {c['popups']}", c["tindra"]["per_popup"],
                             c["floor"].get("moves_per_popup")))
                cols.append((f"{label} floor {c['popups']}", c["floor"]["per_popup"],
                             c["floor"].get("moves_per_popup")))
    if not cols:
        return
    names = sorted({n for _, c, _ in cols for n in c}, key=lambda n: -max(c.get(n, 0) for _, c, _ in cols))
    names = [n for n in names if max(c.get(n, 0) for _, c, _ in cols) >= 0.5]
    print("\n| wineserver requests per popup | " + " | ".join(h for h, _, _ in cols) + " |")
    print("|---|" + "---|" * len(cols))
    for n in names:
        print(f"| {n} | " + " | ".join(f"{c.get(n, 0):.1f}" for _, c, _ in cols) + " |")
    print("| all | " + " | ".join(f"{sum(c.values()):.0f}" for _, c, _ in cols) + " |")
    print("| all, per step (the floor's moves) | " +
          " | ".join(f"{sum(c.values()) / steps:.2f}" if steps else "-" for _, c, steps in cols) + " |")


def print_account(runs):
    lines = [(run["meta"].get("label") or "run", *row) for run in runs for row in account_rows(run)]
    if not lines:
        return
    print("\n| run | burst | where its time went | count | s | share of all gone |")
    print("|---|---|---|---|---|---|")
    for label, n, what, count, seconds, share in lines:
        s = "" if seconds is None else f"{seconds:.2f}"
        sh = share if isinstance(share, str) else f"{100 * share:.0f} %"
        print(f"| {label} | {n} | {what} | {count} | {s} | {sh} |")


def print_table(runs):
    headers = ["figure", "unit"] + [r["meta"].get("label") or "run" for r in runs]
    table = [{name: (unit, value) for name, unit, value in rows(r)} for r in runs]
    # Runs saved by older versions may lack some figures: every figure of any run is
    # shown, in the order of the last run.
    names = list(dict.fromkeys(name for t in reversed(table) for name in t))
    lines = [[name, next(t[name][0] for t in table if name in t)] +
             [t[name][1] if name in t else "-" for t in table] for name in names]
    widths = [max(len(str(x)) for x in col) for col in zip(headers, *lines)]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for line in lines:
        print("| " + " | ".join(str(x).ljust(w) for x, w in zip(line, widths)) + " |")
