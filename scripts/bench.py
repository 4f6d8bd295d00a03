#!/usr/bin/env python3
"""Benchmark of Tindra.exe under Wine: prints figures, never fails on a time.

Run inside scripts/test-env.sh (a private Xvfb with a 1280 x 994 work area and a
private Wine prefix), as `make bench` does:

    scripts/test-env.sh BUILD/bench -- python3 scripts/bench.py --build BUILD --dist DIST

It starts a local update server (so the start-up update passes quietly), starts
Tindra.exe, and drives it from build/win/tools/bench/tindra-bench.exe, a DDE client
that holds one conversation like the messenger. An X client in this script watches
the root window: a popup is "mapped" when its X window is mapped and "visible" from
its first height above one pixel (the X window of a zero-height window is one pixel
tall). Tindra's and wineserver's CPU time and context switches come from /proc.

    scripts/bench.py --compare OLD.json NEW.json    prints two runs side by side
"""
import argparse
import ctypes
import datetime
import heapq
import itertools
import json
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

# One popup's own sequence with no delay: 40 opening ticks, the 2 s hold, 38
# collapsing ticks, at about 11 ms a tick under Wine.
SEQUENCE_S = 2.9
POPUP_SIZE_PX = (179, 131)  # 2685 x 1965 twips at 96 dpi: a popup's X window at creation
CLK_TCK = os.sysconf("SC_CLK_TCK")


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
    if not values:
        return None
    ordered = sorted(values)
    k = (len(ordered) - 1) * p / 100.0
    lo = int(k)
    hi = min(lo + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (k - lo)


# ---- the X client watching the root window -------------------------------------

class RootWatcher:
    """Records when top-level X windows are mapped, get a real height and go away."""

    CREATE, DESTROY, UNMAP, MAP, CONFIGURE = 16, 17, 18, 19, 22
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    def __init__(self):
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        for name in ("XConnectionNumber", "XPending", "XFlush"):
            getattr(x, name).argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display")
        x.XSelectInput(self.dpy, x.XDefaultRootWindow(self.dpy), self.SUBSTRUCTURE_NOTIFY_MASK)
        x.XFlush(self.dpy)
        self.fd = x.XConnectionNumber(self.dpy)
        self.lock = threading.Condition()
        self.size = {}      # X window -> (width, height)
        self.created = {}   # X window -> (width, height) at creation
        self.popups = {}    # X window of a popup -> {"mapped", "visible", "gone"}
        self.order = []     # popups in the order they were mapped
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        event = ctypes.create_string_buffer(192)
        while self.running:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, event)
                self._handle(event.raw, time.monotonic())

    def _handle(self, raw, now):
        kind = struct.unpack_from("i", raw, 0)[0]
        window = struct.unpack_from("L", raw, 40)[0]
        with self.lock:
            if kind in (self.CREATE, self.CONFIGURE):
                w, h = struct.unpack_from("ii", raw, 56)
                self.size[window] = (w, h)
                if kind == self.CREATE:
                    self.created[window] = (w, h)
                p = self.popups.get(window)
                if p and p["mapped"] and not p["visible"] and h > 1:
                    p["visible"] = now
            elif kind == self.MAP:
                h = self.size.get(window, (0, 0))[1]
                if self.created.get(window) == POPUP_SIZE_PX and window not in self.popups:
                    self.popups[window] = {"mapped": now, "visible": now if h > 1 else None,
                                           "gone": None}
                    self.order.append(window)
            elif kind in (self.UNMAP, self.DESTROY):
                p = self.popups.get(window)
                if p and not p["gone"]:
                    p["gone"] = now
                if kind == self.DESTROY:
                    self.size.pop(window, None)
                    self.created.pop(window, None)
            self.lock.notify_all()

    def mark(self):
        with self.lock:
            return len(self.order)

    def since(self, mark):
        with self.lock:
            return [dict(self.popups[w]) for w in self.order[mark:]]

    def open_count(self):
        with self.lock:
            return sum(1 for p in self.popups.values() if not p["gone"])

    def wait(self, predicate, timeout):
        end = time.monotonic() + timeout
        with self.lock:
            while not predicate():
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(min(left, 0.1))
            return True

    def wait_popups(self, mark, count, key, timeout):
        """Waits until `count` popups mapped after `mark` all have `key` set."""
        def done():
            got = [self.popups[w] for w in self.order[mark:]]
            return len(got) >= count and all(p[key] for p in got[:count])
        return self.wait(done, timeout)

    def wait_none_open(self, timeout):
        return self.wait(lambda: all(p["gone"] for p in self.popups.values()), timeout)

    def stop(self):
        self.running = False
        self.thread.join(1)


# ---- processes ------------------------------------------------------------------

def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK
    except OSError:
        return None


def context_switches(pid):
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
    except OSError:
        return None
    return total


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def find_process(names, prefix):
    """The process with one of these names that belongs to this Wine prefix."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as f:
                if f.read().strip() not in names:
                    continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix).encode() in env:
            return int(entry)
    return None


class RequestTrace:
    """The wineserver's own trace of requests (wineserver -d1), restarted for this run:
    requests are counted per thread between two offsets of the trace file."""

    LINE = re.compile(rb"^([0-9a-f]{4}): (\w+)\((.*)$", re.M)

    def __init__(self, path):
        self.path = path
        subprocess.run(["wineserver", "-k"], check=False)
        subprocess.run(["wineserver", "-w"], check=False)
        self.file = open(path, "wb")
        self.server = subprocess.Popen(["wineserver", "-f", "-d1"], stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=self.file)
        time.sleep(1)
        # Wine's services start now, not holding the bench client's pipes.
        subprocess.run(["wine", "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)

    def offset(self):
        return os.path.getsize(self.path)

    def thread_of(self, unix_pid):
        """The Wine thread id of a process's first thread."""
        with open(self.path, "rb") as f:
            text = f.read()
        m = re.search(rb"^([0-9a-f]{4}): init_first_thread\( unix_pid=%d," % unix_pid, text, re.M)
        return m.group(1) if m else None

    def count(self, span, thread):
        """Requests (not replies) of `thread` within the byte span, by name."""
        with open(self.path, "rb") as f:
            f.seek(span[0])
            text = f.read(span[1] - span[0])
        counts = {}
        for m in self.LINE.finditer(text):
            if m.group(1) == thread and not m.group(3).startswith(b") ="):
                name = m.group(2).decode()
                counts[name] = counts.get(name, 0) + 1
        return counts


class BenchClient:
    """tindra-bench.exe under Wine, one command and one reply at a time."""

    def __init__(self, exe, log):
        self.proc = subprocess.Popen(["wine", exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=log, text=True, encoding="utf-8", bufsize=1)
        self.offset = 0.0

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline()
        if not reply:
            raise RuntimeError(f"tindra-bench ended while answering: {line}")
        return reply.split()

    def sync_clock(self):
        """Offset from the client's counter to time.monotonic(), from the fastest of
        several round trips."""
        best = None
        for _ in range(20):
            before = time.monotonic()
            reply = self.ask("clock")
            after = time.monotonic()
            if best is None or after - before < best[0]:
                best = (after - before, int(reply[1]) / 1e6 - (before + after) / 2)
        self.offset = best[1]
        return best[0]

    def mono(self, microseconds):
        return int(microseconds) / 1e6 - self.offset

    def close(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.flush()
            self.proc.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()


# ---- the measurements -----------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.prefix = os.environ["WINEPREFIX"]
        self.results = {}
        self.floor_samples = []
        self.xorg = None
        self.trace = None
        self.log = open(os.path.join(args.out_dir, "bench-wine.log"), "w")
        self.server = None
        self.tindra = None
        self.client = None
        self.watcher = None

    def say(self, text):
        print(f"bench: {text}", flush=True)

    # -- set-up --
    def start_update_server(self):
        host = self.args.update_host
        port = int(host.split(":")[1]) if ":" in host else 80
        updates = os.path.join(self.args.out_dir, "updates")
        shutil.rmtree(updates, ignore_errors=True)
        os.makedirs(updates)
        folder = os.path.dirname(self.args.exe)
        for name in ("Vantorel.exe", "Pellmora.exe", "Tindra.exe"):
            shutil.copy(os.path.join(folder, name), updates)
        for name in ("Vantorel_lastver.txt", "Tindra_lastver.txt"):
            with open(os.path.join(updates, name), "w") as f:
                f.write(f"{self.args.revision}\r\n")
        server = os.path.join(self.args.root, "tools", "update_server.py")
        # The port may be held for a moment by another run on this machine.
        for _ in range(30):
            self.server = subprocess.Popen(
                [sys.executable, server, "--root", updates, "--port", str(port),
                 "--log", os.path.join(self.args.out_dir, "updates.log")],
                stdout=subprocess.PIPE, stderr=self.log, text=True)
            ready, _, _ = select.select([self.server.stdout], [], [], 10)
            if ready and self.server.stdout.readline():
                return
            self.server.kill()
            self.server.wait()
            time.sleep(2)
        raise RuntimeError(f"the update server could not listen on 127.0.0.1:{port}")

    def start_tindra(self):
        folder = os.path.dirname(self.args.exe)
        env = dict(os.environ)
        if self.args.wine_debug:
            env["WINEDEBUG"] = self.args.wine_debug
        # The client first: it makes the section Tindra keeps its step counters in.
        self.client = BenchClient(self.args.client, self.log)
        self.client.ask("clock")
        self.tindra = subprocess.Popen(["wine", self.args.exe], cwd=folder, env=env,
                                       stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        reply = self.client.ask("connect 60")
        if reply[0] != "connected":
            raise RuntimeError("Tindra did not answer over DDE: " + " ".join(reply))
        self.pid = find_process(("Tindra.exe",), self.prefix) or self.tindra.pid
        self.wineserver = find_process(("wineserver", "wineserver32", "wineserver64"),
                                       self.prefix)
        self.xorg = find_process(("Xvfb",), self.prefix)
        rtt = self.client.sync_clock()
        self.say(f"Tindra.exe runs (pid {self.pid}, wineserver {self.wineserver}); "
                 f"clock round trip {rtt * 1000:.2f} ms")

    def counters(self):
        """Tindra's step counters: {work: (count, seconds)}, or None."""
        reply = self.client.ask("counters")
        if len(reply) < 2 or reply[1] == "none":
            return None
        out = {}
        for item in reply[1:]:
            name, value = item.split("=")
            count, us = value.split(":")
            out[name] = (int(count), int(us) / 1e6)
        return out

    def cpu(self):
        return (cpu_seconds(self.pid), cpu_seconds(self.wineserver) if self.wineserver else None)

    def poke(self, text):
        reply = self.client.ask("poke " + text)
        return self.client.mono(reply[1]), self.client.mono(reply[2]), reply[3]

    def settle(self, timeout=120):
        if not self.watcher.wait_none_open(timeout):
            self.say("popups still open; closing them")
            self.client.ask("close")
            self.watcher.wait_none_open(10)
        time.sleep(0.3)

    # -- phases --
    def singles(self):
        names = {0: "0;김민준", 1: "1;이서연", 2: "2;새 쪽지가 도착했습니다"}
        out = {}
        for mode, text in names.items():
            mapped, visible, acks = [], [], []
            for _ in range(self.args.singles):
                mark = self.watcher.mark()
                sent, acked, outcome = self.poke(text)
                if outcome == "ok" and self.watcher.wait_popups(mark, 1, "visible", 5):
                    p = self.watcher.since(mark)[0]
                    mapped.append((p["mapped"] - sent) * 1000)
                    visible.append((p["visible"] - sent) * 1000)
                    acks.append((acked - sent) * 1000)
                self.client.ask("close")  # a click closes it: the next one is alone again
                self.watcher.wait_none_open(5)
                time.sleep(0.05)
            out[str(mode)] = {
                "count": len(visible),
                **{f"mapped_ms_{k}": percentile(mapped, p) for k, p in (("p50", 50), ("p90", 90), ("p99", 99))},
                **{f"visible_ms_{k}": percentile(visible, p) for k, p in (("p50", 50), ("p90", 90), ("p99", 99))},
                "ack_ms_p50": percentile(acks, 50),
            }
            self.say(f"single mode {mode}: mapped {out[str(mode)]['mapped_ms_p50']:.1f} ms, "
                     f"visible {out[str(mode)]['visible_ms_p50']:.1f} ms (medians of {len(visible)})")
        return out

    def move_cost(self, popups=5):
        """One sample of what a popup's own window costs on this machine, alone: the
        bench client plays login popups on bare windows with the popup's styles (see
        floor_gone_s). Per move, and per popup for creating, showing, destroying and
        handling the exposures of the opening."""
        client = find_process(("tindra-bench.ex", "tindra-bench.exe"), self.prefix)
        before = (cpu_seconds(client) if client else 0.0, self.cpu()[1] or 0.0)
        span = self.trace.offset() if self.trace else None
        reply = self.client.ask(f"movecost {popups}")
        if self.trace:
            self.last_move_span = (span, self.trace.offset(), popups)
        after = (cpu_seconds(client) if client else 0.0, self.cpu()[1] or 0.0)
        opening, closing, move_us = int(reply[1]), int(reply[2]), float(reply[3])
        extra = [float(v) for v in reply[4:8]] if len(reply) >= 8 else [0.0] * 4
        moves = popups * (opening + closing)
        return {"opening_moves": opening, "closing_moves": closing, "move_us": move_us,
                "create_us": extra[0] + extra[1], "destroy_us": extra[2], "expose_us": extra[3],
                "cpu_us_per_move": (sum(after) - sum(before)) * 1e6 / moves if client else None}

    def sample_floor(self, where, count=3):
        """Short samples of the floor, spread over the run: their median is the run's
        floor, their spread says how far to trust it."""
        for _ in range(count):
            sample = self.move_cost()
            sample["where"] = where
            self.floor_samples.append(sample)

    def floor_summary(self):
        samples = self.floor_samples
        if not samples:
            return None
        out = {"samples": samples, "opening_moves": samples[0]["opening_moves"],
               "closing_moves": samples[0]["closing_moves"]}
        for key in ("move_us", "create_us", "destroy_us", "expose_us", "cpu_us_per_move"):
            values = [x[key] for x in samples if x.get(key) is not None]
            out[key] = median(values)
            out[key + "_min"] = min(values) if values else None
            out[key + "_max"] = max(values) if values else None
        m = out["move_us"]
        out["move_spread"] = (out["move_us_max"] - out["move_us_min"]) / m if m else None
        # half the samples lie within this of the median
        devs = sorted(abs(x["move_us"] - m) for x in samples)
        out["move_mad"] = median(devs) / m if m else None
        return out

    def apply_floor(self, burst, floor):
        """The floor of a burst from the run's median samples."""
        starts = burst.pop("_starts", None)
        if not starts or not floor:
            return
        o, c = floor["opening_moves"], floor["closing_moves"]
        gone = floor_gone_s(starts, o, c, floor["move_us"] / 1e6, floor["expose_us"] / o / 1e6,
                            floor["create_us"] / 1e6, floor["destroy_us"] / 1e6)
        moves_only = floor_gone_s(starts, o, c, floor["move_us"] / 1e6)
        n = burst["pokes"]
        burst["move_us"] = floor["move_us"]
        burst["floor_gone_s"] = gone
        burst["floor_moves_only_s"] = moves_only
        burst["floor_ratio"] = gone / burst["ideal_s"]
        burst["gone_per_floor"] = burst["all_gone_s"] / gone if burst["all_gone_s"] else None
        # what the floor's thread spends, by row (seconds)
        burst["floor_parts_s"] = {
            "moves": n * (o + c) * floor["move_us"] / 1e6,
            "exposures": n * floor["expose_us"] / 1e6,
            "create_show": n * floor["create_us"] / 1e6,
            "destroy": n * floor["destroy_us"] / 1e6,
        }
        work = burst.get("work")
        if work and work.get("move", (0, 0))[0]:
            # The same floor at the pace the burst's own moves went: every row scaled by
            # the burst's mean move against the samples' median.
            own = work["move"][1] / work["move"][0] * 1e6
            scale = own / floor["move_us"]
            stats = {}
            burst["own_move_us"] = own
            burst["own_floor_gone_s"] = floor_gone_s(
                starts, o, c, own / 1e6, scale * floor["expose_us"] / o / 1e6,
                scale * floor["create_us"] / 1e6, scale * floor["destroy_us"] / 1e6, stats)
            burst["own_floor_late"] = stats
            burst["gone_per_own_floor"] = (burst["all_gone_s"] / burst["own_floor_gone_s"]
                                           if burst["all_gone_s"] else None)
        if floor["cpu_us_per_move"]:
            # the samples' CPU (client + wineserver) covers everything a bare popup does
            burst["floor_cpu_s"] = n * (o + c) * floor["cpu_us_per_move"] / 1e6
            cpu = burst["tindra_cpu_s"] + (burst["wineserver_cpu_s"] or 0.0)
            burst["cpu_per_floor"] = cpu / burst["floor_cpu_s"]

    def burst(self, count, label, quiet=False):
        self.settle()
        if not quiet:
            self.sample_floor(f"before burst {count}")
        mark = self.watcher.mark()
        span = self.trace.offset() if self.trace else None
        counters_before = self.counters()
        cpu_before = self.cpu()
        xorg_before = cpu_seconds(self.xorg) if self.xorg else None
        reply = self.client.ask(f"burst {count} {label}")
        acked = int(reply[1])
        first, last = self.client.mono(reply[2]), self.client.mono(reply[3])
        latencies = [int(v) / 1000 for v in reply[4].split(",")] if len(reply) > 4 else []
        seen = self.watcher.wait_popups(mark, acked, "gone", self.args.burst_timeout)
        popups = self.watcher.since(mark)
        gone = max((p["gone"] for p in popups if p["gone"]), default=None)
        cpu_after = self.cpu()
        xorg_after = cpu_seconds(self.xorg) if self.xorg else None
        counters_after = self.counters()
        trace_end = self.trace.offset() if self.trace else None
        all_acked = last - first
        ideal = all_acked + SEQUENCE_S
        result = {
            "pokes": count, "acknowledged": acked, "popups_seen": len(popups), "all_gone_seen": seen,
            "all_acked_s": all_acked, "all_gone_s": (gone - first) if gone else None,
            "ideal_s": ideal, "gone_ratio": ((gone - first) / ideal) if gone else None,
            "mid_ack_ms": latencies[len(latencies) // 2] if latencies else None,
            "max_ack_ms": max(latencies) if latencies else None,
            "tindra_cpu_s": cpu_after[0] - cpu_before[0],
            "wineserver_cpu_s": (cpu_after[1] - cpu_before[1]) if cpu_before[1] is not None else None,
            "xserver_cpu_s": (xorg_after - xorg_before) if xorg_before is not None else None,
        }
        if self.trace:
            result["_trace_span"] = (span, trace_end)
        # A program without step counters leaves the section as it was.
        if counters_before and counters_after and counters_after != counters_before:
            result["work"] = {k: [counters_after[k][0] - counters_before[k][0],
                                  counters_after[k][1] - counters_before[k][1]]
                              for k in counters_after}
        if not quiet and latencies:
            result["_starts"] = [ms / 1000 for ms in itertools.accumulate(latencies)]
        if not quiet:
            self.say(f"burst of {count}: acked in {all_acked:.2f} s, gone after "
                     f"{result['all_gone_s'] or float('nan'):.2f} s (ratio {result['gone_ratio'] or float('nan'):.2f}), "
                     f"CPU {result['tindra_cpu_s']:.1f} s + {result['wineserver_cpu_s'] or 0:.1f} s")
        return result

    def count_requests(self):
        """wineserver requests per popup: Tindra's during each burst, and the bare
        window's during the last floor sample (whose client thread made them)."""
        client = find_process(("tindra-bench.ex", "tindra-bench.exe"), self.prefix)
        out = {}
        start, end, popups = self.last_move_span
        bare = self.trace.count((start, end), self.trace.thread_of(client))
        out["bare"] = {"popups": popups, "per_popup": {k: v / popups for k, v in bare.items()}}
        tindra = self.trace.thread_of(self.pid)
        for key in ("burst50", "burst200"):
            b = self.results.get(key)
            if b and "_trace_span" in b:
                counts = self.trace.count(b.pop("_trace_span"), tindra)
                n = b["pokes"]
                out[key] = {"popups": n, "per_popup": {k: v / n for k, v in counts.items()}}
        return out

    def idle(self):
        self.settle()
        before = (cpu_seconds(self.pid), context_switches(self.pid))
        time.sleep(self.args.idle_seconds)
        after = (cpu_seconds(self.pid), context_switches(self.pid))
        result = {"seconds": self.args.idle_seconds, "tindra_cpu_s": after[0] - before[0],
                  "context_switches": after[1] - before[1]}
        self.say(f"idle {self.args.idle_seconds} s: CPU {result['tindra_cpu_s']:.2f} s, "
                 f"{result['context_switches']} context switches")
        return result

    def counts(self):
        reply = dict(kv.split("=") for kv in self.client.ask("count")[1:])
        return {"rss_kib": rss_kib(self.pid), "windows": int(reply["windows"]),
                "gdi_objects": int(reply["gdi"]) if int(reply["gdi"]) >= 0 else None}

    def many(self):
        self.settle()
        before = self.counts()
        ratios = []
        for batch in range(self.args.many // 50):
            ratios.append(self.burst(50, f"m{batch:02d}_", quiet=True)["gone_ratio"])
        self.settle()
        after = self.counts()
        result = {"popups": self.args.many, "batch": 50, "before": before, "after": after,
                  "batch_gone_ratio_p50": percentile([r for r in ratios if r], 50)}
        self.say(f"{self.args.many} popups: RSS {before['rss_kib']} -> {after['rss_kib']} KiB, "
                 f"windows {before['windows']} -> {after['windows']}, "
                 f"GDI {before['gdi_objects']} -> {after['gdi_objects']}")
        return result

    def run(self):
        started = time.monotonic()
        self.watcher = RootWatcher()
        if self.args.trace_requests:
            self.trace = RequestTrace(os.path.join(self.args.out_dir, "requests.log"))
        self.start_update_server()
        try:
            self.start_tindra()
            # Warm-up: one-time costs (artwork, window classes) out of the figures.
            for text in ("0;warm", "1;warm", "2;warm"):
                self.poke(text)
            self.settle()
            self.sample_floor("start", 4)
            phases = {"idle": self.idle, "single": self.singles,
                       "burst50": lambda: self.burst(50, "b"),
                       "burst200": lambda: self.burst(200, "c"), "many": self.many}
            for name in self.args.phases.split(","):
                self.results[name] = phases[name]()
            self.sample_floor("end")
            floor = self.floor_summary()
            self.results["move"] = floor
            for key in ("burst50", "burst200"):
                if key in self.results:
                    self.apply_floor(self.results[key], floor)
            if self.trace:
                self.results["requests"] = self.count_requests()
            self.say(f"a popup step's window move alone: median {floor['move_us']:.0f} us of "
                     f"{len(floor['samples'])} samples ({floor['move_us_min']:.0f} to "
                     f"{floor['move_us_max']:.0f}); {floor['opening_moves']} + "
                     f"{floor['closing_moves']} moves a popup")
        finally:
            self.stop()
        self.results["meta"] = {
            "exe": self.args.exe, "label": self.args.label, "host": socket.gethostname(),
            "cpus": os.cpu_count(), "date": datetime.datetime.now().isoformat(timespec="seconds"),
            "load_average": os.getloadavg(), "minutes": (time.monotonic() - started) / 60,
        }
        return self.results

    def stop(self):
        if self.client:
            try:
                self.client.ask("poke end")
            except (RuntimeError, OSError):
                pass
            self.client.close()
        if self.tindra:
            try:
                self.tindra.wait(10)
            except subprocess.TimeoutExpired:
                self.tindra.kill()
                self.tindra.wait()
        if self.server:
            self.server.kill()
            self.server.wait()
        if self.watcher:
            self.watcher.stop()


# ---- the table ------------------------------------------------------------------

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
        return out + idle_rows(r, f)
    out.append((f"{m['popups']} popups in 50s: gone / ideal, median", "x", f(m["batch_gone_ratio_p50"])))
    for key, unit in (("rss_kib", "KiB"), ("windows", ""), ("gdi_objects", "")):
        b, a = m["before"][key], m["after"][key]
        out.append((f"{m['popups']} popups: {key.replace('_kib', '').replace('_', ' ')} before -> after",
                    unit, f"{'-' if b is None else b} -> {'-' if a is None else a}"))
    return out + idle_rows(r, f)


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
    ("paint", "WM_PAINT of the controls"),
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


def print_requests(runs):
    """Requests per popup by name, from runs made with --trace-requests."""
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
    parser.add_argument("--phases", default="idle,single,burst50,burst200,many",
                        help="which measurements to make, in order")
    parser.add_argument("--wine-debug", help="WINEDEBUG channels for Tindra.exe (tracing into "
                        "BUILD/bench/bench-wine.log)")
    parser.add_argument("--trace-requests", action="store_true",
                        help="restart the wineserver with its request trace (-d1) and count "
                        "the requests per popup of each burst and of a bare window; the "
                        "trace slows everything, so this run's times do not compare")
    parser.add_argument("--compare", nargs="+", metavar="JSON", help="print saved runs side by side")
    args = parser.parse_args()
    if args.compare:
        runs = []
        for path in args.compare:
            with open(path) as f:
                run = json.load(f)
            run["meta"]["label"] = run["meta"].get("label") or os.path.basename(path)
            runs.append(run)
        print_table(runs)
        print_account(runs)
        print_requests(runs)
        return 0

    args.root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    args.build = os.path.abspath(args.build)
    args.exe = os.path.abspath(args.exe or os.path.join(args.dist, "Tindra", "Tindra.exe"))
    args.client = os.path.join(args.build, "win", "tools", "bench", "tindra-bench.exe")
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
    print()
    print_table([results])
    print_account([results])
    print_requests([results])
    print(f"\nbench: figures saved in {path} (and latest.json beside it); "
          f"took {results['meta']['minutes']:.1f} minutes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
