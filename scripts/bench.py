#!/usr/bin/env python3
"""Benchmark of Tindra.exe under Wine: prints figures, never fails on a time.

Run inside scripts/test-env.sh (a private Xvfb with a 1280 x 994 work area and a
private Wine prefix), as `make bench` does:

    scripts/test-env.sh BUILD/bench -- python3 scripts/bench.py --build BUILD --dist DIST

It starts a local update server (so the start-up update passes quietly), starts
Tindra.exe, and drives it from build/win/tools/bench/tindra-bench.exe, a DDE client
that holds one conversation like the messenger and plays the floor (each burst's
popups on bare windows, with the popup's own steps and schedule) after each burst.
An X client in this script watches the root window: a popup is "mapped" when its X
window is mapped and "visible" from its first height above one pixel (the X window
of a zero-height window is one pixel tall). Tindra's and wineserver's CPU time and context switches come from /proc.

    scripts/bench.py --compare OLD.json NEW.json    prints two runs side by side

Its parts are in scripts/bench/: xwatch (the X watcher), procfs (the /proc readers),
floor (the targets against the floor, the load rule and the percentiles), measure
(the client and the phases of a run) and report (the tables).
"""
import argparse
import datetime
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tools"))
from bench.measure import Bench  # noqa: E402
from bench.report import print_account, print_ratios, print_requests, print_runs, print_table  # noqa: E402
from wine_session import win_build  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--dist", default="dist")
    parser.add_argument("--exe", help="the Tindra.exe to measure (default: DIST/Tindra/Tindra.exe)")
    parser.add_argument("--label", default="", help="a name for this run in the table")
    parser.add_argument("--update-host", default=os.environ.get("UPDATE_HOST", "127.0.0.1"))
    parser.add_argument("--revision", default=os.environ.get("REVISION", "27"))
    parser.add_argument("--singles", type=int, default=100, help="pokes of each mode, one at a time")
    parser.add_argument("--idle-seconds", type=int, default=60)
    parser.add_argument("--many", type=int, default=1000, help="popups shown in batches of 50")
    parser.add_argument("--burst-timeout", type=int, default=180)
    parser.add_argument("--phases", default="idle,single,burst50,burst200,many,count",
                        help="which measurements to make, in order (also: flood); each burst "
                        "is followed by the floor's, and count goes on traced (see "
                        "--trace-requests) to count requests per popup of a 50- and a "
                        "200-burst and of the floor's")
    parser.add_argument("--flood-pokes", type=int, default=3000, help="notices of the flood phase")
    parser.add_argument("--flood-chars", type=int, default=100000,
                        help="characters of each notice of the flood phase")
    parser.add_argument("--flood-timeout", type=int, default=600,
                        help="seconds to wait for the flood's popups to go")
    parser.add_argument("--wine-debug", help="WINEDEBUG channels for Tindra.exe (tracing into "
                        "BUILD/bench/bench-wine.log)")
    parser.add_argument("--trace-requests", action="store_true",
                        help="restart the wineserver with its request trace (-d1), put a "
                        "counting proxy display in front of the X server from the start, "
                        "and count the wineserver and X11 requests per popup of each burst "
                        "and of the floor's; both slow everything, so this run's times do "
                        "not compare")
    parser.add_argument("--compare", nargs="+", metavar="JSON", help="print saved runs side by side")
    args = parser.parse_args()
    if args.compare:
        runs = []
        for path in args.compare:
            with open(path) as f:
                run = json.load(f)
            run["meta"]["label"] = run["meta"].get("label") or os.path.basename(path)
            runs.append(run)
        print_runs(runs)
        print_table(runs)
        print_account(runs)
        print_ratios(runs)
        print_requests(runs)
        return 0

    args.root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    args.build = os.path.abspath(args.build)
    args.exe = os.path.abspath(args.exe or os.path.join(args.dist, "Tindra", "Tindra.exe"))
    args.client = os.path.join(win_build(args.build), "tools", "bench", "tindra-bench.exe")
    args.out_dir = os.path.join(args.build, "bench")
    os.makedirs(args.out_dir, exist_ok=True)
    for path in (args.exe, args.client):
        if not os.path.isfile(path):
            print(f"bench: {path} is missing (run make first)", file=sys.stderr)
            return 1
    results = Bench(args).run()
    stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    path = os.path.join(args.out_dir, f"bench-{stamp}.json")
    for target in (path, os.path.join(args.out_dir, "latest.json")):
        with open(target, "w") as f:
            json.dump(results, f, indent=1, ensure_ascii=False)
    print_runs([results])
    print_table([results])
    print_account([results])
    print_ratios([results])
    print_requests([results])
    print(f"\nbench: figures saved in {path} (and latest.json beside it); "
          f"took {results['meta']['minutes']:.1f} minutes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
