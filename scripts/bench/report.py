"""The report: what each run measured and how loaded the machine was, the table of
figures of one or more runs, where a burst's time went, and the wineserver and X11
requests per popup."""

# Above this load average (the 1-minute figure `uptime` shows) times do not judge.
UNFIT_LOAD = 1.0


def print_runs(runs):
    """Which build each run measured, and the load it saw before and after."""
    print()
    for run in runs:
        meta = run["meta"]
        label = meta.get("label") or "run"
        loads = [v[0] for v in (meta.get("load_average_before"), meta.get("load_average")) if v]
        fit = ("" if not loads or max(loads) <= UNFIT_LOAD else
               f"; above {UNFIT_LOAD}: UNFIT FOR JUDGING times and CPU (the request counts stand)")
        print(f"{label}: {meta.get('exe', '?')} ({meta.get('architecture', 'architecture not recorded')}); "
              f"load average before / after: "
              f"{' / '.join(f'{v:.2f}' for v in loads) if loads else 'not recorded'}{fit}")


def rows(r):
    """(figure, unit, value) for one run."""
    def f(v, digits=2):
        return "-" if v is None else f"{v:.{digits}f}"
    out = []
    mv = r.get("move")
    if mv:
        out.append(("one step's window move alone (moves a popup)", "us",
                    f"{f(mv['move_us'], 0)} ({mv['opening_moves'] + mv['closing_moves']})"))
    if mv and "samples" in mv:
        out.append(("the move: samples, min to max (spread)", "n, us",
                    f"{len(mv['samples'])}, {f(mv['move_us_min'], 0)} to {f(mv['move_us_max'], 0)} "
                    f"({f(100 * mv['move_spread'], 0)} %)"))
        out.append(("a bare window created + shown / destroyed", "us",
                    f"{f(mv['create_us'], 0)} / {f(mv['destroy_us'], 0)}"))
        out.append(("its opening's exposures handled, per growing step", "us",
                    f(mv["expose_us"] / mv["opening_moves"], 0)))
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
        out.append((f"burst {n}: gone / ideal (floor)", "x",
                    f"{f(b['gone_ratio'])} ({f(b.get('floor_ratio'))})"))
        out.append((f"burst {n}: ack of the middle poke / slowest", "ms",
                    f"{f(b['mid_ack_ms'], 1)} / {f(b['max_ack_ms'], 1)}"))
        out.append((f"burst {n}: CPU Tindra.exe + wineserver (floor)", "s",
                    f"{f(b['tindra_cpu_s'], 1)} + {f(b['wineserver_cpu_s'], 1)} "
                    f"({f(b.get('floor_cpu_s'), 1)})"))
        if "gone_per_floor" in b:
            out.append((f"burst {n}: gone / floor, CPU / floor", "x",
                        f"{f(b['gone_per_floor'])}, {f(b.get('cpu_per_floor'))}"))
            out.append((f"burst {n}: CPU of the X server", "s", f(b.get("xserver_cpu_s"), 1)))
        if "own_move_us" in b:
            out.append((f"burst {n}: its own moves, mean; gone / floor at that pace", "us; x",
                        f"{f(b['own_move_us'], 0)}; {f(b['gone_per_own_floor'])}"))
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
    """Where a burst's time went, from Tindra's own step counters, beside the floor's
    rows: (burst, what, count, seconds, share of all gone)."""
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
        model = b.get("own_floor_late") or {}
        if late_ticks and model.get("late_ticks"):
            out.append((n, "effect ticks: late on average, Tindra / floor model (ms)",
                        f"{late_ticks} / {model['late_ticks']}",
                        None, f"{1000 * late_s / late_ticks:.1f} / "
                              f"{1000 * model['late_s'] / model['late_ticks']:.1f}"))
        parts = b.get("floor_parts_s") or {}
        scale = (b["own_move_us"] / b["move_us"]) if b.get("own_move_us") else 1.0
        for name, what in (("moves", "floor: the moves"), ("exposures", "floor: exposures handled"),
                           ("create_show", "floor: windows created and shown"),
                           ("destroy", "floor: windows destroyed")):
            if name in parts:
                out.append((n, f"{what}, at the burst's own pace", "", parts[name] * scale,
                            parts[name] * scale / gone))
        if b.get("own_floor_gone_s"):
            out.append((n, "floor: all gone, at the burst's own pace", "", b["own_floor_gone_s"],
                        b["own_floor_gone_s"] / gone))
    return out


def print_request_ratio(runs):
    """Requests per popup of each burst against the bare window's, with --trace-requests:
    wineserver requests and X11 requests, and the ratio of each."""
    lines = []
    for run in runs:
        req = run.get("requests")
        if not req:
            continue
        label = run["meta"].get("label") or "run"
        bare = req["bare"]
        bare_ws = sum(bare["per_popup"].values())
        bare_x = bare.get("x11_per_popup")
        for key in ("burst50", "burst200"):
            if key not in req:
                continue
            b = req[key]
            ws = sum(b["per_popup"].values())
            x = b.get("x11_per_popup")
            ratio_x = f"{x / bare_x:.3f}" if x is not None and bare_x else "-"
            lines.append((label, b["popups"], f"{ws:.0f}", f"{bare_ws:.0f}", f"{ws / bare_ws:.3f}",
                          "-" if x is None else f"{x:.0f}", "-" if bare_x is None else f"{bare_x:.0f}",
                          ratio_x))
    if not lines:
        return
    print("\n| run | burst | wineserver requests per popup: Tindra.exe | bare window | ratio "
          "| X11 requests per popup: Tindra.exe | bare window | ratio |")
    print("|---|---|---|---|---|---|---|---|")
    for line in lines:
        print("| " + " | ".join(str(v) for v in line) + " |")


def print_requests(runs):
    """Requests per popup by name, from runs made with --trace-requests."""
    print_request_ratio(runs)
    cols = []
    for run in runs:
        req = run.get("requests")
        if not req:
            continue
        label = run["meta"].get("label") or "run"
        for key in ("burst50", "burst200"):
            if key in req:
                cols.append((f"{label} burst {req[key]['popups']}", req[key]["per_popup"]))
        cols.append((f"{label} bare window", req["bare"]["per_popup"]))
    if not cols:
        return
    names = sorted({n for _, c in cols for n in c}, key=lambda n: -max(c.get(n, 0) for _, c in cols))
    names = [n for n in names if max(c.get(n, 0) for _, c in cols) >= 0.5]
    print("\n| wineserver requests per popup | " + " | ".join(h for h, _ in cols) + " |")
    print("|---|" + "---|" * len(cols))
    for n in names:
        print(f"| {n} | " + " | ".join(f"{c.get(n, 0):.1f}" for _, c in cols) + " |")
    print("| all | " + " | ".join(f"{sum(c.values()):.0f}" for _, c in cols) + " |")
    print("| all, per step (88 a popup) | " +
          " | ".join(f"{sum(c.values()) / 88:.2f}" for _, c in cols) + " |")


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
